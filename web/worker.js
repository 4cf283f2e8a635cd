// The page's worker: runs the WebAssembly module (createTrislip, put
// before this file in the worker's source) off the page's thread, and
// thins long curves to what a chart can show.
'use strict';

let module = null;
let log = [];  // what the module said on standard error during a call
const ready = createTrislip({ print: () => {}, printErr: (line) => log.push(line) }).then((m) => {
  module = m;
  postMessage({ type: 'ready', version: m.version, exports: m.exportNames() });
});

// At most about 2 * buckets points: each bucket's lowest and highest
// value, in order. Buckets are even steps of x, or of log10(x) when log.
function thin(x, y, buckets, log) {
  const n = x.length;
  if (n <= 4 * buckets) return [x, y];
  const at = log ? (v) => Math.log10(v) : (v) => v;
  const x0 = at(x[0]);
  const width = (at(x[n - 1]) - x0) / buckets || 1;
  const keep = [];
  let bucket = -1, lo = 0, hi = 0;
  const close = () => {
    if (bucket < 0) return;
    if (lo === hi) keep.push(lo);
    else keep.push(Math.min(lo, hi), Math.max(lo, hi));
  };
  for (let i = 0; i < n; ++i) {
    const b = Math.min(buckets - 1, Math.floor((at(x[i]) - x0) / width));
    if (b !== bucket) {
      close();
      bucket = b;
      lo = hi = i;
    } else {
      if (y[i] < y[lo]) lo = i;
      if (y[i] > y[hi]) hi = i;
    }
  }
  close();
  const tx = new Float64Array(keep.length), ty = new Float64Array(keep.length);
  keep.forEach((i, k) => { tx[k] = x[i]; ty[k] = y[i]; });
  return [tx, ty];
}

// A model's view: the subfaults' values, the outlines and the moment rate
// as the module gives them, the moment rate thinned for its chart.
function fault_view(words) {
  const r = module.faultView(words);
  if (r.refused) return r;
  const time = new Float64Array(r.rate.length);
  for (let i = 0; i < time.length; ++i) time[i] = i * r.dt;
  r.curve = thin(time, r.rate, 2000, false);
  r.samples = r.rate.length;
  delete r.rate;
  return r;
}

function explore(fields) {
  const r = module.explore(fields);
  if (r.refused || r.failed) return r;
  const curves = {};
  for (const name of ['velocity', 'displacement', 'acceleration']) {
    curves[name] = thin(r.time, r[name], 2000, false);
  }
  for (const name of ['velocityAmplitude', 'accelerationAmplitude']) {
    curves[name] = thin(r.frequency, r[name], 2000, true);
  }
  return {
    curves, samples: r.time.length, bins: r.frequency.length, taumin: r.taumin, taumax: r.taumax,
    nfast: r.nfast, report: r.report, warnings: r.warnings,
  };
}

onmessage = async (event) => {
  await ready;
  const { type, id } = event.data;
  log = [];
  const started = performance.now();
  let result;
  try {
    if (type === 'explore') {
      result = explore(event.data.fields);
    } else if (type === 'model') {
      result = { put: module.putModel(event.data.name, event.data.bytes) };
    } else if (type === 'faultView') {
      result = fault_view(event.data.words);
    } else if (type === 'faultFiles') {
      result = module.faultFiles(event.data.words, event.data.keep);
    } else {
      result = module.runFiles(event.data.fields, event.data.format, event.data.exports);
    }
  } catch (e) {
    // Out of the module's memory, say: the page says so beside the
    // parameters and keeps what it showed.
    result = { failed: String(e && e.message ? e.message : e) };
  }
  result.said = log;
  // Handed over, not copied; curves that share their times, once.
  const buffers = new Set();
  if (result.curves) {
    for (const pair of Object.values(result.curves)) buffers.add(pair[0].buffer).add(pair[1].buffer);
  }
  if (result.curve) buffers.add(result.curve[0].buffer).add(result.curve[1].buffer);
  if (result.points) for (const x of Object.values(result.points)) buffers.add(x.buffer);
  if (result.files) {
    for (const f of result.files) buffers.add(f.bytes.buffer);
  }
  postMessage({ type, id, result, ms: performance.now() - started }, [...buffers]);
};

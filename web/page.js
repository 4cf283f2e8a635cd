// The page: one field and one slider a parameter, the charts, the report
// and the files. Every computation runs in the worker; this thread reads
// the fields, draws and keeps the downloads.
'use strict';

// The program's parameters: name, unit, what the program accepts, its
// default, and the slider's span (log: the slider moves log10 of the
// value; pow2: it moves the power of two).
const parameters = [
  { name: 'dt', label: 'sample spacing', unit: 's', rule: '> 0', value: '0.005', slider: 'log', min: -4, max: 0 },
  { name: 'nt', label: 'samples, time 0 included', unit: '', rule: '2 to 67108864', value: '4096', slider: 'pow2', min: 1, max: 26 },
  { name: 'dmax', label: 'final slip', unit: 'm', rule: '> 0', value: '1', slider: 'log', min: -3, max: 2 },
  { name: 'fmax', label: 'highest source frequency', unit: 'Hz', rule: '> 0', value: '10', slider: 'log', min: -2, max: 2 },
  { name: 'tr', label: 'duration ratio of pulses', unit: '', rule: '> 1', value: '1.633', slider: 'linear', min: 1.01, max: 4, step: 0.001 },
  { name: 'ar', label: 'weight ratio of pulses', unit: '', rule: '>= 0', value: '0.95', slider: 'linear', min: 0, max: 2, step: 0.01 },
  { name: 'nv', label: 'pulses', unit: '', rule: '1 to 64', value: '8', slider: 'linear', min: 1, max: 64, step: 1 },
];

const $ = (id) => document.getElementById(id);
const number_form = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

// The fields' values as numbers, or the first that is not one, refused
// in the library's words.
function read_fields() {
  const fields = {};
  for (const p of parameters) {
    const text = document.querySelector(`input[name="${p.name}"]`).value.trim();
    if (!number_form.test(text)) {
      return { refused: { parameter: p.name, message: `${p.name} = ${text || '(empty)'}: must be a number` } };
    }
    fields[p.name] = Number(text);
  }
  return { fields };
}

function slider_of(p, value) {
  if (p.slider === 'log') return Math.log10(value);
  if (p.slider === 'pow2') return Math.log2(value);
  return value;
}

function value_of_slider(p, position) {
  if (p.slider === 'log') return String(Number(Math.pow(10, position).toPrecision(3)));
  if (p.slider === 'pow2') return String(Math.pow(2, Math.round(position)));
  return String(Number(Number(position).toFixed(4)));
}

function build_fields() {
  const html = parameters.map((p) => `
    <div class="parameter">
      <label for="${p.name}"><span>${p.name}${p.unit ? ` (${p.unit})` : ''}</span>
        <span class="range">${p.label}; ${p.rule}</span></label>
      <div class="controls">
        <input type="range" id="${p.name}-slider" aria-label="${p.name} slider"
          min="${p.min}" max="${p.max}" step="${p.step || (p.slider === 'pow2' ? 1 : 0.001)}">
        <input type="text" inputmode="decimal" id="${p.name}" name="${p.name}" value="${p.value}">
      </div>
      <span class="error" id="${p.name}-error" role="alert"></span>
    </div>`).join('');
  $('parameters').insertAdjacentHTML('beforeend', html);
  for (const p of parameters) {
    const field = $(p.name), slider = $(`${p.name}-slider`);
    slider.value = slider_of(p, Number(p.value));
    slider.addEventListener('input', () => {
      field.value = value_of_slider(p, Number(slider.value));
      changed();
    });
    field.addEventListener('input', () => {
      const x = Number(field.value);
      if (number_form.test(field.value.trim()) && Number.isFinite(slider_of(p, x))) slider.value = slider_of(p, x);
      changed();
    });
  }
}

// Charts: uPlot, one curve each; the spectra on logarithmic axes with
// fmax marked.
const charts = {};
let fmax_shown = 10;

// A chart as wide as its place in the grid.
const chart_width = (name) => Math.max(240, $(`chart-${name}`).parentElement.clientWidth);

function chart_options(name, log) {
  const width = chart_width(name);
  const options = {
    width, height: 220,
    legend: { show: false },
    cursor: { drag: { x: true, y: false } },
    scales: { x: { time: false }, y: {} },
    axes: [{ label: log ? 'frequency (Hz)' : 'time (s)' }, { size: 70 }],
    series: [{}, { stroke: log ? '#1b6ac9' : '#c0392b', width: 1.5 }],
  };
  if (log) {
    options.scales.x = { time: false, distr: 3 };
    options.scales.y = { distr: 3 };
    const powers = (u, splits) => splits.map((v) => (v == null ? '' : v >= 0.01 && v < 1e4 ? String(v) : v.toExponential(0)));
    options.axes[0].values = powers;
    options.axes[1].values = powers;
    options.hooks = {
      draw: [(u) => {
        const x = u.valToPos(fmax_shown, 'x', true);
        const ctx = u.ctx;
        ctx.save();
        ctx.strokeStyle = '#2a2';
        ctx.setLineDash([5, 4]);
        ctx.lineWidth = 1.5;
        ctx.beginPath();
        ctx.moveTo(x, u.bbox.top);
        ctx.lineTo(x, u.bbox.top + u.bbox.height);
        ctx.stroke();
        ctx.fillStyle = '#2a2';
        ctx.fillText(`fmax = ${fmax_shown} Hz`, x + 4, u.bbox.top + 12);
        ctx.restore();
      }],
    };
  }
  return options;
}

function draw(result, fields) {
  fmax_shown = fields.fmax;
  for (const [name, pair] of Object.entries(result.curves)) {
    const log = name.endsWith('Amplitude');
    const data = [pair[0], pair[1]];
    if (!charts[name]) {
      charts[name] = new uPlot(chart_options(name, log), data, $(`chart-${name}`));
    } else {
      charts[name].setData(data);
    }
  }
  $('summary').textContent = `taumin ${result.taumin} s, taumax ${Number(result.taumax.toPrecision(6))} s (the ` +
    `shortest and longest pulse); nfast ${result.nfast} (the transform's length)`;
  $('report').textContent = result.report;
  const list = $('warnings');
  list.replaceChildren(...result.warnings.map((w) => {
    const li = document.createElement('li');
    li.dataset.check = w.check;
    li.textContent = `warning: ${w.message}`;
    return li;
  }));
}

// The files, two sets, each trislip-custom's run of one command, made by
// the set's button for the parameters shown: the fixed layout alone, and
// the full layout with every export this build has that needs no point
// source and reads nt samples. Their links then download what was made.
const export_files = {
  sw4: ['trislip_sw4.txt'], specfem: ['trislip_specfem.stf'], 'specfem-globe': ['stf'],
  pylith: ['trislip.timedb'], sac: ['trislip_velocity.sac', 'trislip_displacement.sac', 'trislip_acceleration.sac'],
  mseed: ['trislip.mseed'],
};
const sets = [
  { id: 'fixed', format: 'fixed', exports: () => [] },
  { id: 'full', format: 'full', exports: (nt) => known_exports.filter((e) => nt >= e.minSamples).map((e) => e.name) },
];
let known_exports = [];

function command_of(set, fields) {
  let c = 'trislip-custom';
  for (const p of parameters) c += ` --${p.name} ${fields[p.name]}`;
  c += ` --format ${set.format}`;
  const exports = set.exports(fields.nt);
  if (exports.length) c += ` --export ${exports.join(',')}`;
  return c;
}

function build_downloads(exports) {
  known_exports = exports.filter((e) => export_files[e.name]);
  $('downloads').innerHTML = sets.map((set) => `
    <div class="set" id="set-${set.id}"><code class="command"></code>
      <button type="button" class="make">Make the files</button> <span class="links"></span>
      <span class="error" role="alert"></span></div>`).join('');
  for (const set of sets) $(`set-${set.id}`).querySelector('.make').addEventListener('click', () => make(set));
}

let shown = null;      // the fields of what the page shows, once valid
let made = {};         // set id -> the key of the fields its links hold
const key_of = (fields) => JSON.stringify(fields);

// The commands and links of the parameters shown. A link is live once its
// set is made for them; the buttons are disabled while a field is refused.
function show_commands() {
  for (const set of sets) {
    const box = $(`set-${set.id}`);
    box.querySelector('.command').textContent = shown ? command_of(set, shown) : '';
    box.querySelector('.error').textContent = '';
    box.querySelector('.make').disabled = !shown || pending_refusal !== null;
    const names = ['Tri_Slip.csv', 'Tri_Amp.csv', 'trislip.json']
      .concat(shown ? set.exports(shown.nt).flatMap((e) => export_files[e]) : []);
    const links = box.querySelector('.links');
    if (links.dataset.names !== names.join()) {
      links.innerHTML = names.map((f) => `<a download="${f}" data-file="${f}">${f}</a>`).join('');
      links.dataset.names = names.join();
    }
    const live = shown !== null && pending_refusal === null && made[set.id] === key_of(shown);
    for (const a of links.querySelectorAll('a')) {
      a.classList.toggle('disabled', !live);
      if (!live && a.href) {
        URL.revokeObjectURL(a.href);
        a.removeAttribute('href');
      }
    }
  }
}

function make(set) {
  const fields = shown, key = key_of(shown);
  const box = $(`set-${set.id}`);
  box.querySelector('.error').textContent = 'making the files…';
  ask({ type: 'files', fields, format: set.format, exports: set.exports(fields.nt).join(',') }).then(({ result }) => {
    if (key_of(shown) !== key) return;  // redrawn for other parameters meanwhile
    if (result.refused || result.failed) {
      box.querySelector('.error').textContent = `trislip-custom: ${result.refused || result.failed}`;
      return;
    }
    made[set.id] = key;
    show_commands();
    box.querySelector('.error').textContent = result.said.join('\n');
    for (const link of box.querySelectorAll('.links a')) {
      const file = result.files.find((f) => f.name === link.dataset.file);
      link.href = URL.createObjectURL(new Blob([file.bytes], { type: 'application/octet-stream' }));
    }
  });
}

// Requests to the worker, which answers them in the order they came.
let worker, next_id = 0;
const waiting = new Map();
function ask(message) {
  const id = ++next_id;
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    worker.postMessage({ ...message, id });
  });
}

// Redrawing: the latest fields go to the worker as soon as it is free;
// changes meanwhile replace each other. Anything slower than 100 ms shows
// its progress.
let busy = false, queued = null, pending_refusal = null;
window.trislipTimings = [];

function changed() {
  const read = read_fields();
  for (const p of parameters) {
    $(`${p.name}-error`).textContent = '';
    $(p.name).classList.remove('invalid');
  }
  pending_refusal = read.refused || null;
  if (read.refused) {
    refuse(read.refused);
    return;
  }
  queued = { fields: read.fields, started: performance.now() };
  if (!busy) run_next();
}

function refuse(refusal) {
  $(`${refusal.parameter}-error`).textContent = refusal.message;
  $(refusal.parameter).classList.add('invalid');
  $('plots').classList.add('stale');
  $('status').textContent = 'Showing the last parameters that were accepted.';
  show_commands();
}

function run_next() {
  const job = queued;
  queued = null;
  busy = true;
  const slow = setTimeout(() => {
    $('status').innerHTML = `<progress></progress> computing ${job.fields.nt} samples…`;
    const tick = setInterval(() => {
      if (job.done) return clearInterval(tick);
      const s = ((performance.now() - job.started) / 1000).toFixed(1);
      $('status').innerHTML = `<progress></progress> computing ${job.fields.nt} samples… ${s} s`;
    }, 100);
  }, 100);
  ask({ type: 'explore', fields: job.fields }).then(({ result, ms }) => {
    clearTimeout(slow);
    job.done = true;
    if (result.refused || result.failed) {
      const r = result.refused || { parameter: 'nt', message: result.failed };
      if (!queued) {
        pending_refusal = r;
        refuse(r);
      }
    } else {
      const drawing = performance.now();
      draw(result, job.fields);
      shown = job.fields;
      made = {};
      // A field refused meanwhile keeps the charts greyed.
      $('plots').classList.toggle('stale', pending_refusal !== null);
      if (pending_refusal === null) $('status').textContent = '';
      // From the input event: to the charts drawn (uPlot draws in a
      // microtask queued before this one), and to the next frame.
      let drawn = 0;
      queueMicrotask(() => { drawn = performance.now(); });
      requestAnimationFrame(() => {
        window.trislipTimings.push({
          nt: job.fields.nt, worker_ms: ms, draw_ms: drawn - drawing, drawn_ms: drawn - job.started,
          total_ms: performance.now() - job.started, started: job.started, painted: performance.now(),
        });
      });
      if (!queued) show_commands();
    }
    busy = false;
    if (queued) run_next();
  });
}

function start() {
  build_fields();
  window.addEventListener('resize', () => {
    for (const [name, chart] of Object.entries(charts)) chart.setSize({ width: chart_width(name), height: 220 });
  });
  const source = $('worker-source').textContent;
  worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
  worker.onmessage = (event) => {
    const m = event.data;
    if (m.type === 'ready') {
      $('version').textContent = `version ${m.version}`;
      build_downloads(m.exports);
      window.trislipReady = true;
      changed();
      return;
    }
    const resolve = waiting.get(m.id);
    waiting.delete(m.id);
    resolve(m);
  };
  worker.onerror = (event) => {
    $('status').textContent = `The computation stopped: ${event.message}`;
  };
}

start();

// The page's second part: a published model (FSP, USGS .param, SRF or a CSV
// table) opened from the user's disk, shown as trislip-fault reads it, and
// the files of trislip-fault's own run. The command shown is the one the
// worker parses and runs, so every value and refusal is the program's.
// Uses page.js's $, ask and worker, and the plotting library.
'use strict';

// trislip-fault's options: the flag, what it is, and its default in the
// field (empty: not given). group: where the field goes.
const fault_options = [
  { name: 'dt', label: 'sample spacing of the slip rates and the moment rate', unit: 's', value: '0.01', group: 'function' },
  { name: 'tr', label: 'duration ratio of successive pulses', unit: '', value: '1.633', group: 'function' },
  { name: 'ar', label: 'weight ratio of successive pulses', unit: '', value: '0.95', group: 'function' },
  { name: 'nv', label: 'number of pulses', unit: '', value: '8', group: 'function' },
  { name: 'keep-rate-functions', label: 'an SRF file\'s own slip-rate functions, resampled at --dt, instead of this program\'s', flag: true, group: 'function' },
  { name: 'rise', label: 'rise time where the model gives none', unit: 's', value: '', group: 'fill' },
  { name: 'vr', label: 'rupture speed where the model gives no rupture time', unit: 'km/s', value: '', group: 'fill' },
  { name: 'rake', label: 'rake where the model gives none', unit: 'degrees', value: '', group: 'fill' },
  { name: 'mu', label: 'rigidity where the model gives no moment or structure', unit: 'Pa', value: '', group: 'fill' },
  { name: 'vs', label: 'shear-wave speed, with density, for the rigidity', unit: 'm/s', value: '', group: 'fill' },
  { name: 'density', label: 'density, for the rigidity and SRF 2.0', unit: 'kg/m³', value: '', group: 'fill' },
  { name: 'srf-version', label: 'SRF version', choices: ['1.0', '2.0'], value: '1.0', group: 'srf' },
  { name: 'nt', label: 'values per time function file (empty: to the end of the last function)', unit: '', value: '', group: 'specfem' },
  { name: 'start-time', label: 'the event time, UTC', unit: '', value: '', group: 'specfem' },
  { name: 'specfem-stf-dir', label: 'where SPECFEM3D finds the files, from its run folder', unit: '', value: '', group: 'specfem' },
  { name: 'specfem-binary', label: '.bin files instead of text', flag: true, group: 'specfem' },
  { name: 'specfem-precision', label: 'the .bin files\' reals', choices: ['single', 'double'], value: 'single', group: 'specfem' },
  { name: 'specfem-depth', label: 'what depth holds: km, or z in metres', choices: ['km', 'z'], value: 'km', group: 'specfem' },
];
const option_groups = {
  function: 'The function on every subfault',
  fill: 'What the model may lack',
  srf: 'SRF',
  specfem: 'SPECFEM3D',
};

// A word of the command as a POSIX shell takes it.
const shell_word = (w) => (/^[A-Za-z0-9_.,:+=\/@%-]+$/.test(w) ? w : `'${w.replace(/'/g, `'\\''`)}'`);

function build_fault_fields() {
  const box = $('fault-options');
  for (const [group, legend] of Object.entries(option_groups)) {
    const set = document.createElement('fieldset');
    set.innerHTML = `<legend>${legend}</legend>` + (group === 'specfem' ? `
      <label class="check"><input type="checkbox" id="fault-export-specfem"> <code>--export specfem-cmt</code>:
        CMTSOLUTION and a time function file a subfault</label>` : '');
    for (const o of fault_options.filter((x) => x.group === group)) {
      const id = `fault-${o.name}`;
      let input;
      if (o.flag) input = `<input type="checkbox" id="${id}">`;
      else if (o.choices) input = `<select id="${id}">${o.choices.map((c) => `<option${c === o.value ? ' selected' : ''}>${c}</option>`).join('')}</select>`;
      else input = `<input type="text" id="${id}" value="${o.value}" spellcheck="false">`;
      set.insertAdjacentHTML('beforeend', `
        <div class="option"><label for="${id}"><code>--${o.name}</code>${o.unit ? ` (${o.unit})` : ''}
          <span class="range">${o.label}</span></label>${input}
          <span class="error" id="${id}-error" role="alert"></span></div>`);
    }
    box.appendChild(set);
  }
  for (const el of box.querySelectorAll('input, select')) {
    el.addEventListener(el.type === 'text' ? 'input' : 'change', fault_changed);
  }
  // The SPECFEM3D options count with their export only.
  const specfem = () => {
    for (const o of fault_options.filter((x) => x.group === 'specfem')) $(`fault-${o.name}`).disabled = !$('fault-export-specfem').checked;
  };
  $('fault-export-specfem').addEventListener('change', specfem);
  specfem();
}

// The command's words after the program's name: the model's name, then
// every option given, as the fields hold them; the program checks them.
function fault_words() {
  const words = [model.name.startsWith('-') ? `./${model.name}` : model.name];
  const cmt = $('fault-export-specfem').checked;
  for (const o of fault_options) {
    const el = $(`fault-${o.name}`);
    if (o.group === 'specfem' && !cmt) continue;
    if (o.flag) {
      if (el.checked) words.push(`--${o.name}`);
    } else if (o.choices) {
      if (el.value !== o.value) words.push(`--${o.name}`, el.value);
    } else if (el.value.trim() !== '' || o.value !== '') {
      words.push(`--${o.name}`, el.value.trim());
    }
  }
  if (cmt) words.push('--export', 'specfem-cmt');
  return words;
}

let model = null;        // {name, bytes} of the model opened
let fault_shown = null;  // the view drawn, and its words
let fault_busy = false, fault_queued = null;
window.trislipFaultTimings = [];

// A second worker for every warning the run says: it runs trislip-fault
// whole (each subfault's sampling takes its function as written; about
// 0.3 s for 1,000 subfaults), and the moment rate is redrawn meanwhile.
// Both hold the model.
let checker = null, checker_id = 0, checker_busy = false, checker_queued = null;
const checker_waiting = new Map();

function ask_checker(message) {
  const id = ++checker_id;
  return new Promise((resolve) => {
    checker_waiting.set(id, resolve);
    checker.postMessage({ ...message, id });
  });
}

function start_checker() {
  checker = new Worker(URL.createObjectURL(new Blob([$('worker-source').textContent], { type: 'text/javascript' })));
  checker.onmessage = (event) => {
    if (event.data.type === 'ready') return;
    const resolve = checker_waiting.get(event.data.id);
    checker_waiting.delete(event.data.id);
    resolve(event.data);
  };
}

// Into both workers; the reason when either cannot hold it.
async function put_model(m) {
  const answers = await Promise.all([ask({ type: 'model', name: m.name, bytes: m.bytes }),
    ask_checker({ type: 'model', name: m.name, bytes: m.bytes })]);
  const failed = answers.find((a) => a.result.failed);
  return failed ? `${m.name}: cannot be held in this page: ${failed.result.failed}` : null;
}

// A model from the file field or a drop: put into the module's folder,
// then drawn. Files open one after another, and only the newest chosen is
// opened and shown: one chosen while another loads replaces it. A model
// the program refuses is refused beside the field; the drawing before
// stays, greyed, and the options then apply to the refused file, so that
// one the program can read once an option is given (--mu, say) is drawn
// when it is.
let opening = 0, opened_at = 0, newest = 0, queue = Promise.resolve();
window.trislipFaultIdle = () => !opening && !fault_busy && !fault_queued && !checker_busy && !checker_queued;

const size_text = (bytes) => (bytes < 1e6 ? `${(bytes / 1e3).toFixed(1)} kB` : `${(bytes / 1e6).toFixed(1)} MB`);

function open_model(file) {
  const mine = ++newest;
  ++opening;
  $('model-reading').textContent = `reading ${file.name} (${size_text(file.size)})…`;
  queue = queue.then(() => (mine === newest ? open_file(file, mine) : null)).catch((e) => {
    $('model-error').textContent = `${file.name}: ${e && e.message ? e.message : e}`;
  }).finally(() => {
    --opening;
    if (mine === newest) $('model-reading').textContent = '';
  });
}

async function open_file(file, mine) {
  opened_at = performance.now();
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (mine !== newest) return;
  model = { name: file.name, bytes };
  const failed = await put_model(model);
  if (mine !== newest) return;
  const words = fault_words();
  const result = failed ? { refused: failed } : await fault_draw(words, true, () => mine === newest);
  if (mine !== newest) return;
  if (result.refused) {
    clear_fault_errors();
    $('model-error').textContent = result.refused;
    $('model-name').textContent = fault_shown ? `${fault_shown.name}, greyed: ${file.name} was refused` : 'no model yet';
    $('fault-plots').classList.add('stale');
    $('fault-make').disabled = true;
    return;
  }
  check_run(words);
}

function clear_fault_errors() {
  $('model-error').textContent = '';
  for (const o of fault_options) {
    $(`fault-${o.name}-error`).textContent = '';
    $(`fault-${o.name}`).classList.remove('invalid');
  }
}

// A refusal beside the option it names first, else beside the model.
function fault_refuse(message) {
  let named = null, first = Infinity;
  for (const o of fault_options) {
    const at = message.search(new RegExp(`--${o.name}\\b(?!-)`));
    if (at >= 0 && at < first) [named, first] = [o, at];
  }
  if (named) {
    $(`fault-${named.name}-error`).textContent = message;
    $(`fault-${named.name}`).classList.add('invalid');
  } else {
    $('model-error').textContent = message;
  }
  $('fault-plots').classList.add('stale');
  $('fault-make').disabled = true;
}

function fault_changed() {
  if (!model) return;
  fault_queued = fault_words();
  changed_at = performance.now();
  if (!fault_busy) fault_next();
}
let changed_at = 0;

// The latest options go to the worker as soon as it is free; changes
// meanwhile replace each other.
async function fault_next() {
  const words = fault_queued;
  fault_queued = null;
  fault_busy = true;
  const result = await fault_draw(words, false);
  if (!result.refused && !fault_queued) check_run(words);
  fault_busy = false;
  if (fault_queued) fault_next();
}

// Asks for the view of the words and draws it; returns the view, or
// {refused} when the program refuses them. opening: a new model, whose
// refusal goes beside the file field.
async function fault_draw(words, opening, still_wanted = () => true) {
  // From the file chosen, or from the option's change.
  const started = opening ? opened_at : changed_at;
  const { result, ms } = await ask({ type: 'faultView', words });
  if (!still_wanted()) return { refused: 'a newer file was chosen' };
  // Out of the module's memory, say: refused in those words.
  if (result.failed) result.refused = `trislip-fault: ${result.failed}`;
  if (result.refused) {
    if (!opening) {
      clear_fault_errors();
      fault_refuse(result.refused);
    }
    return result;
  }
  clear_fault_errors();
  const drawing = performance.now();
  draw_fault(result, words, result.said);
  $('fault-warnings-status').textContent = 'checking what the run says…';
  const drawn = performance.now();
  requestAnimationFrame(() => {
    window.trislipFaultTimings.push({
      worker_ms: ms, draw_ms: drawn - drawing, drawn_ms: drawn - started, total_ms: performance.now() - started,
      subfaults: result.points.lon.length, opening,
    });
  });
  return result;
}

// Every warning the run of the words shown says, the sampling's and
// SPECFEM3D's included; a check asked for meanwhile replaces the one
// waiting.
async function check_run(words) {
  if (checker_busy) {
    checker_queued = words;
    return;
  }
  checker_busy = true;
  const { result } = await ask_checker({ type: 'faultFiles', words, keep: false });
  checker_busy = false;
  const current = fault_shown && fault_shown.words === words;
  if (current && !result.refused && !result.failed) {
    show_said(result.said);
    $('fault-warnings-status').textContent = '';
    window.trislipFaultChecked = performance.now();
  }
  if (checker_queued) {
    const next = checker_queued;
    checker_queued = null;
    if (fault_shown && fault_shown.words === next) check_run(next);
  }
}

function show_said(said) {
  $('fault-warnings').replaceChildren(...said.map((line) => {
    const li = document.createElement('li');
    li.textContent = line;
    return li;
  }));
}

// The slip colour bar of the map and the panels, 0 to smax m.
function draw_colour_bar(smax) {
  const box = $('fault-slip-scale');
  const width = Math.max(280, box.clientWidth), height = 40;
  const [, ctx] = canvas_of(box, width, height);
  const l = 58, r = 60, w = width - l - r;
  ctx.clearRect(0, 0, width, height);
  for (let x = 0; x < w; ++x) {
    ctx.fillStyle = slip_colour(x / (w - 1));
    ctx.fillRect(l + x, 4, 1.5, 14);
  }
  ctx.strokeStyle = '#999';
  ctx.strokeRect(l, 4, w, 14);
  ctx.fillStyle = '#555';
  ctx.textAlign = 'center';
  const step = smax > 0 ? nice_step(smax, Math.max(2, Math.floor(w / 70))) : 1;
  for (let t = 0; t <= smax * (1 + 1e-9); t += step) {
    const x = l + (smax > 0 ? t / smax : 0) * w;
    ctx.fillRect(x, 18, 1, 4);
    ctx.fillText(number(t, 6), x, 33);
  }
  ctx.textAlign = 'left';
  ctx.fillText('slip (m)', l + w + 8, 15);
}

// Colours: slip from white through yellow and red to dark red.
function slip_colour(x) {
  const stops = [[255, 255, 255], [255, 230, 120], [240, 120, 40], [190, 30, 30], [90, 0, 20]];
  const t = Math.max(0, Math.min(1, x)) * (stops.length - 1);
  const i = Math.min(stops.length - 2, Math.floor(t)), f = t - i;
  const c = stops[i].map((v, k) => Math.round(v + (stops[i + 1][k] - v) * f));
  return `rgb(${c[0]},${c[1]},${c[2]})`;
}

// A vertical axis's title, centred at height y, read from the bottom up.
function axis_title(ctx, text, y) {
  ctx.save();
  ctx.translate(12, y);
  ctx.rotate(-Math.PI / 2);
  ctx.textAlign = 'center';
  ctx.fillText(text, 0, 0);
  ctx.restore();
}

// The segments' outlines, told apart.
const segment_colours = ['#1b6ac9', '#2a9d3a', '#8e3bbf', '#d07a00', '#0d9aa8', '#c2185b'];
const segment_colour = (i) => segment_colours[i % segment_colours.length];

function nice_step(span, count) {
  const raw = span / count, p = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const m of [1, 2, 5, 10]) if (m * p >= raw) return m * p;
  return 10 * p;
}

const number = (x, digits) => Number(x.toPrecision(digits)).toString();
// A moment as the program prints it: the shortest digits that read back
// as the same double, in exponent form with at least two exponent digits.
const moment_text = (x) => x.toExponential().replace(/e([+-])(\d)$/, 'e$10$2');

// A canvas of the given CSS size, sharp on any screen.
function canvas_of(box, width, height) {
  let c = box.querySelector('canvas');
  if (!c) {
    c = document.createElement('canvas');
    box.appendChild(c);
  }
  const scale = window.devicePixelRatio || 1;
  c.width = Math.round(width * scale);
  c.height = Math.round(height * scale);
  c.style.width = `${width}px`;
  c.style.height = `${height}px`;
  const ctx = c.getContext('2d');
  ctx.setTransform(scale, 0, 0, scale, 0, 0);
  ctx.font = '11px system-ui, sans-serif';
  return [c, ctx];
}

// What the hover shows of subfault k.
function subfault_text(v, k) {
  const p = v.points;
  return `line ${p.line[k]}, segment ${p.segment[k] + 1}: lon ${number(p.lon[k], 7)}, lat ${number(p.lat[k], 7)}, ` +
    `depth ${number(p.depth[k], 5)} km; slip ${number(p.slip[k], 4)} m, rake ${number(p.rake[k], 4)}°, ` +
    `rupture time ${number(p.trup[k], 4)} s, rise time ${number(p.rise[k], 4)} s` +
    (v.windows ? `; time windows ${v.windows[k]}` : '');
}

const hover_hint = 'A subfault\'s values: hold the pointer over it on the map or on its segment.';

// Hover over a canvas: the nearest subfault within reach px (12, or a
// cell's half diagonal), its values.
function hover(canvas, places, reach = 12) {
  canvas.onmousemove = (e) => {
    const r = canvas.getBoundingClientRect();
    const x = e.clientX - r.left, y = e.clientY - r.top;
    let best = -1, d2 = Math.max(12, reach) ** 2;
    for (const [k, px, py] of places) {
      const d = (px - x) * (px - x) + (py - y) * (py - y);
      if (d < d2) { d2 = d; best = k; }
    }
    $('fault-hover').textContent = best < 0 ? hover_hint : subfault_text(fault_shown.view, best);
  };
  canvas.onmouseleave = () => { $('fault-hover').textContent = hover_hint; };
}

let rate_chart = null;

// redrawn: the same view again at a new width, as it was (greyed or not).
function draw_fault(v, words, said, redrawn = false) {
  const same = fault_shown && JSON.stringify(fault_shown.words) === JSON.stringify(words);
  if (!redrawn) {
    fault_shown = { view: v, words, name: model.name };
    $('model-name').textContent = model.name;
    $('fault-plots').classList.remove('stale');
    $('fault-make').disabled = false;
  }
  $('fault-summary').textContent = v.summary;
  $('fault-event').textContent = (v.event ? `${v.event}; ` : '') +
    (v.planes.length ? `${v.segments} segment${v.segments === 1 ? '' : 's'}`
      : 'no segment geometry in the model (a table of points)');
  if (said) show_said(said);
  $('fault-command').textContent = 'trislip-fault ' + words.map(shell_word).join(' ');
  if (!same) {
    fault_links(null);
    $('fault-said').textContent = '';
  }
  if (!$('fault-hover').textContent) $('fault-hover').textContent = hover_hint;
  const p = v.points, n = p.lon.length;
  let smax = 0;
  for (let k = 0; k < n; ++k) smax = Math.max(smax, p.slip[k]);
  draw_colour_bar(smax);

  // The moment rate, its integral and the moments beside it.
  const width = Math.max(280, $('fault-rate').clientWidth);
  const data = [v.curve[0], v.curve[1]];
  if (!rate_chart) {
    rate_chart = new uPlot({
      width, height: 240, legend: { show: false }, cursor: { drag: { x: true, y: false } },
      scales: { x: { time: false } },
      axes: [{ label: 'time (s)' }, { size: 70, values: (u, splits) => splits.map((x) => (x === 0 ? '0' : x.toExponential(1))) }],
      series: [{}, { stroke: '#7b3294', width: 1.5 }],
    }, data, $('fault-rate'));
  } else {
    rate_chart.setSize({ width, height: 240 });
    rate_chart.setData(data);
  }
  const stated = v.statedMoment !== undefined ? `; the model states ${moment_text(v.statedMoment)} N m` : '';
  $('fault-rate-note').textContent = `${v.samples} samples at ${v.dt} s; its integral ${moment_text(v.integral)} N m; ` +
    `M0 of the nominal slips ${moment_text(v.moment)} N m${stated}`;

  draw_map(v, smax);
  draw_segments(v, smax);
}

// The subfaults on longitude and latitude (equal distances equal on both
// axes at the middle latitude), the segments' outlines, the epicentre.
function draw_map(v, smax) {
  const p = v.points, n = p.lon.length;
  const box = $('fault-map');
  const width = Math.max(280, box.clientWidth), height = Math.round(Math.min(480, Math.max(260, width * 0.7)));
  const [canvas, ctx] = canvas_of(box, width, height);
  let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity;
  const extend = (x, y) => { x0 = Math.min(x0, x); x1 = Math.max(x1, x); y0 = Math.min(y0, y); y1 = Math.max(y1, y); };
  for (let k = 0; k < n; ++k) extend(p.lon[k], p.lat[k]);
  for (const pl of v.planes) for (const [x, y] of pl.outline) extend(x, y);
  if (v.hypocentre) extend(v.hypocentre.lon, v.hypocentre.lat);
  const squash = Math.cos(((y0 + y1) / 2) * Math.PI / 180);
  const pad = { l: 58, r: 12, t: 10, b: 34 };
  const w = width - pad.l - pad.r, h = height - pad.t - pad.b;
  const span_x = Math.max(1e-6, (x1 - x0) * squash), span_y = Math.max(1e-6, y1 - y0);
  const s = Math.min(w / span_x, h / span_y) * 0.95;
  const cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  const X = (lon) => pad.l + w / 2 + (lon - cx) * squash * s, Y = (lat) => pad.t + h / 2 - (lat - cy) * s;
  ctx.clearRect(0, 0, width, height);
  // Grid lines and their degrees.
  ctx.strokeStyle = '#e4e4e4';
  ctx.fillStyle = '#555';
  const lon_lo = cx - w / 2 / (squash * s), lon_hi = cx + w / 2 / (squash * s);
  const lat_lo = cy - h / 2 / s, lat_hi = cy + h / 2 / s;
  const sx = nice_step(lon_hi - lon_lo, 5), sy = nice_step(lat_hi - lat_lo, 5);
  ctx.textAlign = 'center';
  for (let g = Math.ceil(lon_lo / sx) * sx; g <= lon_hi; g += sx) {
    ctx.beginPath(); ctx.moveTo(X(g), pad.t); ctx.lineTo(X(g), pad.t + h); ctx.stroke();
    ctx.fillText(`${number(g, 6)}°`, X(g), pad.t + h + 14);
  }
  ctx.textAlign = 'right';
  for (let g = Math.ceil(lat_lo / sy) * sy; g <= lat_hi; g += sy) {
    ctx.beginPath(); ctx.moveTo(pad.l, Y(g)); ctx.lineTo(pad.l + w, Y(g)); ctx.stroke();
    ctx.fillText(`${number(g, 6)}°`, pad.l - 4, Y(g) + 4);
  }
  ctx.textAlign = 'center';
  ctx.fillText('longitude', pad.l + w / 2, height - 4);
  axis_title(ctx, 'latitude', pad.t + h / 2);
  // Subfaults, smallest slip first so the largest show. A subfault of a
  // segment is drawn as its cell seen from above, along strike by its
  // horizontal width down dip (a thin strip for a vertical fault, not a
  // square hiding the cells beneath it); one of no segment as a square.
  // Each segment's outline in a colour of its own, numbered at its top
  // edge's middle as in the panels below; the top edge thicker. Under the
  // cells, so that a steep segment's strip of cells shows over it.
  ctx.lineWidth = 1;
  v.planes.forEach((pl, i) => {
    ctx.strokeStyle = segment_colour(i);
    ctx.beginPath();
    pl.outline.forEach(([x, y], j) => (j ? ctx.lineTo(X(x), Y(y)) : ctx.moveTo(X(x), Y(y))));
    ctx.stroke();
    ctx.lineWidth = 2.5;
    const [a, b] = [pl.outline[0], pl.outline[1]];
    ctx.beginPath(); ctx.moveTo(X(a[0]), Y(a[1])); ctx.lineTo(X(b[0]), Y(b[1]));
    ctx.stroke();
    ctx.lineWidth = 1;
    if (v.planes.length > 1) {
      ctx.fillStyle = segment_colour(i);
      ctx.font = 'bold 12px system-ui, sans-serif';
      ctx.fillText(String(i + 1), (X(a[0]) + X(b[0])) / 2 + 8, (Y(a[1]) + Y(b[1])) / 2 - 6);
      ctx.font = '11px system-ui, sans-serif';
    }
  });
  const order = [...Array(n).keys()].sort((a, b) => p.slip[a] - p.slip[b]);
  const size = Math.max(3, Math.min(14, Math.sqrt((w * h) / Math.max(1, n)) * 0.5));
  const km = s / 111.195;  // px a km (a degree of latitude is 111.195 km)
  const places = [];
  ctx.strokeStyle = 'rgba(0,0,0,0.25)';
  for (const k of order) {
    const px = X(p.lon[k]), py = Y(p.lat[k]);
    ctx.fillStyle = slip_colour(smax > 0 ? p.slip[k] / smax : 0);
    const pl = v.planes[p.segment[k]];
    if (pl) {
      const along = Math.max(2, (pl.len / pl.nstk) * km), across = Math.max(1.5, (pl.wid / pl.ndip) * Math.cos(pl.dip * Math.PI / 180) * km);
      ctx.save();
      ctx.translate(px, py);
      ctx.rotate(pl.strike * Math.PI / 180);  // along strike: up the canvas turned clockwise by the strike
      ctx.fillRect(-across / 2, -along / 2, across, along);
      // Cells a few px wide are filled only: their edges would hide them.
      if (across >= 4) ctx.strokeRect(-across / 2, -along / 2, across, along);
      ctx.restore();
    } else {
      ctx.fillRect(px - size / 2, py - size / 2, size, size);
      ctx.strokeRect(px - size / 2, py - size / 2, size, size);
    }
    places.push([k, px, py]);
  }
  if (v.hypocentre) star(ctx, X(v.hypocentre.lon), Y(v.hypocentre.lat));
  ctx.lineWidth = 1;
  hover(canvas, places);
}

function star(ctx, x, y) {
  ctx.save();
  ctx.beginPath();
  for (let i = 0; i < 10; ++i) {
    const r = i % 2 ? 4 : 10, a = -Math.PI / 2 + i * Math.PI / 5;
    ctx.lineTo(x + r * Math.cos(a), y + r * Math.sin(a));
  }
  ctx.closePath();
  ctx.fillStyle = '#ffd700';
  ctx.strokeStyle = '#000';
  ctx.lineWidth = 1;
  ctx.fill();
  ctx.stroke();
  ctx.restore();
}

// Each segment's slip along strike by down dip, its rupture-time contours
// and the hypocentre where it lies on the segment.
function draw_segments(v, smax) {
  const box = $('fault-segments');
  const p = v.points, n = p.lon.length;
  if (v.planes.length === 0) {
    box.textContent = 'The model gives no segment geometry: its subfaults are on the map only.';
    return;
  }
  const old = box.querySelectorAll('.segment');
  for (let i = v.planes.length; i < old.length; ++i) old[i].remove();
  // One scale in km for every panel: the longest fills the width, the
  // widest at most 420 px high.
  const pad = { l: 50, r: 10, t: 8, b: 32 };
  const room = Math.max(280, box.clientWidth) - pad.l - pad.r;
  const longest = Math.max(...v.planes.map((pl) => pl.len)), widest = Math.max(...v.planes.map((pl) => pl.wid));
  const px_per_km = Math.min(room / longest, 420 / widest);
  v.planes.forEach((pl, s) => {
    let part = box.querySelectorAll('.segment')[s];
    if (!part) {
      part = document.createElement('div');
      part.className = 'segment';
      part.innerHTML = '<h3></h3><div class="plot"></div>';
      box.appendChild(part);
    }
    part.querySelector('h3').textContent = `Segment ${s + 1}: ${number(pl.len, 5)} km along strike ${number(pl.strike, 5)}°, ` +
      `${number(pl.wid, 5)} km down dip ${number(pl.dip, 4)}°, top at ${number(pl.dtop, 5)} km`;
    part.querySelector('h3').style.color = v.planes.length > 1 ? segment_colour(s) : '';
    const plot = part.querySelector('.plot');
    const w = pl.len * px_per_km, h = pl.wid * px_per_km;
    const width = Math.max(200, w + pad.l + pad.r);
    plot.dataset.pxPerKm = String(px_per_km);
    const [canvas, ctx] = canvas_of(plot, width, h + pad.t + pad.b);
    const X = (a) => pad.l + (a + pl.len / 2) / pl.len * w, Y = (d) => pad.t + d / pl.wid * h;
    ctx.clearRect(0, 0, width, h + pad.t + pad.b);
    ctx.strokeStyle = '#999';
    ctx.strokeRect(pad.l, pad.t, w, h);
    // The rows' grid: each subfault's cell.
    const mine = [];
    for (let k = 0; k < n; ++k) if (p.segment[k] === s) mine.push(k);
    const nstk = pl.nstk, ndip = pl.ndip;
    const dx = pl.len / nstk, dz = pl.wid / ndip;
    const grid = new Float64Array(nstk * ndip).fill(NaN);
    const places = [];
    for (const k of mine) {
      ctx.fillStyle = slip_colour(smax > 0 ? p.slip[k] / smax : 0);
      ctx.fillRect(X(p.along[k] - dx / 2), Y(p.down[k] - dz / 2), dx / pl.len * w + 0.5, dz / pl.wid * h + 0.5);
      const i = Math.min(nstk - 1, Math.max(0, Math.floor((p.along[k] + pl.len / 2) / dx)));
      const j = Math.min(ndip - 1, Math.max(0, Math.floor(p.down[k] / dz)));
      grid[j * nstk + i] = p.trup[k];
      places.push([k, X(p.along[k]), Y(p.down[k])]);
    }
    contours(ctx, grid, nstk, ndip, (i) => X(-pl.len / 2 + (i + 0.5) * dx), (j) => Y((j + 0.5) * dz));
    // Axes: km along strike from the segment's centre, km down dip.
    ctx.fillStyle = '#555';
    ctx.textAlign = 'center';
    const sa = nice_step(pl.len, Math.max(2, Math.min(6, Math.floor(w / 60))));
    for (let a = Math.ceil(-pl.len / 2 / sa) * sa; a <= pl.len / 2 + 1e-9; a += sa) ctx.fillText(number(a, 6), X(a), pad.t + h + 13);
    ctx.fillText('km along strike from the centre', pad.l + w / 2, pad.t + h + 27);
    ctx.textAlign = 'right';
    const sd = nice_step(pl.wid, Math.max(1, Math.min(4, Math.floor(h / 25))));
    for (let d = 0; d <= pl.wid + 1e-9; d += sd) ctx.fillText(number(d, 6), pad.l - 4, Y(d) + 4);
    axis_title(ctx, 'km down dip', pad.t + h / 2);
    if (Math.abs(pl.shyp) <= pl.len / 2 + dx / 2 && pl.dhyp >= -dz / 2 && pl.dhyp <= pl.wid + dz / 2 &&
        segment_holds_hypocentre(v, s)) {
      star(ctx, X(pl.shyp), Y(pl.dhyp));
    }
    hover(canvas, places, Math.hypot(dx / pl.len * w, dz / pl.wid * h) / 2);
  });
}

// The hypocentre is drawn on the segment nearest to it on the map.
function segment_holds_hypocentre(v, s) {
  if (!v.hypocentre) return v.planes.length === 1;
  let best = -1, d2 = Infinity;
  const p = v.points;
  for (let k = 0; k < p.lon.length; ++k) {
    const d = (p.lon[k] - v.hypocentre.lon) ** 2 + (p.lat[k] - v.hypocentre.lat) ** 2;
    if (d < d2) { d2 = d; best = p.segment[k]; }
  }
  return best === s;
}

// Rupture-time contours by marching squares over the cells' centres, at
// even steps of a round number of seconds; cells without a subfault are
// left out.
function contours(ctx, grid, nx, ny, X, Y) {
  let lo = Infinity, hi = -Infinity;
  for (const t of grid) if (!Number.isNaN(t)) { lo = Math.min(lo, t); hi = Math.max(hi, t); }
  if (!(hi > lo)) return;
  const step = nice_step(hi - lo, 8);
  ctx.save();
  ctx.strokeStyle = '#222';
  ctx.fillStyle = '#222';
  ctx.lineWidth = 1;
  const labels = [];  // [text, [x, y]]
  for (let level = Math.ceil(lo / step) * step; level < hi; level += step) {
    ctx.beginPath();
    for (let j = 0; j + 1 < ny; ++j) {
      for (let i = 0; i + 1 < nx; ++i) {
        const c = [grid[j * nx + i], grid[j * nx + i + 1], grid[(j + 1) * nx + i + 1], grid[(j + 1) * nx + i]];
        if (c.some(Number.isNaN)) continue;
        const xy = [[i, j], [i + 1, j], [i + 1, j + 1], [i, j + 1]];
        const cuts = [];
        for (let e = 0; e < 4; ++e) {
          const a = c[e], b = c[(e + 1) % 4];
          if ((a < level) !== (b < level)) {
            const f = (level - a) / (b - a);
            const [xa, ya] = xy[e], [xb, yb] = xy[(e + 1) % 4];
            cuts.push([X(xa + (xb - xa) * f), Y(ya + (yb - ya) * f)]);
          }
        }
        for (let q = 0; q + 1 < cuts.length; q += 2) {
          ctx.moveTo(cuts[q][0], cuts[q][1]);
          ctx.lineTo(cuts[q + 1][0], cuts[q + 1][1]);
          // A label wherever the contour is read: at any piece 70 px or
          // more from every label placed, so each branch of a contour
          // (both sides of the hypocentre) carries its number.
          const at = [(cuts[q][0] + cuts[q + 1][0]) / 2, (cuts[q][1] + cuts[q + 1][1]) / 2];
          if (labels.every(([, [x, y]]) => Math.hypot(x - at[0], y - at[1]) >= 70)) labels.push([number(level, 6), at]);
        }
      }
    }
    ctx.stroke();
  }
  // The numbers over the lines, on a pale halo.
  ctx.lineWidth = 3;
  ctx.strokeStyle = 'rgba(255,255,255,0.85)';
  ctx.textAlign = 'center';
  for (const [text, [x, y]] of labels) {
    ctx.strokeText(text, x, y + 4);
    ctx.fillText(text, x, y + 4);
  }
  ctx.restore();
}

// The files: the set of the command shown, made by trislip-fault's run in
// the module; the SPECFEM3D files in one zip.
let fault_made = null;

function fault_links(files) {
  const box = $('fault-links');
  for (const a of box.querySelectorAll('a')) if (a.href) URL.revokeObjectURL(a.href);
  if (!files) {
    fault_made = null;
    box.innerHTML = '';
    return;
  }
  const link = (name, bytes) => {
    const a = document.createElement('a');
    a.download = name;
    a.dataset.file = name;
    a.textContent = name;
    a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    box.appendChild(a);
  };
  const zipped = {};
  for (const f of files) {
    if (f.name === 'CMTSOLUTION' || f.name.startsWith('specfem_stf/')) zipped[f.name] = [f.bytes, { mtime: new Date(1980, 0, 1) }];
    else link(f.name, f.bytes);
  }
  if (Object.keys(zipped).length) link('trislip_specfem.zip', fflate.zipSync(zipped, { level: 6 }));
}

async function make_fault_files() {
  const words = fault_shown.words;
  const said = $('fault-said');
  said.className = 'said';
  said.textContent = 'making the files…';
  const { result } = await ask({ type: 'faultFiles', words, keep: true });
  if (fault_shown.words !== words) return;  // redrawn for other options meanwhile
  if (result.refused || result.failed) {
    said.className = 'error';
    said.textContent = result.refused || `trislip-fault: ${result.failed}`;
    return;
  }
  said.textContent = result.said.join('\n');
  fault_links(result.files);
  fault_made = words;
}

function start_model_part() {
  build_fault_fields();
  start_checker();
  const field = $('model-file');
  // Emptied once read, so that choosing the same file again (edited since,
  // say) opens it again.
  field.addEventListener('change', () => {
    if (field.files.length) open_model(field.files[0]);
    field.value = '';
  });
  const zone = $('model-drop');
  zone.addEventListener('dragover', (e) => { e.preventDefault(); zone.classList.add('over'); });
  zone.addEventListener('dragleave', () => zone.classList.remove('over'));
  zone.addEventListener('drop', (e) => {
    e.preventDefault();
    zone.classList.remove('over');
    if (e.dataTransfer.files.length) open_model(e.dataTransfer.files[0]);
  });
  $('fault-make').addEventListener('click', make_fault_files);
  // Charts follow the page's width.
  let resized = null;
  window.addEventListener('resize', () => {
    clearTimeout(resized);
    resized = setTimeout(() => {
      if (fault_shown) draw_fault(fault_shown.view, fault_shown.words, null, true);
    }, 150);
  });
}

start_model_part();

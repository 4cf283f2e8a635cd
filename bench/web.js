// The browser page's redraws, measured in headless Chromium, beside the
// native library's synthesis and spectrum at the same nt (the Python
// module, what a user would otherwise run), in one run:
//   node bench/web.js PAGE PYTHON_MODULE_DIR [CHANGES [TRISLIP_FAULT]]
// A redraw is timed from the field's input event to the next animation
// frame after the charts are drawn; "worker" is the module's share. Then a
// made-up model of 1,000 subfaults (bench/fault_model.js) opened and
// redrawn for changes of dt and nv, beside trislip-fault's run of it.
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { fault_model } = require('./fault_model');
const { chromium } = require(path.join(__dirname, '..', 'web', 'node_modules', 'playwright-core'));

const [page_file, python_dir, changes_arg, trislip_fault] = process.argv.slice(2);
const changes = Number(changes_arg || 41);

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const highest = (xs) => Math.max(...xs);
const ms = (x) => `${x.toFixed(1)} ms`;

async function redraws(page, name, values, count) {
  const timings = [];
  for (let i = 0; i < count; ++i) {
    const before = await page.evaluate(() => window.trislipTimings.length);
    await page.fill(`input[name="${name}"]`, values[i % values.length]);
    await page.waitForFunction((b) => window.trislipTimings.length > b, before, { timeout: 120000 });
    timings.push(await page.evaluate(() => window.trislipTimings[window.trislipTimings.length - 1]));
  }
  return timings;
}

// The longest wait between two animation frames while nt is redrawn.
async function longest_frame(page, nt) {
  await page.evaluate(() => {
    window.benchGaps = [];
    let last = performance.now();
    const tick = (now) => {
      window.benchGaps.push(now - last);
      last = now;
      if (window.benchFrames) requestAnimationFrame(tick);
    };
    window.benchFrames = true;
    requestAnimationFrame(tick);
  });
  const [timing] = await redraws(page, 'nt', [nt], 1);
  const gaps = await page.evaluate(() => {
    window.benchFrames = false;
    return window.benchGaps;
  });
  return { timing, longest: highest(gaps) };
}

function native(nt, runs) {
  const code = `
import time, trislip
times = []
for _ in range(${runs}):
    t = time.perf_counter(); trislip.amplitude_spectrum(trislip.synthesize(nt=${nt})); times.append(time.perf_counter() - t)
times.sort(); print(times[len(times) // 2] * 1000)`;
  return Number(execFileSync('/usr/bin/python3', ['-c', code], { env: { ...process.env, PYTHONPATH: python_dir } }));
}

function say(what, timings, native_ms) {
  const of = (key) => timings.map((t) => t[key]);
  const worker = median(of('worker_ms'));
  console.log(`${what}: to drawn median ${ms(median(of('drawn_ms')))} (highest ${ms(highest(of('drawn_ms')))}), ` +
    `to the next frame ${ms(median(of('total_ms')))} (highest ${ms(highest(of('total_ms')))}); drawing ${ms(median(of('draw_ms')))}; ` +
    `worker ${ms(worker)} against the native library's ${ms(native_ms)} (${(worker / native_ms).toFixed(1)}x)`);
}

async function main() {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
  await page.goto('file://' + path.resolve(page_file));
  await page.waitForFunction(() => (window.trislipTimings || []).length > 0);

  // Every frame's time meanwhile: a change is drawn within one frame when
  // no frame came between its input event and the frame that showed it
  // (this loop's callback in that same frame runs just before the page's).
  await page.evaluate(() => {
    window.benchFrameTimes = [];
    const tick = (now) => {
      window.benchFrameTimes.push(performance.now());
      requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
  });
  const at_defaults = await redraws(page, 'nv', ['7', '8'], changes);
  const frames = await page.evaluate(() => window.benchFrameTimes);
  const in_one = at_defaults.filter((t) => !frames.some((f) => f > t.started && f < t.painted - 4)).length;
  const native_small = native(4096, changes);
  say(`defaults (nt 4096), ${changes} changes of nv`, at_defaults, native_small);
  const within = at_defaults.filter((t) => t.drawn_ms <= 16).length;
  console.log(`  drawn within 16 ms of the change: ${within} of ${changes}; ` +
    `shown in the first frame after it: ${in_one} of ${changes}`);

  for (const nt of [1 << 20]) {
    const runs = [];
    for (let i = 0; i < 3; ++i) {
      runs.push(await longest_frame(page, String(nt)));
      await redraws(page, 'nt', ['4096'], 1);
    }
    const native_big = native(nt, 5);
    say(`nt ${nt} from 4096, 3 runs`, runs.map((r) => r.timing), native_big);
    console.log(`  longest wait between two frames meanwhile: ${ms(highest(runs.map((r) => r.longest)))}`);
    await redraws(page, 'nt', [String(nt)], 1);
    say(`nt ${nt}, 5 changes of nv`, await redraws(page, 'nv', ['7', '8'], 5), native_big);
  }
  if (trislip_fault) await models(page, trislip_fault);
  await browser.close();
}

// A model of 1,000 subfaults, two shapes in turn (the file field fires
// for a new file only): opened and drawn, and its warnings checked, from
// the file chosen; then changes of dt and nv, each timed from its input
// event once the page is idle. Beside it, trislip-fault's whole run of the
// same model (reading, building and writing every file).
async function models(page, program) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'trislip-bench-'));
  const files = [[40, 25], [25, 40]].map(([nx, nz]) => {
    const f = path.join(dir, `made_up_${nx}x${nz}.fsp`);
    fs.writeFileSync(f, fault_model(nx, nz));
    return f;
  });
  const idle = () => page.waitForFunction(() => window.trislipFaultIdle(), null, { timeout: 60000 });
  const last = () => page.evaluate(() => window.trislipFaultTimings[window.trislipFaultTimings.length - 1]);
  const opened = [], checked = [];
  for (let i = 0; i < 10; ++i) {
    const before = await page.evaluate(() => window.trislipFaultTimings.length);
    const start = await page.evaluate(() => performance.now());
    await page.setInputFiles('#model-file', files[i % 2]);
    await page.waitForFunction((b) => window.trislipFaultTimings.length > b, before, { timeout: 60000 });
    await idle();
    opened.push((await last()).total_ms);
    checked.push(await page.evaluate((s) => window.trislipFaultChecked - s, start));
  }
  const changes = [];
  for (let i = 0; i < 40; ++i) {
    const [name, value] = [['dt', '0.005'], ['nv', '6'], ['dt', '0.01'], ['nv', '8']][i % 4];
    const before = await page.evaluate(() => window.trislipFaultTimings.length);
    await page.fill(`#fault-${name}`, value);
    await page.waitForFunction((b) => window.trislipFaultTimings.length > b, before, { timeout: 60000 });
    changes.push(await last());
    await idle();
  }
  // 10,000 subfaults (125 x 80): drawn, and every warning checked, from
  // the file chosen, three openings.
  const big = path.join(dir, 'made_up_125x80.fsp');
  fs.writeFileSync(big, fault_model(125, 80));
  const big_drawn = [], big_checked = [];
  for (let i = 0; i < 3; ++i) {
    await page.setInputFiles('#model-file', i % 2 ? files[0] : big);
    await idle();
    if (i % 2) continue;
    const before = await page.evaluate(() => window.trislipFaultTimings.length);
    const start = await page.evaluate(() => performance.now());
    await page.setInputFiles('#model-file', big);
    await page.waitForFunction((b) => window.trislipFaultTimings.length > b, before, { timeout: 120000 });
    await idle();
    big_drawn.push((await last()).total_ms);
    big_checked.push(await page.evaluate((s) => window.trislipFaultChecked - s, start));
  }
  const runs = [];
  for (let i = 0; i < 11; ++i) {
    const t = process.hrtime.bigint();
    execFileSync(program, [files[0], '--output-dir', path.join(dir, 'out'), '--quiet'], { stdio: 'ignore' });
    runs.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  fs.rmSync(dir, { recursive: true, force: true });
  const native_ms = median(runs);
  console.log(`1,000-subfault model, 10 openings: drawn ${ms(median(opened))} (highest ${ms(highest(opened))}), ` +
    `every warning checked ${ms(median(checked))} (highest ${ms(highest(checked))}); trislip-fault's whole run ` +
    `${ms(native_ms)} (drawn: ${(median(opened) / native_ms).toFixed(1)}x)`);
  console.log(`10,000-subfault model, ${big_drawn.length} openings: drawn ${ms(median(big_drawn))} ` +
    `(highest ${ms(highest(big_drawn))}), every warning checked ${ms(median(big_checked))} ` +
    `(highest ${ms(highest(big_checked))}) after the file was chosen`);
  const of = (key) => changes.map((t) => t[key]);
  console.log(`  40 changes of dt and nv: redrawn ${ms(median(of('total_ms')))} (highest ${ms(highest(of('total_ms')))}), ` +
    `worker ${ms(median(of('worker_ms')))}, drawing ${ms(median(of('draw_ms')))}`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

// The browser page's redraws, measured in headless Chromium, beside the
// native library's synthesis and spectrum at the same nt (the Python
// module, what a user would otherwise run), in one run:
//   node bench/web.js PAGE PYTHON_MODULE_DIR [CHANGES]
// A redraw is timed from the field's input event to the next animation
// frame after the charts are drawn; "worker" is the module's share.
'use strict';
const { execFileSync } = require('child_process');
const path = require('path');
const { chromium } = require(path.join(__dirname, '..', 'web', 'node_modules', 'playwright-core'));

const [page_file, python_dir, changes_arg] = process.argv.slice(2);
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
  await browser.close();
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

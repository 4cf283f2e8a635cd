// The browser page in headless Chromium, opened from the file system:
// node web_test.js PAGE TRISLIP_CUSTOM SCREENSHOT
// Its files are compared byte for byte with trislip-custom's for the
// command each set shows; its warnings with what trislip-custom says.
'use strict';
const assert = require('assert');
const { execFileSync, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { open_page, download } = require('./web_browser');

const [page_file, custom, screenshot] = process.argv.slice(2);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'trislip-web-'));

async function main() {
  const { browser, page, errors } = await open_page(page_file, 1400);
  try {
    const drawn = await redrawn(page, 0);
    assert.match(await page.textContent('#report'), /TauMin,TauMax= {2}0\.1 {2}3\.09672966/);
    assert.match(await page.textContent('#summary'), /taumin 0\.1 s, taumax 3\.09673 s .* nfast 4096 /);
    await page.screenshot({ path: screenshot });

    await files_equal_the_programs(page, 'defaults');

    // nv and fmax change the curves and the report.
    let count = drawn;
    for (const [name, value] of [['nv', '3'], ['fmax', '4']]) {
      const before = await looks(page);
      count = await set_field(page, name, value, count);
      const after = await looks(page);
      assert.notStrictEqual(after.report, before.report, `${name}: the report did not change`);
      assert.ok(await page.$eval('#set-full .links a', (a) => !a.href), `${name}: a link kept the files of before`);
      for (const chart of Object.keys(before.canvases)) {
        assert.notStrictEqual(after.canvases[chart], before.canvases[chart], `${name}: ${chart} was not redrawn`);
      }
    }

    // Another set, whose record is too short: the page's warning is the
    // program's, and so are the files.
    for (const [name, value] of [['dt', '0.002'], ['nt', '1000'], ['dmax', '2.5'], ['fmax', '5'], ['tr', '1.8'],
      ['ar', '0.8'], ['nv', '5']]) {
      count = await set_field(page, name, value, count);
    }
    const said = spawnSync(custom, [...command_args(await page.textContent('#set-fixed .command')),
      '--output-dir', path.join(scratch, 'warned'), '--quiet']).stderr.toString();
    const shown = await page.$$eval('#warnings li', (items) => items.map((li) => li.textContent));
    assert.deepStrictEqual(shown.map((w) => `trislip-custom: ${w}`), said.trim().split('\n'));
    assert.ok(shown[0].includes('before the longest pulse ends'), shown[0]);
    await files_equal_the_programs(page, 'other');

    // A longer record, not a power of two: the module's 2^16 twiddles are
    // the program's to the last bit, and so is every file of both sets.
    for (const [name, value] of [['dt', '0.001'], ['nt', '100000']]) count = await set_field(page, name, value, count);
    await files_equal_the_programs(page, 'long');

    // Values out of range are refused beside their field, and nothing is
    // computed from them until they are mended.
    const report = await page.textContent('#report');
    for (const [name, value, said_as] of [['nt', '1', 'nt = 1: must be a whole number from 2 to 67108864'],
      ['dt', 'abc', 'dt = abc: must be a number'], ['tr', '1', 'tr = 1: must be finite and > 1']]) {
      const old = await page.inputValue(`input[name="${name}"]`);
      await page.fill(`input[name="${name}"]`, value);
      await page.waitForFunction((n) => document.getElementById(`${n}-error`).textContent !== '', name);
      assert.strictEqual(await page.textContent(`#${name}-error`), said_as);
      assert.strictEqual(await page.textContent('#report'), report);
      assert.ok(await page.$eval('#set-full .make', (b) => b.disabled));
      assert.strictEqual(await page.evaluate(() => window.trislipTimings.length), count);
      count = await set_field(page, name, old, count);
      assert.strictEqual(await page.textContent(`#${name}-error`), '');
    }

    // A long record: worked off the page's thread, with its progress shown.
    await page.fill('input[name="nt"]', '1048576');
    await page.waitForSelector('#status progress', { timeout: 30000 });
    count = await redrawn(page, count);
    assert.strictEqual(await page.textContent('#status'), '');
    assert.match(await page.textContent('#summary'), /nfast 1048576 /);

    assert.deepStrictEqual(errors, []);
  } finally {
    await browser.close();
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

// Waits for the redraw after `count` and returns the new count.
async function redrawn(page, count) {
  await page.waitForFunction((c) => (window.trislipTimings || []).length > c, count, { timeout: 60000 });
  return page.evaluate(() => window.trislipTimings.length);
}

async function set_field(page, name, value, count) {
  await page.fill(`input[name="${name}"]`, value);
  return redrawn(page, count);
}

async function looks(page) {
  return page.evaluate(() => ({
    report: document.getElementById('report').textContent,
    canvases: Object.fromEntries([...document.querySelectorAll('.chart')].map((c) =>
      [c.querySelector('h2').textContent, c.querySelector('canvas').toDataURL()])),
  }));
}

function command_args(command) {
  const words = command.trim().split(/\s+/);
  assert.strictEqual(words[0], 'trislip-custom');
  return words.slice(1);
}

// Every link of every set, once the set is made, against the files of
// trislip-custom run with the command the set shows; the set offers every
// file the run writes.
async function files_equal_the_programs(page, label) {
  for (const set of ['fixed', 'full']) {
    const dir = path.join(scratch, `${label}-${set}`);
    const args = command_args(await page.textContent(`#set-${set} .command`));
    execFileSync(custom, [...args, '--output-dir', dir, '--quiet'], { stdio: ['ignore', 'ignore', 'ignore'] });
    await page.click(`#set-${set} .make`);
    await page.waitForFunction((id) => [...document.querySelectorAll(`#set-${id} .links a`)]
      .every((a) => !a.classList.contains('disabled') && a.href.startsWith('blob:')), set);
    const links = await page.$$(`#set-${set} .links a`);
    const offered = [];
    for (const link of links) {
      const name = await link.getAttribute('download');
      const bytes = await download(page, link);
      assert.ok(bytes.equals(fs.readFileSync(path.join(dir, name))), `${label} ${set}: ${name} differs from ${args.join(' ')}`);
      offered.push(name);
    }
    assert.deepStrictEqual(offered.sort(), fs.readdirSync(dir).filter((f) => !f.startsWith('.')).sort(), `${label} ${set}`);
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

// The page's published-model part in headless Chromium, opened from the
// file system: node web_models_test.js PAGE TRISLIP_FAULT MODELS_DIR SHOTS
// Each model in MODELS_DIR is opened through the file field; what the page
// says and every file it offers are compared with trislip-fault run with
// the command the page shows, in a folder that holds the model. SHOTS: the
// screenshots' path, without the width and ".png".
'use strict';
const assert = require('assert');
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { open_page, download } = require('./web_browser');

const [page_file, trislip_fault, models_dir, shots] = process.argv.slice(2);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'trislip-web-models-'));
const { unzipSync } = require(path.join(__dirname, '..', 'web', 'node_modules', 'fflate'));

// trislip-fault run as the page's command says, in a folder of its own
// holding the model under the same name: its files, standard output and
// standard error.
function run_program(command, model_file, label) {
  const words = command.trim().split(/\s+/);
  assert.strictEqual(words[0], 'trislip-fault');
  const dir = path.join(scratch, label);
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(model_file, path.join(dir, path.basename(model_file)));
  const run = spawnSync(path.resolve(trislip_fault), [...words.slice(1), '--output-dir', 'out'], { cwd: dir });
  const out = path.join(dir, 'out');
  const files = {};
  const walk = (sub) => {
    for (const e of fs.readdirSync(path.join(out, sub), { withFileTypes: true })) {
      const name = sub ? `${sub}/${e.name}` : e.name;
      if (e.isDirectory()) walk(name);
      else if (!e.name.startsWith('.')) files[name] = fs.readFileSync(path.join(out, name));
    }
  };
  if (run.status === 0) walk('');
  return { status: run.status, stdout: run.stdout.toString(), stderr: run.stderr.toString(), files };
}

// Once the page has drawn and checked what it was last given.
const settled = (page) => page.waitForFunction(() => window.trislipFaultIdle(), null, { timeout: 60000 });

const said = (page) => page.$$eval('#fault-warnings li', (items) => items.map((li) => li.textContent));
const rate_pixels = (page) => page.$eval('#fault-rate canvas', (c) => c.toDataURL());

// Every link against the program's files: the zip holds CMTSOLUTION and
// specfem_stf/, the others are the files themselves.
async function files_equal_the_programs(page, program, label) {
  await page.click('#fault-make');
  await page.waitForSelector('#fault-links a');
  const offered = [];
  for (const link of await page.$$('#fault-links a')) {
    const name = await link.getAttribute('download');
    const bytes = await download(page, link);
    if (name === 'trislip_specfem.zip') {
      for (const [inner, content] of Object.entries(unzipSync(new Uint8Array(bytes)))) {
        assert.ok(Buffer.from(content).equals(program.files[inner]), `${label}: the zip's ${inner} differs`);
        offered.push(inner);
      }
    } else {
      assert.ok(bytes.equals(program.files[name]), `${label}: ${name} differs`);
      offered.push(name);
    }
  }
  assert.deepStrictEqual(offered.sort(), Object.keys(program.files).sort(), label);
}

async function main() {
  const { browser, page, errors } = await open_page(page_file, 1400);
  try {
    const models = fs.readdirSync(models_dir).filter((f) => /\.(fsp|param)$/.test(f)).sort()
      .map((f) => path.join(models_dir, f));
    assert.strictEqual(models.length, 3, `${models_dir}: ${models.length} models`);
    // A time-window model first: its windows summed in each cell, each
    // window's slip, rake and onset under the pointer.
    const northridge = path.join(models_dir, 'time-windows', 'srcmod_1994_northridge.fsp');
    for (const model of [northridge, ...models]) {
      const label = path.basename(model);
      await page.setInputFiles('#model-file', model);
      await page.waitForFunction((name) => document.getElementById('model-name').textContent === name, label);
      await settled(page);
      const command = await page.textContent('#fault-command');
      const program = run_program(command, model, label);
      assert.strictEqual(program.status, 0, program.stderr);
      // The summary is the program's but for the folder it wrote into.
      assert.strictEqual(await page.textContent('#fault-summary'), program.stdout.replace(/^written into .*\n/m, ''));
      assert.deepStrictEqual(await said(page), program.stderr.trim().split('\n').filter((l) => l));
      // The moment under the chart as the program prints it.
      const m0 = program.stdout.match(/^M0 (\S+) N m/m)[1];
      assert.match(await page.textContent('#fault-rate-note'), new RegExp(
        `its integral \\d(\\.\\d+)?e[+-]\\d\\d N m; M0 of the nominal slips ${m0.replace(/[.+]/g, '\\$&')} N m`));
      // A subfault's values under the pointer, in the middle of the first
      // segment.
      const canvas = await page.$('#fault-segments canvas');
      await canvas.scrollIntoViewIfNeeded();
      const box = await canvas.boundingBox();
      await page.mouse.move(box.x + box.width / 2 + 20, box.y + box.height / 2);
      const windows = model === northridge ? '; time windows \\d: [\\d.]+ m, rake -?[\\d.]+°, from [\\d.]+ s(; \\d: .*)?' : '';
      assert.match(await page.textContent('#fault-hover'), new RegExp(
        `^line \\d+, segment 1: lon -?[\\d.]+, lat -?[\\d.]+, depth [\\d.]+ km; slip [\\d.]+ m, rake -?[\\d.]+°, rupture time [\\d.]+ s, rise time [\\d.]+ s${windows}$`));
      // Every segment's panel to one scale in km.
      const scales = await page.$$eval('#fault-segments .plot', (ps) => ps.map((p) => Number(p.dataset.pxPerKm)));
      assert.ok(scales.length >= 1 && scales.every((x) => x > 0 && x === scales[0]), `${label}: panel scales ${scales}`);
      await files_equal_the_programs(page, program, label);
    }

    // The SPECFEM3D set of the last model, its warnings (records too
    // short for --nt 3000) and its files in one zip.
    await page.check('#fault-export-specfem');
    await page.fill('#fault-nt', '3000');
    await settled(page);
    const command = await page.textContent('#fault-command');
    assert.match(command, /--nt 3000 --export specfem-cmt$/);
    const last = models[models.length - 1];
    const specfem = run_program(command, last, 'specfem');
    assert.match(specfem.stderr, /the record ends at .* raise --nt/);
    assert.deepStrictEqual(await said(page), specfem.stderr.trim().split('\n'));
    await files_equal_the_programs(page, specfem, 'specfem');

    // An option changes the moment rate's pixels; one the program refuses
    // is refused beside its field in its words, and the chart kept.
    const before = await rate_pixels(page);
    await page.fill('#fault-nv', '3');
    await settled(page);
    assert.notStrictEqual(await rate_pixels(page), before, 'nv 3: the moment rate was not redrawn');
    const shown = await rate_pixels(page);
    await page.fill('#fault-dt', '0');
    await page.waitForFunction(() => document.getElementById('fault-dt-error').textContent !== '');
    const refused = run_program(command.replace('--dt 0.01', '--dt 0'), last, 'refused');
    assert.strictEqual(await page.textContent('#fault-dt-error'), refused.stderr.trim());
    assert.ok(await page.$eval('#fault-make', (b) => b.disabled));
    assert.strictEqual(await rate_pixels(page), shown);
    await page.fill('#fault-dt', '0.01');
    await settled(page);

    // A corrupted model, dropped on the page: refused beside the field in
    // the program's words, and the model shown before kept.
    const summary = await page.textContent('#fault-summary');
    const lines = fs.readFileSync(last, 'utf8').split('\n');
    const row = lines.findIndex((l) => /^\s*-?\d/.test(l));
    lines[row] = lines[row].replace(/\S+$/, 'x1');
    const broken = path.join(scratch, 'broken.fsp');
    fs.writeFileSync(broken, lines.join('\n'));
    const program = run_program(`trislip-fault broken.fsp`, broken, 'broken');
    assert.strictEqual(program.status, 2);
    await page.evaluate((text) => {
      const data = new DataTransfer();
      data.items.add(new File([text], 'broken.fsp'));
      document.getElementById('model-drop').dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true }));
    }, lines.join('\n'));
    await page.waitForFunction(() => document.getElementById('model-error').textContent !== '');
    assert.strictEqual(await page.textContent('#model-error'), program.stderr.trim());
    assert.strictEqual(await page.textContent('#fault-summary'), summary);

    // A large file that is no model, refused at once; then one chosen while
    // a model loads and that model chosen after it: the reading said with
    // its name and size, the newest shown, the older one never said.
    const drop = (files) => page.evaluate((files) => {
      const read = [];
      for (const [content, name] of files) {
        const data = new DataTransfer();
        data.items.add(new File([content.repeat ? content : 'x'.repeat(content.bytes)], name));
        document.getElementById('model-drop').dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true }));
        read.push(document.getElementById('model-reading').textContent);
      }
      return read;
    }, files);
    const junk = [{ bytes: 30e6 }, 'junk.txt'];
    assert.deepStrictEqual(await drop([junk]), ['reading junk.txt (30.0 MB)…']);
    await page.waitForFunction(() => /junk\.txt: not a model/.test(document.getElementById('model-error').textContent),
      null, { timeout: 15000 });
    const name = path.basename(last);
    await drop([junk, [fs.readFileSync(last, 'utf8'), name]]);
    await settled(page);
    assert.strictEqual(await page.textContent('#model-name'), name);
    assert.strictEqual(await page.textContent('#model-error'), '');
    assert.strictEqual(await page.textContent('#model-reading'), '');
    assert.strictEqual(await page.textContent('#fault-summary'), summary);

    // An SRF, the one the program wrote from that model in SRF 2.0, with
    // its own rate functions kept: summary, warnings and files the program's.
    const srf = path.join(scratch, 'kept.srf');
    fs.writeFileSync(srf, run_program(`trislip-fault ${name} --srf-version 2.0`, last, 'srf').files['trislip.srf']);
    await page.setInputFiles('#model-file', srf);
    await page.waitForFunction(() => document.getElementById('model-name').textContent === 'kept.srf');
    await page.check('#fault-keep-rate-functions');
    await settled(page);
    const kept_command = await page.textContent('#fault-command');
    assert.match(kept_command, / --keep-rate-functions /);
    const kept = run_program(kept_command, srf, 'kept');
    assert.strictEqual(kept.status, 0, kept.stderr);
    assert.strictEqual(await page.textContent('#fault-summary'), kept.stdout.replace(/^written into .*\n/m, ''));
    assert.deepStrictEqual(await said(page), kept.stderr.trim().split('\n').filter((l) => l));
    await files_equal_the_programs(page, kept, 'kept');

    // Nothing cut off at either width: the page is no wider than the
    // window, and every canvas within it.
    for (const width of [1400, 800]) {
      await page.setViewportSize({ width, height: 1000 });
      await page.waitForTimeout(400);  // the charts follow the width
      const widest = await page.evaluate(() => Math.max(document.documentElement.scrollWidth,
        ...[...document.querySelectorAll('canvas')].map((c) => c.getBoundingClientRect().right)));
      assert.ok(widest <= width, `${width} px: the page reaches ${widest} px`);
      await page.screenshot({ path: `${shots}-${width}.png`, fullPage: true });
    }
    assert.deepStrictEqual(errors, []);
  } finally {
    await browser.close();
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

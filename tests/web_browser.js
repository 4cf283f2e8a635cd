// What the browser tests share: headless Chromium driven by playwright-core
// (skipped, never passed, on a Node.js older than its 20), and a page
// opened from the file system whose console errors and warnings, uncaught
// errors and any request off the file system are collected.
'use strict';
const fs = require('fs');
const path = require('path');

function driver() {
  if (Number(process.versions.node.split('.')[0]) < 20) {
    console.log(`skipped: the browser test's driver needs Node.js 20 or later; this machine has ${process.version}`);
    process.exit(77);
  }
  return require(path.join(__dirname, '..', 'web', 'node_modules', 'playwright-core'));
}

async function open_page(page_file, width) {
  if (!fs.existsSync(page_file)) {
    console.error(`${page_file} is missing: scripts/web builds it (scripts/test runs it first)`);
    process.exit(1);
  }
  const browser = await driver().chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const context = await browser.newContext({ viewport: { width, height: 1000 }, acceptDownloads: true });
  const page = await context.newPage();
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('request', (r) => { if (!r.url().startsWith('file:') && !r.url().startsWith('blob:')) errors.push(`fetched ${r.url()}`); });
  await page.goto('file://' + path.resolve(page_file));
  await page.waitForFunction(() => window.trislipReady, null, { timeout: 60000 });
  return { browser, page, errors };
}

// The bytes a link downloads.
async function download(page, link) {
  const [d] = await Promise.all([page.waitForEvent('download'), link.click()]);
  return fs.readFileSync(await d.path());
}

module.exports = { open_page, download };

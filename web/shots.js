// Screenshots of the page's model part, as docs/web.md shows them: for
// each model and width, the map and the segments' panels after the file
// is opened through the file field.
//   node web/shots.js PAGE OUT_DIR MODEL...
'use strict';
const path = require('path');
const { open_page } = require('../tests/web_browser');

async function main() {
  const [page_file, out_dir, ...models] = process.argv.slice(2);
  for (const width of [800, 1400]) {
    const { browser, page, errors } = await open_page(page_file, width);
    try {
      for (const model of models) {
        await page.setInputFiles('#model-file', model);
        await page.waitForFunction((name) => document.getElementById('model-name').textContent === name,
          path.basename(model), { timeout: 60000 });
        await page.waitForFunction(() => window.trislipFaultIdle(), null, { timeout: 60000 });
        const top = await page.$eval('#fault-map', (e) => e.parentElement.querySelector('h3').getBoundingClientRect().top +
          window.scrollY - 4);
        const bottom = await page.$eval('#fault-segments', (e) => e.getBoundingClientRect().bottom + window.scrollY);
        const left = await page.$eval('#fault-plots', (e) => e.getBoundingClientRect().left);
        const right = await page.$eval('#fault-plots', (e) => e.getBoundingClientRect().right);
        const name = path.basename(model).replace(/\.[^.]+$/, '');
        await page.screenshot({ path: path.join(out_dir, `${name}-${width}.png`), fullPage: true,
          clip: { x: left, y: top, width: right - left, height: bottom - top } });
      }
      if (errors.length) throw new Error(errors.join('\n'));
    } finally {
      await browser.close();
    }
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});

// Puts the page together as one file that opens from the file system:
// node assemble.js MODULE.js OUT.html. The plotting and zip libraries,
// the page's scripts and the worker (the module, then worker.js) go
// inside it.
'use strict';
const fs = require('fs');
const path = require('path');

const [moduleFile, out] = process.argv.slice(2);
if (!moduleFile || !out) {
  console.error('usage: node assemble.js MODULE.js OUT.html');
  process.exit(2);
}
const here = __dirname;
const read = (file) => fs.readFileSync(file, 'utf8');
const uplot = path.join(here, 'node_modules', 'uplot', 'dist');

// Each part replaces its marker; a part that could end the script element
// it goes into would break the page.
const parts = {
  '/* uplot.css */': read(path.join(uplot, 'uPlot.min.css')),
  '/* worker */': read(moduleFile) + '\n' + read(path.join(here, 'worker.js')),
  '/* uplot.js */': read(path.join(uplot, 'uPlot.iife.min.js')),
  '/* page.js */': read(path.join(here, 'page.js')),
  '/* fflate.js */': read(path.join(here, 'node_modules', 'fflate', 'umd', 'index.js')),
  '/* model.js */': read(path.join(here, 'model.js')),
};
let html = read(path.join(here, 'index.html'));
for (const [marker, text] of Object.entries(parts)) {
  if (/<\/(script|style)/i.test(text)) throw new Error(`${marker}: holds a closing script or style tag`);
  const at = html.indexOf(marker);
  if (at < 0) throw new Error(`index.html has no ${marker}`);
  html = html.slice(0, at) + text + html.slice(at + marker.length);
}
fs.mkdirSync(path.dirname(out), { recursive: true });
fs.writeFileSync(out, html);

// The web page's figures in headless chromium: the bytes a visit transfers
// (as served, and gzipped), the time from navigation to the whole well, and
// the frame rate the game holds after 20 seconds.
//
// Usage: node bench/web_measure.mjs PAGE-FOLDER NODE-MODULES CHROMIUM [LOADS]
import { readFile } from 'node:fs/promises';
import { basename, join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { RATE_ROW, SLEEP_ROW, WALL, WELL_ROWS, launch, screen, serve } from '../tests/browser/harness.mjs';

const [pageDir, nodeModules, chromium, loads = '5'] = process.argv.slice(2);
const server = await serve(pageDir);
const { browser, page, errors } = await launch(nodeModules, chromium);

// What a visit fetches, as the page asks for it.
const fetched = new Set();
page.on('response', (response) => fetched.add(basename(new URL(response.url()).pathname) || 'index.html'));

// The whole well, tested in the page itself so that the time is the page's.
const wellShown = ([wall, rows]) => {
  const buffer = window.blockfall?.terminal.buffer.active;
  if (!buffer)
    return false;
  for (let y = 0; y <= rows; ++y) {
    const line = buffer.getLine(y).translateToString(true);
    if (y < rows ? line[0] !== wall || line[19] !== wall : !line.startsWith(wall.repeat(20)))
      return false;
  }
  return performance.now();
};

const times = [];
for (let i = 0; i < Number(loads); ++i) {
  await page.goto(server.url);
  const shown = await page.waitForFunction(wellShown, [WALL, WELL_ROWS], { polling: 2 });
  times.push(await shown.jsonValue());
}
times.sort((a, b) => a - b);

console.log('| File | Bytes | Gzipped |\n|---|---|---|');
let total = 0, totalGzip = 0;
for (const name of [...fetched].sort()) {
  const body = await readFile(join(pageDir, name));
  const gzipped = gzipSync(body).length;
  total += body.length;
  totalGzip += gzipped;
  console.log(`| ${name} | ${body.length} | ${gzipped} |`);
}
console.log(`| all | ${total} | ${totalGzip} |`);
console.log(`\nnavigation to the whole well, ${times.length} loads: median ` +
            `${times[times.length >> 1].toFixed(0)} ms, ${times[0].toFixed(0)} to ` +
            `${times[times.length - 1].toFixed(0)} ms`);

// The rate line the game prints once a second, over the seconds 20 to 25.
await new Promise((resolve) => setTimeout(resolve, 20000));
const rates = [];
for (let s = 0; s < 5; ++s) {
  rates.push((await screen(page))[RATE_ROW].trim());
  await new Promise((resolve) => setTimeout(resolve, 1000));
}
console.log(`rate lines after 20 s: ${rates.join(' ')}; sleep line: ${(await screen(page))[SLEEP_ROW].trim()}`);
if (errors.length)
  console.log('console errors:', errors);
await browser.close();
await server.close();

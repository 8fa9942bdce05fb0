// The web page's figures in headless chromium: the bytes a visit transfers
// (as served, and gzipped), the time from navigation to the whole well on a
// desktop and on an emulated phone (a first load, then LOADS more), the
// frame rate the game holds after 20 seconds, a first visit against the
// next load from the service worker's cache, the page's memory over
// twenty games played in a row in it, and a page hidden behind another tab
// for HIDDEN seconds.
//
// Usage: node bench/web_measure.mjs PAGE-FOLDER NODE-MODULES CHROMIUM [LOADS [HIDDEN]]
// (the web tree's target web_measure runs it with the chromium its build found)
import { readFile } from 'node:fs/promises';
import { basename, join } from 'node:path';
import { setTimeout as pause } from 'node:timers/promises';
import { gzipSync } from 'node:zlib';
import { RATE_ROW, SLEEP_ROW, WALL, WELL_ROWS, launch, screen, serve } from '../tests/browser/harness.mjs';

const [pageDir, nodeModules, chromium, loads = '5', hiddenFor = '120'] = process.argv.slice(2);
const server = await serve(pageDir);
const browser = await launch(nodeModules, 'chromium', chromium);
// Every console error and uncaught exception of the pages measured.
const errors = [];
const watched = (page) => {
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(String(error)));
  return page;
};

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

const desktop = { width: 1280, height: 800 };
const devices = [
  ['a desktop (1280x800)', desktop],
  ['an emulated phone (390x844, touch, 3x)',
   { width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 3 }],
];
const fetched = new Set(); // what a visit fetches, as the page asks for it
let page;
for (const [device, viewport] of devices) {
  page = watched(await browser.newPage());
  await page.setViewport(viewport);
  page.on('response', (response) => fetched.add(basename(new URL(response.url()).pathname) || 'index.html'));
  // The first load in a fresh browser also starts its renderer, loads its
  // fonts and compiles the terminal's script: it is shown apart.
  const times = [];
  for (let i = 0; i <= Number(loads); ++i) {
    await page.goto(server.url);
    const shown = await page.waitForFunction(wellShown, { polling: 2 }, [WALL, WELL_ROWS]);
    times.push(await shown.jsonValue());
  }
  const first = times.shift();
  times.sort((a, b) => a - b);
  console.log(`navigation to the whole well on ${device}: first load ${first.toFixed(0)} ms; ` +
              `${times.length} loads after it: median ${times[times.length >> 1].toFixed(0)} ms, ` +
              `${times[0].toFixed(0)} to ${times[times.length - 1].toFixed(0)} ms`);
  if (device !== devices.at(-1)[0])
    await page.close();
}

// A first visit from the network against the next load, from the service
// worker's cache, each in a fresh profile (a new context) on the desktop
// size: LOADS pairs, side by side, and their medians.
const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
const pairs = [];
for (let i = 0; i < Number(loads); ++i) {
  const context = await browser.createBrowserContext();
  const visitor = watched(await context.newPage());
  await visitor.setViewport(desktop);
  const pair = [];
  for (const load of ['network', 'cache']) {
    await visitor.goto(server.url);
    pair.push(await (await visitor.waitForFunction(wellShown, { polling: 2 }, [WALL, WELL_ROWS])).jsonValue());
    if (load === 'network')
      await visitor.waitForFunction(() => navigator.serviceWorker.controller !== null);
  }
  pairs.push(pair);
  await context.close();
}
console.log(`\nnavigation to the whole well, first visit from the network | next load from the worker's cache:\n` +
            `${pairs.map(([a, b]) => `${a.toFixed(0)} | ${b.toFixed(0)} ms`).join('\n')}\n` +
            `median: ${median(pairs.map(([a]) => a)).toFixed(0)} | ${median(pairs.map(([, b]) => b)).toFixed(0)} ms`);
console.log('\n| File | Bytes | Gzipped |\n|---|---|---|');
let total = 0, totalGzip = 0;
// What the page asks for, and what its worker fetches to keep at a first visit.
const kept = String(await readFile(join(pageDir, 'sw.js'))).match(/const FILES = \[(.*)\]/)?.[1] ?? '';
for (const [, name] of kept.matchAll(/'\.\/([^']+)'/g))
  fetched.add(name);
fetched.add('sw.js');
for (const name of [...fetched].sort()) {
  const body = await readFile(join(pageDir, name));
  const gzipped = gzipSync(body).length;
  total += body.length;
  totalGzip += gzipped;
  console.log(`| ${name} | ${body.length} | ${gzipped} |`);
}
console.log(`| all | ${total} | ${totalGzip} |\n`);

// The rate line the game prints once a second, over the seconds 20 to 25.
await pause(20000);
const rates = [];
for (let s = 0; s < 5; ++s) {
  rates.push((await screen(page))[RATE_ROW].trim());
  await pause(1000);
}
console.log(`rate lines after 20 s: ${rates.join(' ')}; sleep line: ${(await screen(page))[SLEEP_ROW].trim()}`);

// Twenty games in a freshly loaded page, each ended at once (Escape, Enter)
// and the next started with Play again (Enter): the page's memory after a
// garbage collection, and the game's. The heap's top is where a 1 MiB block lands:
// the game's heap would climb if a game left anything behind.
const devtools = await page.createCDPSession();
await devtools.send('Performance.enable');
const phase = (name) => page.waitForFunction((p) => document.documentElement.dataset.phase === p, {}, name);
async function memory() {
  await devtools.send('HeapProfiler.collectGarbage');
  const { metrics } = await devtools.send('Performance.getMetrics');
  const m = Object.fromEntries(metrics.map(({ name, value }) => [name, value]));
  const [wasmBytes, heapTop] = await page.evaluate(() => {
    const top = Module._malloc(1 << 20);
    Module._free(top);
    return [HEAP8.length, top];
  });
  return `JS heap ${(m.JSHeapUsedSize / 1024).toFixed(0)} KiB, ${m.Nodes} DOM nodes, ` +
         `${m.JSEventListeners} listeners, wasm memory ${wasmBytes / 1024} KiB, heap top ${heapTop}`;
}
await page.goto(server.url);
for (let game = 1; game <= 20; ++game) {
  if (game > 1)
    await page.keyboard.press('Enter'); // Play again
  await phase('playing');
  await page.keyboard.press('Escape');
  await phase('prompt');
  await page.keyboard.press('Enter');
  await phase('ended');
  if (game === 1 || game % 10 === 0)
    console.log(`after game ${game}: ${await memory()}`);
}
await page.close();

// A game in a tab hidden behind another: its FPS and sleep lines once a
// second before and after, and the frames it drew while hidden.
const tab = watched(await browser.newPage());
await tab.goto(server.url);
const paceLines = async (seconds) => {
  const lines = [];
  for (let s = 0; s < seconds; ++s, await pause(1000))
    lines.push((await screen(tab)).slice(RATE_ROW, SLEEP_ROW + 1).map((line) => line.trim()).join(' '));
  return lines.join(', ');
};
await pause(10000); // the governor settles
await tab.evaluate(() => {
  const terminal = window.blockfall.terminal;
  const write = terminal.write.bind(terminal);
  window.drawnHidden = 0;
  terminal.write = (...args) => { window.drawnHidden += document.hidden ? 1 : 0; return write(...args); };
});
const before = await paceLines(3);
await (await browser.newPage()).bringToFront(); // a blank tab in front of the game's
await pause(Number(hiddenFor) * 1000);
await tab.bringToFront();
console.log(`\nhidden ${hiddenFor} s: before, once a second: ${before}; frames drawn while hidden: ` +
            `${await tab.evaluate(() => window.drawnHidden)}; after: ${await paceLines(8)}`);
if (errors.length)
  console.log('console errors:', errors);
await browser.close();
await server.close();

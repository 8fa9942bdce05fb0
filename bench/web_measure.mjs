// The web page against a floor page of its own, in each engine: the time
// from navigation to the whole well on screen, for a first visit (a fresh
// browser context on an origin never seen, so that nothing is cached) and
// for a return visit right after it (the page from its service worker's
// cache; the floor from the server again), SAMPLES of each, side by side in
// the same browser and run; their medians and the ratios to the floor; and
// the bytes of a visit, file by file, as served and gzipped.
//
// The page's HTML holds the game's first screen (its empty well, built in),
// so its well shows as the page is parsed; the time to the game's own first
// frame (the first piece and the panel, the page's mark "blockfall first
// frame") is measured beside it, against the floor's well all the same, and
// is the figure that says when the game plays.
//
// The floor is the least a page could do: the game's 21 rows as text in a
// <pre>, served by the same server. Both pages run the same probe before
// any script of theirs: a mutation observer that notes the moment the rows
// hold the well's walls and floor whole. Chromium and Firefox run it as the
// document starts; WebKitGTK's driver cannot, so there the server puts it in
// a script of the page's folder (as the page's policy wants) ahead of the
// page's own, where it costs both pages a request.
//
// Usage: node bench/web_measure.mjs PAGE-FOLDER NODE-MODULES CHROMIUM FIREFOX
//        WEBKITWEBDRIVER XVFB-RUN MINIBROWSER [SAMPLES]
// (the web tree's target web_measure runs it with the programs its build
// found; an engine whose programs are missing is left out, and said so).
import { existsSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { WALL, WELL_ROWS, serve, startEngine, tooOld, until } from '../tests/browser/harness.mjs';

const [pageDir, nodeModules, chromium, firefox, driver, xvfbRun, miniBrowser, samples = '7'] =
  process.argv.slice(2);

const PROBE = `(${(wall, wellRows) => {
  const rows = () => {
    const screen = document.getElementById('screen');
    if (!screen)
      return [];
    return screen.children.length ? [...screen.children].map((row) => row.textContent) : screen.textContent.split('\n');
  };
  const whole = (r) => r.length > wellRows &&
                       r.slice(0, wellRows).every((row) => row[0] === wall && row[19] === wall) &&
                       r[wellRows].startsWith(wall.repeat(20));
  const observer = new MutationObserver(() => {
    if (whole(rows())) {
      window.wellShownAt = performance.now();
      observer.disconnect();
    }
  });
  observer.observe(document, { subtree: true, childList: true, characterData: true });
}})(${JSON.stringify(WALL)}, ${WELL_ROWS});`;

// The first screen of a game, as the page shows it.
const floorRows = [];
for (let y = 0; y < 21; ++y) {
  const inWell = y < WELL_ROWS ? `${WALL}${' '.repeat(18)}${WALL}` : y === WELL_ROWS ? WALL.repeat(20) : '';
  const panel = { 0: ' Next:', 15: 'Score: 0', 18: '11FPS', 19: ' 80' }[y] ?? '';
  floorRows.push(y >= 15 ? panel : `${inWell}${panel}`);
}
const floor = (probe) => `<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>floor</title>${probe}</head>
<body><pre id="screen">${floorRows.join('\n')}</pre></body></html>
`;

const engines = [['chromium', [chromium]], ['firefox', [firefox]], ['webkit', [driver, xvfbRun, miniBrowser]]];
const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

// One visit: navigation to the whole well, and to the game's first frame
// (the floor's is its well), in ms.
async function visit(page, url, game) {
  await page.goto(url);
  const well = await until(() => page.evaluate(() => window.wellShownAt), `the well at ${url}`);
  return [well, game ? await until(() => page.evaluate(() => performance.getEntriesByName('blockfall first frame')[0]?.startTime),
                                   `the first frame at ${url}`) : well];
}

// [engine, page's first visit, floor's, page's return visit, floor's]: to
// the well, and to the game's first frame (against the floor's well).
const results = [];
const frameResults = [];
for (const [name, programs] of engines) {
  const missing = programs.every((program) => program && existsSync(program)) ? null : `missing: ${programs.join(' ')}`;
  const why = missing ?? tooOld(name, programs);
  if (why) {
    console.log(`${name}: left out (${why})`);
    continue;
  }
  const engine = await startEngine(name, nodeModules, programs);
  const times = { page: [[], []], floor: [[], []] };
  const frames = { page: [[], []], floor: [[], []] };
  // One round more than counted: the first warms the engine up.
  for (let i = 0; i <= Number(samples); ++i) {
    const server = await serve(pageDir); // an origin of its own: nothing kept from the last round
    const early = name !== 'webkit';
    server.init = early ? '' : PROBE;
    server.files['floor.html'] = { body: floor(early ? '' : '<script src="test-init.js"></script>') };
    for (const [what, path] of [['floor', 'floor.html'], ['page', '']]) {
      const page = await engine.newPage({ width: 1280, height: 800, fresh: true });
      if (early)
        await page.evaluateOnNewDocument(PROBE);
      const first = await visit(page, server.url + path, what === 'page');
      if (what === 'page')
        await until(() => page.evaluate(() => navigator.serviceWorker.controller !== null), 'the worker');
      const again = await visit(page, server.url + path, what === 'page');
      await page.close();
      if (i > 0) {
        [first, again].forEach(([well, frame], n) => {
          times[what][n].push(well);
          frames[what][n].push(frame);
        });
      }
    }
    await server.close();
  }
  await engine.close();
  const [pageFirst, pageAgain, floorFirst, floorAgain] = [...times.page, ...times.floor].map(median);
  results.push([name, pageFirst, floorFirst, pageAgain, floorAgain]);
  const [frameFirst, frameAgain] = frames.page.map(median);
  frameResults.push([name, frameFirst, floorFirst, frameAgain, floorAgain]);
  console.log(`${name}: first visit ${times.page[0].map(Math.round)} ms, floor ${times.floor[0].map(Math.round)}; ` +
              `return ${times.page[1].map(Math.round)}, floor ${times.floor[1].map(Math.round)}; the game's first frame ` +
              `${frames.page[0].map(Math.round)}, return ${frames.page[1].map(Math.round)}`);
}

for (const [what, rows] of [['the whole well', results], ["the game's first frame", frameResults]]) {
  console.log(`\nNavigation to ${what}, medians of ${samples} (ms), and the ratio to the floor page's well:\n`);
  console.log('| Engine | First visit | Floor | Ratio | Return visit | Floor | Ratio |\n|---|---|---|---|---|---|---|');
  for (const [name, pageFirst, floorFirst, pageAgain, floorAgain] of rows) {
    console.log(`| ${name} | ${pageFirst.toFixed(0)} | ${floorFirst.toFixed(0)} | ${(pageFirst / floorFirst).toFixed(2)} | ` +
                `${pageAgain.toFixed(0)} | ${floorAgain.toFixed(0)} | ${(pageAgain / floorAgain).toFixed(2)} |`);
  }
}

// Every file of the page (what its worker keeps, and the worker), the icons apart.
const kept = String(await readFile(join(pageDir, 'sw.js'))).match(/const FILES = \[(.*)\]/)[1];
const names = [...kept.matchAll(/'\.\/([^']+)'/g)].map(([, name]) => name).concat('sw.js').sort();
console.log('\n| File | Bytes | Gzipped |\n|---|---|---|');
const sums = { visit: [0, 0], icons: [0, 0] };
for (const name of names) {
  const body = await readFile(join(pageDir, name));
  const gzipped = gzipSync(body).length;
  const sum = sums[name.endsWith('.png') ? 'icons' : 'visit'];
  sum[0] += body.length;
  sum[1] += gzipped;
  console.log(`| ${name} | ${body.length} | ${gzipped} |`);
}
console.log(`| a visit, icons aside | ${sums.visit[0]} | ${sums.visit[1]} |\n| the icons | ${sums.icons[0]} | ${sums.icons[1]} |`);

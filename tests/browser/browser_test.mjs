// The web page in each engine (Chromium, Firefox, WebKitGTK), the same
// cases in each: one game played through the page's keys, checked on the
// page's own rows of text, step by step; then a hidden page, other windows
// and a phone's buttons, and a page that cannot play.
//
// Usage: node browser_test.mjs PAGE-FOLDER NODE-MODULES SCREENSHOT ENGINE PROGRAM...
// (chromium, firefox or webkit, and the paths of the programs it takes, as
// PROGRAMS lists them). Exits 77 (skipped) when the page, the driver or the
// engine's programs are missing, or the engine is older than the driver
// needs, naming them.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { pathToFileURL } from 'node:url';
import { BLOCK, PROMPT, PROMPT_ROW, RATE_ROW, SCORE_ROW, SLEEP_ROW, WELL_ROWS, LIMITS, PROGRAMS, screen,
         serve, startEngine, tooOld, until, waitForScreen, wholeWell } from './harness.mjs';

const [pageDir, nodeModules, screenshot, engineName, ...programs] = process.argv.slice(2);
const limits = LIMITS[engineName] ?? {}; // why it skips what it cannot do
const needed = [['page', join(pageDir ?? '', 'index.html')],
                ...(PROGRAMS[engineName] ?? []).map((name, i) => [name, programs[i] ?? '']),
                ...(engineName === 'webkit' ? [] : [['puppeteer-core', join(nodeModules ?? '', 'puppeteer-core')]])];
for (const [what, path] of needed) {
  if (!existsSync(path)) {
    console.log(`${what} missing (${path}): ${engineName} skipped`);
    process.exit(77);
  }
}
if (tooOld(engineName, programs)) {
  console.log(`${tooOld(engineName, programs)}: ${engineName} skipped`);
  process.exit(77);
}

// The pieces are seeded from the clock's second: a fixed start makes every
// run deal the same pieces, the first of them one that turns (not the square).
const START = Date.UTC(2026, 0, 1, 12, 0, 0);

// Run by the page before its own script, in every page the suite opens.
// The clock stands at START until the game's first frame, which comes
// before it seeds, however long the page took to load: every page deals
// the same pieces. Every error the page meets is kept, a blocked load or a
// breach of its policy among them, and every keydown it leaves to the browser.
const INIT = `(${(start) => {
  const now = Date.now;
  let since = null;
  Date.now = () => (since === null ? start : start + now() - since);
  let blockfall;
  Object.defineProperty(window, 'blockfall', {
    get: () => blockfall,
    set: (page) => {
      blockfall = page;
      const draw = page.draw;
      page.draw = (...args) => { since ??= now(); return draw(...args); };
    },
  });
  window.errors = [];
  const error = console.error.bind(console);
  console.error = (...args) => { window.errors.push(args.join(' ')); error(...args); };
  addEventListener('error', (e) => window.errors.push(e.message ?? `${e.target?.src ?? e.target?.href} failed`), true);
  addEventListener('unhandledrejection', (e) => window.errors.push(String(e.reason)));
  addEventListener('securitypolicyviolation', (e) => window.errors.push(`${e.violatedDirective}: ${e.blockedURI}`));
  window.keysLeftToBrowser = [];
  addEventListener('keydown', (event) => {
    if (!event.defaultPrevented)
      window.keysLeftToBrowser.push(event.key);
  });
}})(${START});`;

// The falling piece: the blocks inside the well, as [row, column]. Until
// the first landing nothing else there is a block.
function blocks(rows, fromColumn = 1, toColumn = 18) {
  const cells = [];
  for (let y = 0; y < WELL_ROWS; ++y)
    for (let x = fromColumn; x <= toColumn; ++x)
      if (rows[y][x] === BLOCK)
        cells.push([y, x]);
  return cells;
}
const rightmost = (cells) => Math.max(...cells.map(([, x]) => x));
// A shape without its place: sorted offsets from its top-left.
function shapeOf(cells) {
  const top = Math.min(...cells.map(([y]) => y));
  const left = Math.min(...cells.map(([, x]) => x));
  return cells.map(([y, x]) => `${y - top},${x - left}`).sort().join(' ');
}
const turnedClockwise = (cells) => cells.map(([y, x]) => [x, -y]);
const SQUARE = '0,0 0,1 1,0 1,1'; // the one piece that does not turn

// Every screen the page shows, one per frame that changed it. At each
// change of visibility, the screens shown so far.
async function recordFrames(target = page) {
  await target.evaluate(() => {
    const page = window.blockfall;
    const draw = page.draw;
    window.shownFrames = [];
    window.visibilityChanges = []; // seen before the page's own listener lets the game go on
    addEventListener('visibilitychange', () => window.visibilityChanges.push(window.shownFrames.length), true);
    page.draw = (...args) => { draw(...args); window.shownFrames.push(page.text()); };
  });
}
const takeFrames = () => page.evaluate(() => window.shownFrames.splice(0));

// Each size as the page opens there, then turned a quarter (a phone turned).
const sizes = [[390, 844, true], [360, 640, true], [820, 1180, true], [1280, 800, false], [640, 400, false, 2]];
// What the server answers instead, or what the page runs first, and what
// the page must say. None of these pages has a service worker, as where
// none can run, so that none serves a file the case takes away.
const failures = [
  ['a missing blockfall.wasm', { 'blockfall.wasm': { status: 404 } }, '', /wasm.*404.*build/],
  ['a broken blockfall.wasm', { 'blockfall.wasm': { body: 'MZ' } }, '', /wasm.*compile/],
  ['a missing blockfall.js', { 'blockfall.js': { status: 404 } }, '', /blockfall\.js.*build/],
  ['no WebAssembly', {}, 'delete window.WebAssembly;', /cannot run WebAssembly/],
  ['the page opened from a file', null, '', /opened from a file[\s\S]*serve/],
];

let server, engine, page; // the engine's first page plays the game, case by case
let piece; // the falling piece as last seen
before(async () => {
  server = await serve(pageDir);
  server.init = INIT;
  engine = await startEngine(engineName, nodeModules, programs);
  page = await engine.newPage();
  await page.goto(server.url);
});
after(async () => {
  await engine?.close();
  await server?.close();
});

test('the page shows the well, the panel and the two status lines in place', async () => {
  const rows = await waitForScreen(page, (r) => wholeWell(r) && /^\d+FPS/.test(r[RATE_ROW]),
                                   'the well and the rate line');
  assert.ok(rows[0].slice(21).startsWith('Next:'), rows[0]);
  assert.match(rows[SCORE_ROW], /^Score: 0\s*$/);
  assert.match(rows[SLEEP_ROW], /^ -?\d+\s*$/, 'the sleep line at column 1');
  piece = blocks(await waitForScreen(page, (r) => blocks(r).length === 4,
                                     'the first piece whole in the well'));
  assert.notEqual(shapeOf(piece), SQUARE, 'the start time must deal a piece that turns');
  await recordFrames();
});

test('Up turns the piece a quarter turn clockwise', async () => {
  const before = blocks(await screen(page));
  await page.keyboard.press('ArrowUp');
  const rows = await waitForScreen(page, (r) => {
    const cells = blocks(r);
    return cells.length === 4 && shapeOf(cells) !== shapeOf(before);
  }, 'the piece to turn');
  piece = blocks(rows);
  assert.equal(shapeOf(piece), shapeOf(turnedClockwise(before)));
});

test('a held ArrowRight walks the piece to the wall, one column a frame', async () => {
  const from = rightmost(piece);
  await takeFrames();
  await page.keyboard.down('ArrowRight');
  await waitForScreen(page, (r) => blocks(r).length === 4 && rightmost(blocks(r)) === 18,
                      'the piece at the right wall');
  await sleep(400); // held on against the wall
  await page.keyboard.up('ArrowRight');
  const shown = (await takeFrames()).map((rows) => blocks(rows)).filter((c) => c.length === 4);
  const columns = [from, ...shown.map(rightmost)];
  const walked = columns.filter((x, i) => i === 0 || x !== columns[i - 1]);
  const expected = Array.from({ length: 18 - from + 1 }, (_, i) => from + i);
  assert.deepEqual(walked, expected, `columns frame by frame: ${columns}`);
  const rows = await screen(page);
  assert.ok(wholeWell(rows), 'the wall stands');
  piece = blocks(rows);
});

test('a tap moves one column; a key held while the page loses focus is let go', async () => {
  const at = rightmost(piece);
  await page.keyboard.press('ArrowLeft');
  let rows = await waitForScreen(page, (r) => blocks(r).length === 4 && rightmost(blocks(r)) !== at,
                                 'the piece to move left');
  await sleep(300);
  rows = await screen(page);
  assert.equal(rightmost(blocks(rows)), at - 1, 'a press and release between frames moves once');

  await page.keyboard.down('ArrowLeft');
  await waitForScreen(page, (r) => blocks(r).length === 4 && rightmost(blocks(r)) <= at - 3,
                      'the held key to walk the piece left');
  // A click beside the terminal takes the keyboard from it, and the game
  // takes it back: the held key is let go, and the next keys still play.
  await page.click('#status');
  await sleep(300);
  const stopped = rightmost(blocks(await screen(page)));
  await sleep(600);
  piece = blocks(await screen(page));
  assert.equal(rightmost(piece), stopped, 'the piece walks on after the page lost the keyboard');
  assert.ok(await page.evaluate(() => document.activeElement?.id === 'screen'),
            'the keyboard back with the game after a click beside it');
  await page.keyboard.up('ArrowLeft');
});

test('a piece pushed down lands where it was steered', async () => {
  const left = Math.min(...piece.map(([, x]) => x));
  const right = rightmost(piece);
  const drop = WELL_ROWS - 1 - Math.max(...piece.map(([y]) => y));
  const onFloor = (r) => {
    const cells = blocks(r, left, right);
    return cells.length === 4 && Math.max(...cells.map(([y]) => y)) === WELL_ROWS - 1;
  };
  await page.keyboard.down('ArrowDown');
  await waitForScreen(page, onFloor, 'the piece on the floor');
  await page.keyboard.up('ArrowDown');
  // A gravity step later it is still there: it landed, it is not falling.
  await sleep(1500);
  assert.deepEqual(blocks(await screen(page), left, right), piece.map(([y, x]) => [y + drop, x]),
                   'in the columns it was steered to');
  if (screenshot)
    await page.screenshot({ path: screenshot.replace(/(\.png)?$/, `-${engine.name}.png`) });
});

test('Escape shows the prompt, Enter ends the game, and Play again starts a fresh one', async () => {
  for (const key of ['PageDown', ' '])
    await page.keyboard.press(key); // nothing for the game, and kept from the browser
  await page.keyboard.press('Escape');
  const rows = await waitForScreen(page, (r) => r[PROMPT_ROW].startsWith(PROMPT), 'the exit prompt on its row');
  assert.match(rows[RATE_ROW], /^\d+FPS/);
  for (const key of ['n', 'o', 'Backspace', 'k'])
    await page.keyboard.press(key); // typed at the prompt, as a terminal shows it
  await waitForScreen(page, (r) => r[PROMPT_ROW] === `${PROMPT}k `, 'what was typed, as much as fits');
  await until(() => page.evaluate(() => /Game over.*Enter/.test(document.body.innerText)), 'the ending said');
  await page.keyboard.press('Enter');
  await until(() => page.evaluate(() => !window.blockfall.playing), 'the game to end');
  assert.deepEqual(await page.evaluate(() => window.keysLeftToBrowser), [],
                   'every key kept from the browser while playing');
  // The Enter that ended the game focuses Play again; the next one presses it.
  await until(() => page.evaluate(() => document.activeElement?.id === 'again'), 'Play again focused');
  await page.keyboard.press('Enter');
  const fresh = await waitForScreen(page, (r) => wholeWell(r) && blocks(r).length === 4, 'a second game')
    .catch(async (error) => {
      const state = await page.evaluate(() => [document.documentElement.dataset.phase,
                                               document.activeElement?.id, window.errors]);
      throw new Error(`${error.message}\nphase, focus, errors: ${JSON.stringify(state)}`);
    });
  assert.match(fresh[SCORE_ROW], /^Score: 0\s*$/);
  assert.ok(blocks(fresh).every(([y]) => y < 4), `only a new piece at the top: ${fresh.join('\n')}`);
  assert.deepEqual(await page.evaluate(() => window.errors), [], 'errors, blocked loads, policy breaches');
});

test('a hidden page stands still, then goes on at the pace it had', { skip: limits.hide },
     async () => {
  const tab = await engine.newPage();
  await tab.goto(server.url);
  await waitForScreen(tab, (r) => /^\d+FPS/.test(r[RATE_ROW]), 'the rate line');
  await sleep(6000); // the governor settles
  await recordFrames(tab);
  await sleep(1000);
  const other = await engine.newPage(); // in front of the game's tab
  await other.bringToFront();
  await sleep(5000);
  await tab.bringToFront();
  await sleep(2500);
  await other.close();
  const [hiding, shown] = await tab.evaluate(() => window.visibilityChanges);
  assert.equal(shown, hiding, 'frames drawn while hidden');
  const frames = await tab.evaluate(() => window.shownFrames);
  const [before, after, later] = [shown - 1, shown, frames.length - 1]
    .map((i) => [RATE_ROW, SLEEP_ROW].map((y) => parseInt(frames[i][y], 10)));
  assert.ok([...after, later[0]].every((x, i) => Math.abs(x - before[i % 2]) <= 2),
            `FPS and sleep: ${before} before, ${after} on showing, FPS ${later[0]} later`);
  await tab.close();
});

test(`the screen and the buttons fit every window, with no sideways scrolling${
  limits.touch ? ` (not a phone's: ${limits.touch})` : ''}`, async () => {
  for (const [width, height, touch, zoom = 1] of sizes) {
    if ((touch && limits.touch) || (zoom !== 1 && limits.zoom))
      continue; // said in the case's name
    const fits = await engine.newPage({ width, height, touch, zoom });
    await fits.goto(server.url);
    await waitForScreen(fits, wholeWell, `the well at ${width}x${height}`);
    for (const viewport of [{ width, height }, { width: height, height: width }]) {
      await fits.setViewport({ ...fits.viewport(), ...viewport });
      await sleep(300);
      const misfits = await fits.evaluate((wide) => [...document.querySelectorAll('#screen, #pad button')]
        .map((e) => [e.id || e.textContent, e.getBoundingClientRect()])
        .filter(([name, r]) => r.width > 0 && (r.left < 0 || r.top < 0 || r.right > innerWidth || r.bottom > innerHeight ||
                                               (name !== 'screen' && Math.min(r.width, r.height) < 44)))
        .map(([name]) => name).concat(document.documentElement.scrollWidth > innerWidth ? ['sideways scroll'] : [],
                                      innerWidth > wide ? ['laid out wider than the window'] : []), viewport.width);
      assert.deepEqual(misfits, [], `${viewport.width}x${viewport.height} at ${zoom * 100}%${touch ? ', touch' : ''}`);
    }
    await fits.close();
  }
});

test('on a phone the buttons play: a tap on Turn turns, a held Right walks to the wall',
     { skip: limits.touch }, async () => {
  const phone = await engine.newPage({ width: 390, height: 844, touch: true });
  await phone.goto(server.url);
  const first = blocks(await waitForScreen(phone, (r) => blocks(r).length === 4, 'the first piece'));
  assert.notEqual(shapeOf(first), SQUARE, 'the start time must deal a piece that turns');
  await phone.tap('#pad [data-key=ArrowUp]');
  await waitForScreen(phone, (r) => blocks(r).length === 4 && shapeOf(blocks(r)) === shapeOf(turnedClockwise(first)),
                      'the piece turned');
  const right = await phone.$('#pad [data-key=ArrowRight]');
  await right.touchStart();
  await waitForScreen(phone, (r) => blocks(r).length === 4 && rightmost(blocks(r)) === 18, 'the piece at the right wall');
  await right.touchEnd();
  await phone.close();
});

test('a page that cannot play says why and what to do', async () => {
  const apart = await serve(pageDir); // an origin of its own, where no worker keeps the files
  try {
    for (const [what, files, init, message] of failures) {
      Object.assign(apart, { files: files ?? {}, init: `delete Navigator.prototype.serviceWorker; ${init}${INIT}` });
      const broken = await engine.newPage();
      await broken.goto(files ? apart.url : pathToFileURL(join(pageDir, 'index.html')).href);
      await until(() => broken.evaluate((source) => new RegExp(source).test(document.body.innerText), message.source),
                  what, 10000)
        .catch(() => assert.fail(`no message for ${what}`));
      await broken.close();
    }
  } finally {
    await apart.close();
  }
});

test('Chromium finds the page installable', { skip: limits.devtools }, async () => {
  const installed = await engine.newPage();
  await installed.goto(server.url);
  await waitForScreen(installed, wholeWell, 'the well');
  const devtools = await installed.createCDPSession();
  assert.deepEqual((await devtools.send('Page.getInstallabilityErrors')).installabilityErrors, []);
  await installed.close();
});

// After one visit, with the server stopped, a reload plays a game to its
// end; and a newer version is taken at the next game, not in this one.
const kept = async (tab) => {
  await tab.goto(server.url);
  await until(() => tab.evaluate(() => !!navigator.serviceWorker?.controller), 'the page kept by its worker');
  await waitForScreen(tab, (r) => blocks(r).length === 4, 'a piece');
};
const playToTheEnd = async (tab) => {
  await tab.keyboard.press('Escape');
  await waitForScreen(tab, (r) => r[PROMPT_ROW].startsWith(PROMPT), 'the exit prompt');
  await tab.keyboard.press('Enter');
  await until(() => tab.evaluate(() => document.documentElement.dataset.phase === 'ended'), 'the end of the game');
};
test('after one visit the page loads and plays with the server stopped', async () => {
  const tab = await engine.newPage();
  try {
    await kept(tab);
    server.offline = true;
    await tab.goto(server.url);
    await waitForScreen(tab, (r) => wholeWell(r) && blocks(r).length === 4, 'the well and a piece, offline');
    await tab.keyboard.down('ArrowRight');
    await waitForScreen(tab, (r) => blocks(r).length === 4 && rightmost(blocks(r)) === 18, 'the piece at the wall');
    await tab.keyboard.up('ArrowRight');
    await playToTheEnd(tab);
  } finally {
    server.offline = false;
    await tab.close();
  }
});

test('a newer version waits for the end of the game, then plays the next one', async () => {
  const tab = await engine.newPage();
  const worker = String(await readFile(join(pageDir, 'sw.js')));
  try {
    await kept(tab);
    await tab.evaluate(() => { window.sameLoad = true; });
    server.files['sw.js'] = { body: worker.replace(/blockfall-[^']*/, 'blockfall-newer') };
    await tab.evaluate(() => navigator.serviceWorker.getRegistration().then((r) => r.update()));
    await until(() => tab.evaluate(() => !document.getElementById('update').hidden), 'the newer version said');
    await sleep(1000);
    assert.deepEqual(await tab.evaluate(() => [window.sameLoad, window.blockfall.playing]), [true, true],
                     'the game goes on in the same page');
    await playToTheEnd(tab);
    await tab.keyboard.press('Enter'); // Play again
    await until(() => tab.evaluate(() => !window.sameLoad && window.blockfall?.playing), 'a new game on a new load');
    assert.deepEqual(await tab.evaluate(() => caches.keys()), ['blockfall-newer'], 'the caches kept');
  } finally {
    server.files = {};
    await tab.close();
  }
});

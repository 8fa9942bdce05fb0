// The web page in headless chromium: one game played through the page's
// keys, checked on the terminal's buffer, step by step; then a hidden page,
// other windows and a phone's buttons, and a page that cannot play.
//
// Usage: node browser_test.mjs PAGE-FOLDER NODE-MODULES CHROMIUM SCREENSHOT
// Exits 77 (skipped) when the page or chromium is missing.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { BLOCK, PROMPT, PROMPT_ROW, RATE_ROW, SCORE_ROW, SLEEP_ROW, WELL_ROWS, launch, rawChromium, screen, serve,
         waitForScreen, wholeWell } from './harness.mjs';

const [pageDir, nodeModules, chromium, screenshot] = process.argv.slice(2);
for (const [what, path] of [['page', join(pageDir ?? '', 'index.html')],
                            ['chromium', chromium ?? ''],
                            ['playwright-core', join(nodeModules ?? '', 'playwright-core')]]) {
  if (!existsSync(path)) {
    console.log(`${what} missing (${path}): browser suite skipped`);
    process.exit(77);
  }
}

// The pieces are seeded from the clock's second: a fixed start makes every
// run deal the same pieces, the first of them one that turns (not the square).
const START = Date.UTC(2026, 0, 1, 12, 0, 0);

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

// The clock stands at START until the game's first write, which comes
// before it seeds, however long the page took to load: every page opened
// so deals the same pieces.
const fixedStart = (target) => target.addInitScript((start) => {
  const now = Date.now;
  let since = null;
  Date.now = () => (since === null ? start : start + now() - since);
  let blockfall;
  Object.defineProperty(window, 'blockfall', {
    get: () => blockfall,
    set: (page) => {
      blockfall = page;
      const write = page.terminal.write.bind(page.terminal);
      page.terminal.write = (...args) => { since ??= now(); return write(...args); };
    },
  });
}, START);

let server, browser, page, errors;
let piece; // the falling piece as last seen

before(async () => {
  server = await serve(pageDir);
  ({ browser, page, errors } = await launch(nodeModules, chromium));
  await fixedStart(page);
  // Every keydown the page leaves to the browser, seen after the page's own handlers.
  await page.addInitScript(() => {
    window.keysLeftToBrowser = [];
    window.addEventListener('keydown', (event) => {
      if (!event.defaultPrevented)
        window.keysLeftToBrowser.push(event.key);
    });
  });
  await page.goto(server.url);
});

after(async () => {
  await browser?.close();
  await server?.close();
});

// Every screen the terminal shows, one per write: the game writes once a frame.
// At each change of visibility, the writes made and the screens shown so far.
async function recordFrames(target = page) {
  await target.evaluate(() => {
    const terminal = window.blockfall.terminal;
    const write = terminal.write.bind(terminal);
    window.shownFrames = [];
    let writes = 0;
    window.visibilityChanges = []; // seen before the page's own listener lets the game go on
    addEventListener('visibilitychange', () => window.visibilityChanges.push([writes, window.shownFrames.length]), true);
    terminal.write = (data, done) => write(data, () => {
      const rows = [];
      for (let y = 0; y < terminal.rows; ++y)
        rows.push(terminal.buffer.active.getLine(y).translateToString(true));
      window.shownFrames.push(rows);
      done?.();
    });
    const recorded = terminal.write;
    terminal.write = (...args) => { ++writes; return recorded(...args); };
  });
}
const takeFrames = () => page.evaluate(() => window.shownFrames.splice(0));

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
  await new Promise((resolve) => setTimeout(resolve, 400)); // held on against the wall
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
  await new Promise((resolve) => setTimeout(resolve, 300));
  rows = await screen(page);
  assert.equal(rightmost(blocks(rows)), at - 1, 'a press and release between frames moves once');

  await page.keyboard.down('ArrowLeft');
  await waitForScreen(page, (r) => blocks(r).length === 4 && rightmost(blocks(r)) <= at - 3,
                      'the held key to walk the piece left');
  // A click beside the terminal takes the keyboard from it, and the game
  // takes it back: the held key is let go, and the next keys still play.
  await page.click('#status');
  await new Promise((resolve) => setTimeout(resolve, 300));
  const stopped = rightmost(blocks(await screen(page)));
  await new Promise((resolve) => setTimeout(resolve, 600));
  piece = blocks(await screen(page));
  assert.equal(rightmost(piece), stopped, 'the piece walks on after the page lost the keyboard');
  assert.ok(await page.evaluate(() => document.activeElement === window.blockfall.terminal.textarea),
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
  await new Promise((resolve) => setTimeout(resolve, 1500));
  assert.deepEqual(blocks(await screen(page), left, right), piece.map(([y, x]) => [y + drop, x]),
                   'in the columns it was steered to');
  if (screenshot)
    await page.screenshot({ path: screenshot });
});

test('Escape shows the prompt, Enter ends the game, and Play again starts a fresh one', async () => {
  for (const key of ['PageDown', 'Space'])
    await page.keyboard.press(key); // nothing for the game, and kept from the browser
  await page.keyboard.press('Escape');
  const rows = await waitForScreen(page, (r) => r[PROMPT_ROW].startsWith(PROMPT), 'the exit prompt on its row');
  assert.match(rows[RATE_ROW], /^\d+FPS/);
  await page.getByText(/Game over.*Enter/).waitFor();
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => !window.blockfall.playing);
  assert.deepEqual(await page.evaluate(() => window.keysLeftToBrowser), [],
                   'every key kept from the browser while playing');
  await page.keyboard.press('Enter'); // on Play again
  const fresh = await waitForScreen(page, (r) => wholeWell(r) && blocks(r).length === 4, 'a second game');
  assert.match(fresh[SCORE_ROW], /^Score: 0\s*$/);
  assert.ok(blocks(fresh).every(([y]) => y < 4), `only a new piece at the top: ${fresh.join('\n')}`);
  assert.deepEqual(errors, [], 'console errors');
});

test('a hidden page stands still, then goes on at the pace it had', async () => {
  const raw = await rawChromium(chromium);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  try {
    const tab = await raw.open(server.url);
    await waitForScreen(tab, (r) => /^\d+FPS/.test(r[RATE_ROW]), 'the rate line');
    await sleep(6000); // the governor settles
    await recordFrames(tab);
    await sleep(1000);
    await raw.open('about:blank'); // in front of the game's tab
    await sleep(5000);
    await raw.send('Target.activateTarget', { targetId: tab.targetId });
    await sleep(2500);
    const [[hiding], [showing, shown]] = await tab.evaluate(() => window.visibilityChanges);
    assert.equal(showing, hiding, 'frames drawn while hidden');
    const frames = await tab.evaluate(() => window.shownFrames);
    const [before, after, later] = [shown - 1, shown, frames.length - 1]
      .map((i) => [RATE_ROW, SLEEP_ROW].map((y) => parseInt(frames[i][y], 10)));
    assert.ok([...after, later[0]].every((x, i) => Math.abs(x - before[i % 2]) <= 2),
              `FPS and sleep: ${before} before, ${after} on showing, FPS ${later[0]} later`);
  } finally {
    await raw.close();
  }
});

// Each size as the page opens there, then turned a quarter (a phone turned).
const sizes = [[390, 844, true], [360, 640, true], [820, 1180, true], [1280, 800, false], [640, 400, false, 2]];
test('the terminal and the buttons fit every window, with no sideways scrolling', async () => {
  for (const [width, height, touch, zoom = 1] of sizes) {
    const fits = await browser.newPage({ viewport: { width, height }, isMobile: touch, hasTouch: touch,
                                         deviceScaleFactor: zoom });
    await fits.goto(server.url);
    await waitForScreen(fits, wholeWell, `the well at ${width}x${height}`);
    for (const viewport of [{ width, height }, { width: height, height: width }]) {
      await fits.setViewportSize(viewport);
      await new Promise((resolve) => setTimeout(resolve, 300));
      const misfits = await fits.evaluate((wide) => [...document.querySelectorAll('#terminal, #pad button')]
        .map((e) => [e.id || e.textContent, e.getBoundingClientRect()])
        .filter(([name, r]) => r.width > 0 && (r.left < 0 || r.top < 0 || r.right > innerWidth || r.bottom > innerHeight ||
                                               (name !== 'terminal' && Math.min(r.width, r.height) < 44)))
        .map(([name]) => name).concat(document.documentElement.scrollWidth > innerWidth ? ['sideways scroll'] : [],
                                      innerWidth > wide ? ['laid out wider than the window'] : []), viewport.width);
      assert.deepEqual(misfits, [], `${viewport.width}x${viewport.height} at ${zoom * 100}%${touch ? ', touch' : ''}`);
    }
    await fits.close();
  }
});

test('on a phone the buttons play: a tap on Turn turns, a held Right walks to the wall', async () => {
  const phone = await browser.newPage({ viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  await fixedStart(phone);
  await phone.goto(server.url);
  const first = blocks(await waitForScreen(phone, (r) => blocks(r).length === 4 && shapeOf(blocks(r)) !== SQUARE,
                                           'a piece that turns'));
  await phone.getByRole('button', { name: /^Turn/ }).tap();
  await waitForScreen(phone, (r) => blocks(r).length === 4 && shapeOf(blocks(r)) === shapeOf(turnedClockwise(first)),
                      'the piece turned');
  const right = await phone.getByRole('button', { name: /^Right/ }).boundingBox();
  const touch = await phone.context().newCDPSession(phone);
  await touch.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [
    { x: right.x + right.width / 2, y: right.y + right.height / 2 }] });
  await waitForScreen(phone, (r) => blocks(r).length === 4 && rightmost(blocks(r)) === 18, 'the piece at the right wall');
  await touch.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
  await phone.close();
});

const failures = [
  ['a missing blockfall.wasm', (p) => p.route('**/blockfall.wasm', (r) => r.fulfill({ status: 404 })), /wasm.*404.*build/],
  ['a broken blockfall.wasm', (p) => p.route('**/blockfall.wasm', (r) => r.fulfill({ body: 'MZ' })), /wasm.*compile/],
  ['a missing blockfall.js', (p) => p.route('**/blockfall.js', (r) => r.fulfill({ status: 404 })), /blockfall\.js.*build/],
  ['no WebAssembly', (p) => p.addInitScript(() => delete window.WebAssembly), /cannot run WebAssembly/],
  ['the page opened from a file', null, /opened from a file[\s\S]*serve/],
];
test('a page that cannot play says why and what to do', async () => {
  for (const [what, breakIt, message] of failures) {
    const broken = await browser.newPage();
    await breakIt?.(broken);
    await broken.goto(breakIt ? server.url : pathToFileURL(join(pageDir, 'index.html')).href);
    await broken.getByText(message).waitFor({ timeout: 10000 }).catch(() => assert.fail(`no message for ${what}`));
    await broken.close();
  }
});

// The web page in headless chromium: one game played through the page's
// keys, checked on the terminal's buffer, step by step.
//
// Usage: node browser_test.mjs PAGE-FOLDER NODE-MODULES CHROMIUM SCREENSHOT
// Exits 77 (skipped) when the page or chromium is missing.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { BLOCK, PROMPT, PROMPT_ROW, RATE_ROW, SCORE_ROW, SLEEP_ROW, WELL_ROWS, launch, screen, serve, waitForScreen,
         wholeWell } from './harness.mjs';

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

let server, browser, page, errors;
let piece; // the falling piece as last seen

before(async () => {
  server = await serve(pageDir);
  ({ browser, page, errors } = await launch(nodeModules, chromium));
  // The clock stands at START until the game's first write, which comes
  // before it seeds, however long the page took to load.
  await page.addInitScript((start) => {
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
async function recordFrames() {
  await page.evaluate(() => {
    const terminal = window.blockfall.terminal;
    const write = terminal.write.bind(terminal);
    window.shownFrames = [];
    terminal.write = (data, done) => write(data, () => {
      const rows = [];
      for (let y = 0; y < terminal.rows; ++y)
        rows.push(terminal.buffer.active.getLine(y).translateToString(true));
      window.shownFrames.push(rows);
      done?.();
    });
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
  assert.notEqual(shapeOf(piece), '0,0 0,1 1,0 1,1', 'the start time must deal a piece that turns');
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

test('Escape shows the prompt on its row and Enter ends the run', async () => {
  await page.keyboard.press('Escape');
  const rows = await waitForScreen(page, (r) => r[PROMPT_ROW].startsWith(PROMPT), 'the exit prompt on its row');
  assert.match(rows[RATE_ROW], /^\d+FPS/);
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => !window.blockfall.playing);
  assert.match(await page.textContent('#status'), /ended.*[Rr]eload/);
  assert.deepEqual(await page.evaluate(() => window.keysLeftToBrowser), [],
                   'every game key kept from the browser while playing');
  assert.deepEqual(errors, [], 'console errors');
});

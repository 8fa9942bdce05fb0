// The web page in headless chromium: a static server for the page's folder
// on a loopback port, the browser driven through Playwright, and the
// terminal's screen read back as rows of text. Shared by the browser suite
// and the page's measurements.
import { spawn } from 'node:child_process';
import { createServer } from 'node:http';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve } from 'node:path';

export const WALL = '\u2593';
export const BLOCK = '\u2588';
export const WELL_ROWS = 13; // rows 0 to 12 inside the walls, the floor on row 13
export const SCORE_ROW = 15;
export const RATE_ROW = 18;
export const SLEEP_ROW = 19; // from column 1
export const PROMPT_ROW = 20; // after Escape: the row below the sleep line
export const PROMPT = 'Kilepeshez nyomjon ENTER-t';

// Playwright comes from the build tree's npm folder, not from the sources.
export function playwright(nodeModules) {
  return createRequire(join(resolve(nodeModules), 'noop.js'))('playwright-core');
}

const types = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript',
                '.css': 'text/css', '.wasm': 'application/wasm' };

// Serves `dir` on 127.0.0.1 at a free port; resolves to { url, close }.
export function serve(dir) {
  const server = createServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = join(dir, path.endsWith('/') ? join(path, 'index.html') : path);
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': types[extname(file)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`,
      close: () => new Promise((done) => server.close(done)),
    }));
  });
}

// A page of a headless chromium (the system's, so nothing is downloaded),
// with every console error and uncaught exception collected in `errors`.
export async function launch(nodeModules, chromiumPath) {
  const browser = await playwright(nodeModules).chromium.launch({
    executablePath: chromiumPath,
    args: ['--no-sandbox', '--disable-gpu'], // CI runs as root, with no display
  });
  const page = await browser.newPage({ viewport: { width: 560, height: 640 } });
  const errors = [];
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(String(error)));
  return { browser, page, errors };
}

// A headless chromium over its DevTools pipe, without Playwright, which
// keeps every page it drives visible: a tab here is hidden behind the one
// activated, its timers throttled, as a background tab is.
export async function rawChromium(chromiumPath) {
  const profile = await mkdtemp(join(tmpdir(), 'blockfall-chromium-'));
  const browser = spawn(chromiumPath, ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                                       `--user-data-dir=${profile}`, '--remote-debugging-pipe'],
                        { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
  const answers = new Map();
  let id = 0, partial = '';
  browser.stdio[4].on('data', (data) => {
    const messages = (partial + data).split('\0');
    partial = messages.pop();
    messages.map((text) => JSON.parse(text)).forEach((message) => answers.get(message.id)?.(message));
  });
  const send = (method, params = {}, sessionId = undefined) => new Promise((resolve, reject) => {
    answers.set(++id, ({ result, error }) => (error ? reject(new Error(`${method}: ${error.message}`)) : resolve(result)));
    browser.stdio[3].write(`${JSON.stringify({ id, method, params, sessionId })}\0`);
  });
  // A new tab in front, at `url`: its target, and evaluate() in it as on a Playwright page.
  const open = async (url) => {
    const { targetId } = await send('Target.createTarget', { url });
    const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
    const evaluate = async (f, arg) => (await send('Runtime.evaluate', {
      expression: `(${f})(${JSON.stringify(arg)})`, returnByValue: true }, sessionId)).result.value;
    return { targetId, evaluate };
  };
  const close = () => new Promise((done) => {
    browser.once('exit', () => rm(profile, { recursive: true }).then(done));
    send('Browser.close');
  });
  return { send, open, close };
}

// The terminal's rows as text, read from its buffer: blank while the page
// has no terminal yet.
export function screen(page) {
  return page.evaluate((blank) => {
    const terminal = window.blockfall?.terminal;
    return Array.from({ length: terminal?.rows ?? blank },
                      (_, y) => terminal?.buffer.active.getLine(y).translateToString(true) ?? '');
  }, PROMPT_ROW + 1);
}

// Whether the well's walls and floor stand whole at their positions.
export function wholeWell(rows) {
  for (let y = 0; y < WELL_ROWS; ++y)
    if (rows[y][0] !== WALL || rows[y][19] !== WALL)
      return false;
  return rows[WELL_ROWS].startsWith(WALL.repeat(20));
}

// Polls the screen until `test` holds for it; returns that screen.
export async function waitForScreen(page, test, what, timeoutMs = 15000) {
  const until = Date.now() + timeoutMs;
  let rows;
  for (;;) {
    rows = await screen(page);
    if (test(rows))
      return rows;
    if (Date.now() > until)
      throw new Error(`timed out waiting for ${what}; the screen:\n${rows.join('\n')}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

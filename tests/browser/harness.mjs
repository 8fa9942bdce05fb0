// The web page in a browser: a static server for the page's folder on a
// loopback port, the three engines (the system's own, at the paths the build
// found), and the game's screen read back as the page's rows of text. Shared
// by the browser suite and the page's measurements.
import { execFileSync, spawn } from 'node:child_process';
import { createServer } from 'node:http';
import { createServer as createNetServer } from 'node:net';
import { readFile, writeFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { extname, join, normalize, resolve } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';

export const WALL = '\u2593';
export const BLOCK = '\u2588';
export const WELL_ROWS = 13; // rows 0 to 12 inside the walls, the floor on row 13
export const SCORE_ROW = 15;
export const RATE_ROW = 18;
export const SLEEP_ROW = 19; // from column 1
export const PROMPT_ROW = 20; // after Escape: the row below the sleep line
export const PROMPT = 'Kilepeshez nyomjon ENTER-t';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript',
                '.css': 'text/css', '.wasm': 'application/wasm', '.png': 'image/png',
                '.webmanifest': 'application/manifest+json' };

// Serves `dir` on 127.0.0.1 at a free port; resolves to { url, close,
// init, files, offline }. What a test sets there holds for the next loads:
// `init`, a script the page runs before its own (served from its folder, as
// its policy wants), `files`, a name's answer ({ status, body }) in place
// of the file, and `offline`, no answer at all. Every engine gets the same page so, whatever its driver can do.
export function serve(dir) {
  const state = { init: '', files: {}, offline: false };
  const server = createServer(async (request, response) => {
    if (state.offline)
      return request.socket.destroy(); // as a server that has stopped
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = join(dir, path.endsWith('/') ? join(path, 'index.html') : path);
    const answer = state.files[path.slice(1)];
    try {
      let body = answer?.body ?? (path === '/test-init.js' ? state.init : await readFile(file));
      if (answer?.status)
        throw new Error(answer.status);
      if (file.endsWith('index.html') && state.init)
        body = String(body).replace('<script type="module"', '<script src="test-init.js"></script>\n$&');
      response.writeHead(200, { 'Content-Type': types[extname(file)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(answer?.status ?? 404);
      response.end();
    }
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve(Object.assign(state, {
      url: `http://127.0.0.1:${server.address().port}/`,
      close: () => new Promise((done) => { server.closeAllConnections(); server.close(done); }),
    })));
  });
}

// Asks `probe` until it answers something true, and returns that; a probe
// that throws (a page between two loads) is asked again. `what` names the
// wait, or is a function that says what was last seen.
export async function until(probe, what, timeoutMs = 15000) {
  let error;
  for (const end = Date.now() + timeoutMs; ; await sleep(20)) {
    const value = await probe().catch((e) => { error = e; });
    if (value)
      return value;
    if (Date.now() > end)
      throw new Error(`timed out waiting for ${typeof what === 'function' ? what() : what}${
        error ? ` (last: ${error.message})` : ''}`);
  }
}

// The page's rows as text, as the player reads them: blank while the page
// has no grid yet.
export function screen(page) {
  return page.evaluate((blank) => window.blockfall?.text() ?? Array(blank).fill(''), PROMPT_ROW + 1);
}

// Polls the screen until `test` holds for it; returns that screen.
export function waitForScreen(page, test, what, timeoutMs) {
  let rows = [];
  return until(async () => test(rows = await screen(page)) && rows,
               () => `${what}; the screen:\n${rows.join('\n')}`, timeoutMs);
}

// Whether the well's walls and floor stand whole at their positions.
export function wholeWell(rows) {
  for (let y = 0; y < WELL_ROWS; ++y)
    if (rows[y][0] !== WALL || rows[y][19] !== WALL)
      return false;
  return rows[WELL_ROWS].startsWith(WALL.repeat(20));
}

// ---- The engines ----------------------------------------------------------
// Chromium over its DevTools protocol and Firefox over WebDriver BiDi (no
// driver between), both through puppeteer-core; WebKitGTK through
// WebKitWebDriver over classic WebDriver, the only one it speaks, in a
// virtual display. A page has the verbs of a puppeteer page that the suite
// uses; LIMITS says what an engine cannot emulate.

// What an engine cannot be made to do here, and why: a case that needs it is skipped there.
export const LIMITS = {
  webkit: {
    devtools: 'only Chromium says whether a page is installable',
    touch: 'WebKitGTK emulates no touch screen, and its window is no narrower than a desktop\'s',
    zoom: 'classic WebDriver sets no pixel ratio',
    hide: 'a window behind another is not hidden on a virtual display with no window manager',
  },
  firefox: { devtools: 'only Chromium says whether a page is installable' },
};
// Why an engine here is too old for the suite's driver, or null: puppeteer-core
// drives Firefox from 129 on.
export function tooOld(name, programs) {
  if (name !== 'firefox')
    return null;
  const version = String(execFileSync(programs[0], ['--version'])).match(/(\d+)\.\d/)?.[1];
  return Number(version) >= 129 ? null : `Firefox ${version} is older than 129, the first puppeteer-core drives`;
}
// The programs each engine takes, in the order they are given.
export const PROGRAMS = { chromium: ['chromium'], firefox: ['firefox'],
                          webkit: ['WebKitWebDriver', 'xvfb-run', 'MiniBrowser'] };

// The system's browser, started headless by puppeteer-core in a profile of
// its own. A tab behind another is hidden and throttled, as a background
// tab is, and scroll bars take their room, as on a desktop: puppeteer's
// switches that change either are left out.
export function launch(nodeModules, name, executablePath) {
  const puppeteer = createRequire(join(resolve(nodeModules), 'noop.js'))('puppeteer-core');
  return puppeteer.launch(name === 'firefox' ? {
    browser: 'firefox', executablePath, headless: true,
    // Firefox emulates no touch per tab: its profile has a touch screen
    // beside the mouse, for every page.
    extraPrefsFirefox: { 'dom.w3c_touch_events.enabled': 1, 'ui.allPointerCapabilities': 7 },
  } : {
    executablePath, headless: true,
    // CI runs as root, with no display. Each new window's address bar
    // would load its popup's own web page in a renderer, a second of CPU on
    // a small machine that every page measured there would share.
    args: ['--no-sandbox', '--disable-gpu',
           '--disable-features=WebUIOmniboxPopup,WebUIOmniboxFullPopup,WebUIOmniboxAimPopup'],
    ignoreDefaultArgs: ['--disable-background-timer-throttling', '--disable-backgrounding-occluded-windows',
                        '--disable-renderer-backgrounding', '--hide-scrollbars'],
  });
}

// WebDriver's key values for the keys the suite presses.
const keyValues = { ArrowLeft: '\uE012', ArrowUp: '\uE013', ArrowRight: '\uE014', ArrowDown: '\uE015',
                    Escape: '\uE00C', Enter: '\uE007', PageDown: '\uE00F', Backspace: '\uE003' };

// WebKitGTK's MiniBrowser under WebKitWebDriver in a virtual display. The
// driver acts on one window at a time: each page's verbs first make its
// window the current one.
async function webkit(driver, xvfbRun, miniBrowser) {
  const port = await new Promise((done) => { // a free one
    const probe = createNetServer().listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => done(port));
    });
  });
  const child = spawn(xvfbRun, ['-a', '-s', '-screen 0 1600x1300x24', driver, `--port=${port}`],
                      { stdio: 'ignore', detached: true });
  const command = async (method, path, body) => {
    const answer = await fetch(`http://127.0.0.1:${port}/${path}`, { method, body: body && JSON.stringify(body) });
    const { value } = await answer.json();
    if (value?.error)
      throw new Error(`${path}: ${value.error}: ${value.message}`);
    return value;
  };
  const { sessionId } = await until(() => command('POST', 'session', { capabilities: { alwaysMatch: {
    'webkitgtk:browserOptions': { binary: miniBrowser, args: ['--automation'] } } } }), 'WebKitWebDriver');
  const session = (method, path, body) => command(method, `session/${sessionId}/${path}`, body);
  const home = await session('GET', 'window');
  const newPage = async ({ width = 560, height = 640 } = {}) => {
    const handle = (await session('POST', 'window/new', { type: 'window' })).handle;
    const on = (f) => async (...args) => { await session('POST', 'window', { handle }); return f(...args); };
    const actions = on((list) => session('POST', 'actions', { actions: list }));
    const key = (type) => (name) => actions([{ type: 'key', id: 'keyboard',
                                               actions: [{ type, value: keyValues[name] ?? name }] }]);
    let size;
    const page = {
      evaluate: on((f, ...args) => session('POST', 'execute/async', {
        script: `const done = arguments[arguments.length - 1];
                 (async () => (${f})(...${JSON.stringify(args)}))().then(done, (e) => done({ thrown: String(e) }));`,
        args: [] }).then((value) => (value?.thrown ? Promise.reject(new Error(value.thrown)) : value))),
      goto: on((url) => session('POST', 'url', { url })),
      keyboard: { down: key('keyDown'), up: key('keyUp'),
                  press: async (name) => { await key('keyDown')(name); await key('keyUp')(name); } },
      click: on(async (selector) => {
        const found = await session('POST', 'element', { using: 'css selector', value: selector });
        await session('POST', `element/${Object.values(found)[0]}/click`, {});
      }),
      screenshot: on(async ({ path }) => writeFile(path, Buffer.from(await session('GET', 'screenshot'), 'base64'))),
      viewport: () => size,
      // The window's outer size is what the driver sets: set it, see what
      // the page got, and make up the difference.
      setViewport: on(async ({ width, height }) => {
        size = { width, height };
        for (let i = 0; i < 3; ++i) {
          const inner = await page.evaluate(() => ({ width: innerWidth, height: innerHeight }));
          if (inner.width === width && inner.height === height)
            break;
          const outer = await session('GET', 'window/rect');
          await session('POST', 'window/rect', { width: outer.width + width - inner.width,
                                                 height: outer.height + height - inner.height });
        }
      }),
      // The driver opens no window while its current one is closed: the first becomes it again.
      close: on(async () => { await session('DELETE', 'window'); await session('POST', 'window', { handle: home }); }),
    };
    await page.setViewport({ width, height });
    return page;
  };
  const close = async () => {
    await Promise.race([command('DELETE', `session/${sessionId}`).catch(() => {}), sleep(5000)]);
    try { process.kill(-child.pid); } catch { /* gone already */ }
  };
  return { newPage, close };
}

// An engine started headless: { name, newPage(options), close() }, its
// programs at the paths given. newPage takes { width, height, touch, zoom },
// as far as LIMITS allow, and `fresh`, a browser context of its own where the
// engine has them (closed with the page).
export async function startEngine(name, nodeModules, programs) {
  if (name === 'webkit')
    return { name, ...await webkit(...programs) };
  const browser = await launch(nodeModules, name, programs[0]);
  return {
    name,
    newPage: async ({ width = 560, height = 640, touch = false, zoom = 1, fresh = false } = {}) => {
      const context = fresh ? await browser.createBrowserContext() : browser;
      const page = await context.newPage();
      await page.setViewport({ width, height, hasTouch: touch, deviceScaleFactor: zoom });
      if (fresh)
        page.close = () => context.close();
      return page;
    },
    close: () => browser.close(),
  };
}

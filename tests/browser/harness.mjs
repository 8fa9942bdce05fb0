// The web page in a browser: a static server for the page's folder on a
// loopback port, the three engines driven through WebDriver (Chromium and
// Firefox over BiDi, WebKitGTK over classic WebDriver, the one its driver
// speaks), chromium through Playwright for the measurements, and the
// terminal's screen read back as rows of text. Shared by the browser suite
// and the page's measurements.
import { spawn } from 'node:child_process';
import { createServer } from 'node:http';
import { createServer as createNetServer } from 'node:net';
import { existsSync } from 'node:fs';
import { mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
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

// ---- The engines, through WebDriver -------------------------------------
// Each engine is the one Debian ships, driven through a standard protocol:
// Chromium through chromedriver and Firefox by itself over WebDriver BiDi
// (Debian has no geckodriver, and BiDi emulates a phone per tab: its size,
// pixel ratio and touch), WebKitGTK through WebKitWebDriver over classic
// WebDriver, the only one it speaks, in a virtual display. A page has the
// same few verbs on each; LIMITS says what an engine cannot emulate.

const freePort = () => new Promise((resolve) => {
  const probe = createNetServer().listen(0, '127.0.0.1', () => {
    const { port } = probe.address();
    probe.close(() => resolve(port));
  });
});
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
// A line of a process's output that matches `pattern`: its first group.
const announced = (stream, pattern) => new Promise((resolve, reject) => {
  let text = '';
  stream.on('data', (data) => {
    const found = (text += data).match(pattern);
    if (found)
      resolve(found[1]);
  });
  stream.on('end', () => reject(new Error(`no ${pattern} in:\n${text}`)));
});

// WebDriver's key values for the keys the suite presses.
const keyValues = { ArrowLeft: '\uE012', ArrowUp: '\uE013', ArrowRight: '\uE014', ArrowDown: '\uE015',
                    Escape: '\uE00C', Enter: '\uE007', PageDown: '\uE00F', Space: ' ', Tab: '\uE004' };

// A BiDi session over its WebSocket: send() resolves to a command's result.
async function bidiSession(nodeModules, url) {
  const { WebSocket } = createRequire(join(resolve(nodeModules), 'noop.js'))('ws');
  const socket = new WebSocket(url);
  await new Promise((opened, failed) => { socket.once('open', opened); socket.once('error', failed); });
  const answers = new Map();
  let id = 0;
  socket.on('message', (data) => {
    const message = JSON.parse(data);
    answers.get(message.id)?.(message);
  });
  const send = (method, params = {}) => new Promise((done, failed) => {
    answers.set(++id, (m) => (m.type === 'error' ? failed(new Error(`${method}: ${m.message}`)) : done(m.result)));
    socket.send(JSON.stringify({ id, method, params }));
  });
  return { send, close: () => socket.close() };
}

// A page over BiDi, in its own tab.
async function bidiPage(send, touchEverywhere, { width = 560, height = 640, touch = false, zoom = 1 } = {}) {
  const { context } = await send('browsingContext.create', { type: 'tab' });
  const call = async (source) => {
    const { result, exceptionDetails } = await send('script.evaluate', {
      expression: `(async () => JSON.stringify(await (${source})))()`, target: { context }, awaitPromise: true });
    if (exceptionDetails)
      throw new Error(exceptionDetails.text);
    return result.value === undefined ? undefined : JSON.parse(result.value);
  };
  const page = {
    context,
    call,
    goto: (url) => send('browsingContext.navigate', { context, url, wait: 'complete' }),
    actions: (actions) => send('input.performActions', { context, actions }),
    viewport: async (size, ratio = zoom) => {
      await send('browsingContext.setViewport', { context, viewport: size, devicePixelRatio: ratio });
    },
    screenshot: async (path) => writeFile(path, Buffer.from((await send('browsingContext.captureScreenshot',
                                                                        { context })).data, 'base64')),
    front: () => send('browsingContext.activate', { context }),
    // Chromium's own DevTools, which chromedriver lets through.
    devtools: async (method, params = {}) => (await send('goog:cdp.sendCommand', {
      method, params, session: (await send('goog:cdp.getSession', { context })).session })).result,
    close: () => send('browsingContext.close', { context }),
  };
  if (touch && !touchEverywhere)
    await send('emulation.setTouchOverride', { contexts: [context], maxTouchPoints: 5 });
  await page.viewport({ width, height });
  return page;
}

// A page over classic WebDriver, in a window of its own; the driver acts on
// one window at a time, so each verb first makes its window the current one.
async function classicPage(command, home, { width = 560, height = 640 } = {}) {
  const handle = home ? (await command('POST', 'window/new', { type: 'window' })).handle : await command('GET', 'window');
  const on = (f) => async (...args) => { await command('POST', 'window', { handle }); return f(...args); };
  const page = {
    call: on((source) => command('POST', 'execute/async', {
      script: `const done = arguments[0]; (async () => (${source}))().then(done, (e) => done({ thrown: String(e) }));`,
      args: [] }).then((value) => (value?.thrown ? Promise.reject(new Error(value.thrown)) : value))),
    goto: on((url) => command('POST', 'url', { url })),
    actions: on((actions) => command('POST', 'actions', { actions })),
    // The window's outer size is what the driver sets: set it, see what the
    // page got, and make up the difference.
    viewport: on(async (size) => {
      for (let i = 0, inner = size; i < 3; ++i) {
        const outer = await command('GET', 'window/rect');
        await command('POST', 'window/rect', { width: outer.width + size.width - inner.width,
                                               height: outer.height + size.height - inner.height });
        inner = await page.call('({ width: innerWidth, height: innerHeight })');
        if (inner.width === size.width && inner.height === size.height)
          break;
      }
    }),
    screenshot: on(async (path) => writeFile(path, Buffer.from(await command('GET', 'screenshot'), 'base64'))),
    front: on(() => {}),
    // The driver opens no window while its current one is closed: the first becomes it again.
    close: on(async () => { await command('DELETE', 'window'); await command('POST', 'window', { handle: home }); }),
  };
  await page.viewport({ width, height });
  return page;
}

// The verbs a test uses, on top of the protocol's: evaluate as on a
// Playwright page, keys, clicks and touches at an element's middle.
function verbs(page) {
  const key = (type) => (name) => page.actions([{ type: 'key', id: 'keyboard',
                                                  actions: [{ type, value: keyValues[name] ?? name }] }]);
  const pointer = (type, actions) => page.actions([{ type: 'pointer', id: type, parameters: { pointerType: type },
                                                     actions }]);
  const middle = (selector) => page.call(`(() => { const r = document.querySelector(${JSON.stringify(selector)})
    .getBoundingClientRect(); return { x: Math.round(r.x + r.width / 2), y: Math.round(r.y + r.height / 2) }; })()`);
  const at = async (selector) => ({ type: 'pointerMove', ...(await middle(selector)), origin: 'viewport' });
  return Object.assign(page, {
    evaluate: (f, arg) => page.call(`(${f})(${JSON.stringify(arg)})`),
    keyboard: { down: key('keyDown'), up: key('keyUp'),
                press: async (name) => { await key('keyDown')(name); await key('keyUp')(name); } },
    click: async (selector) => pointer('mouse', [await at(selector), { type: 'pointerDown', button: 0 },
                                                  { type: 'pointerUp', button: 0 }]),
    touch: async (selector, hold) => pointer('touch', [await at(selector), { type: 'pointerDown', button: 0 },
                                                        ...(hold ? [] : [{ type: 'pointerUp', button: 0 }])]),
    release: () => pointer('touch', [{ type: 'pointerUp', button: 0 }]),
    // Polls `f` in the page until it answers something true; returns that.
    until: async (f, arg, what, timeoutMs = 15000) => {
      for (const end = Date.now() + timeoutMs; ; await sleep(50)) {
        const value = await page.evaluate(f, arg).catch(() => null);
        if (value)
          return value;
        if (Date.now() > end)
          throw new Error(`timed out waiting for ${what}`);
      }
    },
  });
}

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
const programs = { chromium: ['chromium', 'chromedriver'], firefox: ['firefox-esr'],
                   webkit: ['WebKitWebDriver', 'xvfb-run', '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser'] };

// Where a program is, on PATH or at its own path; undefined when it is not here.
const which = (program) => (program.startsWith('/') ? [''] : (process.env.PATH ?? '').split(':'))
  .map((folder) => join(folder, program)).find((path) => existsSync(path));
// The programs an engine needs that are not here.
export const missingPrograms = (name) => programs[name].filter((program) => !which(program));

// An engine started headless in a profile of its own: { name, newPage(options), close() }.
// newPage takes { width, height, touch, zoom }, as far as LIMITS allow.
export async function startEngine(name, nodeModules) {
  const profile = await mkdtemp(join(tmpdir(), `blockfall-${name}-`));
  const children = [];
  const run = (program, args, options) => {
    const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'], detached: true, ...options });
    children.push(child);
    return child;
  };
  let newPage, end = () => {};
  if (name === 'webkit') {
    const port = await freePort();
    run('xvfb-run', ['-a', '-s', '-screen 0 1600x1300x24', 'WebKitWebDriver', `--port=${port}`]);
    const base = `http://127.0.0.1:${port}`;
    const command = async (method, path, body) => {
      const answer = await fetch(`${base}/${path}`, { method, body: body && JSON.stringify(body) });
      const { value } = await answer.json();
      if (value?.error)
        throw new Error(`${path}: ${value.error}: ${value.message}`);
      return value;
    };
    let session;
    for (let tries = 0; !session; ++tries, await sleep(200)) {
      session = await command('POST', 'session', { capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': {
        binary: programs.webkit[2], args: ['--automation'] } } } }).catch((e) => { if (tries > 50) throw e; });
    }
    const inSession = (method, path, body) => command(method, `session/${session.sessionId}/${path}`, body);
    let home;
    newPage = async (options) => {
      const page = await classicPage(inSession, home, options);
      home ??= await inSession('GET', 'window');
      return page;
    };
    end = () => command('DELETE', `session/${session.sessionId}`).catch(() => {});
  } else {
    let send, socket;
    if (name === 'chromium') {
      const port = await freePort();
      run('chromedriver', [`--port=${port}`]);
      let answer;
      for (let tries = 0; !answer; ++tries, await sleep(100)) {
        answer = await fetch(`http://127.0.0.1:${port}/session`, { method: 'POST', body: JSON.stringify({
          capabilities: { alwaysMatch: { webSocketUrl: true, 'goog:chromeOptions': {
            binary: which('chromium'),
            args: ['--headless', '--no-sandbox', '--disable-gpu', `--user-data-dir=${profile}`] } } } }),
        }).then((r) => r.json()).catch((e) => { if (tries > 50) throw e; });
      }
      if (answer.value.error)
        throw new Error(`chromedriver: ${answer.value.message}`);
      ({ send, close: socket } = await bidiSession(nodeModules, answer.value.capabilities.webSocketUrl));
      end = () => fetch(`http://127.0.0.1:${port}/session/${answer.value.sessionId}`, { method: 'DELETE' });
    } else {
      // Firefox emulates no touch per tab: its profile has a touch screen
      // beside the mouse, for every page.
      await writeFile(join(profile, 'user.js'), ['user_pref("dom.w3c_touch_events.enabled", 1);',
                                                 'user_pref("ui.allPointerCapabilities", 7);'].join('\n'));
      const firefox = run('firefox-esr', ['--headless', '--no-remote', '--profile', profile,
                                          '--remote-debugging-port=0']);
      const url = await announced(firefox.stderr, /WebDriver BiDi listening on (ws:\S+)/);
      ({ send, close: socket } = await bidiSession(nodeModules, `${url}/session`));
      await send('session.new', { capabilities: {} });
      end = () => send('session.end').catch(() => {});
    }
    const first = (await send('browsingContext.getTree')).contexts[0].context;
    newPage = (options) => bidiPage(send, name === 'firefox', options);
    const stop = end;
    end = async () => { await send('browsingContext.close', { context: first }).catch(() => {}); await stop(); socket(); };
  }
  return {
    name,
    newPage: async (options) => verbs(await newPage(options)),
    close: async () => {
      await Promise.race([end(), sleep(5000)]);
      for (const child of children) {
        try { process.kill(-child.pid); } catch { /* gone already */ }
      }
      await sleep(300);
      await rm(profile, { recursive: true, force: true });
    },
  };
}

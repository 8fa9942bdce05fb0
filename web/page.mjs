// The page around the game: the grid of cells it plays on, its keys from
// the keyboard and from the on-screen buttons, the game's clock, and what
// the page says at each step (loading, playing, the prompt, the end, a
// failure). platform/web/web.cpp is the game's side; it reaches this one
// through Module.blockfall, the `page` record below.

const root = document.documentElement;
root.classList.add('scripted'); // the line for a page whose script never ran stays hidden
const $ = (id) => document.getElementById(id);
const status = $('status');
const grid = $('screen');
const again = $('again');

// ---- What the page says ------------------------------------------------

const touchScreen = matchMedia('(any-pointer: coarse)');
const says = {
  get playing() {
    return touchScreen.matches ? 'Hold Left or Right to move; Turn turns, Down pushes down, End ends the game.'
                               : 'Left and Right move, Up turns, Down pushes down, Escape ends the game.';
  },
  prompt: 'Game over. Press Enter (or the Enter button) to end it.',
  ended: 'The game has ended. Play again (Enter or Space) starts a new one.',
};
function show(phase, text = says[phase]) {
  root.dataset.phase = phase;
  status.textContent = text;
}
// The first failure is the one to mend; what follows from it is noise.
function fail(text) {
  if (root.dataset.phase !== 'failed')
    show('failed', text);
}
const rebuild = "reload the page; if that fails, build the page's folder again as docs/web.md says.";
addEventListener('error', (event) => fail(`The game failed (${event.message}): ${rebuild}`));
addEventListener('unhandledrejection', (event) => fail(`The game failed (${event.reason}): ${rebuild}`));

// ---- The screen ----------------------------------------------------------
// The game's cells as rows of text: each row reads as a terminal would show
// it, the wall's shade and the blocks as their characters, which the style
// sheet draws as cells of their own (spans). What is typed at the prompt
// shows after it, as the terminal's line input shows it.

const glyphs = { 0: ' ', 178: '\u2593', 219: '\u2588' }; // blank, the wall's shade, a block
const kinds = { 178: 'wall', 219: 'block' };
const screen = { codes: [], cursor: [-1, -1], typed: '' };
function drawRow(y) {
  const codes = screen.codes[y];
  const [cursorX, cursorY] = screen.cursor;
  const at = y === cursorY ? cursorX : -1;
  const parts = [];
  let text = '';
  for (let x = 0; x < codes.length; ++x) {
    const typed = at >= 0 && x >= at ? screen.typed[x - at] : undefined;
    const code = codes[x];
    const char = typed ?? glyphs[code] ?? (code >= 32 && code < 127 ? String.fromCharCode(code) : '?');
    const kind = x === at + screen.typed.length ? 'cursor' : typed === undefined && kinds[code];
    if (kind) {
      const cell = document.createElement('span');
      cell.className = kind;
      cell.textContent = char;
      parts.push(...(text ? [text] : []), cell);
      text = '';
    } else {
      text += char;
    }
  }
  grid.children[y].replaceChildren(...parts, text);
}
// At the prompt a character typed shows after it, as far as the row's last
// column but one, and Backspace takes one back; true when the key was one of those.
function type(key) {
  const [x, y] = screen.cursor;
  if (y < 0 || (key.length !== 1 && key !== 'Backspace'))
    return false;
  if (key === 'Backspace')
    screen.typed = screen.typed.slice(0, -1);
  else if (x + screen.typed.length < screen.codes[y].length - 1)
    screen.typed += key;
  drawRow(y);
  return true;
}
// A grid of the game's size, before its first frame: the page has its
// layout at once. A game's first frame draws every row, so a grid of the
// right size is kept: from one game to the next, and the one the page was
// built with, which holds the game's first screen (web/shell.mjs).
function makeGrid(columns, rows) {
  screen.cursor = [-1, -1];
  screen.typed = '';
  if (screen.codes.length === rows && screen.codes[0].length === columns)
    return;
  grid.style.setProperty('--columns', columns);
  grid.style.setProperty('--rows', rows);
  screen.codes = Array.from({ length: rows }, () => new Uint8Array(columns).fill(32));
  if (grid.children.length === rows && [...grid.children].every((row) => row.textContent.length === columns))
    return;
  grid.replaceChildren(...screen.codes.map(() => document.createElement('div')));
  screen.codes.forEach((_, y) => drawRow(y));
}

// ---- The page's side of the backend ------------------------------------

const page = {
  keys: [],       // key events queued for the game's next look at its keys
  playing: false, // a game runs: the keys go to it
  drawn: false,   // the game has drawn a frame on this page
  // A new game: a blank grid, nothing typed before it, the keyboard with it.
  // The grid's columns: the game's, and two more for the cursor and the
  // line after the prompt, which fills a row of the game's width.
  open(columns, rows) {
    makeGrid(columns + 2, rows);
    page.keys.length = 0;
    page.playing = true;
    show('playing');
    grid.focus();
    return columns + 2;
  },
  // A frame's changed rows ([y, codes]) and the cursor ([-1, -1] hidden).
  draw(rows, cursorX, cursorY) {
    if (!page.drawn) { // the page's own mark of the game's first frame, for its measurements
      page.drawn = true;
      performance.mark('blockfall first frame');
    }
    screen.cursor = [cursorX, cursorY];
    for (const [y, codes] of rows) {
      screen.codes[y] = codes;
      drawRow(y);
    }
    offline();
  },
  // The rows as text, as the player reads them (and the browser suite).
  text: () => [...grid.children].map((row) => row.textContent),
  prompting: () => show('prompt'),
  ended() {
    page.playing = false;
    show('ended');
    again.focus();
    offline().then((registration) => registration?.update()).catch(() => {}); // a good time to look
  },
  clock: () => (hiddenSince ?? Date.now()) - hiddenFor,
  // A pause on the page's timer; one that ends on a hidden page ends when
  // the page shows again.
  pause: (ms) => new Promise((resume) => setTimeout(() => {
    if (document.hidden)
      waitingToShow.push(resume);
    else
      resume();
  }, ms)),
};

// ---- Keys --------------------------------------------------------------

// The keys the game knows, by the Windows virtual-key codes it polls: the
// same table as polledKeys with keyEnter in platform/platform.h, where any
// key added goes first. Enter answers the game's closing prompt.
const codes = { ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28,
                Escape: 0x1b, Enter: 0x0d };
const keyDownFlag = 0x10000; // added to a code for a key-down
const allKeysUp = 0;         // every key is up: their key-ups go elsewhere now
function send(code, down) {
  if (page.playing)
    page.keys.push(down ? code | keyDownFlag : code);
}
// What the browser keeps while the game plays: moving the focus, its own shortcuts.
const browsers = (event) => event.key === 'Tab' || event.ctrlKey || event.altKey ||
                            event.metaKey || /^F\d+$/.test(event.key);
const control = (target) => target instanceof Element &&
                            target.closest('button, a, summary, input, select, textarea');

// ---- The game's clock --------------------------------------------------
// A hidden page is a suspended game: its pause lasts until the page shows
// again and its clock stands meanwhile, so that the game's pacing does not
// take the time away for a slow machine; and every key is let go.

let hiddenFor = 0; // ms the page spent hidden
let hiddenSince = document.hidden ? Date.now() : null;
const waitingToShow = []; // pauses that end when it shows
document.addEventListener('visibilitychange', () => {
  if (document.hidden) {
    hiddenSince = Date.now();
    send(allKeysUp, false);
  } else if (hiddenSince !== null) {
    hiddenFor += Date.now() - hiddenSince;
    hiddenSince = null;
    for (const resume of waitingToShow.splice(0))
      resume();
  }
});

// ---- Offline, and the next version ------------------------------------
// The service worker keeps every file of the page, so that it plays
// without a network after one visit. Where none can run (a private window,
// a browser that refuses it) the page plays as before, online. A newer
// version, once installed, waits for the next game: it never replaces the
// page in the middle of one.

let newer = null; // the installed worker of a newer version, waiting
function offerNewer(worker) {
  newer = worker;
  $('update').hidden = false;
}
async function keepOffline() {
  const registration = await navigator.serviceWorker.register('sw.js');
  // Newer than the worker that controls the page: on a first visit the one
  // worker may tell it is installed only once it controls the page already.
  const watch = (worker) => worker?.addEventListener('statechange', () => {
    const controller = navigator.serviceWorker.controller;
    if (worker.state === 'installed' && controller && controller !== worker)
      offerNewer(worker);
  });
  if (registration.waiting && navigator.serviceWorker.controller)
    offerNewer(registration.waiting);
  watch(registration.installing);
  registration.addEventListener('updatefound', () => watch(registration.installing));
  return registration;
}
// Asked for once the game shows its first frame: the worker's install
// fetches every file again, which would only slow a first visit down.
let kept = null;
const offline = () => (kept ??= navigator.serviceWorker && location.protocol !== 'file:'
  ? keepOffline().catch(() => null) : Promise.resolve(null));
// Between games: the waiting version takes over, and the page loads anew
// from it, which starts the next game. False when there is none.
function takeNewer() {
  if (newer?.state !== 'installed') { // none, or it has taken over already
    $('update').hidden = true;
    return false;
  }
  navigator.serviceWorker.addEventListener('controllerchange', () => location.reload());
  newer.postMessage('take over');
  return true;
}

// ---- Start -------------------------------------------------------------

if (location.protocol === 'file:')
  fail('This page was opened from a file, where no game can run: serve its folder instead, ' +
       'as docs/web.md says (python3 -m http.server -d build/web).');
else if (typeof WebAssembly !== 'object')
  fail('This browser cannot run WebAssembly, which the game is made of: open the page in a ' +
       'current browser, or turn WebAssembly on.');
else
  start();

function start() {
  // The game's code is compiled as it arrives (a server that does not call
  // it application/wasm gets it compiled once whole).
  const compiled = fetch('blockfall.wasm').then(async (response) => {
    if (!response.ok)
      throw new Error(`HTTP ${response.status}`);
    const whole = response.clone();
    return WebAssembly.compileStreaming(response).catch(async (error) => {
      if (error instanceof WebAssembly.CompileError)
        throw error;
      return WebAssembly.compile(await whole.arrayBuffer());
    });
  }).catch((error) => {
    // Each engine words a damaged file its own way; the page says which it is.
    const what = error instanceof WebAssembly.CompileError ? 'compiled' : 'loaded';
    fail(`The game (blockfall.wasm) could not be ${what} (${error.message}): ${rebuild}`);
    return new Promise(() => {});
  });

  makeGrid(28, 21); // as the game will open it

  grid.addEventListener('focus', () => { root.dataset.focus = 'game'; });
  grid.addEventListener('blur', () => {
    root.dataset.focus = 'away';
    send(allKeysUp, false);
  });
  // The next click or key anywhere gives the game the keyboard back; a key
  // it knows counts as played. A button or a link keeps its own click.
  document.addEventListener('click', (event) => {
    if (page.playing && !control(event.target))
      grid.focus();
  });
  // While a game runs no key scrolls the page or reaches anything else. A
  // repeated Enter is the one that started this game, still held down, and
  // not one typed in it.
  document.addEventListener('keydown', (event) => {
    const activates = event.key === 'Enter' || event.key === ' ';
    if (event.repeat && root.dataset.phase === 'ended')
      return event.preventDefault(); // the Enter that ended the game, still held, plays no new one
    if (browsers(event) || (activates && control(event.target)))
      return;
    if (page.playing) {
      event.preventDefault();
      grid.focus();
      const code = codes[event.key];
      if (!(root.dataset.phase === 'prompt' && type(event.key)) && code !== undefined &&
          !(event.repeat && code === codes.Enter))
        send(code, true);
    } else if (root.dataset.phase === 'ended' && activates) {
      event.preventDefault();
      again.click();
    }
  });
  document.addEventListener('keyup', (event) => {
    if (page.playing && !browsers(event) && codes[event.key] !== undefined) {
      event.preventDefault();
      send(codes[event.key], false);
    }
  });

  // The buttons are keys: a pointer down is the key-down; up, cancelled or
  // off the button, the key-up. The capture brings a finger's key-up here
  // wherever it lifts, and each finger holds its own button.
  for (const button of document.querySelectorAll('#pad [data-key]')) {
    const code = codes[button.dataset.key];
    const pointers = new Set(); // the pointers holding it down
    const press = (down) => {
      button.classList.toggle('held', down);
      send(code, down);
    };
    const letGo = (event) => {
      if (pointers.delete(event.pointerId) && pointers.size === 0)
        press(false);
    };
    button.addEventListener('pointerdown', (event) => {
      event.preventDefault(); // the keyboard stays with the game
      button.setPointerCapture(event.pointerId);
      if (pointers.size === 0)
        press(true);
      pointers.add(event.pointerId);
    });
    for (const type of ['pointerup', 'pointercancel', 'lostpointercapture'])
      button.addEventListener(type, letGo);
    button.addEventListener('pointermove', (event) => {
      const r = button.getBoundingClientRect();
      if (event.clientX < r.left || event.clientX >= r.right || event.clientY < r.top ||
          event.clientY >= r.bottom)
        letGo(event);
    });
    // Pressed from the keyboard or by a screen reader: a tap.
    button.addEventListener('click', (event) => {
      if (event.detail === 0) {
        send(code, true);
        send(code, false);
      }
    });
  }
  // A long press is a held key, not a menu.
  $('pad').addEventListener('contextmenu', (event) => event.preventDefault());

  // A new game in the same page: main runs again on the same runtime.
  // A newer version waiting takes over first, and plays the next game.
  again.addEventListener('click', () => {
    if (root.dataset.phase === 'ended' && !takeNewer())
      window.Module.callMain([]);
  });

  // ---- The game ----------------------------------------------------------

  window.blockfall = page;
  window.Module = {
    blockfall: page,
    instantiateWasm(imports, receive) {
      compiled.then((module) => WebAssembly.instantiate(module, imports)).then(receive);
      return {};
    },
    // The game writes there only when it cannot start.
    printErr: (text) => fail(`The game could not start: ${text}`),
  };
  const game = document.createElement('script');
  game.src = 'blockfall.js';
  game.onerror = () => fail(`The game (blockfall.js) could not be loaded: ${rebuild}`);
  document.body.append(game);
}

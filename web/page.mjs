// The page around the game: the terminal it plays on, its keys from the
// keyboard and from the on-screen buttons, the game's clock, and what the
// page says at each step (loading, playing, the prompt, the end, a
// failure). platform/web.cpp is the game's side; it reaches this one
// through Module.blockfall, the `page` record below.

const root = document.documentElement;
root.classList.add('scripted'); // the line for a page whose script never ran stays hidden
const $ = (id) => document.getElementById(id);
const status = $('status');
const well = $('well');
const frame = $('terminal');
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
const rebuild = "reload the page; if that fails, build the page's folder again as the README says.";
addEventListener('error', (event) => fail(`The game failed (${event.message}): ${rebuild}`));
addEventListener('unhandledrejection', (event) => fail(`The game failed (${event.reason}): ${rebuild}`));

// ---- The page's side of the backend ------------------------------------

const page = {
  terminal: null, // the xterm.js terminal the game draws on
  keys: [],       // key events queued for the game's next look at its keys
  playing: false, // a game runs: the keys go to it
  // A new game: nothing typed before it, the keyboard with it. 0 when the
  // terminal is smaller than the game.
  open(columns, rows) {
    if (page.terminal.cols < columns || page.terminal.rows < rows)
      return 0;
    page.keys.length = 0;
    page.playing = true;
    show('playing');
    page.terminal.focus();
    return 1;
  },
  prompting: () => show('prompt'),
  ended() {
    page.playing = false;
    page.terminal.write('\x1b[?25l'); // the prompt's cursor has had its say
    show('ended');
    again.focus();
    offline.then((registration) => registration?.update()).catch(() => {}); // a good time to look
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
const offline = navigator.serviceWorker && location.protocol !== 'file:' ? keepOffline().catch(() => null)
                                                                      : Promise.resolve(null);
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
       'as the README says (python3 -m http.server -d build/web).');
else if (typeof WebAssembly !== 'object')
  fail('This browser cannot run WebAssembly, which the game is made of: open the page in a ' +
       'current browser, or turn WebAssembly on.');
else
  start();

async function start() {
  // The game's code is fetched and compiled while the terminal is made.
  const compiled = fetch('blockfall.wasm').then(async (response) => {
    if (!response.ok)
      throw new Error(`HTTP ${response.status}`);
    return WebAssembly.compile(await response.arrayBuffer());
  }).catch((error) => {
    // Each engine words a damaged file its own way; the page says which it is.
    const what = error instanceof WebAssembly.CompileError ? 'compiled' : 'loaded';
    fail(`The game (blockfall.wasm) could not be ${what} (${error.message}): ${rebuild}`);
    return new Promise(() => {});
  });

  let Terminal;
  try {
    ({ Terminal } = await import('./xterm.mjs'));
  } catch (error) {
    return fail(`The terminal (xterm.mjs) could not be loaded (${error.message}): ${rebuild}`);
  }
  const terminal = new Terminal({ cols: 28, rows: 21, fontSize: 20, scrollback: 0,
                                  cursorBlink: false });
  terminal.open(frame);
  page.terminal = terminal;
  const input = terminal.textarea;
  // A touch screen plays on the buttons: no on-screen keyboard.
  input.setAttribute('inputmode', 'none');
  input.setAttribute('aria-label', 'The game: Left and Right move the piece, Up turns it, ' +
                     'Down pushes it down, Escape ends the game');

  // While the game has the keyboard, no key scrolls the page, and no key
  // goes to the terminal's own input. A repeated Enter is the one that
  // started this game, still held down, and not one typed in it.
  terminal.attachCustomKeyEventHandler((event) => {
    if (page.playing && !browsers(event)) {
      event.preventDefault();
      const code = codes[event.key];
      if (code !== undefined && event.type !== 'keypress' && !(event.repeat && code === codes.Enter))
        send(code, event.type === 'keydown');
    }
    return false;
  });
  input.addEventListener('focus', () => { root.dataset.focus = 'game'; });
  input.addEventListener('blur', () => {
    root.dataset.focus = 'away';
    send(allKeysUp, false);
  });
  // The next click or key anywhere gives the game the keyboard back; a key
  // it knows counts as played. A button or a link keeps its own click.
  document.addEventListener('click', (event) => {
    if (page.playing && !control(event.target))
      terminal.focus();
  });
  document.addEventListener('keydown', (event) => {
    const activates = event.key === 'Enter' || event.key === ' ';
    if (event.repeat && root.dataset.phase === 'ended')
      return event.preventDefault(); // the Enter that ended the game, still held, plays no new one
    if (event.target === input || browsers(event) || (activates && control(event.target)))
      return;
    if (page.playing) {
      event.preventDefault();
      terminal.focus();
      if (codes[event.key] !== undefined)
        send(codes[event.key], true);
    } else if (root.dataset.phase === 'ended' && activates) {
      event.preventDefault();
      again.click();
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
  for (const area of [well, $('pad')])
    area.addEventListener('contextmenu', (event) => event.preventDefault());

  // A new game in the same page: main runs again on the same runtime.
  // A newer version waiting takes over first, and plays the next game.
  again.addEventListener('click', () => {
    if (root.dataset.phase === 'ended' && !takeNewer())
      window.Module.callMain([]);
  });

  // The largest font at which the whole terminal fits the well's box, chosen
  // again whenever the box changes: a resized window, a turned phone, a zoom.
  // Cells are whole device pixels, so the size is checked, not only computed.
  new ResizeObserver(() => {
    const wide = frame.offsetWidth - terminal.element.offsetWidth;
    const high = frame.offsetHeight - terminal.element.offsetHeight;
    const scale = Math.min((well.clientWidth - wide) / terminal.element.offsetWidth,
                           (well.clientHeight - high) / terminal.element.offsetHeight);
    for (let size = Math.max(6, Math.min(48, Math.floor(terminal.options.fontSize * scale)));;
         --size) {
      terminal.options.fontSize = size;
      if (size === 6 || (frame.offsetWidth <= well.clientWidth && frame.offsetHeight <= well.clientHeight))
        break;
    }
  }).observe(well);

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

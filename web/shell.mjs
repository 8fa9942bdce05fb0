// The page's first screen, written into index.html when the page is built:
// the game runs here, in node, as far as its first frame, and the rows it
// draws become the grid's rows in the page's HTML, so that the well shows
// as soon as the page is parsed, before any script has run. Its blocks
// (the first piece, the next one) are left out: they are drawn by the game
// itself, at random, when it starts in the page.
//
// Usage: node shell.mjs blockfall.js blockfall.wasm index.html OUTPUT
import { readFileSync, writeFileSync } from 'node:fs';
import { runInNewContext } from 'node:vm';

const [script, wasm, html, output] = process.argv.slice(2);
const wall = 178;
const block = 219;

const frame = await new Promise((done, failed) => {
  let columns = 0;
  const rows = [];
  const page = {
    keys: [],
    open(gameColumns, count) {
      columns = gameColumns + 2; // as the page's grid: room for the cursor after the prompt
      for (let y = 0; y < count; ++y)
        rows.push(new Uint8Array(columns).fill(32));
      return columns;
    },
    draw(drawn) {
      for (const [y, codes] of drawn)
        rows[y] = codes;
      done(rows);
    },
    clock: () => 0,
    pause: () => new Promise(() => {}), // the game goes no further than its first frame
    prompting() {},
    ended() {},
  };
  const Module = {
    blockfall: page,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(readFileSync(wasm), imports).then(({ instance }) => receive(instance), failed);
      return {};
    },
    printErr: (text) => failed(new Error(text)),
  };
  runInNewContext(String(readFileSync(script)), {
    Module, WebAssembly, TextDecoder, performance, setTimeout, clearTimeout, console,
  });
});

// Each row as page.mjs draws it: a wall cell a span of its own, the text between as text.
const escape = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
const rowHtml = (codes) => {
  let out = '';
  let text = '';
  for (const code of codes) {
    if (code === wall) {
      out += `${escape(text)}<span class="wall">\u2593</span>`;
      text = '';
    } else {
      text += code === block || code < 32 || code >= 127 ? ' ' : String.fromCharCode(code);
    }
  }
  return `<div>${out}${escape(text)}</div>`;
};
const page = String(readFileSync(html));
const marker = '<!-- the first screen -->';
if (!page.includes(marker))
  throw new Error(`${html} has no ${marker}`);
writeFileSync(output, page.replace(marker, frame.map(rowHtml).join('')));

// Draws the page's icon as a PNG from the game's own two glyphs: a well of
// dark shade (the wall, its dots as the terminal draws them) holding a
// piece of full blocks, on the page's colours. "maskable" keeps the drawing
// inside the middle of the square, which a phone may cut to a circle.
//
// Usage: node icon.mjs SIZE [maskable] OUTPUT
import { writeFileSync } from 'node:fs';
import { deflateSync } from 'node:zlib';

const size = Number(process.argv[2]);
const maskable = process.argv[3] === 'maskable';
const output = process.argv.at(-1);
const background = [0x1b, 0x1b, 0x1b];
const ink = [0xd0, 0xd0, 0xd0];
// The well, eight cells a side: W the wall, B a block, . empty.
const well = ['W......W',
              'W..BBB.W',
              'W...B..W',
              'W......W',
              'W......W',
              'WB....BW',
              'WBB.BBBW',
              'WWWWWWWW'];
const margin = Math.round(size * (maskable ? 0.2 : 0.06));
const cell = (size - 2 * margin) / well.length;

// Whether pixel (x, y) is lit: a wall cell lights three dots in four, a block all.
function lit(x, y) {
  const [cx, cy] = [(x - margin) / cell, (y - margin) / cell];
  const kind = well[Math.floor(cy)]?.[Math.floor(cx)];
  if (kind === 'B')
    return true;
  if (kind !== 'W')
    return false;
  const dot = Math.max(1, Math.round(cell / 6));
  return !(Math.floor(x / dot) % 2 === 0 && Math.floor(y / dot) % 2 === 0);
}

const rows = [];
for (let y = 0; y < size; ++y) {
  const row = Buffer.alloc(1 + 3 * size); // filter byte 0: none
  for (let x = 0; x < size; ++x)
    row.set(lit(x, y) ? ink : background, 1 + 3 * x);
  rows.push(row);
}

const crcTable = Array.from({ length: 256 }, (_, n) => {
  for (let k = 0; k < 8; ++k)
    n = n & 1 ? 0xedb88320 ^ (n >>> 1) : n >>> 1;
  return n >>> 0;
});
const crc32 = (bytes) => (bytes.reduce((c, b) => crcTable[(c ^ b) & 0xff] ^ (c >>> 8), 0xffffffff) ^ 0xffffffff) >>> 0;
function chunk(type, data) {
  const typed = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(typed));
  return Buffer.concat([length, typed, crc]);
}
const header = Buffer.alloc(13);
header.writeUInt32BE(size, 0);
header.writeUInt32BE(size, 4);
header.set([8, 2, 0, 0, 0], 8); // 8 bits a channel, RGB, no interlace
writeFileSync(output, Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
                                     chunk('IHDR', header), chunk('IDAT', deflateSync(Buffer.concat(rows), { level: 9 })),
                                     chunk('IEND', Buffer.alloc(0))]));

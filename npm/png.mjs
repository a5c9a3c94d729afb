// Indexed PNG with the browser's own zlib streams (CompressionStream and
// DecompressionStream, in every browser since 2023 and in Node 18): written
// as the qlx command writes it, with all 256 palette entries in order, and
// read back with its indices, which the browser's own decoder gives up.

const SIGNATURE = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n += 1) {
    let c = n;
    for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = CRC_TABLE[(c ^ byte) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

async function throughStream(bytes, stream) {
  const blob = new Blob([bytes]).stream().pipeThrough(stream);
  return new Uint8Array(await new Response(blob).arrayBuffer());
}

function chunk(type, data) {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; i += 1) out[4 + i] = type.charCodeAt(i);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
  return out;
}

// An indexed 8-bit PNG of `indices` (width * height, top row first) with
// `palette` (256 [red, green, blue] entries) as its PLTE, and a tRNS that
// makes `transparentIndex` transparent when it is 0-255.
export async function indexedPng(indices, width, height, palette, transparentIndex = -1) {
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header.set([8, 3, 0, 0, 0], 8);
  const plte = new Uint8Array(768);
  palette.forEach((rgb, i) => plte.set(rgb, 3 * i));
  const rows = new Uint8Array(height * (width + 1));
  for (let y = 0; y < height; y += 1) rows.set(indices.subarray(y * width, (y + 1) * width), y * (width + 1) + 1);
  const parts = [Uint8Array.from(SIGNATURE), chunk('IHDR', header), chunk('PLTE', plte)];
  if (transparentIndex >= 0 && transparentIndex <= 255) {
    const alphas = new Uint8Array(transparentIndex + 1).fill(255);
    alphas[transparentIndex] = 0;
    parts.push(chunk('tRNS', alphas));
  }
  parts.push(chunk('IDAT', await throughStream(rows, new CompressionStream('deflate'))), chunk('IEND', new Uint8Array()));
  const file = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    file.set(part, at);
    at += part.length;
  }
  return file;
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a);
  const pb = Math.abs(p - b);
  const pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the filters of `count` rows of `rowBytes` bytes each, starting at
// `at` in `data`; gives the rows and where the next pass starts.
function unfilter(data, at, count, rowBytes, bytesPerPixel) {
  const rows = new Uint8Array(count * rowBytes);
  for (let y = 0; y < count; y += 1) {
    const filter = data[at];
    if (filter === undefined || filter > 4) throw new Error('PNG data is corrupt');
    const row = rows.subarray(y * rowBytes, (y + 1) * rowBytes);
    const above = y > 0 ? rows.subarray((y - 1) * rowBytes, y * rowBytes) : new Uint8Array(rowBytes);
    for (let x = 0; x < rowBytes; x += 1) {
      const raw = data[at + 1 + x];
      if (raw === undefined) throw new Error('PNG data is cut short');
      const left = x >= bytesPerPixel ? row[x - bytesPerPixel] : 0;
      const corner = x >= bytesPerPixel ? above[x - bytesPerPixel] : 0;
      const predictor = [0, left, above[x], (left + above[x]) >> 1, paeth(left, above[x], corner)][filter];
      row[x] = (raw + predictor) & 255;
    }
    at += 1 + rowBytes;
  }
  return { rows, next: at };
}

const ADAM7 = [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]];

// The indices of an indexed PNG (colour type 3, any depth, interlaced or
// not) with its palette and each entry's alpha, or null for any other PNG.
// Throws for a PNG it cannot read.
export async function readIndexedPng(bytes) {
  if (bytes.length < 33 || SIGNATURE.some((byte, i) => bytes[i] !== byte)) return null;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let width = 0;
  let height = 0;
  let depth = 0;
  let interlaced = false;
  let palette = null;
  let alphas = new Uint8Array();
  const idat = [];
  for (let at = 8; at + 12 <= bytes.length;) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    const data = bytes.subarray(at + 8, at + 8 + length);
    if (data.length !== length) throw new Error('PNG data is cut short');
    if (type === 'IHDR') {
      if (bytes[at + 17] !== 3) return null;
      width = view.getUint32(at + 8);
      height = view.getUint32(at + 12);
      depth = bytes[at + 16];
      interlaced = bytes[at + 20] === 1;
    } else if (type === 'PLTE') {
      palette = Array.from({ length: Math.floor(length / 3) }, (_, i) => [...data.subarray(3 * i, 3 * i + 3)]);
    } else if (type === 'tRNS') {
      alphas = data.slice();
    } else if (type === 'IDAT') {
      idat.push(data);
    } else if (type === 'IEND') {
      break;
    }
    at += 12 + length;
  }
  if (!palette || width === 0 || height === 0 || ![1, 2, 4, 8].includes(depth)) throw new Error('PNG data is corrupt');
  const compressed = new Uint8Array(idat.reduce((sum, part) => sum + part.length, 0));
  idat.reduce((at, part) => (compressed.set(part, at), at + part.length), 0);
  const data = await throughStream(compressed, new DecompressionStream('deflate'));

  const indices = new Uint8Array(width * height);
  const mask = (1 << depth) - 1;
  let at = 0;
  for (const [x0, y0, dx, dy] of interlaced ? ADAM7 : [[0, 0, 1, 1]]) {
    const passWidth = Math.ceil((width - x0) / dx);
    const passHeight = Math.ceil((height - y0) / dy);
    if (passWidth <= 0 || passHeight <= 0) continue;
    const rowBytes = Math.ceil((passWidth * depth) / 8);
    const { rows, next } = unfilter(data, at, passHeight, rowBytes, 1);
    at = next;
    for (let y = 0; y < passHeight; y += 1) {
      for (let x = 0; x < passWidth; x += 1) {
        const bit = x * depth;
        const value = (rows[y * rowBytes + (bit >> 3)] >> (8 - depth - (bit & 7))) & mask;
        indices[(y0 + y * dy) * width + x0 + x * dx] = value;
      }
    }
  }
  const alpha = palette.map((_, i) => (i < alphas.length ? alphas[i] : 255));
  return { width, height, indices, palette, alpha };
}

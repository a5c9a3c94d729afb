// PNG with the browser's own zlib streams (CompressionStream and
// DecompressionStream, in every browser since 2023 and in Node 18): indexed
// PNG written as the qlx command writes it, with all 256 palette entries in
// order; and every PNG read as the command reads it, indices kept and alpha
// exact, which the browser's own decoder gives up (a canvas premultiplies
// alpha, and loses the colour under it).

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
const CHANNELS = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };
const DEPTHS = { 0: [1, 2, 4, 8, 16], 2: [8, 16], 3: [1, 2, 4, 8], 4: [8, 16], 6: [8, 16] };

// The chunks of a PNG, every CRC checked (a damaged tRNS would change the
// picture, so no chunk is let through), as the qlx command reads them.
// Throws in the command's words; null for bytes that are no PNG.
function readChunks(bytes) {
  if (bytes.length < 8 || SIGNATURE.some((byte, i) => bytes[i] !== byte)) return null;
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const chunks = [];
  for (let at = 8; at < bytes.length;) {
    if (bytes.length - at < 12) throw new Error('PNG data is cut short');
    const length = view.getUint32(at);
    if (length > bytes.length - at - 12) throw new Error('PNG data is cut short');
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    if (crc32(bytes.subarray(at + 4, at + 8 + length)) !== view.getUint32(at + 8 + length)) {
      throw new Error(`PNG data is corrupt: bad CRC in ${type}`);
    }
    chunks.push({ type, data: bytes.subarray(at + 8, at + 8 + length) });
    at += 12 + length;
    if (type === 'IEND') break;
  }
  return chunks;
}

// The unfiltered rows of every pass, each sample widened to a number:
// calls `store(x, y, samples)` for every pixel with its channels' values.
function forEachPixel(data, header, store) {
  const { width, height, depth, channels, interlaced } = header;
  const bitsPerPixel = depth * channels;
  const bytesPerPixel = Math.max(1, bitsPerPixel >> 3);
  const samples = new Array(channels);
  let at = 0;
  for (const [x0, y0, dx, dy] of interlaced ? ADAM7 : [[0, 0, 1, 1]]) {
    const passWidth = Math.ceil((width - x0) / dx);
    const passHeight = Math.ceil((height - y0) / dy);
    if (passWidth <= 0 || passHeight <= 0) continue;
    const rowBytes = Math.ceil((passWidth * bitsPerPixel) / 8);
    const { rows, next } = unfilter(data, at, passHeight, rowBytes, bytesPerPixel);
    at = next;
    for (let y = 0; y < passHeight; y += 1) {
      const row = y * rowBytes;
      for (let x = 0; x < passWidth; x += 1) {
        for (let c = 0; c < channels; c += 1) {
          if (depth === 16) {
            const byte = row + (x * channels + c) * 2;
            samples[c] = (rows[byte] << 8) | rows[byte + 1];
          } else if (depth === 8) {
            samples[c] = rows[row + x * channels + c];
          } else {
            const bit = x * depth; // one channel below 8 bits
            samples[c] = (rows[row + (bit >> 3)] >> (8 - depth - (bit & 7))) & ((1 << depth) - 1);
          }
        }
        store(x0 + x * dx, y0 + y * dy, samples);
      }
    }
  }
}

// A PNG of any colour type and depth, decoded as the qlx command decodes
// it: { width, height, indices, palette, alpha } for an indexed picture
// (its indices as stored, its palette's entries and their alphas), and
// { width, height, rgba } for any other, 8 bits a sample: 16-bit samples by
// their high byte, low-depth grey scaled exactly, tRNS applied, no colour
// management. null for bytes that are no PNG; throws for a damaged one.
export async function readPng(bytes) {
  const chunks = readChunks(bytes);
  if (!chunks) return null;
  const ihdr = chunks[0]?.type === 'IHDR' && chunks[0].data.length === 13 ? chunks[0].data : null;
  if (!ihdr) throw new Error('PNG data is corrupt: no IHDR first');
  const view = new DataView(ihdr.buffer, ihdr.byteOffset, 13);
  const [depth, colourType, , , interlace] = ihdr.subarray(8);
  const header = {
    width: view.getUint32(0), height: view.getUint32(4), depth, colourType,
    channels: CHANNELS[colourType], interlaced: interlace === 1,
  };
  if (header.width === 0 || header.height === 0 || !DEPTHS[colourType]?.includes(depth) || interlace > 1) {
    throw new Error('PNG data is corrupt: a bad IHDR');
  }
  const plte = chunks.find((chunk) => chunk.type === 'PLTE')?.data;
  const trns = chunks.find((chunk) => chunk.type === 'tRNS')?.data ?? new Uint8Array();
  const idat = chunks.filter((chunk) => chunk.type === 'IDAT').map((chunk) => chunk.data);
  if (idat.length === 0) throw new Error('PNG data is cut short');
  const compressed = new Uint8Array(idat.reduce((sum, part) => sum + part.length, 0));
  idat.reduce((at, part) => (compressed.set(part, at), at + part.length), 0);
  let data;
  try {
    data = await throughStream(compressed, new DecompressionStream('deflate'));
  } catch {
    throw new Error('PNG data is corrupt: the pixel data does not inflate whole');
  }
  const { width, height } = header;

  if (colourType === 3) {
    if (!plte) throw new Error('PNG data is corrupt: no PLTE');
    const palette = Array.from({ length: Math.floor(plte.length / 3) }, (_, i) => [...plte.subarray(3 * i, 3 * i + 3)]);
    const indices = new Uint8Array(width * height);
    forEachPixel(data, header, (x, y, [index]) => { indices[y * width + x] = index; });
    const alpha = palette.map((_, i) => (i < trns.length ? trns[i] : 255));
    return { width, height, indices, palette, alpha };
  }
  const rgba = new Uint8Array(width * height * 4);
  const eight = (sample) => (depth === 16 ? sample >> 8 : depth === 8 ? sample : (sample * 255) / ((1 << depth) - 1));
  const trnsView = new DataView(trns.buffer, trns.byteOffset, trns.byteLength);
  const key = colourType === 0 && trns.length >= 2 ? [trnsView.getUint16(0)]
    : colourType === 2 && trns.length >= 6 ? [trnsView.getUint16(0), trnsView.getUint16(2), trnsView.getUint16(4)]
      : null;
  forEachPixel(data, header, (x, y, samples) => {
    const grey = colourType === 0 || colourType === 4;
    const colour = grey ? [samples[0], samples[0], samples[0]] : samples.slice(0, 3);
    const at = (y * width + x) * 4;
    for (let c = 0; c < 3; c += 1) rgba[at + c] = eight(colour[c]);
    const transparent = key !== null && key.every((value, c) => value === samples[c]);
    rgba[at + 3] = colourType === 4 ? eight(samples[1]) : colourType === 6 ? eight(samples[3]) : transparent ? 0 : 255;
  });
  return { width, height, rgba };
}

// The indices of an indexed PNG (colour type 3, any depth, interlaced or
// not) with its palette and each entry's alpha, or null for any other PNG.
// Throws for a PNG it cannot read.
export async function readIndexedPng(bytes) {
  const chunks = readChunks(bytes);
  const ihdr = chunks?.[0]?.type === 'IHDR' ? chunks[0].data : null;
  if (!ihdr || ihdr[9] !== 3) return null;
  return readPng(bytes);
}

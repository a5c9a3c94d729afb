// Paths and helpers shared by the web tests. The built page comes from
// build-web/ and the native programs from build/bin/, or from QLX_WEB_DIR,
// PALQUANT and PALEXPAND.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { crc32, deflateSync } from 'node:zlib';

export const root = fileURLToPath(new URL('../..', import.meta.url));
export const webDir = process.env.QLX_WEB_DIR ?? join(root, 'build-web');
export const palquant = process.env.PALQUANT ?? join(root, 'build/bin/palquant');
export const palexpand = process.env.PALEXPAND ?? join(root, 'build/bin/palexpand');
export const qlxProgram = process.env.QLX ?? join(root, 'build/bin/qlx');
export const sample = join(root, 'samples/sunset.bmp');

export async function loadModule() {
  const { load } = await import(join(webDir, 'qlx.mjs'));
  return load();
}

export function testPictures() {
  const found = [];
  const walk = (folder) => {
    for (const name of readdirSync(folder).sort()) {
      const path = join(folder, name);
      if (statSync(path).isDirectory()) walk(path);
      else if (name.endsWith('.bmp')) found.push(path);
    }
  };
  walk(join(root, 'tests/data/bmpsuite'));
  return [sample, ...found];
}

export function scratch() {
  const folder = mkdtempSync(join(tmpdir(), 'qlx-web-'));
  return { folder, remove: () => rmSync(folder, { recursive: true, force: true }) };
}

// palquant's output or refusal for a picture: its exit status is 1 on
// success and 0 on failure, and it prints a refusal on standard output.
export function runPalquant(picture, args, folder) {
  const output = join(folder, 'out.qlx');
  rmSync(output, { force: true });
  const run = spawnSync(palquant, [...args, picture, output], { encoding: 'buffer' });
  return run.status === 1
    ? { ok: true, bytes: readFileSync(output) }
    : { ok: false, message: run.stdout.toString() + run.stderr.toString() };
}

export function runPalexpand(qlxFile, width, height, folder) {
  const output = join(folder, 'out.bmp');
  execFileSync(palexpand, [`--size=${width}x${height}`, qlxFile, output]);
  return readFileSync(output);
}

// A PNG chunk with its CRC.
export function pngChunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// An 8-bit RGBA PNG of `rgba`, rows unfiltered.
export function rgbaPng(rgba, width, height) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 6, 0, 0, 0], 8);
  const rows = Buffer.alloc(height * (width * 4 + 1));
  for (let y = 0; y < height; y += 1) rows.set(rgba.subarray(y * width * 4, (y + 1) * width * 4), y * (width * 4 + 1) + 1);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 13, 10, 26, 10]), pngChunk('IHDR', header),
    pngChunk('IDAT', deflateSync(rows)), pngChunk('IEND', Buffer.alloc(0))]);
}

// Runs the qlx command; throws on a status other than 0.
export function runQlx(args) {
  return execFileSync(qlxProgram, args);
}

// The RGBA of a 24-bit BMP as a canvas would give it, read by hand.
export function bmpToRgba(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const offset = view.getUint32(10, true);
  const width = view.getInt32(18, true);
  const storedHeight = view.getInt32(22, true);
  const height = Math.abs(storedHeight);
  const stride = Math.ceil((width * 3) / 4) * 4;
  const rgba = new Uint8ClampedArray(width * height * 4);
  for (let y = 0; y < height; y += 1) {
    const row = offset + (storedHeight < 0 ? y : height - 1 - y) * stride;
    for (let x = 0; x < width; x += 1) {
      const from = row + x * 3;
      rgba.set([bytes[from + 2], bytes[from + 1], bytes[from], 255], (y * width + x) * 4);
    }
  }
  return { rgba, width, height };
}

// A GIF of frames as given, every field under the test's control: the
// canvas, a global table, and for each frame its offset, sides, pixels
// (rows in picture order), local table, interlacing, disposal, transparent
// index and delay. Its LZW data is one code a pixel, 9 bits wide, with a
// clear code every 254, so that it needs no encoder to trust.
export function gifOf({ width, height, global, frames, loop = 0 }) {
  const bytes = [...Buffer.from('GIF89a')];
  const u16 = (v) => [v & 255, v >> 8];
  const table = (entries) => {
    const size = Math.max(1, Math.ceil(Math.log2(entries.length)) - 1);
    const padded = [...entries, ...Array((2 << size) - entries.length).fill([0, 0, 0])];
    return { flag: 0x80 | size, bytes: padded.flat() };
  };
  const screen = global ? table(global) : null;
  bytes.push(...u16(width), ...u16(height), screen ? screen.flag | 0x70 : 0, 0, 0, ...(screen?.bytes ?? []));
  bytes.push(0x21, 0xff, 11, ...Buffer.from('NETSCAPE2.0'), 3, 1, ...u16(loop), 0);
  for (const frame of frames) {
    const { left = 0, top = 0, pixels, local, interlaced = false, disposal = 0, transparent = -1, delay = 0 } = frame;
    bytes.push(0x21, 0xf9, 4, (disposal << 2) | (transparent >= 0 ? 1 : 0), ...u16(delay), Math.max(transparent, 0), 0);
    const localTable = local ? table(local) : null;
    bytes.push(0x2c, ...u16(left), ...u16(top), ...u16(frame.width), ...u16(frame.height),
      (localTable?.flag ?? 0) | (interlaced ? 0x40 : 0), ...(localTable?.bytes ?? []));
    const rows = [];
    const passes = interlaced ? [[0, 8], [4, 8], [2, 4], [1, 2]] : [[0, 1]];
    for (const [start, step] of passes) for (let y = start; y < frame.height; y += step) rows.push(y);
    const order = rows.flatMap((y) => pixels.slice(y * frame.width, (y + 1) * frame.width));
    const codes = [];
    order.forEach((pixel, i) => {
      if (i % 254 === 0) codes.push(256);
      codes.push(pixel);
    });
    codes.push(257);
    const data = [];
    let held = 0;
    let filled = 0;
    for (const code of codes) {
      held |= code << filled;
      for (filled += 9; filled >= 8; filled -= 8, held >>= 8) data.push(held & 255);
    }
    if (filled > 0) data.push(held & 255);
    bytes.push(8);
    for (let at = 0; at < data.length; at += 255) bytes.push(Math.min(255, data.length - at), ...data.slice(at, at + 255));
    bytes.push(0);
  }
  bytes.push(0x3b);
  return Uint8Array.from(bytes);
}

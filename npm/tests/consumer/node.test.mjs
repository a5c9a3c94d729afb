// @palconvert/qlx installed from its tarball, in Node: palquant's bytes,
// the qlx command's PNG, refusals with their status.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { load } from '@palconvert/qlx';

const sample = readFileSync(process.env.SAMPLE_BMP);
const palquantBytes = readFileSync(process.env.SAMPLE_QLX);

test('fromBmp gives palquant\'s bytes, and toBmp a BMP of them', async () => {
  const qlx = await load();
  const { width, height, indices } = qlx.fromBmp(sample);
  assert.equal(width, 320);
  assert.deepEqual(Buffer.from(indices), palquantBytes);
  assert.equal(qlx.toBmp(indices, width, height).length, 192054);
  assert.equal(await load(), qlx, 'one library per process');
});

test('toPng and fromPng keep every index; another wasm source loads too', async () => {
  const qlx = await load();
  const indices = Uint8Array.from({ length: 64000 }, (_, i) => (i * 11) & 255);
  const back = await qlx.fromPng(await qlx.toPng(indices, 320, 200));
  assert.deepEqual(back.indices, indices);
  const wasm = readFileSync(new URL('./node_modules/@palconvert/qlx/qlx.wasm', import.meta.url));
  for (const source of [wasm, await WebAssembly.compile(wasm)]) {
    const other = await load({ wasm: source });
    assert.deepEqual(other.fromBmp(sample).indices, qlx.fromBmp(sample).indices);
  }
});

test('a refusal is an Error with the library\'s text and status', async () => {
  const qlx = await load();
  assert.throws(() => qlx.fromBmp(sample, { dither: 'sideways' }), (error) =>
    error instanceof Error && error.status === 27 && /dither/.test(error.message));
});

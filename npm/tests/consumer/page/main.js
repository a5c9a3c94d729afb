// A page built by a bundler that knows nothing of WebAssembly: it converts
// the sample and leaves the indices where the test can read them.
import { load } from '@palconvert/qlx';

const result = document.getElementById('result');
try {
  const qlx = await load();
  const bmp = new Uint8Array(await (await fetch('./sunset.bmp')).arrayBuffer());
  const { indices } = qlx.fromBmp(bmp, { dither: 'floyd-steinberg' });
  window.qlxIndices = Array.from(indices);
  result.textContent = 'done';
} catch (error) {
  result.textContent = `failed: ${error.message}`;
}

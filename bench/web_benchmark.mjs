// The web page's figures: the WebAssembly module's conversion time in Node
// against the native library's (measured by api_benchmark in the same run),
// the page's time to be ready and to redraw in headless Chromium, and the
// size of build-web/.
//   node bench/web_benchmark.mjs DATA_FOLDER NATIVE_MS NATIVE_ONE_THREAD_MS
import { readdirSync, readFileSync, statSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('..', import.meta.url));
const webDir = join(root, 'build-web');
const [data, nativeMs, nativeOneThreadMs] = process.argv.slice(2);

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
function time(runs, work) {
  const times = [];
  for (let i = 0; i < runs; i += 1) {
    const start = performance.now();
    work();
    times.push(performance.now() - start);
  }
  return median(times);
}

const { load } = await import(join(webDir, 'qlx.mjs'));
const start = performance.now();
const qlx = await load();
const loadMs = performance.now() - start;
const photo = readFileSync(join(data, 'photo-4096.bmp'));
const small = readFileSync(join(data, 'small-320.bmp'));
const photoMs = time(9, () => qlx.fromBmp(photo));
const smallMs = time(201, () => qlx.fromBmp(small));
const smallDitheredMs = time(201, () => qlx.fromBmp(small, { dither: 'floyd-steinberg' }));
console.log(`module load in Node (compile and table): ${loadMs.toFixed(0)} ms`);
console.log(`4096 x 4096 photograph, nearest: module ${photoMs.toFixed(1)} ms; native ${nativeMs} ms on every core ` +
  `(${(photoMs / nativeMs).toFixed(2)} x), ${nativeOneThreadMs} ms on one (${(photoMs / nativeOneThreadMs).toFixed(2)} x)`);
console.log(`320 x 200 sample: nearest ${smallMs.toFixed(2)} ms, Floyd-Steinberg ${smallDitheredMs.toFixed(2)} ms (median of 201)`);

let bytes = 0;
const walk = (folder) => {
  for (const name of readdirSync(folder)) {
    const path = join(folder, name);
    if (statSync(path).isDirectory()) walk(path);
    else bytes += statSync(path).size;
  }
};
walk(webDir);
console.log(`build-web/: ${bytes} bytes (${(bytes / 1048576).toFixed(2)} MiB)`);

// The page, in Chromium: ready after a load, and a redraw after a change.
const { chromium } = await import(join(root, 'web/node_modules/playwright-core/index.mjs'));
const { serve } = await import(join(root, 'web/serve.mjs'));
const server = await serve(webDir, 0);
const origin = `http://127.0.0.1:${server.address().port}/`;
const context = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), 'qlx-bench-')), {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = await context.newPage();
// The page's own clock, from the start of navigation to the worker's
// answer: the driver's polling would add its own delay.
const readyTimes = [];
for (let i = 0; i < 7; i += 1) {
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  readyTimes.push(Number(await page.getAttribute('body', 'data-ready-after-ms')));
}
console.log(`page ready to convert after navigation began: first load ${readyTimes[0]} ms, ` +
  `reloads median ${median(readyTimes.slice(1))} ms, slowest ${Math.max(...readyTimes.slice(1))} ms`);

await page.setInputFiles('#pictures', join(root, 'samples/sunset.bmp'));
await page.waitForFunction(() => Number(document.body.dataset.converted ?? 0) > 0);
// A change of method to the redrawn result, on the page's clock.
const redraws = [];
for (let i = 0; i < 12; i += 1) {
  const method = ['floyd-steinberg', 'ordered', 'none'][i % 3];
  redraws.push(await page.evaluate(async (value) => {
    const dither = document.getElementById('dither');
    const count = Number(document.body.dataset.converted);
    const begin = performance.now();
    dither.value = value;
    dither.dispatchEvent(new Event('change'));
    while (Number(document.body.dataset.converted) === count) await new Promise(requestAnimationFrame);
    return performance.now() - begin;
  }, method));
}
console.log(`redraw of the 320 x 200 sample after a change of method: median ${median(redraws).toFixed(0)} ms, ` +
  `slowest ${Math.max(...redraws).toFixed(0)} ms (12 changes)`);
await context.close();
server.close();

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
let start = performance.now();
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
const readyTimes = [];
for (let i = 0; i < 7; i += 1) {
  start = performance.now();
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  readyTimes.push(performance.now() - start);
}
console.log(`page ready after loading: first ${readyTimes[0].toFixed(0)} ms (the browser's own start included), ` +
  `median of the reloads ${median(readyTimes.slice(1)).toFixed(0)} ms`);

const converted = (count) => page.waitForFunction(
  (n) => Number(document.body.dataset.converted ?? 0) > n && document.body.dataset.state === 'idle', count);
await page.setInputFiles('#pictures', join(root, 'samples/sunset.bmp'));
await converted(0);
const redraws = [];
for (let i = 0; i < 12; i += 1) {
  const count = Number(await page.getAttribute('body', 'data-converted'));
  const method = ['floyd-steinberg', 'ordered', 'none'][i % 3];
  start = performance.now();
  await page.selectOption('#dither', method);
  await converted(count);
  redraws.push(performance.now() - start);
}
console.log(`redraw of the 320 x 200 sample after a change of method: median ${median(redraws).toFixed(0)} ms, ` +
  `slowest ${Math.max(...redraws).toFixed(0)} ms (12 changes, measured from the test driver)`);
await context.close();
server.close();

// The bundled pages (esbuild with no loader settings, and Vite) served and
// opened in headless Chromium: each must give palquant's bytes.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import { after, before, test } from 'node:test';
import { chromium } from 'playwright-core';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.bmp': 'image/bmp' };
const expected = readFileSync(process.env.SAMPLE_FS_QLX);
let browser;

function serve(folder) {
  return new Promise((resolve) => {
    const server = createServer((request, response) => {
      const path = join(folder, decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/\/$/, '/index.html'));
      try {
        const body = readFileSync(path);
        response.writeHead(200, { 'content-type': TYPES[extname(path)] ?? 'application/octet-stream' });
        response.end(body);
      } catch {
        response.writeHead(404).end();
      }
    });
    server.listen(0, '127.0.0.1', () => resolve(server));
  });
}

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update'],
  });
});
after(async () => browser?.close());

for (const bundler of ['esbuild', 'vite']) {
  test(`a page bundled by ${bundler} converts the sample to palquant's bytes`, async () => {
    const server = await serve(join(process.cwd(), `dist-${bundler}`));
    try {
      const page = await browser.newPage();
      await page.goto(`http://127.0.0.1:${server.address().port}/`);
      await page.waitForFunction(() => document.getElementById('result').textContent !== 'converting');
      assert.equal(await page.textContent('#result'), 'done');
      assert.deepEqual(Buffer.from(await page.evaluate(() => window.qlxIndices)), expected);
    } finally {
      server.close();
    }
  });
}

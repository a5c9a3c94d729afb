// The page end to end in headless Chromium (Debian's), driven by
// playwright-core, served from 127.0.0.1: every saved file is compared with
// the native programs' output.
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, beforeEach, describe, test } from 'node:test';
import { chromium } from 'playwright-core';
import { unzipSync } from 'fflate';
import { serve } from '../serve.mjs';
import {
  gifOf, loadModule, rgbaPng, root, runPalexpand, runPalquant, runQlx, sample, scratch, webDir,
} from './support.mjs';

// Every method the library names, which the page must offer.
const { methods: METHODS, lights: LIGHTS, fits: FITS } = await loadModule();

const CHROMIUM_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

let server;
let origin;
let context;
let page;
let work;
const outsideRequests = [];
const consoleErrors = [];

before(async () => {
  work = scratch();
  server = await serve(webDir, 0);
  origin = `http://127.0.0.1:${server.address().port}`;
  context = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), 'qlx-chromium-')), {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: CHROMIUM_FLAGS,
    acceptDownloads: true,
  });
  context.on('request', (request) => {
    const url = request.url();
    if (!url.startsWith(`${origin}/`) && !url.startsWith('blob:') && !url.startsWith('data:')) outsideRequests.push(url);
  });
});

// Each test has a fresh page in a tab of its own. Chromium stops a tab's
// downloads after about ten in a row (it would ask the user), and the first
// test alone saves twelve.
beforeEach(async () => {
  await page?.close();
  page = await context.newPage();
  page.on('console', (message) => {
    if (message.type() === 'error') consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(`${origin}/`);
  await page.waitForSelector('body[data-ready="true"]');
});

after(async () => {
  await context?.close();
  server?.close();
  work?.remove();
});

// Does `action`, then waits until the page has finished converting.
async function converting(action) {
  const before = Number((await page.getAttribute('body', 'data-converted')) ?? 0);
  await action();
  await page.waitForFunction(
    (count) => Number(document.body.dataset.converted ?? 0) > count && document.body.dataset.state === 'idle',
    before,
  );
}

async function save(button) {
  assert.equal(await page.isEnabled(button), true, `${button} is enabled`);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
  const path = join(work.folder, download.suggestedFilename());
  await download.saveAs(path);
  return { name: download.suggestedFilename(), bytes: readFileSync(path) };
}

// A file made by the browser from the sample's pixels, as a PNG or a JPEG.
async function encodeInPage(bytes, type, scale = 1) {
  const helper = await context.newPage();
  const encoded = await helper.evaluate(
    async ({ data, type, scale }) => {
      const bitmap = await createImageBitmap(new Blob([new Uint8Array(data)]));
      const canvas = new OffscreenCanvas(bitmap.width * scale, bitmap.height * scale);
      canvas.getContext('2d').drawImage(bitmap, 0, 0, canvas.width, canvas.height);
      const blob = await canvas.convertToBlob({ type, quality: 0.9 });
      return [...new Uint8Array(await blob.arrayBuffer())];
    },
    { data: [...bytes], type, scale },
  );
  await helper.close();
  return Buffer.from(encoded);
}

async function chooseMethod(method) {
  await page.selectOption('#dither', method);
}

describe('the page', () => {
  const bmp = readFileSync(sample);
  let pngPath;
  let jpegPath;

  before(async () => {
    pngPath = join(work.folder, 'sunset-png.png');
    writeFileSync(pngPath, await encodeInPage(bmp, 'image/png'));
    jpegPath = join(work.folder, 'large-photo.jpg');
    writeFileSync(jpegPath, await encodeInPage(bmp, 'image/jpeg', 3)); // 960 x 600
  });

  // Chromium lets a tab download ten files unasked: each test, with a tab
  // of its own, saves half of the methods.
  const halves = [METHODS.slice(0, Math.ceil(METHODS.length / 2)), METHODS.slice(Math.ceil(METHODS.length / 2))];
  for (const [picture, name] of [['the sample BMP', 'sunset.qlx'], ['a PNG of its pixels', 'sunset-png.qlx']]) {
    for (const [half, methods] of halves.entries()) {
      test(`${picture} gives palquant's bytes with every method (${half + 1} of 2)`, async () => {
        await converting(() => page.setInputFiles('#pictures', name === 'sunset.qlx' ? sample : pngPath));
        for (const method of methods) {
          if ((await page.inputValue('#dither')) !== method) await converting(() => chooseMethod(method));
          const saved = await save('#save-qlx');
          assert.equal(saved.name, name);
          const expected = runPalquant(sample, [`--dither=${method}`], work.folder);
          assert.ok(expected.ok);
          assert.deepEqual(saved.bytes, expected.bytes, `${picture} with ${method}`);
        }
      });
    }
  }

  test('beside each result stand the figures of qlx convert --report', async () => {
    await converting(() => page.setInputFiles('#pictures', pngPath));
    for (const method of ['pattern', 'floyd-steinberg', 'ordered']) {
      if ((await page.inputValue('#dither')) !== method) await converting(() => chooseMethod(method));
      const report = JSON.parse(runQlx(['convert', '--report=json', `--dither=${method}`, sample,
        join(work.folder, 'report.png')]).toString());
      assert.equal(await page.textContent('#closeness'), `Blurred error ${report.blurred_error.toFixed(2)} · `
        + `CIEDE2000 ${report.ciede2000.toFixed(2)} · ${(100 * report.exact_share).toFixed(1)}% exact`, method);
    }
  });

  test('the selects offer every name the library gives, in its order', async () => {
    const values = (id) => page.$$eval(`#${id} option`, (options) => options.map((option) => option.value));
    assert.deepEqual(await values('dither'), METHODS);
    assert.deepEqual(await values('dither-light'), LIGHTS);
    assert.deepEqual(await values('fit'), FITS);
  });

  test('a JPEG is fitted to 320 x 200 as the module fits the browser\'s decoding of it', async () => {
    await converting(() => page.selectOption('#fit', 'cover'));
    await converting(() => page.setInputFiles('#pictures', jpegPath));
    const saved = await save('#save-qlx');
    assert.equal(saved.bytes.length, 320 * 200);
    const expected = await page.evaluate(async (data) => {
      const { load } = await import('/qlx.mjs');
      const qlx = await load();
      const bitmap = await createImageBitmap(new Blob([new Uint8Array(data)]), {
        colorSpaceConversion: 'none', premultiplyAlpha: 'none',
      });
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      const context2d = canvas.getContext('2d');
      context2d.drawImage(bitmap, 0, 0);
      const { data: rgba } = context2d.getImageData(0, 0, bitmap.width, bitmap.height);
      const { indices } = qlx.convert(rgba, bitmap.width, bitmap.height, { fit: 'cover', boxWidth: 320, boxHeight: 200 });
      return [...indices];
    }, [...readFileSync(jpegPath)]);
    assert.deepEqual([...saved.bytes], expected);
    assert.match(await page.textContent('#status'), /320 x 200/);
    await converting(() => page.selectOption('#fit', 'keep'));
  });

  test('a batch of three is saved as one zip of QLX files named after the pictures', async () => {
    await converting(() => page.setInputFiles('#pictures', [sample, pngPath, jpegPath]));
    assert.equal(await page.locator('#picture-list option').count(), 3);
    const zip = unzipSync(new Uint8Array((await save('#save-zip')).bytes));
    assert.deepEqual(Object.keys(zip).sort(), ['large-photo.960x600.qlx', 'sunset-png.qlx', 'sunset.qlx']);
    const expected = runPalquant(sample, [], work.folder).bytes;
    assert.deepEqual(Buffer.from(zip['sunset.qlx']), expected);
    assert.deepEqual(Buffer.from(zip['sunset-png.qlx']), expected);
    assert.equal(zip['large-photo.960x600.qlx'].length, 960 * 600);
  });

  test('a QLX file opens and saves as palexpand\'s BMP; a wrong length is explained', async () => {
    const qlxFile = join(root, 'tests/data/sunset.qlx');
    await converting(() => page.setInputFiles('#open-qlx', qlxFile));
    assert.deepEqual((await save('#save-bmp')).bytes, runPalexpand(qlxFile, 320, 200, work.folder));
    assert.match((await save('#save-png')).name, /^sunset-qlx\.png$/);

    const odd = join(work.folder, 'odd.qlx');
    writeFileSync(odd, Buffer.alloc(1000));
    await converting(() => page.setInputFiles('#open-qlx', odd));
    assert.match(await page.textContent('#status'), /odd\.qlx: this QLX file has 1000 bytes, but a 320 x 200 picture/);
    assert.equal(await page.isDisabled('#save-bmp'), true);

    await page.fill('#size', '40x25');
    await converting(() => page.press('#size', 'Enter'));
    assert.equal(await page.isEnabled('#save-bmp'), true);
    const bmpBytes = (await save('#save-bmp')).bytes;
    assert.deepEqual(bmpBytes, runPalexpand(odd, 40, 25, work.folder));
    await page.fill('#size', '320x200');
    await converting(() => page.press('#size', 'Enter'));
  });

  test('an indexed PNG in our palette keeps every index, and saves as the command\'s PNG', async () => {
    // Every index, duplicates included, written by the qlx command.
    const indices = Buffer.from(Array.from({ length: 64000 }, (_, i) => (i * 11 + (i >> 9)) & 255));
    const qlxFile = join(work.folder, 'every.qlx');
    writeFileSync(qlxFile, indices);
    const pngFile = join(work.folder, 'every-index.png');
    runQlx(['convert', qlxFile, pngFile]);
    await converting(() => page.setInputFiles('#pictures', pngFile));
    assert.deepEqual((await save('#save-qlx')).bytes, indices);
    const saved = await save('#save-png');
    assert.equal(saved.name, 'every-index-qlx.png');
    const savedFile = join(work.folder, 'saved.png');
    writeFileSync(savedFile, saved.bytes);
    runQlx(['convert', savedFile, join(work.folder, 'saved.qlx')]);
    assert.deepEqual(readFileSync(join(work.folder, 'saved.qlx')), indices);
  });

  test('a malformed BMP is refused in palquant\'s words, and nothing can be saved', async () => {
    const cut = join(work.folder, 'cut.bmp');
    writeFileSync(cut, bmp.subarray(0, 5000));
    await converting(() => page.setInputFiles('#pictures', cut));
    assert.equal(await page.textContent('#status'), 'cut.bmp: bmpfile pixel data is cut short');
    for (const button of ['#save-qlx', '#save-bmp', '#save-png', '#save-zip']) {
      assert.equal(await page.isDisabled(button), true, button);
    }
  });

  test('a dropped picture converts as a chosen one', async () => {
    const dataTransfer = await page.evaluateHandle((data) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(data)], 'dropped.bmp', { type: 'image/bmp' }));
      return transfer;
    }, [...bmp]);
    await converting(() => page.dispatchEvent('#viewport', 'drop', { dataTransfer }));
    const saved = await save('#save-qlx');
    assert.equal(saved.name, 'dropped.qlx');
    assert.deepEqual(saved.bytes, runPalquant(sample, [], work.folder).bytes);
  });

  test('pixels with alpha below 128 take the transparent index', async () => {
    // Index 80 is a second black that the palette rule never chooses.
    const encoded = await page.evaluate(async () => {
      const canvas = new OffscreenCanvas(64, 40);
      const context2d = canvas.getContext('2d');
      context2d.fillStyle = '#3070c0';
      context2d.fillRect(0, 0, 64, 40);
      context2d.clearRect(0, 0, 20, 40);
      const blob = await canvas.convertToBlob({ type: 'image/png' });
      return [...new Uint8Array(await blob.arrayBuffer())];
    });
    const seeThrough = join(work.folder, 'see-through.png');
    writeFileSync(seeThrough, Buffer.from(encoded));
    await page.fill('#transparent-index', '80');
    await converting(() => page.press('#transparent-index', 'Enter'));
    await converting(() => page.setInputFiles('#pictures', seeThrough));
    const { bytes } = await save('#save-qlx');
    for (let y = 0; y < 40; y += 1) {
      for (let x = 0; x < 64; x += 1) assert.equal(bytes[y * 64 + x] === 80, x < 20, `${x}, ${y}`);
    }
    await page.fill('#transparent-index', '300');
    await converting(() => page.press('#transparent-index', 'Enter'));
    assert.equal(await page.textContent('#status'),
      'Transparent index must be empty (no transparency) or a whole number from 0 to 255.');
    await page.fill('#transparent-index', '');
    await converting(() => page.press('#transparent-index', 'Enter'));
  });

  // The browser's canvas premultiplies alpha and loses the colour under
  // it; the page reads PNG itself, so it gives the command's bytes.
  test('a PNG with partial alpha gives the qlx command\'s bytes over any background', async () => {
    const width = 48;
    const height = 30;
    const rgba = new Uint8Array(width * height * 4);
    for (let y = 0; y < height; y += 1) {
      for (let x = 0; x < width; x += 1) rgba.set([x * 5, y * 8, (x * y) & 255, (x * 11 + y * 7) & 255], (y * width + x) * 4);
    }
    const file = join(work.folder, 'partial.png');
    writeFileSync(file, rgbaPng(rgba, width, height));
    await converting(() => page.setInputFiles('#pictures', file));
    for (const background of ['#000000', '#3366cc']) {
      if (background !== '#000000') {
        await converting(() => page.evaluate((value) => {
          const input = document.getElementById('background');
          input.value = value;
          input.dispatchEvent(new Event('change'));
        }, background));
      }
      const saved = await save('#save-qlx');
      const expected = join(work.folder, `partial.${width}x${height}.qlx`);
      runQlx(['convert', `--background=${background}`, file, expected]);
      assert.deepEqual(saved.bytes, readFileSync(expected), background);
    }
    await page.fill('#transparent-index', '9');
    await converting(() => page.press('#transparent-index', 'Enter'));
    assert.equal(await page.isDisabled('#background'), true);
  });

  test('the preview zooms about its centre, and the divider splits the view, dragged on the picture', async () => {
    await converting(() => page.setInputFiles('#pictures', sample));
    await page.selectOption('#zoom', '4');
    await page.evaluate(() => { document.getElementById('viewport').scrollLeft = 300; });
    await page.fill('#split', '25');
    const view = () => page.evaluate(() => {
      const viewport = document.getElementById('viewport');
      const result = document.getElementById('result-canvas');
      return {
        width: result.style.width, clip: result.style.clipPath, rendering: getComputedStyle(result).imageRendering,
        divider: document.getElementById('divider').style.left, scroll: viewport.scrollLeft,
        visible: viewport.clientWidth, centre: (viewport.scrollLeft + viewport.clientWidth / 2) / result.offsetWidth,
      };
    });
    const before = await view();
    assert.equal(before.width, '1280px');
    assert.equal(before.rendering, 'pixelated');
    // A quarter of the part in view, not of the whole picture.
    const at = before.scroll + 0.25 * before.visible;
    assert.ok(Math.abs(parseFloat(before.divider) - at) < 1, `${before.divider} at ${at}`);
    assert.equal(before.clip, `inset(0px 0px 0px ${before.divider})`);
    await page.selectOption('#zoom', '8');
    const after = await view();
    assert.ok(Math.abs(after.centre - before.centre) < 0.01, `centre ${before.centre} -> ${after.centre}`);

    // Dragging the divider moves it; dragging elsewhere pans.
    const divider = await page.locator('#divider').boundingBox();
    const viewport = await page.locator('#viewport').boundingBox();
    const y = viewport.y + viewport.height / 2;
    await page.mouse.move(divider.x + divider.width / 2, y);
    await page.mouse.down();
    await page.mouse.move(divider.x + divider.width / 2 + 100, y);
    await page.mouse.up();
    assert.ok(Number(await page.inputValue('#split')) > 25, 'the divider moved');
    assert.equal((await view()).scroll, after.scroll, 'and the view did not pan');
    await page.selectOption('#zoom', 'fit');
  });

  test('controls that would change nothing are disabled', async () => {
    const disabled = () => page.evaluate(() => Object.fromEntries(
      ['dither', 'dither-light', 'strength', 'fit', 'size', 'transparent-index'].map((id) => [id, document.getElementById(id).disabled])));
    await converting(() => page.setInputFiles('#pictures', sample));
    assert.deepEqual(await disabled(), {
      dither: false, 'dither-light': true, strength: true, fit: false, size: true, 'transparent-index': false,
    });
    await converting(() => chooseMethod('ordered'));
    assert.deepEqual(await disabled(), {
      dither: false, 'dither-light': true, strength: false, fit: false, size: true, 'transparent-index': false,
    });
    await converting(() => chooseMethod('atkinson'));
    await converting(() => page.selectOption('#fit', 'contain'));
    assert.deepEqual(await disabled(), {
      dither: false, 'dither-light': false, strength: false, fit: false, size: false, 'transparent-index': false,
    });
    await converting(() => page.selectOption('#fit', 'keep'));
    await converting(() => chooseMethod('none'));
    // A QLX file is shown as it is: only its size matters.
    await converting(() => page.setInputFiles('#open-qlx', join(root, 'tests/data/sunset.qlx')));
    assert.deepEqual(await disabled(), {
      dither: true, 'dither-light': true, strength: true, fit: true, size: false, 'transparent-index': true,
    });
  });

  test('a QLX of another size is saved with its size in its name, and reopens by it', async () => {
    await converting(() => page.selectOption('#fit', 'contain'));
    await page.fill('#size', '64x48');
    await converting(() => page.press('#size', 'Enter'));
    await converting(() => page.setInputFiles('#pictures', sample));
    const saved = await save('#save-qlx');
    assert.equal(saved.name, 'sunset.64x48.qlx');
    await page.fill('#size', '320x200');
    await converting(() => page.selectOption('#fit', 'keep'));
    const reopened = join(work.folder, saved.name);
    writeFileSync(reopened, saved.bytes);
    await converting(() => page.setInputFiles('#open-qlx', reopened));
    assert.match(await page.textContent('#status'), /64 x 48/);
    assert.deepEqual((await save('#save-qlx')).bytes, saved.bytes);
  });

  test('controls are reached and worked from the keyboard', async () => {
    await converting(() => page.setInputFiles('#pictures', sample));
    await page.focus('#dither');
    await converting(() => page.keyboard.press('ArrowDown')); // floyd-steinberg
    assert.equal(await page.inputValue('#dither'), 'floyd-steinberg');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'dither-light');
    const expected = runPalquant(sample, ['--dither=floyd-steinberg'], work.folder).bytes;
    await page.focus('#save-qlx');
    const [download] = await Promise.all([page.waitForEvent('download'), page.keyboard.press('Enter')]);
    assert.deepEqual(readFileSync(await download.path()), expected);
    await converting(() => chooseMethod('none'));
  });

  test('with the network cut after loading, pictures still convert', async () => {
    await context.setOffline(true);
    try {
      await converting(() => page.setInputFiles('#pictures', pngPath));
      await converting(() => chooseMethod('ordered'));
      const expected = runPalquant(sample, ['--dither=ordered'], work.folder).bytes;
      assert.deepEqual((await save('#save-qlx')).bytes, expected);
    } finally {
      await context.setOffline(false);
    }
  });

  test('a screenshot of the page lands in build-web-test/', async () => {
    await converting(() => page.setInputFiles('#pictures', sample));
    await converting(() => chooseMethod('floyd-steinberg'));
    await page.fill('#split', '50');
    const folder = join(root, 'build-web-test');
    mkdirSync(folder, { recursive: true });
    await page.screenshot({ path: join(folder, 'page.png'), fullPage: true });
    await page.emulateMedia({ colorScheme: 'dark' });
    await page.screenshot({ path: join(folder, 'page-dark.png'), fullPage: true });
    await page.emulateMedia({ colorScheme: 'light' });
  });

  test('on a 390-pixel phone the whole picture shows, nothing wider than the screen', async () => {
    await page.setViewportSize({ width: 390, height: 844 });
    await converting(() => page.setInputFiles('#pictures', sample));
    const sizes = await page.evaluate(() => ({
      page: document.documentElement.scrollWidth,
      picture: document.getElementById('result-canvas').getBoundingClientRect().width,
      view: document.getElementById('viewport').clientWidth,
    }));
    assert.ok(sizes.page <= 390, `the page is ${sizes.page} pixels wide`);
    assert.ok(sizes.picture <= sizes.view, `the picture (${sizes.picture}) is cropped by the view (${sizes.view})`);
    await page.screenshot({ path: join(root, 'build-web-test', 'page-phone.png'), fullPage: true });
  });

  test('nothing was asked of any other origin, and the console has no errors', () => {
    assert.deepEqual(outsideRequests, []);
    assert.deepEqual(consoleErrors, []);
  });
});

// GIFs of every kind of frame: offsets (one reaching off the canvas), local
// tables, interlacing, a transparent index 0, an index past its table, and
// each disposal; the library's frames against Chromium's own decoder.
describe('GIF frames as Chromium composes them', () => {
  const grey = Array.from({ length: 16 }, (_, i) => [i * 17, 255 - i * 17, (i * 40) % 256]);
  const rainbow = Array.from({ length: 64 }, (_, i) => [(i * 4) % 256, (i * 37) % 256, (i * 91) % 256]);
  const pixels = (count, top, seed) => Array.from({ length: count }, (_, i) => ((i * 7 + seed * 13) ^ (i >> 3)) % top);
  const suite = [0, 1, 2, 3].map((disposal) => ({
    name: `disposal ${disposal}`,
    gif: gifOf({
      width: 30, height: 20, global: rainbow, loop: 0,
      frames: [
        { width: 30, height: 20, pixels: pixels(600, 64, 1), disposal: 1, delay: 5 },
        { left: 4, top: 3, width: 10, height: 9, pixels: pixels(90, 16, 2), local: grey, interlaced: true,
          disposal, transparent: 0, delay: 7 },
        { left: 20, top: 15, width: 15, height: 9, pixels: pixels(135, 70, 3), disposal, transparent: 3 },
        { left: 2, top: 2, width: 9, height: 17, pixels: pixels(153, 64, 4), interlaced: true, disposal: 1 },
      ],
    }),
  }));

  test('every frame of every file is Chromium\'s', async () => {
    const qlx = await loadModule();
    for (const { name, gif } of suite) {
      const ours = qlx.readGif(gif);
      const theirs = await page.evaluate(async (data) => {
        const decoder = new ImageDecoder({ data: new Uint8Array(data), type: 'image/gif', premultiplyAlpha: 'none',
          colorSpaceConversion: 'none' });
        await decoder.tracks.ready;
        const frames = [];
        for (let index = 0; index < decoder.tracks.selectedTrack.frameCount; index += 1) {
          const { image } = await decoder.decode({ frameIndex: index });
          const canvas = new OffscreenCanvas(image.displayWidth, image.displayHeight);
          canvas.getContext('2d').drawImage(image, 0, 0);
          frames.push([...canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data]);
          image.close();
        }
        return frames;
      }, [...gif]);
      assert.equal(ours.frames.length, theirs.length, name);
      ours.frames.forEach((frame, f) => {
        const rgba = frame.rgba ?? qlx.expand(frame.indices, ours.width, ours.height);
        for (let i = 0; i < ours.width * ours.height; i += 1) {
          const stored = frame.rgba ? frame.rgba[4 * i + 3] === 255 : frame.stored[i] !== 0;
          const expected = theirs[f].slice(4 * i, 4 * i + 4);
          const got = stored ? [...rgba.slice(4 * i, 4 * i + 3), 255] : [0, 0, 0, 0];
          assert.deepEqual(got, expected, `${name}, frame ${f}, pixel ${i % ours.width}, ${Math.floor(i / ours.width)}`);
        }
      });
    }
  });

  test('an animated GIF plays beside its result and saves as the command\'s GIF and frames', async () => {
    const gif = suite[2].gif;
    const file = join(work.folder, 'dance.gif');
    writeFileSync(file, gif);
    await converting(() => page.setInputFiles('#pictures', file));
    assert.equal(await page.getAttribute('body', 'data-frames'), '4');
    await page.waitForFunction(() => document.body.dataset.frame === '3');
    await converting(() => chooseMethod('floyd-steinberg'));
    await converting(() => page.check('#dither-stable'));
    const saved = await save('#save-gif');
    assert.equal(saved.name, 'dance-qlx.gif');
    runQlx(['convert', '--dither=floyd-steinberg', '--dither-stable', file, join(work.folder, 'command.gif')]);
    assert.deepEqual(saved.bytes, readFileSync(join(work.folder, 'command.gif')));
    const frames = unzipSync((await save('#save-qlx')).bytes);
    runQlx(['convert', '--dither=floyd-steinberg', '--dither-stable', file, join(work.folder, 'dance-%02d.qlx')]);
    assert.deepEqual(Object.keys(frames).sort(), ['01', '02', '03', '04'].map((n) => `dance-${n}.30x20.qlx`));
    for (const [name, bytes] of Object.entries(frames)) {
      assert.deepEqual(Buffer.from(bytes), readFileSync(join(work.folder, name)), name);
    }
  });
});

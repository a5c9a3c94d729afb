// The WebAssembly module under Node: the native programs' bytes for every
// test picture and option, the library's refusals, and fitting checked
// against a plain implementation of its definition.
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { deflateSync } from 'node:zlib';
import {
  bmpToRgba, loadModule, pngChunk, rgbaPng, runPalexpand, runPalquant, runQlx, sample, scratch, testPictures, webDir,
} from './support.mjs';

const { OPTIONS_LAYOUT, STATUS } = await import(join(webDir, 'qlx.mjs'));

const OPTION_SETS = [
  { args: [], options: {} },
  { args: ['--dither=floyd-steinberg'], options: { dither: 'floyd-steinberg' } },
  { args: ['--dither=floyd-steinberg', '--dither-strength=37'], options: { dither: 'floyd-steinberg', strength: 37 } },
  { args: ['--dither=ordered'], options: { dither: 'ordered' } },
  { args: ['--dither=ordered', '--dither-strength=0'], options: { dither: 'ordered', strength: 0 } },
  { args: ['--dither=atkinson'], options: { dither: 'atkinson' } },
  { args: ['--dither=sierra-lite', '--dither-strength=80'], options: { dither: 'sierra-lite', strength: 80 } },
  { args: ['--dither=blue-noise'], options: { dither: 'blue-noise' } },
  { args: ['--dither=pattern'], options: { dither: 'pattern' } },
  { args: ['--dither=pattern', '--dither-strength=40'], options: { dither: 'pattern', strength: 40 } },
  { args: ['--dither=floyd-steinberg', '--dither-light=linear'], options: { dither: 'floyd-steinberg', light: 'linear' } },
];

let qlx;
let work;
before(async () => {
  qlx = await loadModule();
  work = scratch();
});
after(() => work.remove());

describe('fromBmp and toBmp against the programs', () => {
  test('every test picture with every method gives palquant\'s bytes or its refusal', () => {
    let compared = 0;
    for (const picture of testPictures()) {
      const bytes = readFileSync(picture);
      for (const { args, options } of OPTION_SETS) {
        const expected = runPalquant(picture, args, work.folder);
        let actual;
        try {
          const { indices } = qlx.fromBmp(bytes, options);
          actual = { ok: true, bytes: Buffer.from(indices) };
        } catch (error) {
          actual = { ok: false, message: `${error.message}\n` };
        }
        assert.deepEqual(actual, expected, `${picture} ${args.join(' ')}`);
        compared += 1;
      }
    }
    assert.ok(compared >= 400, `only ${compared} cases`);
  });

  test('toBmp gives palexpand\'s bytes at several sizes', () => {
    for (const [width, height] of [[320, 200], [1, 1], [3, 5], [17, 2], [64, 64]]) {
      const indices = Uint8Array.from({ length: width * height }, (_, i) => (i * 37 + (i >> 3)) & 255);
      const file = join(work.folder, 'in.qlx');
      writeFileSync(file, indices);
      assert.deepEqual(Buffer.from(qlx.toBmp(indices, width, height)), runPalexpand(file, width, height, work.folder),
        `${width} x ${height}`);
    }
  });

  test('version is the programs\' --version number', () => {
    assert.match(qlx.version, /^\d+\.\d+\.\d+$/);
  });
});

describe('the library\'s vocabulary and options', () => {
  test('the names are the library\'s, in its order, the default first', () => {
    assert.deepEqual(qlx.methods, ['none', 'floyd-steinberg', 'ordered', 'atkinson', 'sierra-lite', 'blue-noise',
      'jarvis-judice-ninke', 'stucki', 'burkes', 'sierra', 'pattern']);
    assert.deepEqual(qlx.lights, ['srgb', 'linear']);
    assert.deepEqual(qlx.fits, ['keep', 'contain', 'cover', 'stretch']);
    for (const dither of qlx.methods) {
      for (const light of qlx.lights) qlx.checkOptions({ dither, light });
    }
  });

  // Each option written where the library reads it: a value out of range
  // in each place is refused for that very option.
  test('every field of qlx_options lands where the library reads it', () => {
    const refusal = (options) => {
      try {
        qlx.checkOptions(options);
        return 0;
      } catch (error) {
        return error.status;
      }
    };
    assert.equal(refusal({}), 0);
    assert.equal(refusal({ dither: 'sparkle' }), 27);
    assert.equal(refusal({ strength: 101 }), 28);
    assert.equal(refusal({ transparentIndex: 256 }), 29);
    assert.equal(refusal({ light: 'dim' }), 33);
    assert.equal(refusal({ background: '#12345g' }), 37);
    assert.equal(refusal({ background: 0x1000000 }), 37);
    assert.equal(refusal({ ditherStable: 256 }), STATUS.STABLE_OUT_OF_RANGE);
    assert.equal(OPTIONS_LAYOUT.bytes, 64);
  });

  test('STATUS names every status of the library, and only those', () => {
    const named = new Map(Object.entries(STATUS).map(([name, code]) => [code, name]));
    assert.equal(named.size, Object.keys(STATUS).length);
    for (let code = 0; code < 64; code += 1) {
      assert.equal(qlx.statusText(code) !== 'unknown status', named.has(code), `code ${code}: ${named.get(code)}`);
    }
    assert.equal(STATUS.TOO_MANY_ROWS, 34);
    assert.equal(STATUS.BACKGROUND_OUT_OF_RANGE, 37);
  });
});

describe('quantise', () => {
  const { rgba, width, height } = bmpToRgba(readFileSync(sample));

  test('RGBA pixels give the same bytes as the BMP they came from, with every method', () => {
    for (const { options } of OPTION_SETS) {
      assert.deepEqual(qlx.quantise(rgba, width, height, options), qlx.fromBmp(readFileSync(sample), options).indices);
    }
  });

  test('pixels with alpha below 128 take the transparent index; the rest are unchanged', () => {
    const seeThrough = rgba.slice();
    for (let i = 0; i < width * height; i += 7) seeThrough[i * 4 + 3] = i % 2 ? 127 : 0;
    const plain = qlx.quantise(rgba, width, height);
    const marked = qlx.quantise(seeThrough, width, height, { transparentIndex: 200 });
    for (let i = 0; i < width * height; i += 1) assert.equal(marked[i], i % 7 === 0 ? 200 : plain[i], `pixel ${i}`);
    // Without the option, each pixel is blended over the background first.
    for (const background of [0, 0x3366cc]) {
      const blended = seeThrough.slice();
      for (let i = 0; i < width * height; i += 1) {
        const alpha = seeThrough[i * 4 + 3];
        for (let c = 0; c < 3; c += 1) {
          const under = (background >> (16 - 8 * c)) & 255;
          blended[i * 4 + c] = Math.floor((seeThrough[i * 4 + c] * alpha + under * (255 - alpha) + 127) / 255);
        }
        blended[i * 4 + 3] = 255;
      }
      assert.deepEqual(qlx.quantise(seeThrough, width, height, { background }), qlx.quantise(blended, width, height));
    }
  });

  test('a PNG with partial alpha gives the qlx command\'s bytes', async () => {
    const width = 64;
    const height = 40;
    const rgba = Uint8Array.from({ length: width * height * 4 }, (_, i) => {
      const [pixel, c] = [i >> 2, i & 3];
      const [x, y] = [pixel % width, Math.floor(pixel / width)];
      return [x * 4, y * 6, (x * y) & 255, (x * 8 + y * 3) & 255][c];
    });
    const file = join(work.folder, 'alpha.png');
    writeFileSync(file, rgbaPng(rgba, width, height));
    const png = await qlx.readPng(readFileSync(file));
    assert.deepEqual(png.rgba, rgba);
    for (const [args, options] of [[[], {}], [['--background=#3366CC', '--dither=atkinson'], { background: '#3366CC', dither: 'atkinson' }],
      [['--transparent-index=5'], { transparentIndex: 5 }]]) {
      const out = join(work.folder, `alpha.${width}x${height}.qlx`);
      runQlx(['convert', ...args, file, out]);
      assert.deepEqual(Buffer.from(qlx.convert(png.rgba, width, height, options).indices), readFileSync(out), args.join(' '));
    }
    // The figures of --report=json, for the same picture and options.
    for (const [args, options] of [[['--dither=pattern'], { dither: 'pattern' }],
      [['--dither=floyd-steinberg', '--fit=contain', '--size=48x48', '--background=103050'],
        { dither: 'floyd-steinberg', fit: 'contain', boxWidth: 48, boxHeight: 48, background: '103050' }]]) {
      const report = JSON.parse(runQlx(['convert', '--report=json', '--to=png', ...args, file,
        join(work.folder, 'report.png')]).toString());
      const { closeness } = qlx.convert(png.rgba, width, height, { ...options, closeness: true });
      assert.equal(closeness.blurredError.toFixed(4), report.blurred_error.toFixed(4), args.join(' '));
      assert.equal(closeness.ciede2000.toFixed(4), report.ciede2000.toFixed(4), args.join(' '));
      assert.equal(closeness.exactShare.toFixed(6), report.exact_share.toFixed(6), args.join(' '));
      assert.equal(closeness.measured, report.measured);
    }
    // A damaged PNG is refused in the command's words.
    const damaged = readFileSync(file);
    damaged[damaged.length - 20] ^= 1;
    await assert.rejects(qlx.readPng(damaged), { message: 'PNG data is corrupt: bad CRC in IDAT' });
  });
});

describe('refusals in the library\'s words', () => {
  const bmp = readFileSync(sample);
  const refusals = [
    [() => qlx.fromBmp(bmp.subarray(0, 20)), 'bmpfile headers are cut short'],
    [() => qlx.fromBmp(bmp.subarray(0, 1000)), 'bmpfile pixel data is cut short'],
    [() => qlx.fromBmp(bmp, { dither: 'sideways' }), 'unknown dithering method'],
    [() => qlx.fromBmp(bmp, { light: 'gamma' }), 'unknown light for dithering'],
    [() => qlx.fromBmp(bmp, { strength: 101 }), 'strength must be a whole number from 0 to 100'],
    [() => qlx.fromBmp(bmp, { strength: 2.5 }), 'strength must be a whole number from 0 to 100'],
    [() => qlx.quantise(new Uint8Array(4), 1, 1, { transparentIndex: 256 }),
      'transparent_index must be -1 or from 0 to 255'],
    [() => qlx.quantise(new Uint8Array(4), 2, 1), 'the input is shorter than width x height'],
    [() => qlx.toBmp(new Uint8Array(4), 2, 3), 'the input is shorter than width x height'],
    [() => qlx.toBmp(new Uint8Array(4), 0, 3), 'a side is 0 or larger than 16384'],
    [() => qlx.toBmp(new Uint8Array(4), 16385, 1), 'a side is 0 or larger than 16384'],
    [() => qlx.placement(10, 10, 5, 5, 'squash'), 'unknown fit'],
  ];
  for (const [call, message] of refusals) {
    test(message, () => assert.throws(call, { message }));
  }

  test('a picture too large for memory is refused, and the module goes on', () => {
    const indices = new Uint8Array(520_000_000); // its RGBA would be beyond the 2 GiB the module may have
    assert.throws(() => qlx.expand(indices, 26_000, 20_000), { message: 'out of memory' });
    assert.deepEqual(qlx.fromBmp(bmp).indices, qlx.fromBmp(bmp).indices);
  });
});

// Area averaging in linear light, from its definition, in plain numbers
// (every sum stays below 2^53, so they are exact).
const linear = Array.from({ length: 256 }, (_, c) => {
  const v = c / 255;
  return Math.round((v <= 0.04045 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4) * 65535);
});
function nearestCode(value) {
  let best = 0;
  for (let c = 1; c < 256; c += 1) if (Math.abs(linear[c] - value) < Math.abs(linear[best] - value)) best = c;
  return best;
}
function overlaps(source, result, i) {
  const list = [];
  for (let j = 0; j < source; j += 1) {
    const overlap = Math.min((j + 1) * result, (i + 1) * source) - Math.max(j * result, i * source);
    if (overlap > 0) list.push([j, overlap]);
  }
  return list;
}
function plainResample(rgba, width, height, toWidth, toHeight) {
  const out = new Uint8ClampedArray(toWidth * toHeight * 4);
  const round = (n, d) => Math.floor((n + Math.floor(d / 2)) / d);
  for (let y = 0; y < toHeight; y += 1) {
    for (let x = 0; x < toWidth; x += 1) {
      const sums = [0, 0, 0, 0];
      for (const [sy, wy] of overlaps(height, toHeight, y)) {
        for (const [sx, wx] of overlaps(width, toWidth, x)) {
          const p = (sy * width + sx) * 4;
          const weight = rgba[p + 3] * wx * wy;
          for (let k = 0; k < 3; k += 1) sums[k] += linear[rgba[p + k]] * weight;
          sums[3] += weight;
        }
      }
      const o = (y * toWidth + x) * 4;
      for (let k = 0; k < 3; k += 1) out[o + k] = sums[3] === 0 ? 0 : nearestCode(round(sums[k], sums[3]));
      out[o + 3] = round(sums[3], width * height);
    }
  }
  return out;
}

describe('fitting', () => {
  test('placements, worked by hand', () => {
    const at = (sx, sy, sw, sh, x, y, w, h, bw, bh) => ({
      sourceX: sx, sourceY: sy, sourceWidth: sw, sourceHeight: sh, x, y, width: w, height: h, boxWidth: bw, boxHeight: bh,
    });
    assert.deepEqual(qlx.placement(640, 480, 320, 200, 'keep'), at(0, 0, 640, 480, 0, 0, 640, 480, 640, 480));
    // 640 * 200 / 480 = 266.7 wide, centred in 320.
    assert.deepEqual(qlx.placement(640, 480, 320, 200, 'contain'), at(0, 0, 640, 480, 26, 0, 267, 200, 320, 200));
    // 100 * 320 / 1000 = 32 high, (200 - 32) / 2 from the top.
    assert.deepEqual(qlx.placement(1000, 100, 320, 200, 'contain'), at(0, 0, 1000, 100, 0, 84, 320, 32, 320, 200));
    // 640 * 200 / 320 = 400 of the 480 rows, 40 off each edge.
    assert.deepEqual(qlx.placement(640, 480, 320, 200, 'cover'), at(0, 40, 640, 400, 0, 0, 320, 200, 320, 200));
    assert.deepEqual(qlx.placement(1000, 100, 320, 200, 'cover'), at(420, 0, 160, 100, 0, 0, 320, 200, 320, 200));
    assert.deepEqual(qlx.placement(7, 900, 320, 200, 'stretch'), at(0, 0, 7, 900, 0, 0, 320, 200, 320, 200));
  });

  test('resampling averages areas in linear light, alpha-weighted, as defined', () => {
    let seed = 12345;
    const random = () => ((seed = (seed * 1103515245 + 12345) % 2 ** 31) >> 8) & 255;
    const [width, height] = [37, 23];
    const rgba = Uint8ClampedArray.from({ length: width * height * 4 }, (_, i) => (i % 4 === 3 && i % 3 ? 255 : random()));
    for (const [toWidth, toHeight] of [[16, 9], [50, 31], [37, 23], [1, 1], [74, 5]]) {
      const { fitted } = qlx.convert(rgba, width, height, { fit: 'stretch', boxWidth: toWidth, boxHeight: toHeight });
      // At its own size a picture is not resampled at all.
      const same = toWidth === width && toHeight === height;
      const expected = same ? rgba : plainResample(rgba, width, height, toWidth, toHeight);
      assert.deepEqual(fitted, expected, `${toWidth} x ${toHeight}`);
    }
  });

  test('black and white average to the middle of linear light, not of codes', () => {
    const rgba = Uint8ClampedArray.from([0, 0, 0, 255, 255, 255, 255, 255]);
    const { fitted } = qlx.convert(rgba, 2, 1, { fit: 'stretch', boxWidth: 1, boxHeight: 1 });
    assert.deepEqual([...fitted], [188, 188, 188, 255]); // linear 0.5 is code 187.5, nearer 188 in light
  });

  test('contain puts the quantised picture in bars of index 0', () => {
    const { rgba, width, height } = bmpToRgba(readFileSync(sample));
    const options = { fit: 'contain', boxWidth: 200, boxHeight: 200, dither: 'floyd-steinberg' };
    const fitted = qlx.convert(rgba, width, height, options);
    const place = qlx.placement(width, height, 200, 200, 'contain');
    const inner = qlx.convert(rgba, width, height, { ...options, fit: 'stretch', boxWidth: place.width, boxHeight: place.height });
    assert.equal(fitted.indices.length, 200 * 200);
    for (let y = 0; y < 200; y += 1) {
      for (let x = 0; x < 200; x += 1) {
        const inside = y >= place.y && y < place.y + place.height;
        const expected = inside ? inner.indices[(y - place.y) * place.width + x] : 0;
        assert.equal(fitted.indices[y * 200 + x], expected, `${x}, ${y}`);
      }
    }
  });
});

describe('indexed PNG, as the qlx command writes and reads it', () => {
  // Every index, each twice, so that the duplicate palette entries are there.
  const width = 64;
  const height = 8;
  const indices = Uint8Array.from({ length: width * height }, (_, i) => (i * 11) & 255);

  test('toPng and fromPng keep every index, and the command reads the same', async () => {
    const png = await qlx.toPng(indices, width, height, { transparentIndex: 80 });
    const back = await qlx.fromPng(png);
    assert.deepEqual(back.indices, indices);
    assert.deepEqual([...back.alpha].filter((alpha) => alpha === 0).length, indices.filter((i) => i === 80).length);
    const file = join(work.folder, 'page.png');
    writeFileSync(file, png);
    const back64x8 = join(work.folder, `page.${width}x${height}.qlx`);
    runQlx(['convert', '--transparent-index=80', file, back64x8]);
    assert.deepEqual(readFileSync(back64x8), Buffer.from(indices));
    // Without the index, its transparent pixels are the background, black.
    runQlx(['convert', file, back64x8]);
    assert.deepEqual(readFileSync(back64x8), Buffer.from(indices.map((index) => (index === 80 ? 0 : index))));
    assert.ok(png.includes(0x74) && Buffer.from(png).includes('tRNS'));
  });

  test('the command\'s PNG reads back to its QLX bytes', async () => {
    const file = join(work.folder, `every.${width}x${height}.qlx`);
    writeFileSync(file, indices);
    runQlx(['convert', file, join(work.folder, 'every.png')]);
    const back = await qlx.fromPng(readFileSync(join(work.folder, 'every.png')));
    assert.deepEqual(back.indices, indices);
  });

  test('every depth, interlaced or not, every filter; another palette gives null', async () => {
    const palette = Buffer.concat(Array.from({ length: 256 }, (_, i) => Buffer.from(qlx.colour(i))));
    for (const depth of [1, 2, 4, 8]) {
      for (const interlaced of [false, true]) {
        const w = 13;
        const h = 11;
        const values = Uint8Array.from({ length: w * h }, (_, i) => (i * 7 + (i >> 4)) % (1 << depth));
        const passes = interlaced
          ? [[0, 0, 8, 8], [4, 0, 8, 8], [0, 4, 4, 8], [2, 0, 4, 4], [0, 2, 2, 4], [1, 0, 2, 2], [0, 1, 1, 2]]
          : [[0, 0, 1, 1]];
        const raw = [];
        for (const [x0, y0, dx, dy] of passes) {
          for (let y = y0; y < h && x0 < w; y += dy) {
            const row = [];
            for (let x = x0; x < w; x += dx) row.push(values[y * w + x]);
            const packed = Buffer.alloc(Math.ceil((row.length * depth) / 8));
            row.forEach((v, i) => { packed[(i * depth) >> 3] |= v << (8 - depth - ((i * depth) & 7)); });
            // Filter 1 (sub) on odd rows, so that unfiltering is exercised.
            const filter = y % 2;
            const filtered = filter ? packed.map((b, i) => (b - (i > 0 ? packed[i - 1] : 0)) & 255) : packed;
            raw.push(Buffer.from([filter]), filtered);
          }
        }
        const header = Buffer.alloc(13);
        header.writeUInt32BE(w, 0);
        header.writeUInt32BE(h, 4);
        header.set([depth, 3, 0, 0, interlaced ? 1 : 0], 8);
        const entries = Buffer.from(palette.subarray(0, 3 << depth));
        const png = Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 13, 10, 26, 10]), pngChunk('IHDR', header),
          pngChunk('PLTE', entries), pngChunk('IDAT', deflateSync(Buffer.concat(raw))), pngChunk('IEND', Buffer.alloc(0))]);
        const back = await qlx.fromPng(png);
        assert.deepEqual(back.indices, values, `${depth} bits${interlaced ? ', interlaced' : ''}`);
        entries[0] ^= 1;
        const other = Buffer.concat([png.subarray(0, 33), pngChunk('PLTE', entries), png.subarray(33 + 12 + entries.length)]);
        assert.equal(await qlx.fromPng(other), null);
      }
    }
  });
});

// The same pictures through the C call (the qlx command's bytes are
// qlx_convert's) and through the module: every fit, a source in our palette
// and one not, with and without alpha.
describe('every door converts alike', () => {
  test('every fit of colours, alpha and indices gives the command\'s bytes', async () => {
    const { indexedPng } = await import(join(webDir, 'png.mjs'));
    const width = 70;
    const height = 48;
    const rgba = Uint8Array.from({ length: width * height * 4 }, (_, i) => {
      const [pixel, c] = [i >> 2, i & 3];
      const [x, y] = [pixel % width, Math.floor(pixel / width)];
      return [x * 3, y * 5, (x * y) & 255, x % 5 === 0 ? 0 : 200 + (x % 56)][c];
    });
    const opaque = rgba.map((value, i) => (i % 4 === 3 ? 255 : value));
    const indices = Uint8Array.from({ length: width * height }, (_, i) => (i * 7 + Math.floor(i / width) * 3) & 255);
    const ours = Array.from({ length: 256 }, (_, i) => qlx.colour(i));
    const other = ours.map(([r, g, b], i) => (i % 3 === 0 ? [g, b, r] : [r, g, b]));
    const sources = {
      'colours.png': rgbaPng(opaque, width, height),
      'alpha.png': rgbaPng(rgba, width, height),
      'ours.png': await indexedPng(indices, width, height, ours),
      'ours-alpha.png': await indexedPng(indices, width, height, ours, 80),
      'other.png': await indexedPng(indices, width, height, other, 5),
    };
    for (const [name, bytes] of Object.entries(sources)) {
      const file = join(work.folder, name);
      writeFileSync(file, bytes);
      const png = await qlx.readPng(bytes);
      for (const fit of qlx.fits) {
        const options = { fit, boxWidth: 64, boxHeight: 40, background: '#204060', dither: 'ordered' };
        const out = join(work.folder, fit === 'keep' ? `out.${width}x${height}.qlx` : 'out.64x40.qlx');
        runQlx(['convert', '-q', `--fit=${fit}`, '--size=64x40', '--background=#204060', '--dither=ordered', file, out]);
        const mine = png.indices
          ? qlx.convertIndexed(png.indices, png.palette, width, height, options)
          : qlx.convert(png.rgba, width, height, options);
        assert.deepEqual(Buffer.from(mine.indices), readFileSync(out), `${name} ${fit}`);
      }
    }
  });

  test('the size in a name is the library\'s', () => {
    assert.deepEqual(qlx.sizeFromName('castle.641x480.qlx'), { width: 641, height: 480 });
    assert.deepEqual(qlx.sizeFromName('a.64x48.320x200.QLX'), { width: 320, height: 200 });
    assert.equal(qlx.sizeFromName('castle.qlx'), null);
    assert.equal(qlx.sizeFromName('c.16385x1.qlx'), null);
    assert.equal(qlx.nameWithSize('castle', 641, 480), 'castle.641x480.qlx');
    assert.equal(qlx.nameWithSize('title', 320, 200), 'title.qlx');
    assert.throws(() => qlx.nameWithSize('x', 0, 5), { status: STATUS.SIDE_OUT_OF_RANGE });
  });
});

describe('fitting as the qlx command fits', () => {
  test('contain, cover and stretch give the command\'s bytes', () => {
    const { rgba, width, height } = bmpToRgba(readFileSync(sample));
    for (const fit of ['contain', 'cover', 'stretch']) {
      const options = { fit, boxWidth: 200, boxHeight: 150, dither: 'floyd-steinberg' };
      const output = join(work.folder, `${fit}.qlx`);
      runQlx(['convert', `--fit=${fit}`, '--size=200x150', '--dither=floyd-steinberg', sample, output]);
      assert.deepEqual(Buffer.from(qlx.convert(rgba, width, height, options).indices), readFileSync(output), fit);
    }
  });
});

describe('frames, as the qlx command converts them', () => {
  // Frames with the palette's duplicates (80 is black's twin, 255 white's),
  // a block moving across, and a still pair.
  const animation = (count, width, height) => Array.from({ length: count }, (_, f) => {
    const frame = Uint8Array.from({ length: width * height }, (_, i) => (i % 7 === 0 ? 80 : i % 251));
    for (let y = 3; y < 9; y += 1) for (let x = 0; x < 6; x += 1) frame[y * width + x + 3 * Math.min(f, 2)] = 255 - f;
    return frame;
  });

  test('a GIF in our palette comes back as its indices, and is the command\'s file', () => {
    const frames = animation(5, 40, 24);
    const gif = qlx.writeGif(frames, 40, 24, { delay: [3, 4, 5, 6, 7], loop: 2 });
    const read = qlx.readGif(gif);
    assert.deepEqual([read.width, read.height, read.loop], [40, 24, 2]);
    assert.deepEqual(read.frames.map((f) => f.delay), [3, 4, 5, 6, 7]);
    read.frames.forEach((frame, f) => assert.deepEqual(frame.indices, frames[f], `frame ${f}`));
    writeFileSync(join(work.folder, 'walk.gif'), gif);
    runQlx(['convert', join(work.folder, 'walk.gif'), join(work.folder, 'again.gif')]);
    assert.deepEqual(new Uint8Array(readFileSync(join(work.folder, 'again.gif'))), gif);
    assert.deepEqual(qlx.convertGif(gif), gif);
    runQlx(['convert', '--transparent-index=0', join(work.folder, 'walk.gif'), join(work.folder, 'clear.gif')]);
    assert.deepEqual(qlx.convertGif(gif, { transparentIndex: 0 }),
      new Uint8Array(readFileSync(join(work.folder, 'clear.gif'))));
    assert.throws(() => qlx.readGif(gif.subarray(0, gif.length - 1)), { status: STATUS.GIF_CUT_SHORT });
  });

  test('noisy frames, on their own and held still, give the command\'s bytes', () => {
    const rgba = bmpToRgba(readFileSync(sample)).rgba;
    let seed = 7;
    const next = () => { seed = (seed * 1103515245 + 12345) % 2 ** 31; return seed; };
    const frames = Array.from({ length: 3 }, () => Uint8Array.from(rgba, (v, i) =>
      (i % 4 === 3 ? 255 : Math.min(255, Math.max(0, v + (next() % 7) - 3)))));
    const names = frames.map((frame, f) => {
      const name = join(work.folder, `n${f}.png`);
      writeFileSync(name, rgbaPng(frame, 320, 200));
      return name;
    });
    for (const stable of [false, true]) {
      const args = ['convert', '--sequence', '--dither=floyd-steinberg', '--dither-light=linear'];
      if (stable) args.push('--dither-stable');
      runQlx([...args, ...names, join(work.folder, 'o%d.qlx')]);
      const ours = qlx.quantiseFrames(frames.map((f) => ({ rgba: f, width: 320, height: 200 })),
        { dither: 'floyd-steinberg', light: 'linear', ditherStable: stable });
      ours.frames.forEach((indices, f) => assert.deepEqual(indices,
        new Uint8Array(readFileSync(join(work.folder, `o${f + 1}.qlx`))), `${stable} frame ${f + 1}`));
    }
  });
});

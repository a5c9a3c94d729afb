// libqlx in JavaScript: the library compiled to WebAssembly, behind a few
// functions on Uint8Arrays. The same file works in a page, in a Web Worker
// and in Node; the bytes are the palquant and palexpand programs' own.
//
//   const qlx = await load();
//   const { width, height, indices } = qlx.fromBmp(bmpBytes, { dither: 'ordered' });
//   const bmp = qlx.toBmp(indices, width, height);
//
// Every refusal throws an Error whose message is the library's status text.

import { indexedPng, readIndexedPng, readPng } from './png.mjs';
import { STATUS } from './statuses.mjs';

// Every status of the library by its name without "QLX_", made from qlx.h's
// one list when the package is built.
export { STATUS };

// The names of the methods, lights and fits come from the library itself
// (qlx_dither_name and its kin), so they are never a second list to keep.
const RGBA = 2; // qlx_pixel_format
// qlx_options: 64 bytes, int32 fields in this order, then reserved words.
// tests/module.test.mjs checks each place against the library's own checks.
export const OPTIONS_LAYOUT = {
  bytes: 64, dither: 0, strength: 1, transparentIndex: 2, threads: 3, light: 4, alpha: 5, background: 6, stable: 7,
};
const COMPOSITE = 1; // qlx_alpha: over the background, as the qlx command converts
const PLACEMENT_WORDS = 10; // size_t fields of qlx_placement
const PICTURE_WORDS = 8; // the fields of qlx_picture, each 32 bits in the module
const GIF_INFO_WORDS = 4; // qlx_gif_info: width, height, frame_count, loop
const FRAME_VIEW_WORDS = PICTURE_WORDS + 1; // qlx_gif_frame_view: the picture, then the delay
const GIF_START_SIZE = 800; // QLX_GIF_START_SIZE
const GIF_TRAILER = 0x3b;
const FRAME_MEMORY_PIXEL_BYTES = 5; // QLX_FRAME_MEMORY_PIXEL_BYTES
const CLOSENESS_BYTES = 32; // qlx_closeness: three doubles, then a 32-bit size_t and padding
// --dither-stable's tolerance (QLX_STABLE_TOLERANCE): a pixel keeps its
// index while each component stays within this many codes.
export const STABLE_TOLERANCE = 6;

// Out-of-range values that the library refuses in its own words.
const UNKNOWN = -1;

async function fetched(url) {
  if (url.protocol === 'file:') {
    // Node: its fetch() does not read files. The name is a variable, so
    // that no bundler for the browser tries to resolve it.
    const files = 'node:fs/promises';
    const { readFile } = await import(/* @vite-ignore */ files);
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: HTTP ${response.status}`);
  return response.arrayBuffer();
}

// The compiled module from what the caller gives: a WebAssembly.Module,
// bytes, a Response, or a URL (or its string). Without one, the copy
// embedded in the package: it needs no file beside the module, so it works
// wherever the module does, in Node, a page, a worker or any bundle.
async function compiled(wasm) {
  if (wasm instanceof WebAssembly.Module) return wasm;
  if (wasm === undefined) {
    const { wasmBase64 } = await import('./qlx-wasm.mjs');
    return WebAssembly.compile(Uint8Array.from(atob(wasmBase64), (c) => c.charCodeAt(0)));
  }
  if (typeof Response !== 'undefined' && wasm instanceof Response) {
    if (!wasm.ok) throw new Error(`${wasm.url}: HTTP ${wasm.status}`);
    return WebAssembly.compile(await wasm.arrayBuffer());
  }
  if (wasm instanceof URL || typeof wasm === 'string') {
    return WebAssembly.compile(await fetched(new URL(wasm, import.meta.url)));
  }
  if (ArrayBuffer.isView(wasm) || wasm instanceof ArrayBuffer) return WebAssembly.compile(wasm);
  throw new TypeError('load({ wasm }) takes a WebAssembly.Module, bytes, a Response or a URL');
}

class Library {
  constructor(module) {
    this.module = module;
    this.start();
  }

  // A fresh instance: at load, and after a trap, which may leave the
  // instance's stack and heap in any state.
  start() {
    const imports = {
      env: { emscripten_notify_memory_growth() {} },
      wasi_snapshot_preview1: {
        proc_exit(code) {
          throw Object.assign(new Error(`libqlx stopped (${code})`), { stopped: true });
        },
      },
    };
    this.exports = new WebAssembly.Instance(this.module, imports).exports;
    this.exports._initialize(); // computes the nearest-colour table
    this.vocabulary ??= {
      methods: this.names('qlx_dither_name'),
      lights: this.names('qlx_light_name'),
      fits: this.names('qlx_fit_name'),
    };
  }

  // Runs `work` with a way to allocate memory that is all freed afterwards.
  run(work) {
    const { exports } = this;
    const blocks = [];
    const allocate = (size) => {
      const address = exports.malloc(Math.max(1, size));
      if (address === 0) throw this.refusal(STATUS.OUT_OF_MEMORY);
      blocks.push(address);
      return address;
    };
    try {
      return work(allocate);
    } catch (error) {
      // A trap or an abort may have left the instance's stack or heap in
      // any state; a refusal leaves it sound.
      if (error instanceof WebAssembly.RuntimeError || error.stopped) {
        this.start();
        throw new Error(`libqlx failed: ${error.message}`);
      }
      throw error;
    } finally {
      // Blocks of an instance that trapped went with it.
      if (this.exports === exports) for (const address of blocks) exports.free(address);
    }
  }

  bytes(address, length) {
    return new Uint8Array(this.exports.memory.buffer, address, length);
  }

  words(address, count) {
    return new Uint32Array(this.exports.memory.buffer, address, count);
  }

  copyIn(allocate, bytes) {
    const address = allocate(bytes.length);
    this.bytes(address, bytes.length).set(bytes);
    return address;
  }

  string(address) {
    const memory = new Uint8Array(this.exports.memory.buffer);
    const end = memory.indexOf(0, address);
    return new TextDecoder().decode(memory.subarray(address, end));
  }

  statusText(status) {
    return this.string(this.exports.qlx_status_text(status));
  }

  // Every name the library gives through `nameOf`, from value 0 on.
  names(nameOf) {
    const names = [];
    for (let value = 0; this.exports[nameOf](value) !== 0; value += 1) {
      names.push(this.string(this.exports[nameOf](value)));
    }
    return names;
  }

  // The library's refusal as an Error, its code in `status`.
  refusal(status) {
    return Object.assign(new Error(this.statusText(status)), { status });
  }

  check(status) {
    if (status !== STATUS.OK) throw this.refusal(status);
  }

  // A qlx_options in the module's memory: the library's defaults, then the
  // caller's choices. The module runs on one thread.
  options(allocate, {
    dither = 'none', strength, transparentIndex, light = 'srgb', background = 0, ditherStable = false,
  } = {}) {
    const address = allocate(OPTIONS_LAYOUT.bytes);
    this.exports.qlx_default_options(address);
    const fields = new Int32Array(this.exports.memory.buffer, address, OPTIONS_LAYOUT.bytes / 4);
    fields[OPTIONS_LAYOUT.dither] = codeOf(this.vocabulary.methods, dither);
    if (strength !== undefined) fields[OPTIONS_LAYOUT.strength] = wholeNumberOr(strength, UNKNOWN);
    if (transparentIndex !== undefined && transparentIndex !== null) {
      fields[OPTIONS_LAYOUT.transparentIndex] = wholeNumberOr(transparentIndex, UNKNOWN - 1);
    }
    fields[OPTIONS_LAYOUT.threads] = 1;
    fields[OPTIONS_LAYOUT.light] = codeOf(this.vocabulary.lights, light);
    fields[OPTIONS_LAYOUT.alpha] = COMPOSITE;
    fields[OPTIONS_LAYOUT.background] = colourValue(background);
    fields[OPTIONS_LAYOUT.stable] = stableValue(ditherStable);
    return address;
  }
}

// A name's value, or one the library refuses in its own words.
function codeOf(names, name) {
  const code = names.indexOf(name);
  return code >= 0 ? code : UNKNOWN;
}

// 0xRRGGBB from a number, "RRGGBB" or "#RRGGBB"; anything else a value the
// library refuses.
function colourValue(colour) {
  if (typeof colour === 'string' && /^#?[0-9a-fA-F]{6}$/.test(colour)) return parseInt(colour.replace('#', ''), 16);
  return Number.isInteger(colour) && colour >= 0 && colour <= 0xffffff ? colour : UNKNOWN;
}

// The library's `stable` from ditherStable: false, true or a tolerance.
function stableValue(ditherStable) {
  if (ditherStable === true) return STABLE_TOLERANCE;
  if (ditherStable === false || ditherStable === undefined || ditherStable === null) return 0;
  return Number.isInteger(ditherStable) && ditherStable > 0 ? ditherStable : UNKNOWN;
}

function wholeNumberOr(value, otherwise) {
  return Number.isInteger(value) && Math.abs(value) < 2 ** 31 ? value : otherwise;
}

// A side the module's 32-bit size_t holds; anything else is refused by the
// library as out of range.
function side(value) {
  return Number.isInteger(value) && value >= 0 && value < 2 ** 32 ? value : 0;
}

function api(library) {
  // The instance of the moment: a trap replaces it.
  const wasm = () => library.exports;
  // Methods call each other through `functions`, not `this`, so that they
  // can be taken off the object.
  const functions = {
    version: library.string(wasm().qlx_version()),
    // The names the options take, each list in the library's order: the first is the default.
    methods: [...library.vocabulary.methods],
    lights: [...library.vocabulary.lights],
    fits: [...library.vocabulary.fits],

    // The library's text for a status code.
    statusText(status) {
      return library.statusText(status);
    },

    // Checks options as every conversion does: throws the library's refusal.
    checkOptions(options) {
      library.run((allocate) => library.check(wasm().qlx_check_options(library.options(allocate, options))));
    },

    // The sides of a BMP that fromBmp converts, after all of its checks.
    bmpDimensions(bmp) {
      return library.run((allocate) => {
        const input = library.copyIn(allocate, bmp);
        const sides = allocate(8);
        library.check(wasm().qlx_bmp_dimensions(input, bmp.length, sides, sides + 4));
        const [width, height] = library.words(sides, 2);
        return { width, height };
      });
    },

    // A 24-bit BMP's pixels as QLX indices, as palquant writes them.
    fromBmp(bmp, options) {
      return library.run((allocate) => {
        const input = library.copyIn(allocate, bmp);
        const sides = allocate(8);
        library.check(wasm().qlx_bmp_dimensions(input, bmp.length, sides, sides + 4));
        const [width, height] = library.words(sides, 2);
        const count = width * height;
        const optionsAddress = library.options(allocate, options);
        const output = allocate(count);
        library.check(wasm().qlx_from_bmp(input, bmp.length, optionsAddress, output, count));
        return { width, height, indices: library.bytes(output, count).slice() };
      });
    },

    // RGBA pixels, rows top first and unpadded, as a canvas gives them.
    quantise(rgba, width, height, options) {
      return library.run((allocate) => {
        const w = side(width), h = side(height);
        const count = w * h;
        if (rgba.length < count * 4) throw library.refusal(STATUS.INPUT_TOO_SHORT);
        const optionsAddress = library.options(allocate, options);
        const input = library.copyIn(allocate, rgba.subarray(0, count * 4));
        const output = allocate(count);
        library.check(wasm().qlx_quantise(input, w, h, w * 4, RGBA, optionsAddress, output, count));
        return library.bytes(output, count).slice();
      });
    },

    // The BMP palexpand writes for these indices.
    toBmp(indices, width, height) {
      return library.run((allocate) => {
        const w = side(width), h = side(height);
        const size = wasm().qlx_bmp_size(w, h);
        if (size === 0) throw library.refusal(STATUS.SIDE_OUT_OF_RANGE);
        const input = library.copyIn(allocate, indices);
        const output = allocate(size);
        library.check(wasm().qlx_to_bmp(input, indices.length, w, h, output, size));
        return library.bytes(output, size).slice();
      });
    },

    // The palette colours of the indices as RGBA, for a canvas.
    expand(indices, width, height) {
      return library.run((allocate) => {
        const w = side(width), h = side(height);
        if (indices.length < w * h) throw library.refusal(STATUS.INPUT_TOO_SHORT);
        const input = library.copyIn(allocate, indices.subarray(0, w * h));
        const output = allocate(w * h * 4);
        library.check(wasm().qlx_expand(input, w, h, RGBA, output, w * 4, w * h * 4));
        return new Uint8ClampedArray(library.bytes(output, w * h * 4));
      });
    },

    // Where a picture lands in a box: { sourceX, sourceY, sourceWidth,
    // sourceHeight, x, y, width, height, boxWidth, boxHeight }.
    placement(width, height, boxWidth, boxHeight, fit) {
      return library.run((allocate) => {
        const address = allocate(PLACEMENT_WORDS * 4);
        const code = codeOf(library.vocabulary.fits, fit);
        library.check(wasm().qlx_fit_placement(side(width), side(height), side(boxWidth), side(boxHeight), code, address));
        const [sourceX, sourceY, sourceWidth, sourceHeight, px, py, pw, ph, bw, bh] = library.words(
          address,
          PLACEMENT_WORDS,
        );
        return {
          sourceX, sourceY, sourceWidth, sourceHeight,
          x: px, y: py, width: pw, height: ph, boxWidth: bw, boxHeight: bh,
        };
      });
    },

    // Fits RGBA pixels into a box and quantises them, as every door does:
    // qlx_convert. The box around a contained picture is palette index 0.
    // Returns { width, height, indices, fitted }, `fitted` being the RGBA
    // that was quantised, in its place in the box, for showing beside the
    // result. With the option closeness: true, also `closeness`, the
    // figures of `qlx convert --report`: { blurredError, ciede2000,
    // exactShare, measured }.
    convert(rgba, width, height, options = {}) {
      const w = side(width), h = side(height);
      if (rgba.length < w * h * 4) throw library.refusal(STATUS.INPUT_TOO_SHORT);
      return convertSource({ pixels: rgba.subarray(0, w * h * 4), width: w, height: h, stride: w * 4 }, options);
    },

    // The same for indices into a palette of their own (an indexed PNG,
    // GIF or BMP): `palette` holds [red, green, blue] or [red, green, blue,
    // alpha] entries, 1 to 256 of them. Where every entry is ours at its
    // index, the indices are kept, duplicates included.
    convertIndexed(indices, palette, width, height, options = {}) {
      const w = side(width), h = side(height);
      if (indices.length < w * h) throw library.refusal(STATUS.INPUT_TOO_SHORT);
      const entries = Uint8Array.from(palette.flatMap(([r, g, b, a = 255]) => [r, g, b, a]));
      return convertSource({ pixels: indices.subarray(0, w * h), width: w, height: h, stride: w, palette: entries },
        options);
    },

    // A QLX file's size in its name ("castle.641x480.qlx"), by the
    // library's rule: { width, height }, or null.
    sizeFromName(name) {
      return library.run((allocate) => {
        const text = library.copyIn(allocate, new TextEncoder().encode(`${name}\0`));
        const sides = allocate(8);
        if (wasm().qlx_size_from_name(text, sides, sides + 4) !== STATUS.OK) return null;
        const [w, h] = library.words(sides, 2);
        return { width: w, height: h };
      });
    },

    // The name of a QLX file of these sides: stem + ".641x480.qlx", or
    // stem + ".qlx" for the standard 320 x 200.
    nameWithSize(stem, width, height) {
      return library.run((allocate) => {
        const encoded = new TextEncoder().encode(`${stem}\0`);
        const text = library.copyIn(allocate, encoded);
        const capacity = encoded.length + 32;
        const name = allocate(capacity);
        library.check(wasm().qlx_name_with_size(text, side(width), side(height), name, capacity));
        return library.string(name);
      });
    },

    // The indexed PNG the qlx command writes: all 256 entries in PLTE, a
    // tRNS for the transparent index when given (0-255), 8 bits a pixel.
    // The bytes may differ from the command's, which compresses with its
    // own deflate; the pixels and the palette are the same.
    toPng(indices, width, height, { transparentIndex = -1 } = {}) {
      const palette = Array.from({ length: 256 }, (_, i) => functions.colour(i));
      return indexedPng(indices, width, height, palette, transparentIndex);
    },

    // An indexed PNG whose palette entries, as many as it has, each equal
    // ours at the same index: { width, height, indices, alpha } with its
    // indices exactly as stored, duplicates included, and each pixel's
    // alpha. null for any other PNG, whose colours the browser decodes.
    async fromPng(bytes) {
      const stored = await readIndexedPng(bytes);
      return stored && keptOf(stored);
    },

    // Any PNG as the qlx command reads it, with exact alpha: { width,
    // height, rgba }, or for an indexed PNG { width, height, indices,
    // palette } with its palette's [red, green, blue, alpha] entries, for
    // convertIndexed. null for bytes that are no PNG.
    async readPng(bytes) {
      const stored = await readPng(bytes);
      if (!stored || stored.rgba) return stored;
      const palette = stored.palette.map((rgb, i) => [...rgb, stored.alpha[i]]);
      return { width: stored.width, height: stored.height, indices: stored.indices, palette };
    },

    // Every frame of a GIF as browsers compose it (the library's reader):
    // { width, height, loop, frames }, each frame { delay } with { indices,
    // stored } into our palette while every pixel came from a table that
    // is ours (indices kept, duplicates included), else { rgba }. loop: -1
    // plays once, 0 forever.
    readGif(bytes) {
      return library.run((allocate) => {
        const input = library.copyIn(allocate, bytes);
        const handle = allocate(4);
        library.check(wasm().qlx_gif_reader_create(input, bytes.length, handle));
        const reader = library.words(handle, 1)[0];
        try {
          const info = allocate(GIF_INFO_WORDS * 4);
          wasm().qlx_gif_reader_info(info, reader);
          const [width, height] = library.words(info, 2);
          const loop = new Int32Array(wasm().memory.buffer, info, GIF_INFO_WORDS)[3];
          const view = allocate(FRAME_VIEW_WORDS * 4);
          const frames = [];
          for (;;) {
            const status = wasm().qlx_gif_read_frame(reader, view);
            if (status === STATUS.NO_MORE_FRAMES) break;
            library.check(status);
            const [pixels, , , , , palette] = library.words(view, FRAME_VIEW_WORDS);
            const stored = library.words(view, FRAME_VIEW_WORDS)[7];
            const delay = new Int32Array(wasm().memory.buffer, view, FRAME_VIEW_WORDS)[PICTURE_WORDS];
            const count = width * height;
            frames.push(palette !== 0
              ? { indices: library.bytes(pixels, count).slice(), stored: library.bytes(stored, count).slice(), delay }
              : { rgba: new Uint8ClampedArray(library.bytes(pixels, count * 4)), delay });
          }
          return { width, height, loop, frames };
        } finally {
          wasm().qlx_gif_reader_destroy(reader);
        }
      });
    },

    // Frames of one animation converted in turn, each as convert() and
    // convertIndexed() convert a picture, carrying what ditherStable holds
    // from each frame to the next: startFrames(options).convert(frame) with
    // a frame { rgba } or { indices, palette, stored } (readGif's, or
    // { indices, palette } of a picture of its own palette), { width,
    // height } given once in the options or with each frame. Returns the
    // frame's { width, height, indices, fitted }, `fitted` being the RGBA
    // quantised, in its place in the box, for showing beside the result.
    startFrames(options = {}) {
      const held = { memory: null };
      let sides = null;
      return {
        convert(frame) {
          const w = side(frame.width ?? options.width), h = side(frame.height ?? options.height);
          const result = convertSource(pictureOf(frame, w, h), options, held);
          if (sides && (result.width !== sides.width || result.height !== sides.height)) {
            throw new Error(`a frame is ${result.width} x ${result.height}, not ${sides.width} x ${sides.height} as the first`);
          }
          sides ??= { width: result.width, height: result.height };
          return result;
        },
      };
    },

    // Every frame through startFrames: { width, height, frames } with each
    // frame's indices; the bytes of `qlx convert` for the same frames.
    quantiseFrames(frames, options = {}) {
      const animation = functions.startFrames(options);
      const converted = [...frames].map((frame) => animation.convert(frame));
      if (converted.length === 0) throw new Error('there are no frames');
      return { width: converted[0].width, height: converted[0].height, frames: converted.map((f) => f.indices) };
    },

    // An animated GIF in our palette whose frames decode to exactly these
    // indices, duplicates included: the library's bytes, as the qlx command
    // writes them. delay: hundredths of a second, one for all or one a
    // frame; loop: 0 forever, -1 once; transparentIndex: transparent in
    // every frame.
    writeGif(frames, width, height, { delay = 10, loop = 0, transparentIndex = -1 } = {}) {
      const list = [...frames];
      const delays = Array.isArray(delay) ? delay : list.map(() => delay);
      if (delays.length !== list.length) throw new Error(`${delays.length} delays for ${list.length} frames`);
      return library.run((allocate) => {
        const w = side(width), h = side(height);
        const bound = wasm().qlx_gif_frame_bound(w, h);
        if (bound === 0) throw library.refusal(STATUS.SIDE_OUT_OF_RANGE);
        const out = allocate(Math.max(bound, GIF_START_SIZE));
        const written = allocate(4);
        const parts = [];
        library.check(wasm().qlx_gif_start(w, h, wholeNumberOr(loop, -2), out, GIF_START_SIZE, written));
        parts.push(library.bytes(out, library.words(written, 1)[0]).slice());
        const current = allocate(w * h), previous = allocate(w * h);
        list.forEach((indices, k) => {
          if (indices.length < w * h) throw library.refusal(STATUS.INPUT_TOO_SHORT);
          library.bytes(current, w * h).set(indices.subarray(0, w * h));
          library.check(wasm().qlx_gif_frame(current, k === 0 ? 0 : previous, w, h, wholeNumberOr(delays[k], -1),
            wholeNumberOr(transparentIndex ?? -1, -2), out, bound, written));
          parts.push(library.bytes(out, library.words(written, 1)[0]).slice());
          library.bytes(previous, w * h).set(library.bytes(current, w * h));
        });
        parts.push(Uint8Array.of(GIF_TRAILER));
        return concatenated(parts);
      });
    },

    // A GIF in our palette, its delays and loop kept unless given: the bytes
    // of `qlx convert IN.gif OUT.gif` with the same options.
    convertGif(bytes, { delay, loop, ...options } = {}) {
      const gif = functions.readGif(bytes);
      const converted = functions.quantiseFrames(gif.frames.map((frame) => ({ ...frame, width: gif.width,
        height: gif.height })), options);
      return functions.writeGif(converted.frames, converted.width, converted.height, {
        delay: delay ?? gif.frames.map((frame) => frame.delay), loop: loop ?? gif.loop,
        transparentIndex: options.transparentIndex,
      });
    },

    // Palette entry `index` as [red, green, blue].
    colour(index) {
      const rgb = wasm().qlx_palette_colour(index & 255);
      return [rgb >>> 16, (rgb >>> 8) & 255, rgb & 255];
    },
  };
  // An indexed picture's indices and each pixel's alpha, if its palette
  // keeps its indices (the library's qlx_palette_is_ours); else null.
  function keptOf(stored) {
    const entries = Uint8Array.from(stored.palette.flatMap(([r, g, b]) => [r, g, b, 255]));
    const ours = entries.length > 0 && library.run((allocate) =>
      wasm().qlx_palette_is_ours(library.copyIn(allocate, entries), entries.length / 4) === 1);
    if (!ours) return null;
    const alpha = stored.indices.map((index) => (index < stored.alpha.length ? stored.alpha[index] : 0));
    return { width: stored.width, height: stored.height, indices: stored.indices, alpha };
  }

  const OURS = Uint8Array.from({ length: 1024 }, (_, i) => (i % 4 === 3 ? 255 : functions.colour(i >> 2)[i % 4]));

  // A frame as convertSource takes it.
  function pictureOf(frame, w, h) {
    if (frame.rgba) {
      if (frame.rgba.length < w * h * 4) throw library.refusal(STATUS.INPUT_TOO_SHORT);
      return { pixels: frame.rgba.subarray(0, w * h * 4), width: w, height: h, stride: w * 4 };
    }
    if (frame.indices.length < w * h || (frame.stored && frame.stored.length < w * h)) {
      throw library.refusal(STATUS.INPUT_TOO_SHORT);
    }
    const palette = frame.palette
      ? Uint8Array.from(frame.palette.flatMap(([r, g, b, a = 255]) => [r, g, b, a]))
      : OURS;
    return { pixels: frame.indices.subarray(0, w * h), width: w, height: h, stride: w, palette,
      stored: frame.stored?.subarray(0, w * h) };
  }

  // qlx_convert of a still picture, or with `held` qlx_convert_frame of a
  // frame of an animation, `held.memory` carrying what it holds from one frame
  // to the next (null before the first); and qlx_convert_colours. The source
  // is { pixels, width, height, stride } of RGBA, or with `palette` (4 bytes
  // an entry) and perhaps `stored`, of indices.
  function convertSource(source, { fit = 'keep', boxWidth = 320, boxHeight = 200, closeness = false, ...options },
    held = undefined) {
    return library.run((allocate) => {
      const pixels = library.copyIn(allocate, source.pixels);
      const palette = source.palette ? library.copyIn(allocate, source.palette) : 0;
      const stored = source.stored ? library.copyIn(allocate, source.stored) : 0;
      const picture = allocate(PICTURE_WORDS * 4);
      library.words(picture, PICTURE_WORDS).set([pixels, source.width, source.height, source.stride, RGBA, palette,
        source.palette ? source.palette.length / 4 : 0, stored]);
      const fitCode = codeOf(library.vocabulary.fits, fit);
      const [bw, bh] = [side(boxWidth), side(boxHeight)];
      const sides = allocate(8);
      library.check(wasm().qlx_convert_size(picture, fitCode, bw, bh, sides, sides + 4));
      const [width, height] = library.words(sides, 2);
      const optionsAddress = library.options(allocate, options);
      const indices = allocate(width * height);
      if (held) {
        const size = width * height * FRAME_MEMORY_PIXEL_BYTES;
        const memory = held.memory ? library.copyIn(allocate, held.memory) : allocate(size);
        if (!held.memory) library.bytes(memory, size).fill(0);
        library.check(wasm().qlx_convert_frame(picture, optionsAddress, fitCode, bw, bh, memory, size, indices,
          width * height));
        held.memory = library.bytes(memory, size).slice();
      } else {
        library.check(wasm().qlx_convert(picture, optionsAddress, fitCode, bw, bh, indices, width * height));
      }
      const fitted = allocate(width * height * 4);
      library.check(wasm().qlx_convert_colours(picture, fitCode, bw, bh, fitted, width * height * 4));
      const result = {
        width, height, indices: library.bytes(indices, width * height).slice(),
        fitted: new Uint8ClampedArray(library.bytes(fitted, width * height * 4)),
      };
      if (closeness) {
        const figures = allocate(CLOSENESS_BYTES);
        library.check(wasm().qlx_closeness_of(picture, optionsAddress, fitCode, bw, bh, indices, width * height,
          figures));
        const [blurredError, ciede2000, exactShare] = new Float64Array(wasm().memory.buffer, figures, 3);
        const measured = library.words(figures + 24, 1)[0];
        result.closeness = { blurredError, ciede2000, exactShare, measured };
      }
      return result;
    });
  }

  return functions;
}

function concatenated(parts) {
  const whole = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    whole.set(part, at);
    at += part.length;
  }
  return whole;
}

let loading;

// Compiles the module once per page, worker or process; every call
// resolves to the same functions. `wasm`, for those who serve qlx.wasm
// themselves: a WebAssembly.Module, bytes, a Response or a URL. A call
// with `wasm` makes a library of its own.
export async function load({ wasm } = {}) {
  if (wasm !== undefined) return api(new Library(await compiled(wasm)));
  loading ??= (async () => api(new Library(await compiled(undefined))))();
  return loading;
}

// libqlx in JavaScript: the library compiled to WebAssembly, behind a few
// functions on Uint8Arrays. The same file works in a page, in a Web Worker
// and in Node; the bytes are the palquant and palexpand programs' own.
//
//   const qlx = await load();
//   const { width, height, indices } = qlx.fromBmp(bmpBytes, { dither: 'ordered' });
//   const bmp = qlx.toBmp(indices, width, height);
//
// Every refusal throws an Error whose message is the library's status text.

const DITHER_CODES = { none: 0, 'floyd-steinberg': 1, ordered: 2, atkinson: 3, 'sierra-lite': 4, 'blue-noise': 5 };
const LIGHT_CODES = { srgb: 0, linear: 1 };
const FIT_CODES = { keep: 0, contain: 1, cover: 2, stretch: 3 };
const RGBA = 2; // qlx_pixel_format
const OPTIONS_BYTES = 64; // sizeof(qlx_options)
const PLACEMENT_WORDS = 10; // size_t fields of qlx_placement

// Out-of-range values that the library refuses in its own words.
const UNKNOWN = -1;
export const STATUS = { OK: 0, BMP_NOT_24_BIT: 2, SIDE_OUT_OF_RANGE: 22, INPUT_TOO_SHORT: 24, OUT_OF_MEMORY: 40 };

async function wasmBytes(url) {
  if (url.protocol === 'file:') {
    // Node: its fetch() does not read files.
    const { readFile } = await import('node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: HTTP ${response.status}`);
  return response.arrayBuffer();
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

  // The library's refusal as an Error, its code in `status`.
  refusal(status) {
    return Object.assign(new Error(this.statusText(status)), { status });
  }

  check(status) {
    if (status !== STATUS.OK) throw this.refusal(status);
  }

  // A qlx_options in the module's memory: the library's defaults, then the
  // caller's choices. The module runs on one thread.
  options(allocate, { dither = 'none', strength, transparentIndex, light = 'srgb' } = {}) {
    const address = allocate(OPTIONS_BYTES);
    this.exports.qlx_default_options(address);
    const fields = new Int32Array(this.exports.memory.buffer, address, 5);
    fields[0] = Object.hasOwn(DITHER_CODES, dither) ? DITHER_CODES[dither] : UNKNOWN;
    if (strength !== undefined) fields[1] = wholeNumberOr(strength, UNKNOWN);
    if (transparentIndex !== undefined && transparentIndex !== null) {
      fields[2] = wholeNumberOr(transparentIndex, UNKNOWN - 1);
    }
    fields[3] = 1; // threads
    fields[4] = Object.hasOwn(LIGHT_CODES, light) ? LIGHT_CODES[light] : UNKNOWN;
    return address;
  }
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
  const x = () => library.exports;
  // Methods call each other through `face`, not `this`, so that they can
  // be taken off the object.
  const face = {
    version: library.string(x().qlx_version()),

    // The library's text for a status code.
    statusText(status) {
      return library.statusText(status);
    },

    // The sides of a BMP that fromBmp converts, after all of its checks.
    bmpDimensions(bmp) {
      return library.run((allocate) => {
        const input = library.copyIn(allocate, bmp);
        const sides = allocate(8);
        library.check(x().qlx_bmp_dimensions(input, bmp.length, sides, sides + 4));
        const [width, height] = library.words(sides, 2);
        return { width, height };
      });
    },

    // A 24-bit BMP's pixels as QLX indices, as palquant writes them.
    fromBmp(bmp, options) {
      return library.run((allocate) => {
        const input = library.copyIn(allocate, bmp);
        const sides = allocate(8);
        library.check(x().qlx_bmp_dimensions(input, bmp.length, sides, sides + 4));
        const [width, height] = library.words(sides, 2);
        const count = width * height;
        const optionsAddress = library.options(allocate, options);
        const output = allocate(count);
        library.check(x().qlx_from_bmp(input, bmp.length, optionsAddress, output, count));
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
        library.check(x().qlx_quantise(input, w, h, w * 4, RGBA, optionsAddress, output, count));
        return library.bytes(output, count).slice();
      });
    },

    // The BMP palexpand writes for these indices.
    toBmp(indices, width, height) {
      return library.run((allocate) => {
        const w = side(width), h = side(height);
        const size = x().qlx_bmp_size(w, h);
        if (size === 0) throw library.refusal(STATUS.SIDE_OUT_OF_RANGE);
        const input = library.copyIn(allocate, indices);
        const output = allocate(size);
        library.check(x().qlx_to_bmp(input, indices.length, w, h, output, size));
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
        library.check(x().qlx_expand(input, w, h, RGBA, output, w * 4, w * h * 4));
        return new Uint8ClampedArray(library.bytes(output, w * h * 4));
      });
    },

    // Where a picture lands in a box: { sourceX, sourceY, sourceWidth,
    // sourceHeight, x, y, width, height, boxWidth, boxHeight }.
    placement(width, height, boxWidth, boxHeight, fit) {
      return library.run((allocate) => {
        const address = allocate(PLACEMENT_WORDS * 4);
        const code = Object.hasOwn(FIT_CODES, fit) ? FIT_CODES[fit] : UNKNOWN;
        library.check(x().qlx_fit_placement(side(width), side(height), side(boxWidth), side(boxHeight), code, address));
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

    // Fits RGBA pixels into a box and quantises them. The box around a
    // contained picture is palette index 0. Returns { width, height,
    // indices, fitted }, `fitted` being the RGBA that was quantised, in its
    // place in the box, for showing beside the result.
    convert(rgba, width, height, { fit = 'keep', boxWidth = 320, boxHeight = 200, ...options } = {}) {
      const place = face.placement(width, height, boxWidth, boxHeight, fit);
      const inner = library.run((allocate) => {
        const part = place.width * place.height * 4;
        if (fit === 'keep' || (place.sourceWidth === place.width && place.sourceHeight === place.height)) {
          // Nothing to resample: only the crop, if any.
          const pixels = new Uint8Array(part);
          for (let y = 0; y < place.height; y += 1) {
            const from = ((place.sourceY + y) * width + place.sourceX) * 4;
            pixels.set(rgba.subarray(from, from + place.width * 4), y * place.width * 4);
          }
          return pixels;
        }
        const input = library.copyIn(allocate, rgba.subarray(0, width * height * 4));
        const first = input + (place.sourceY * width + place.sourceX) * 4;
        const output = allocate(part);
        library.check(
          x().qlx_resample(first, place.sourceWidth, place.sourceHeight, width * 4, RGBA, output, place.width,
            place.height, part),
        );
        return library.bytes(output, part).slice();
      });
      const innerIndices = face.quantise(inner, place.width, place.height, options);
      const indices = new Uint8Array(place.boxWidth * place.boxHeight); // index 0 around the picture
      const fitted = new Uint8ClampedArray(indices.length * 4);
      const background = x().qlx_palette_colour(0);
      for (let i = 0; i < indices.length; i += 1) {
        fitted.set([background >>> 16, (background >>> 8) & 255, background & 255, 255], i * 4);
      }
      for (let y = 0; y < place.height; y += 1) {
        const to = (place.y + y) * place.boxWidth + place.x;
        indices.set(innerIndices.subarray(y * place.width, (y + 1) * place.width), to);
        fitted.set(inner.subarray(y * place.width * 4, (y + 1) * place.width * 4), to * 4);
      }
      return { width: place.boxWidth, height: place.boxHeight, indices, fitted };
    },

    // Palette entry `index` as [red, green, blue].
    colour(index) {
      const rgb = x().qlx_palette_colour(index & 255);
      return [rgb >>> 16, (rgb >>> 8) & 255, rgb & 255];
    },
  };
  return face;
}

let loading;

// Compiles the module once per page, worker or process; every call
// resolves to the same functions.
export async function load() {
  loading ??= (async () => {
    const module = await WebAssembly.compile(await wasmBytes(new URL('./qlx.wasm', import.meta.url)));
    return api(new Library(module));
  })();
  return loading;
}

// The page's worker: decodes, fits, quantises and encodes, so that the page
// never waits on a picture. Requests are handled one at a time, in order.
import { load, STATUS } from './qlx.mjs';

const library = load();
const pictures = new Map(); // id -> { bmp, rgba, width, height }

// Decodes with the file's own pixel values: no colour management.
async function decodeInBrowser(bytes) {
  const bitmap = await createImageBitmap(new Blob([bytes]), {
    colorSpaceConversion: 'none',
    premultiplyAlpha: 'none',
  });
  try {
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext('2d', { willReadFrequently: true });
    if (!context) throw new Error('the picture is too large for memory');
    context.drawImage(bitmap, 0, 0);
    const { data } = context.getImageData(0, 0, bitmap.width, bitmap.height);
    return { rgba: data, width: bitmap.width, height: bitmap.height };
  } finally {
    bitmap.close();
  }
}

const handlers = {
  async hello(qlx) {
    return { version: qlx.version, methods: qlx.methods, lights: qlx.lights, fits: qlx.fits };
  },

  // A 24-bit BMP goes to the library's own reader, so that it gives
  // palquant's bytes and refusals; a BMP of another depth, and every other
  // format, to the browser's decoder.
  async add(qlx, { id, file }, progress) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    progress(0.3);
    let bmp = null;
    let bmpRefusal = null;
    if (bytes[0] === 0x42 && bytes[1] === 0x4d) {
      try {
        qlx.bmpDimensions(bytes);
        bmp = bytes;
      } catch (error) {
        if (error.status !== STATUS.BMP_NOT_24_BIT) throw error;
        bmpRefusal = error;
      }
    }
    // PNG is read as the qlx command reads it: an indexed PNG in our palette
    // keeps its indices, which the browser's decoder would turn into colours,
    // losing the duplicate entries; and alpha stays exact, where a canvas
    // premultiplies it and loses the colour under it.
    const png = bytes[0] === 0x89 && bytes[1] === 0x50 ? await qlx.readPng(bytes) : null;
    let decoded = png && { ...png, rgba: new Uint8ClampedArray(png.rgba.buffer) };
    if (!png) {
      try {
        decoded = await decodeInBrowser(bytes);
      } catch (error) {
        if (bmpRefusal) throw bmpRefusal;
        if (!bmp) throw new Error(`the browser cannot decode this picture (${error.message})`);
      }
    }
    const sides = bmp ? qlx.bmpDimensions(bmp) : decoded;
    pictures.set(id, {
      bmp, kept: png?.kept ?? null, rgba: decoded?.rgba ?? null, width: sides.width, height: sides.height,
    });
    return { width: sides.width, height: sides.height };
  },

  async qlx(qlx, { id, bytes, width, height }) {
    const indices = bytes.subarray(0, width * height);
    pictures.set(id, { indices, width, height });
    return { width, height };
  },

  async forget(qlx, { id }) {
    pictures.delete(id);
  },

  async convert(qlx, { id, options }, progress) {
    const picture = pictures.get(id);
    if (!picture) throw new Error('the picture is no longer open');
    if (picture.indices) {
      const preview = qlx.expand(picture.indices, picture.width, picture.height);
      return { width: picture.width, height: picture.height, indices: picture.indices.slice(), fitted: preview, preview };
    }
    const { fit, boxWidth, boxHeight } = options;
    const place = qlx.placement(picture.width, picture.height, boxWidth, boxHeight, fit);
    const unchanged = place.boxWidth === picture.width && place.boxHeight === picture.height &&
      place.width === picture.width && place.height === picture.height;
    progress(0.2);
    let converted;
    if (picture.kept && unchanged) {
      // Kept indices: only transparency changes them.
      const indices = qlx.keptIndices(picture.kept, options);
      converted = { width: picture.width, height: picture.height, indices, fitted: picture.rgba?.slice() };
    } else if (picture.bmp && unchanged) {
      const { indices } = qlx.fromBmp(picture.bmp, options);
      // A copy: the reply hands its buffers over.
      converted = { width: picture.width, height: picture.height, indices, fitted: picture.rgba?.slice() };
    } else if (picture.rgba) {
      converted = qlx.convert(picture.rgba, picture.width, picture.height, options);
    } else {
      throw new Error('this BMP can only be converted at its own size');
    }
    progress(0.8);
    const preview = qlx.expand(converted.indices, converted.width, converted.height);
    return { ...converted, fitted: converted.fitted ?? preview, preview };
  },

  async bmp(qlx, { indices, width, height }) {
    return qlx.toBmp(indices, width, height);
  },

  async png(qlx, { indices, width, height, transparentIndex }) {
    return qlx.toPng(indices, width, height, { transparentIndex });
  },
};

function transferables(value) {
  if (!value || typeof value !== 'object') return [];
  const views = ArrayBuffer.isView(value) ? [value] : Object.values(value).filter((v) => ArrayBuffer.isView(v));
  return [...new Set(views.map((view) => view.buffer))];
}

let queue = Promise.resolve();
self.onmessage = ({ data }) => {
  const { request, type, ...args } = data;
  const progress = (fraction) => self.postMessage({ request, progress: fraction });
  queue = queue.then(async () => {
    try {
      const value = await handlers[type](await library, args, progress);
      self.postMessage({ request, ok: true, value }, transferables(value));
    } catch (error) {
      self.postMessage({ request, ok: false, message: error?.message ?? String(error) });
    }
  });
};

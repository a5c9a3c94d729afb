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

// Every frame of an animated WebP (or any picture the browser decodes as
// many frames), composed by the browser, with each frame's delay in
// hundredths of a second; null where the browser has no ImageDecoder or the
// picture one frame.
async function framesInBrowser(bytes, type) {
  if (typeof ImageDecoder === 'undefined' || !(await ImageDecoder.isTypeSupported(type))) return null;
  const decoder = new ImageDecoder({ data: bytes, type, colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  try {
    await decoder.tracks.ready;
    const count = decoder.tracks.selectedTrack?.frameCount ?? 1;
    if (count < 2) return null;
    const frames = [];
    for (let index = 0; index < count; index += 1) {
      const { image } = await decoder.decode({ frameIndex: index });
      try {
        const canvas = new OffscreenCanvas(image.displayWidth, image.displayHeight);
        const context = canvas.getContext('2d', { willReadFrequently: true });
        context.drawImage(image, 0, 0);
        const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
        frames.push({ rgba: data, delay: Math.round((image.duration ?? 100000) / 10000), width: canvas.width,
          height: canvas.height });
      } finally {
        image.close();
      }
    }
    return { width: frames[0].width, height: frames[0].height, loop: 0, frames };
  } finally {
    decoder.close();
  }
}

const isGif = (bytes) => bytes[0] === 0x47 && bytes[1] === 0x49 && bytes[2] === 0x46 && bytes[3] === 0x38;
const isWebp = (bytes) => bytes[0] === 0x52 && bytes[1] === 0x49 && bytes[8] === 0x57 && bytes[9] === 0x45;

// The names a result is saved under: `stem`, the picture's name without
// its extension (and the size a QLX name states), and `name`, the QLX
// file's, which carries its size by the library's rule.
function savedNames(qlx, name, width, height) {
  const named = qlx.sizeFromName(name);
  const suffix = named ? `.${named.width}x${named.height}.qlx`.length : name.length - name.lastIndexOf('.');
  const stem = name.lastIndexOf('.') > 0 ? name.slice(0, name.length - suffix) : name;
  return { stem, name: qlx.nameWithSize(stem, width, height) };
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
    // A GIF is read by the library, as every door reads it: frames composed
    // as browsers compose them, indices kept where its palette is ours. An
    // animated WebP by the browser, frame by frame.
    const animation = isGif(bytes) ? qlx.readGif(bytes) : isWebp(bytes) ? await framesInBrowser(bytes, 'image/webp')
      : null;
    if (animation) {
      pictures.set(id, { name: file.name, animation, width: animation.width, height: animation.height });
      return { width: animation.width, height: animation.height, frames: animation.frames.length };
    }
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
    let decoded = png?.rgba ? { ...png, rgba: new Uint8ClampedArray(png.rgba.buffer) } : png;
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
      name: file.name, bmp, indexed: png?.indices ? png : null, rgba: decoded?.rgba ?? null,
      width: sides.width, height: sides.height,
    });
    return { width: sides.width, height: sides.height };
  },

  // A QLX file's sides: the size asked for, the one in its name, or the
  // standard one, whichever its length fits.
  async qlx(qlx, { id, name, bytes, asked }) {
    const standard = { width: 320, height: 200 };
    const sides = [asked, qlx.sizeFromName(name), standard].find((s) => s && s.width * s.height === bytes.length);
    if (!sides) {
      const size = asked ?? standard;
      const pixels = size.width * size.height;
      throw new Error(
        `this QLX file has ${bytes.length} bytes, but a ${size.width} x ${size.height} picture has ${pixels}` +
          (pixels === 64000 ? '' : ' and a 320 x 200 one 64000') +
          '. Type its size in Size.',
      );
    }
    pictures.set(id, { name, indices: bytes.subarray(0, sides.width * sides.height), ...sides });
    return sides;
  },

  async forget(qlx, { id }) {
    pictures.delete(id);
  },

  async convert(qlx, { id, options }, progress) {
    const picture = pictures.get(id);
    if (!picture) throw new Error('the picture is no longer open');
    if (picture.indices) {
      const preview = qlx.expand(picture.indices, picture.width, picture.height);
      return {
        ...savedNames(qlx, picture.name, picture.width, picture.height),
        width: picture.width, height: picture.height, indices: picture.indices.slice(), fitted: preview, preview,
      };
    }
    progress(0.2);
    if (picture.animation) return convertAnimation(qlx, picture, options, progress);
    let converted;
    if (picture.indexed) {
      // Indices and their palette: the library keeps them where it is ours.
      const { indices, palette } = picture.indexed;
      converted = qlx.convertIndexed(indices, palette, picture.width, picture.height, options);
    } else if (picture.bmp && (options.fit === 'keep' || !picture.rgba)) {
      if (options.fit !== 'keep') throw new Error('this BMP can only be converted at its own size');
      const { indices } = qlx.fromBmp(picture.bmp, options);
      // A copy: the reply hands its buffers over. The figures come from the
      // same colours as the browser decoded them, where it could.
      const closeness = options.closeness && picture.rgba
        ? qlx.convert(picture.rgba, picture.width, picture.height, options).closeness : undefined;
      converted = { width: picture.width, height: picture.height, indices, fitted: picture.rgba?.slice(), closeness };
    } else if (picture.rgba) {
      converted = qlx.convert(picture.rgba, picture.width, picture.height, options);
    } else {
      throw new Error('this BMP can only be converted at its own size');
    }
    progress(0.8);
    const preview = qlx.expand(converted.indices, converted.width, converted.height);
    return {
      ...converted, ...savedNames(qlx, picture.name, converted.width, converted.height),
      fitted: converted.fitted ?? preview, preview,
    };
  },

  async bmp(qlx, { indices, width, height }) {
    return qlx.toBmp(indices, width, height);
  },

  async png(qlx, { indices, width, height, transparentIndex }) {
    return qlx.toPng(indices, width, height, { transparentIndex });
  },

  // The GIF the qlx command writes for these frames; a still one plays once.
  async gif(qlx, { frames, width, height, delays, loop, transparentIndex }) {
    return qlx.writeGif(frames, width, height, { delay: delays, loop, transparentIndex });
  },
};

// Every frame of an animation with the same options, held still as asked:
// each frame's indices, the colours quantised and their preview, and the
// names its frames are saved under, as `qlx convert ANIMATION STEM-%02d.qlx`
// names them.
function convertAnimation(qlx, picture, options, progress) {
  const { animation } = picture;
  const frames = qlx.startFrames({ ...options, width: animation.width, height: animation.height });
  const converted = animation.frames.map((frame, k) => {
    const { width, height, indices, fitted, closeness } = frames.convert(frame);
    progress(0.2 + (0.8 * (k + 1)) / animation.frames.length);
    return { width, height, indices, fitted, closeness, preview: qlx.expand(indices, width, height) };
  });
  const { width, height } = converted[0];
  // Over every frame, each weighed by the pixels it measured, as the qlx command reports an animation.
  const measured = converted.reduce((sum, frame) => sum + (frame.closeness?.measured ?? 0), 0);
  const mean = (figure) => converted.reduce((sum, frame) => sum + frame.closeness[figure] * frame.closeness.measured,
    0) / measured;
  const closeness = measured > 0
    ? { blurredError: mean('blurredError'), ciede2000: mean('ciede2000'), exactShare: mean('exactShare'), measured }
    : undefined;
  const names = savedNames(qlx, picture.name, width, height);
  const digits = Math.max(2, String(converted.length).length);
  return {
    ...converted[0], ...names, frames: converted, closeness,
    frameNames: converted.map((_, k) => qlx.nameWithSize(`${names.stem}-${String(k + 1).padStart(digits, '0')}`,
      width, height)),
    delays: animation.frames.map((frame) => frame.delay), loop: animation.loop,
  };
}

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

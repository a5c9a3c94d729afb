// Every function of @palconvert/qlx, typed: `tsc --noEmit --strict` must accept it.
import { load, OPTIONS_LAYOUT, STATUS, type Dither, type Fit, type Qlx, type QlxError } from '@palconvert/qlx';

async function main(bmp: Uint8Array, rgba: Uint8ClampedArray): Promise<number> {
  const qlx: Qlx = await load();
  const method: Dither = qlx.methods[0];
  const fit: Fit = 'contain';
  qlx.checkOptions({ dither: method, strength: 50, light: 'linear', transparentIndex: -1 });
  const { width, height } = qlx.bmpDimensions(bmp);
  const fromBmp = qlx.fromBmp(bmp, { dither: 'ordered' });
  const indices: Uint8Array = qlx.quantise(rgba, width, height, { dither: 'atkinson' });
  const fitted = qlx.convert(rgba, width, height, { fit, boxWidth: 320, boxHeight: 200 });
  const bmpOut: Uint8Array = qlx.toBmp(fromBmp.indices, fromBmp.width, fromBmp.height);
  const colours: Uint8ClampedArray = qlx.expand(indices, width, height);
  const place = qlx.placement(width, height, 320, 200, 'cover');
  const png: Uint8Array = await qlx.toPng(fitted.indices, fitted.width, fitted.height, { transparentIndex: 0 });
  const back = await qlx.fromPng(png);
  const [red, green, blue] = qlx.colour(47);
  try {
    qlx.fromBmp(new Uint8Array(10));
  } catch (error) {
    const refusal = error as QlxError;
    if (refusal.status === STATUS.SIDE_OUT_OF_RANGE) return -1;
    console.log(qlx.statusText(refusal.status));
  }
  const other = await load({ wasm: new URL('https://example.invalid/qlx.wasm') });
  return bmpOut.length + colours.length + place.boxWidth + (back?.indices.length ?? 0) + red + green + blue +
    OPTIONS_LAYOUT.bytes + qlx.version.length + other.fits.length + qlx.lights.length;
}

export default main;

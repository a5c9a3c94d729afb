// @palconvert/qlx: exact conversion between true-colour pixels and QLX, the
// index format of one fixed palette of 256 colours. The bytes are those of
// the palquant, palexpand and qlx programs.

/** The methods, lights and fits, as the library names them; the first of each is the default. */
export type Dither =
  | 'none' | 'floyd-steinberg' | 'ordered' | 'atkinson' | 'sierra-lite' | 'blue-noise'
  | 'jarvis-judice-ninke' | 'stucki' | 'burkes' | 'sierra' | 'pattern';
export type Light = 'srgb' | 'linear';
export type Fit = 'keep' | 'contain' | 'cover' | 'stretch';

export interface Options {
  /** How pixels are dithered: 'none' (the default). */
  dither?: Dither;
  /** 0 to 100 (the default) percent of the diffused error or the pattern. */
  strength?: number;
  /** Where diffused errors add up: 'srgb' (the default) or 'linear'. */
  light?: Light;
  /** 0-255: pixels whose alpha is below 128 get this index. -1 (the default): every pixel is blended over `background`. */
  transparentIndex?: number;
  /** The colour under transparent pixels: 0xRRGGBB, 'RRGGBB' or '#RRGGBB'; black (the default). */
  background?: number | string;
  /**
   * Frames of an animation (startFrames, quantiseFrames, convertGif): error diffusion keeps a pixel's
   * index while its colour stays within this many codes (true: STABLE_TOLERANCE) of the colour it was
   * chosen for, so the animation does not flicker. The other methods hold still already.
   */
  ditherStable?: boolean | number;
}

export interface FitOptions extends Options {
  /** 'keep' (the default) leaves the size alone; the others fit the picture into the box. */
  fit?: Fit;
  /** The box: 320 x 200 unless given. */
  boxWidth?: number;
  boxHeight?: number;
  /** Also measure how close the result looks: the figures of `qlx convert --report`. */
  closeness?: boolean;
}

export interface Indexed {
  width: number;
  height: number;
  /** width * height palette indices, top row first. */
  indices: Uint8Array;
}

/** How close a result looks to the colours it was converted from; qlx-format.md states each figure. */
export interface Closeness {
  /** Both pictures blurred 5 x 5 in linear light: the mean squared difference, on a scale of 0-255. */
  blurredError: number;
  /** The mean CIEDE2000 of the blurred colours. */
  ciede2000: number;
  /** The share of measured pixels whose colour is exact, 0 to 1. */
  exactShare: number;
  /** The pixels measured: every one up to 16384, else up to that many spread over the picture. */
  measured: number;
}

export interface Converted extends Indexed {
  /** The RGBA that was quantised, in its place in the box. */
  fitted: Uint8ClampedArray;
  /** With the option closeness: true. */
  closeness?: Closeness;
}

export interface IndexedPng extends Indexed {
  /** Each pixel's alpha, from the PNG's tRNS. */
  alpha: Uint8Array;
}

/** A PNG as the qlx command reads it: colours, or indices with their palette. */
export type DecodedPng =
  | {
      width: number;
      height: number;
      /** width * height pixels of red, green, blue and alpha, exactly as the file stores them. */
      rgba: Uint8Array;
    }
  | {
      width: number;
      height: number;
      /** width * height indices into `palette`, as stored. */
      indices: Uint8Array;
      /** The file's palette: [red, green, blue, alpha] entries. */
      palette: [number, number, number, number][];
    };

export interface Placement {
  sourceX: number;
  sourceY: number;
  sourceWidth: number;
  sourceHeight: number;
  x: number;
  y: number;
  width: number;
  height: number;
  boxWidth: number;
  boxHeight: number;
}

/** A refusal of the library: its text as the message, and its qlx_status code. */
export interface QlxError extends Error {
  status: number;
}

export interface Qlx {
  /** The library's version, as the programs' --version gives it. */
  readonly version: string;
  readonly methods: Dither[];
  readonly lights: Light[];
  readonly fits: Fit[];
  /** The library's text for a status code. */
  statusText(status: number): string;
  /** Throws a QlxError for an option the library would refuse. */
  checkOptions(options: Options): void;
  /** The sides of a 24-bit BMP, after every check fromBmp makes. Throws a QlxError. */
  bmpDimensions(bmp: Uint8Array): { width: number; height: number };
  /** A 24-bit BMP's indices, exactly as palquant writes them. Throws a QlxError. */
  fromBmp(bmp: Uint8Array, options?: Options): Indexed;
  /** width * height RGBA pixels (a canvas's ImageData.data) as indices. Throws a QlxError. */
  quantise(rgba: Uint8Array | Uint8ClampedArray, width: number, height: number, options?: Options): Uint8Array;
  /** Fits RGBA pixels into a box and quantises them: the page's and the qlx command's bytes (qlx_convert). */
  convert(rgba: Uint8Array | Uint8ClampedArray, width: number, height: number, options?: FitOptions): Converted;
  /** The same for indices into a palette of 1 to 256 [red, green, blue(, alpha)] entries; kept where it is ours. */
  convertIndexed(
    indices: Uint8Array,
    palette: ([number, number, number] | [number, number, number, number])[],
    width: number,
    height: number,
    options?: FitOptions,
  ): Converted;
  /** The size a QLX file's name states ("castle.641x480.qlx"), by the library's rule; null for none. */
  sizeFromName(name: string): { width: number; height: number } | null;
  /** The name of a QLX file of these sides: stem + ".641x480.qlx", or stem + ".qlx" for 320 x 200. */
  nameWithSize(stem: string, width: number, height: number): string;
  /** The 24-bit BMP of indices: palexpand's bytes. Throws a QlxError. */
  toBmp(indices: Uint8Array, width: number, height: number): Uint8Array;
  /** The palette colours of indices, as RGBA with alpha 255. */
  expand(indices: Uint8Array, width: number, height: number): Uint8ClampedArray;
  /** Where a fitted picture comes from and lands. Throws a QlxError. */
  placement(width: number, height: number, boxWidth: number, boxHeight: number, fit: Fit): Placement;
  /** The indexed PNG of the qlx command: all 256 palette entries, tRNS for the transparent index. */
  toPng(indices: Uint8Array, width: number, height: number, options?: { transparentIndex?: number }): Promise<Uint8Array>;
  /** An indexed PNG whose palette is ours, with its indices exactly as stored; null for any other PNG. */
  fromPng(bytes: Uint8Array): Promise<IndexedPng | null>;
  /** Any PNG as the qlx command reads it, alpha exact; null for bytes that are no PNG. Throws for a damaged PNG. */
  readPng(bytes: Uint8Array): Promise<DecodedPng | null>;

  /** Every frame of a GIF, composed as browsers compose it; loop -1 plays once, 0 forever. */
  readGif(bytes: Uint8Array): { width: number; height: number; loop: number; frames: GifFrame[] };
  /** Frames of one animation converted in turn, with what ditherStable holds carried between them. */
  startFrames(options?: FitOptions & { width?: number; height?: number }): {
    convert(frame: Frame): Converted;
  };
  /** Every frame through startFrames: the qlx command's bytes for the same frames. */
  quantiseFrames(frames: Iterable<Frame>, options?: FitOptions & { width?: number; height?: number }): {
    width: number;
    height: number;
    frames: Uint8Array[];
  };
  /** An animated GIF in our palette whose frames decode to exactly these indices. */
  writeGif(
    frames: Iterable<Uint8Array>,
    width: number,
    height: number,
    options?: { delay?: number | number[]; loop?: number; transparentIndex?: number },
  ): Uint8Array;
  /** A GIF in our palette, its delays and loop kept unless given: `qlx convert IN.gif OUT.gif`'s bytes. */
  convertGif(bytes: Uint8Array, options?: FitOptions & { delay?: number | number[]; loop?: number }): Uint8Array;

  /** Palette entry `index` as [red, green, blue]. */
  colour(index: number): [number, number, number];
}

/** A frame read from a GIF: indices into our palette with what was stored, or RGBA; its delay in hundredths of a second. */
export type GifFrame =
  | { indices: Uint8Array; stored: Uint8Array; delay: number; rgba?: undefined }
  | { rgba: Uint8ClampedArray; delay: number; indices?: undefined };

/** A frame to convert: RGBA, or indices into a palette of [r, g, b(, a)] entries (ours when none is given). */
export type Frame = (
  | { rgba: Uint8Array | Uint8ClampedArray }
  | { indices: Uint8Array; palette?: number[][]; stored?: Uint8Array }
) & { width?: number; height?: number };

/** --dither-stable's tolerance in codes. */
export const STABLE_TOLERANCE: number;

/** The library, compiled once. `wasm`: qlx.wasm served some other way. */
export function load(options?: { wasm?: WebAssembly.Module | BufferSource | Response | URL | string }): Promise<Qlx>;

/** Every status code of the library, by its name without "QLX_" (STATUS.SIDE_OUT_OF_RANGE is 22). */
export const STATUS: Readonly<Record<string, number>> & { readonly OK: 0 };

/** Where qlx_options' fields lie, for those who call the module's exports themselves. */
export const OPTIONS_LAYOUT: {
  readonly bytes: number;
  readonly dither: number;
  readonly strength: number;
  readonly transparentIndex: number;
  readonly threads: number;
  readonly light: number;
  readonly alpha: number;
  readonly background: number;
  readonly stable: number;
};

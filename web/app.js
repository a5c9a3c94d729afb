// The page: controls, preview and saving. All work on pictures is done by
// worker.js, so the page never freezes.
import { zipSync } from './vendor/fflate.js';

const $ = (id) => document.getElementById(id);
const controls = {
  pictures: $('pictures'),
  list: $('picture-list'),
  dither: $('dither'),
  light: $('dither-light'),
  strength: $('strength'),
  strengthValue: $('strength-value'),
  stable: $('dither-stable'),
  fit: $('fit'),
  size: $('size'),
  transparentIndex: $('transparent-index'),
  background: $('background'),
  openQlx: $('open-qlx'),
  split: $('split'),
  zoom: $('zoom'),
  viewport: $('viewport'),
  stage: $('stage'),
  original: $('original-canvas'),
  result: $('result-canvas'),
  divider: $('divider'),
  saveQlx: $('save-qlx'),
  saveBmp: $('save-bmp'),
  savePng: $('save-png'),
  saveGif: $('save-gif'),
  saveZip: $('save-zip'),
  progress: $('progress'),
  status: $('status'),
  closeness: $('closeness'),
};

// ---- The worker, as promises ------------------------------------------------

const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const pending = new Map(); // request -> { resolve, reject, onProgress }
let nextRequest = 1;

worker.onmessage = ({ data }) => {
  const call = pending.get(data.request);
  if (!call) return;
  if ('progress' in data) {
    call.onProgress?.(data.progress);
    return;
  }
  pending.delete(data.request);
  if (data.ok) call.resolve(data.value);
  else call.reject(new Error(data.message));
};
worker.onerror = (event) => {
  event.preventDefault();
  say(`The converter stopped: ${event.message}. Reload the page.`);
};

function ask(type, args = {}, onProgress = undefined) {
  const request = nextRequest++;
  return new Promise((resolve, reject) => {
    pending.set(request, { resolve, reject, onProgress });
    worker.postMessage({ request, type, ...args });
  });
}

// ---- State ------------------------------------------------------------------

// What the page holds. Each entry: { id, name, kind: 'picture' | 'qlx',
// bytes?, error?, converted? }, `converted` being { width, height, indices,
// fitted, preview } for the options of the latest run: the indices, the
// pixels that were quantised and the palette colours shown.
const state = {
  entries: [],
  shown: 0, // the entry in the preview
  nextId: 1,
  running: null, // the conversion under way, a promise
  rerun: false, // the options changed while it ran
  drag: null, // where a pan of the preview started
  dividing: false, // the divider is being dragged
};

function say(message) {
  controls.status.textContent = message;
}

// "320x200" (or with × or X, spaces allowed) to sides from 1 to 16384.
function parseSize(text) {
  const match = /^\s*(\d{1,5})\s*[x×X]\s*(\d{1,5})\s*$/.exec(text);
  if (!match) return null;
  const [width, height] = [Number(match[1]), Number(match[2])];
  if (width < 1 || height < 1 || width > 16384 || height > 16384) return null;
  return { width, height };
}

function readOptions() {
  // Size matters only for fitting; with "keep" a mistyped one is no error.
  const size = parseSize(controls.size.value) ?? (controls.fit.value === 'keep' ? { width: 320, height: 200 } : null);
  if (!size) throw new Error('Size must be a width and height from 1 to 16384, such as 320x200.');
  const transparentText = controls.transparentIndex.value.trim();
  if (transparentText !== '' && !(/^\d{1,3}$/.test(transparentText) && Number(transparentText) <= 255)) {
    throw new Error('Transparent index must be empty (no transparency) or a whole number from 0 to 255.');
  }
  const transparentIndex = transparentText === '' ? -1 : Number(transparentText);
  return {
    dither: controls.dither.value,
    light: controls.light.value,
    strength: Number(controls.strength.value),
    ditherStable: controls.stable.checked,
    transparentIndex,
    background: controls.background.value,
    fit: controls.fit.value,
    boxWidth: size.width,
    boxHeight: size.height,
    closeness: true,
  };
}

// Methods that add offsets instead of diffusing errors: light does not
// apply to them. A method the page does not know is taken as diffusing.
const PATTERN_METHODS = new Set(['ordered', 'blue-noise', 'pattern']);

// Controls that would change nothing for the choices made, or for a QLX
// file, which is shown as it is, are disabled.
function updateOptionStates(state) {
  const qlxShown = state.entries[state.shown]?.kind === 'qlx';
  const method = controls.dither.value;
  for (const control of [controls.dither, controls.fit, controls.transparentIndex]) control.disabled = qlxShown;
  controls.strength.disabled = qlxShown || method === 'none';
  controls.light.disabled = qlxShown || method === 'none' || PATTERN_METHODS.has(method);
  // The patterns and no dithering hold still already.
  controls.stable.disabled = controls.light.disabled;
  controls.size.disabled = !qlxShown && controls.fit.value === 'keep';
  // A transparent index replaces blending over the background.
  controls.background.disabled = qlxShown || controls.transparentIndex.value.trim() !== '';
}

// ---- Saving -----------------------------------------------------------------

function updateSaveButtons(state) {
  const busy = state.running !== null;
  const current = state.entries[state.shown]?.converted;
  controls.saveQlx.disabled = busy || !current;
  controls.saveBmp.disabled = busy || !current;
  controls.savePng.disabled = busy || !current;
  controls.saveGif.disabled = busy || !current;
  controls.saveZip.disabled = busy || state.entries.length < 2 || !state.entries.some((entry) => entry.converted);
  document.body.dataset.state = busy ? 'busy' : 'idle';
}

function download(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

// The entry shown, if its result is current and can be saved.
function savable(state) {
  const entry = state.entries[state.shown];
  return state.running === null && entry?.converted ? entry : null;
}

// The QLX files of an entry: its frames, named as `qlx convert` names them
// (walk-01.64x48.qlx), or its one picture (castle.641x480.qlx).
function qlxFiles(converted) {
  if (!converted.frames) return [[converted.name, converted.indices]];
  return converted.frames.map((frame, k) => [converted.frameNames[k], frame.indices]);
}

controls.saveQlx.addEventListener('click', () => {
  const entry = savable(state);
  if (!entry) return;
  const files = qlxFiles(entry.converted);
  // The worker names them by the library's rule: castle.641x480.qlx; an animation's frames go in a zip.
  if (files.length === 1) download(files[0][1], files[0][0], 'application/octet-stream');
  else download(zipSync(Object.fromEntries(files), { level: 6 }), `${entry.converted.stem}-frames.zip`, 'application/zip');
});

// The animated GIF in our palette, each frame exactly its indices; a still
// picture as a GIF of one frame.
controls.saveGif.addEventListener('click', async () => {
  const entry = savable(state);
  if (!entry) return;
  const { width, height, frames, indices, delays, loop, stem } = entry.converted;
  try {
    const { transparentIndex } = readOptions();
    const gif = await ask('gif', {
      frames: frames ? frames.map((frame) => frame.indices) : [indices], width, height,
      delays: frames ? delays : [0], loop: frames ? loop : -1, transparentIndex,
    });
    download(gif, `${stem}-qlx.gif`, 'image/gif');
  } catch (error) {
    say(`${entry.name}: ${error.message}`);
  }
});

controls.saveBmp.addEventListener('click', async () => {
  const entry = savable(state);
  if (!entry) return;
  const { indices, width, height } = entry.converted;
  try {
    download(await ask('bmp', { indices, width, height }), `${entry.converted.stem}-qlx.bmp`, 'image/bmp');
  } catch (error) {
    say(`${entry.name}: ${error.message}`);
  }
});

// The indexed PNG the qlx command writes: the palette in order, the
// indices exactly, so that an indexed editor opens it as it is.
controls.savePng.addEventListener('click', async () => {
  const entry = savable(state);
  if (!entry) return;
  const { indices, width, height } = entry.converted;
  try {
    const { transparentIndex } = readOptions();
    download(await ask('png', { indices, width, height, transparentIndex }), `${entry.converted.stem}-qlx.png`,
      'image/png');
  } catch (error) {
    say(`${entry.name}: ${error.message}`);
  }
});

controls.saveZip.addEventListener('click', () => {
  if (state.running !== null) return;
  const files = {};
  for (const entry of state.entries) {
    if (!entry.converted) continue;
    for (const [first, indices] of qlxFiles(entry.converted)) {
      // Another picture of the same name: a number after the stem, before the size.
      const { stem } = entry.converted;
      let name = first;
      for (let n = 2; name in files; n += 1) name = `${stem} (${n})${first.slice(stem.length)}`;
      files[name] = indices;
    }
  }
  download(zipSync(files, { level: 6 }), 'qlx-pictures.zip', 'application/zip');
});

// ---- Preview ----------------------------------------------------------------

function drawCanvas(canvas, pixels, width, height) {
  canvas.width = width;
  canvas.height = height;
  canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0);
}

const NARROW = window.matchMedia('(max-width: 52rem)'); // as in style.css

// The zoom chosen, or for "fit" the one that shows the whole picture.
function zoomFactor() {
  const width = controls.original.width, height = controls.original.height;
  if (controls.zoom.value !== 'fit') return Number(controls.zoom.value);
  if (width === 0 || height === 0) return 1;
  // On a narrow screen the view takes the picture's height, up to 60 % of the screen's.
  const room = NARROW.matches ? window.innerHeight * 0.6 : controls.viewport.clientHeight;
  return Math.max(Math.min((controls.viewport.clientWidth - 2) / width, (room - 2) / height), 0.05);
}

// The divider stands at the slider's share of the part of the picture in
// view, so that both halves show whatever the zoom and the scroll.
function placeDivider() {
  const stage = controls.stage.getBoundingClientRect();
  const viewLeft = controls.viewport.getBoundingClientRect().left + controls.viewport.clientLeft;
  const left = Math.max(stage.left, viewLeft);
  const right = Math.min(stage.right, viewLeft + controls.viewport.clientWidth);
  const at = left - stage.left + (Number(controls.split.value) / 100) * Math.max(right - left, 0);
  controls.result.style.clipPath = `inset(0 0 0 ${at}px)`;
  controls.divider.style.left = `${at}px`;
}

function layOut() {
  const zoom = zoomFactor();
  for (const canvas of [controls.original, controls.result]) {
    canvas.style.width = `${canvas.width * zoom}px`;
    canvas.style.height = `${canvas.height * zoom}px`;
  }
  placeDivider();
}

// An animation plays on both sides of the divider at once, each frame for
// its delay (as browsers, 10 hundredths for a delay of 0 or 1).
const playing = { timer: 0, frame: 0 };

function showFrame(converted, k) {
  const frame = converted.frames[k];
  drawCanvas(controls.original, frame.fitted, converted.width, converted.height);
  drawCanvas(controls.result, frame.preview, converted.width, converted.height);
  document.body.dataset.frame = String(k);
}

function play(converted) {
  clearTimeout(playing.timer);
  const step = () => {
    showFrame(converted, playing.frame);
    const delay = converted.delays[playing.frame] > 1 ? converted.delays[playing.frame] : 10;
    playing.frame = (playing.frame + 1) % converted.frames.length;
    playing.timer = setTimeout(step, delay * 10);
  };
  playing.frame = 0;
  step();
}

// The figures of `qlx convert --report`, beside the result, so that
// methods can be compared at a glance.
function closenessText(closeness) {
  if (!closeness) return '';
  const { blurredError, ciede2000, exactShare } = closeness;
  return `Blurred error ${blurredError.toFixed(2)} · CIEDE2000 ${ciede2000.toFixed(2)} · `
    + `${(100 * exactShare).toFixed(1)}% exact`;
}

function show(state) {
  const converted = state.entries[state.shown]?.converted;
  controls.closeness.textContent = closenessText(converted?.closeness);
  clearTimeout(playing.timer);
  document.body.dataset.frames = String(converted?.frames?.length ?? 1);
  if (converted?.frames) {
    play(converted);
  } else if (converted) {
    drawCanvas(controls.original, converted.fitted, converted.width, converted.height);
    drawCanvas(controls.result, converted.preview, converted.width, converted.height);
  } else {
    for (const canvas of [controls.original, controls.result]) {
      canvas.width = 0;
      canvas.height = 0;
    }
  }
  layOut();
}

controls.split.addEventListener('input', placeDivider);
controls.viewport.addEventListener('scroll', placeDivider);
window.addEventListener('resize', layOut);

// A new zoom keeps the point at the centre of the view where it was.
controls.zoom.addEventListener('change', () => {
  const view = controls.viewport;
  const stage = controls.stage;
  const centreX = (view.scrollLeft + view.clientWidth / 2) / Math.max(stage.offsetWidth, 1);
  const centreY = (view.scrollTop + view.clientHeight / 2) / Math.max(stage.offsetHeight, 1);
  layOut();
  view.scrollLeft = centreX * stage.offsetWidth - view.clientWidth / 2;
  view.scrollTop = centreY * stage.offsetHeight - view.clientHeight / 2;
  placeDivider();
});

// The divider drags on the picture itself; anywhere else, a drag pans.
controls.divider.addEventListener('pointerdown', (event) => {
  event.stopPropagation();
  controls.divider.setPointerCapture(event.pointerId);
  state.dividing = true;
});
controls.divider.addEventListener('pointermove', (event) => {
  if (!state.dividing) return;
  const stage = controls.stage.getBoundingClientRect();
  const viewLeft = controls.viewport.getBoundingClientRect().left + controls.viewport.clientLeft;
  const left = Math.max(stage.left, viewLeft);
  const right = Math.min(stage.right, viewLeft + controls.viewport.clientWidth);
  const share = Math.min(Math.max((event.clientX - left) / Math.max(right - left, 1), 0), 1);
  controls.split.value = String(Math.round(share * 100));
  placeDivider();
});
for (const type of ['pointerup', 'pointercancel']) {
  controls.divider.addEventListener(type, () => {
    state.dividing = false;
  });
}

// Panning: drag with any pointer; the arrow keys scroll the focused viewport.
controls.viewport.addEventListener('pointerdown', (event) => {
  state.drag = { x: event.clientX, y: event.clientY, left: controls.viewport.scrollLeft, top: controls.viewport.scrollTop };
  controls.viewport.setPointerCapture(event.pointerId);
  controls.viewport.classList.add('dragging');
});
controls.viewport.addEventListener('pointermove', (event) => {
  if (!state.drag) return;
  controls.viewport.scrollLeft = state.drag.left - (event.clientX - state.drag.x);
  controls.viewport.scrollTop = state.drag.top - (event.clientY - state.drag.y);
});
for (const type of ['pointerup', 'pointercancel']) {
  controls.viewport.addEventListener(type, () => {
    state.drag = null;
    controls.viewport.classList.remove('dragging');
  });
}
controls.viewport.addEventListener('keydown', (event) => {
  const step = 32;
  const moves = { ArrowLeft: [-step, 0], ArrowRight: [step, 0], ArrowUp: [0, -step], ArrowDown: [0, step] };
  const move = moves[event.key];
  if (!move) return;
  event.preventDefault();
  controls.viewport.scrollBy(move[0], move[1]);
});

// ---- Converting -------------------------------------------------------------

function fillList(state) {
  controls.list.replaceChildren(
    ...state.entries.map((entry, i) => new Option(entry.name, String(i), i === state.shown, i === state.shown)),
  );
  controls.list.disabled = state.entries.length < 2;
}

controls.list.addEventListener('change', () => {
  state.shown = Number(controls.list.value);
  updateOptionStates(state);
  show(state);
  updateSaveButtons(state);
  const entry = state.entries[state.shown];
  if (entry?.error) say(`${entry.name}: ${entry.error}`);
});

// Sides a QLX file's length fits: the size asked for, the one in its name,
// or the standard one: the worker sees to it, with the library's rule.
async function convertOne(state, entry, options, onProgress) {
  await entry.ready;
  if (entry.kind === 'qlx') {
    await ask('qlx', { id: entry.id, name: entry.name, bytes: entry.bytes, asked: parseSize(controls.size.value) });
  }
  return ask('convert', { id: entry.id, options }, onProgress);
}

// Converts every entry with the options shown. A change while it runs
// (a rerun) stops it after the picture in hand, and it starts again.
async function convertAll(state) {
  let options;
  try {
    options = readOptions();
  } catch (error) {
    say(error.message);
    return;
  }
  const batch = state.entries;
  const failures = [];
  for (const [done, entry] of batch.entries()) {
    if (state.rerun) return;
    entry.converted = null;
    try {
      entry.converted = await convertOne(state, entry, options, (fraction) => {
        controls.progress.value = (done + fraction) / batch.length;
      });
      entry.error = null;
    } catch (error) {
      entry.error = error.message;
      failures.push(`${entry.name}: ${error.message}`);
    }
    controls.progress.value = (done + 1) / batch.length;
    if (entry === state.entries[state.shown]) show(state);
  }
  const converted = batch.filter((entry) => entry.converted);
  if (failures.length > 0) {
    say(failures.join('\n'));
  } else if (converted.length === 1) {
    const { width, height, frames } = converted[0].converted;
    const count = frames ? `, ${frames.length} frames` : '';
    say(`${converted[0].name}: ${width} x ${height}${count}, ready to save.`);
  } else {
    say(`${converted.length} pictures converted, ready to save.`);
  }
}

async function convertUntilCurrent(state) {
  do {
    state.rerun = false;
    await convertAll(state);
  } while (state.rerun);
  // Counts settled runs, refused options included: the tests wait on it.
  document.body.dataset.converted = String(Number(document.body.dataset.converted ?? 0) + 1);
  state.running = null;
  updateSaveButtons(state);
}

function schedule(state) {
  if (state.running) {
    state.rerun = true;
    return;
  }
  state.running = convertUntilCurrent(state);
  updateSaveButtons(state);
}

// Replaces the pictures. The worker takes requests in order, so each
// picture is read before any conversion of it.
function open(state, newEntries) {
  if (newEntries.length === 0) return;
  for (const entry of state.entries) ask('forget', { id: entry.id });
  state.entries = newEntries;
  for (const entry of state.entries) {
    entry.ready = entry.kind === 'picture' ? ask('add', { id: entry.id, file: entry.file }) : Promise.resolve();
    entry.ready.catch(() => {}); // reported when converted
  }
  state.shown = 0;
  fillList(state);
  updateOptionStates(state);
  show(state);
  say(state.entries.length === 1 ? `Converting ${state.entries[0].name}…` : `Converting ${state.entries.length} pictures…`);
  controls.progress.value = 0;
  schedule(state);
}

function openPictures(state, files) {
  open(state, [...files].map((file) => ({ id: state.nextId++, name: file.name || 'pasted picture', kind: 'picture', file })));
}

controls.pictures.addEventListener('change', () => {
  controls.openQlx.value = '';
  openPictures(state, controls.pictures.files);
});

controls.openQlx.addEventListener('change', async () => {
  const file = controls.openQlx.files[0];
  if (!file) return;
  controls.pictures.value = '';
  open(state, [{ id: state.nextId++, name: file.name, kind: 'qlx', bytes: new Uint8Array(await file.arrayBuffer()) }]);
});

for (const control of [controls.dither, controls.light, controls.stable, controls.fit, controls.size,
  controls.transparentIndex, controls.background]) {
  control.addEventListener('change', () => {
    updateOptionStates(state);
    schedule(state);
  });
}
controls.strength.addEventListener('input', () => {
  controls.strengthValue.value = controls.strength.value;
  schedule(state);
});

document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  if (event.dataTransfer?.files.length) openPictures(state, event.dataTransfer.files);
});
document.addEventListener('paste', (event) => {
  if (event.clipboardData?.files.length) openPictures(state, event.clipboardData.files);
});

// ---- Start ------------------------------------------------------------------

// How the page shows the library's names; a name it does not know yet is
// shown as it is, so no method is ever missing from the page.
const LABELS = {
  none: 'None',
  'floyd-steinberg': 'Floyd–Steinberg',
  ordered: 'Ordered (8 × 8)',
  atkinson: 'Atkinson',
  'sierra-lite': 'Sierra Lite',
  'blue-noise': 'Blue noise',
  'jarvis-judice-ninke': 'Jarvis–Judice–Ninke',
  stucki: 'Stucki',
  burkes: 'Burkes',
  sierra: 'Sierra (three rows)',
  pattern: 'Pattern (mixes colours)',
  srgb: 'sRGB codes',
  linear: 'Linear light',
  keep: "Keep the picture's size",
  contain: 'Contain (bars of colour 0)',
  cover: 'Cover (crop the centre)',
  stretch: 'Stretch',
};

// A select's choices: every name the library gives, the first (its default) chosen.
function offer(select, names) {
  select.replaceChildren(...names.map((name) => new Option(LABELS[name] ?? name, name)));
  select.value = names[0];
}

ask('hello').then(
  ({ version, methods, lights, fits }) => {
    offer(controls.dither, methods);
    offer(controls.light, lights);
    offer(controls.fit, fits);
    updateOptionStates(state);
    say(`Ready (libqlx ${version}). Choose, drop or paste pictures.`);
    document.body.dataset.ready = 'true';
    document.body.dataset.readyAfterMs = performance.now().toFixed(0); // since navigation began
    updateSaveButtons(state);
  },
  (error) => say(`The converter could not start: ${error.message}`),
);

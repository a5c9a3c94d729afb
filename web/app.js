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
  fit: $('fit'),
  size: $('size'),
  transparentIndex: $('transparent-index'),
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
  saveZip: $('save-zip'),
  progress: $('progress'),
  status: $('status'),
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

// Each entry: { id, name, kind: 'picture' | 'qlx', bytes?, error?, result? },
// result being { width, height, indices, fitted, result } for the options
// of the latest run.
let entries = [];
let shown = 0;
let nextId = 1;
let running = null;
let rerun = false;

function say(message) {
  controls.status.textContent = message;
}

function baseName(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
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
  const size = parseSize(controls.size.value);
  if (!size) throw new Error('Size must be a width and height from 1 to 16384, such as 320x200.');
  const transparentText = controls.transparentIndex.value.trim();
  // The library refuses anything but -1 or 0-255 in its own words.
  const transparentIndex = transparentText === '' ? -1 : /^-?\d+$/.test(transparentText) ? Number(transparentText) : NaN;
  return {
    dither: controls.dither.value,
    light: controls.light.value,
    strength: Number(controls.strength.value),
    transparentIndex,
    fit: controls.fit.value,
    boxWidth: size.width,
    boxHeight: size.height,
  };
}

// ---- Saving -----------------------------------------------------------------

function updateSaveButtons() {
  const busy = running !== null;
  const current = entries[shown]?.result;
  controls.saveQlx.disabled = busy || !current;
  controls.saveBmp.disabled = busy || !current;
  controls.savePng.disabled = busy || !current;
  controls.saveZip.disabled = busy || entries.length < 2 || !entries.some((entry) => entry.result);
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
function savable() {
  const entry = entries[shown];
  return running === null && entry?.result ? entry : null;
}

controls.saveQlx.addEventListener('click', () => {
  const entry = savable();
  if (!entry) return;
  download(entry.result.indices, `${baseName(entry.name)}.qlx`, 'application/octet-stream');
});

controls.saveBmp.addEventListener('click', async () => {
  const entry = savable();
  if (!entry) return;
  const { indices, width, height } = entry.result;
  try {
    download(await ask('bmp', { indices, width, height }), `${baseName(entry.name)}.bmp`, 'image/bmp');
  } catch (error) {
    say(`${entry.name}: ${error.message}`);
  }
});

controls.savePng.addEventListener('click', () => {
  const entry = savable();
  if (!entry) return;
  const { width, height, result } = entry.result;
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  canvas.getContext('2d').putImageData(new ImageData(result, width, height), 0, 0);
  canvas.toBlob((blob) => {
    if (blob) download(blob, `${baseName(entry.name)}.png`, 'image/png');
    else say(`${entry.name}: the PNG could not be made`);
  }, 'image/png');
});

controls.saveZip.addEventListener('click', () => {
  if (running !== null) return;
  const files = {};
  for (const entry of entries) {
    if (!entry.result) continue;
    let name = `${baseName(entry.name)}.qlx`;
    for (let n = 2; name in files; n += 1) name = `${baseName(entry.name)} (${n}).qlx`;
    files[name] = entry.result.indices;
  }
  download(zipSync(files, { level: 6 }), 'qlx-pictures.zip', 'application/zip');
});

// ---- Preview ----------------------------------------------------------------

function drawCanvas(canvas, pixels, width, height) {
  canvas.width = width;
  canvas.height = height;
  canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0);
}

function layOut() {
  const zoom = Number(controls.zoom.value);
  for (const canvas of [controls.original, controls.result]) {
    canvas.style.width = `${canvas.width * zoom}px`;
    canvas.style.height = `${canvas.height * zoom}px`;
  }
  const split = Number(controls.split.value);
  controls.result.style.clipPath = `inset(0 0 0 ${split}%)`;
  controls.divider.style.left = `${split}%`;
}

function show() {
  const result = entries[shown]?.result;
  if (result) {
    drawCanvas(controls.original, result.fitted, result.width, result.height);
    drawCanvas(controls.result, result.result, result.width, result.height);
  } else {
    for (const canvas of [controls.original, controls.result]) {
      canvas.width = 0;
      canvas.height = 0;
    }
  }
  layOut();
}

controls.split.addEventListener('input', layOut);
controls.zoom.addEventListener('change', layOut);

// Panning: drag with any pointer; the arrow keys scroll the focused viewport.
let drag = null;
controls.viewport.addEventListener('pointerdown', (event) => {
  drag = { x: event.clientX, y: event.clientY, left: controls.viewport.scrollLeft, top: controls.viewport.scrollTop };
  controls.viewport.setPointerCapture(event.pointerId);
  controls.viewport.classList.add('dragging');
});
controls.viewport.addEventListener('pointermove', (event) => {
  if (!drag) return;
  controls.viewport.scrollLeft = drag.left - (event.clientX - drag.x);
  controls.viewport.scrollTop = drag.top - (event.clientY - drag.y);
});
for (const type of ['pointerup', 'pointercancel']) {
  controls.viewport.addEventListener(type, () => {
    drag = null;
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

function fillList() {
  controls.list.replaceChildren(
    ...entries.map((entry, i) => new Option(entry.name, String(i), i === shown, i === shown)),
  );
  controls.list.disabled = entries.length < 2;
}

controls.list.addEventListener('change', () => {
  shown = Number(controls.list.value);
  show();
  updateSaveButtons();
  const entry = entries[shown];
  if (entry?.error) say(`${entry.name}: ${entry.error}`);
});

// Sides a QLX file's length fits: the size asked for, or the standard one.
function qlxSides(length, asked) {
  for (const sides of [asked, { width: 320, height: 200 }]) {
    if (sides && sides.width * sides.height === length) return sides;
  }
  return null;
}

async function convertOne(entry, options, onProgress) {
  await entry.ready;
  if (entry.kind === 'qlx') {
    const asked = parseSize(controls.size.value);
    const sides = qlxSides(entry.bytes.length, asked);
    if (!sides) {
      const size = asked ?? { width: 320, height: 200 };
      const pixels = size.width * size.height;
      throw new Error(
        `this QLX file has ${entry.bytes.length} bytes, but a ${size.width} x ${size.height} picture has ${pixels}` +
          (pixels === 64000 ? '' : ' and a 320 x 200 one 64000') +
          '. Type its size in Size.',
      );
    }
    await ask('qlx', { id: entry.id, bytes: entry.bytes, ...sides });
  }
  return ask('convert', { id: entry.id, options }, onProgress);
}

// Converts every entry with the options shown. A change while it runs
// (rerun) stops it after the picture in hand, and it starts again.
async function convertAll() {
  let options;
  try {
    options = readOptions();
  } catch (error) {
    say(error.message);
    return;
  }
  const batch = entries;
  const failures = [];
  for (const [done, entry] of batch.entries()) {
    if (rerun) return;
    entry.result = null;
    try {
      entry.result = await convertOne(entry, options, (fraction) => {
        controls.progress.value = (done + fraction) / batch.length;
      });
      entry.error = null;
    } catch (error) {
      entry.error = error.message;
      failures.push(`${entry.name}: ${error.message}`);
    }
    controls.progress.value = (done + 1) / batch.length;
    if (entry === entries[shown]) show();
  }
  const converted = batch.filter((entry) => entry.result);
  if (failures.length > 0) {
    say(failures.join('\n'));
  } else if (converted.length === 1) {
    const { width, height } = converted[0].result;
    say(`${converted[0].name}: ${width} x ${height}, ready to save.`);
  } else {
    say(`${converted.length} pictures converted, ready to save.`);
  }
  document.body.dataset.converted = String(Number(document.body.dataset.converted ?? 0) + 1);
}

async function convertUntilCurrent() {
  do {
    rerun = false;
    await convertAll();
  } while (rerun);
  running = null;
  updateSaveButtons();
}

function schedule() {
  if (running) {
    rerun = true;
    return;
  }
  running = convertUntilCurrent();
  updateSaveButtons();
}

// Replaces the pictures. The worker takes requests in order, so each
// picture is read before any conversion of it.
function open(newEntries) {
  if (newEntries.length === 0) return;
  for (const entry of entries) ask('forget', { id: entry.id });
  entries = newEntries;
  for (const entry of entries) {
    entry.ready = entry.kind === 'picture' ? ask('add', { id: entry.id, file: entry.file }) : Promise.resolve();
    entry.ready.catch(() => {}); // reported when converted
  }
  shown = 0;
  fillList();
  show();
  say(entries.length === 1 ? `Converting ${entries[0].name}…` : `Converting ${entries.length} pictures…`);
  controls.progress.value = 0;
  schedule();
}

function openPictures(files) {
  open([...files].map((file) => ({ id: nextId++, name: file.name || 'pasted picture', kind: 'picture', file })));
}

controls.pictures.addEventListener('change', () => {
  controls.openQlx.value = '';
  openPictures(controls.pictures.files);
});

controls.openQlx.addEventListener('change', async () => {
  const file = controls.openQlx.files[0];
  if (!file) return;
  controls.pictures.value = '';
  open([{ id: nextId++, name: file.name, kind: 'qlx', bytes: new Uint8Array(await file.arrayBuffer()) }]);
});

for (const control of [controls.dither, controls.light, controls.fit, controls.size, controls.transparentIndex]) {
  control.addEventListener('change', schedule);
}
controls.strength.addEventListener('input', () => {
  controls.strengthValue.value = controls.strength.value;
  schedule();
});

document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  if (event.dataTransfer?.files.length) openPictures(event.dataTransfer.files);
});
document.addEventListener('paste', (event) => {
  if (event.clipboardData?.files.length) openPictures(event.clipboardData.files);
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
    say(`Ready (libqlx ${version}). Choose, drop or paste pictures.`);
    document.body.dataset.ready = 'true';
    document.body.dataset.readyAfterMs = performance.now().toFixed(0); // since navigation began
    updateSaveButtons();
  },
  (error) => say(`The converter could not start: ${error.message}`),
);

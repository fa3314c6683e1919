// The page: packs a folder into an archive, shows an archive as a tree with a look
// inside its files, takes changes and saves the changed archive, unpacks it into a
// folder. The library runs in two Workers (worker.mjs); this thread only shows and
// asks, so nothing here holds it for long: the tree shows only the rows in view.
import { Tree, listHandle } from './tree.mjs';
import { asText, hex, imageType, printable } from './look.mjs';

const $ = (id) => document.getElementById(id);
const plural = (n, one, many) => `${n.toLocaleString('en')} ${n === 1 ? one : many}`;
const bytesText = (n) => (n < 1024 ? plural(n, 'byte', 'bytes')
  : n < 1 << 20 ? `${(n / 1024).toFixed(1)} KiB`
    : n < 1 << 30 ? `${(n / (1 << 20)).toFixed(1)} MiB` : `${(n / (1 << 30)).toFixed(2)} GiB`);
const PREVIEW = 64 << 10; // the bytes of a file shown as text or hex, at most
const IMAGE = 32 << 20; // an image larger than this is shown as hex
const HEX = 4 << 10; // the bytes shown as hex
// A folder input gives a folder's files, never its folders: of one that holds no file
// the page learns nothing, not even its name.
const NO_FILES = 'the folder chosen holds no files, and a folder input gives nothing else of it.';

// A path as text that breaks only after a "/" (and inside a name only where nothing
// else fits), printable.
function pathNode(path) {
  const span = document.createElement('span');
  span.className = 'path';
  const parts = printable(path).split('/');
  parts.forEach((part, i) => {
    const name = document.createElement('span');
    name.textContent = i < parts.length - 1 ? `${part}/` : part;
    span.append(name);
    if (i < parts.length - 1) span.append(document.createElement('wbr'));
  });
  return span;
}

class CancelledError extends Error {}

// A Worker running worker.mjs, with calls that give promises; started again when a
// cancel must stop what it runs synchronously.
class Work {
  constructor(module, on = {}) {
    this.module = module;
    this.on = on;
    this.nextId = 1;
    this.start();
  }

  start() {
    this.waiting = new Map();
    this.worker = new Worker(new URL('worker.mjs', import.meta.url), { type: 'module' });
    this.worker.onmessage = ({ data }) => {
      if (data.type !== 'result') {
        this.on[data.type]?.(data);
        return;
      }
      const call = this.waiting.get(data.id);
      this.waiting.delete(data.id);
      if (data.error) call?.reject(new Error(data.error));
      else call?.resolve(data.result);
    };
    this.worker.onerror = (event) => {
      event.preventDefault?.();
      for (const { reject } of this.waiting.values()) reject(new Error(event.message || 'the Worker could not start'));
      this.waiting.clear();
    };
    this.ready = this.call('init', { module: this.module });
  }

  call(op, message = {}, transfer = []) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject });
      this.worker.postMessage({ ...message, op, id }, transfer);
    });
  }

  tell(op) { this.worker.postMessage({ op }); }

  // Ends what runs and starts afresh: the calls under way fail as cancelled.
  restart() {
    this.worker.terminate();
    for (const { reject } of this.waiting.values()) reject(new CancelledError('cancelled'));
    this.start();
  }
}

// ---------------------------------------------------------------------------------
// Work one thing at a time: a choice made meanwhile waits its turn, and says so.

const queue = [];
let current = null;
const statusText = (text) => { $('status').textContent = printable(text); };

function message(text, kind = 'refused') {
  const li = document.createElement('li');
  li.className = kind;
  li.append(pathNode(text));
  $('messages').append(li);
  $('messages').hidden = false;
}

function showQueue() {
  $('queued').textContent = queue.length
    ? printable(`Waiting: ${queue.map((job) => job.label).join('; ')} (after ${current.label}).`) : '';
}

function schedule(label, run, cancel = null) {
  const job = { label, run, cancel };
  if (current) {
    queue.push(job);
    showQueue();
  } else {
    start(job);
  }
}

async function start(job) {
  current = job;
  document.body.dataset.busy = 'yes';
  $('busy').hidden = false;
  $('cancel').hidden = !job.cancel;
  $('cancel').disabled = false;
  setProgress(0, 0);
  try {
    await job.run(job);
  } catch (error) {
    statusText(`Could not ${job.label}: ${error.message}`);
  } finally {
    current = null;
    $('busy').hidden = true;
    delete document.body.dataset.busy;
    const next = queue.shift();
    if (next) start(next);
    showQueue();
  }
}

function setProgress(done, total) {
  $('progress').value = total ? done / total : 0;
  $('progress-text').textContent = total ? `${bytesText(done)} of ${bytesText(total)}` : '';
}

// From the moment what a job makes is offered, it can no longer be cancelled.
function uncancellable(job) {
  job.cancel = null;
  $('cancel').hidden = true;
}

$('cancel').addEventListener('click', () => {
  if (!current?.cancel) return;
  current.cancelled = true;
  $('cancel').disabled = true;
  statusText(`Cancelling: ${current.label}…`);
  current.cancel();
});

// ---------------------------------------------------------------------------------
// The library's Workers, and what the long work tells as it goes.

let browse;
let work;
let chunks = [];
let pending = 0;
let listedFiles = 0; // the files of the folder being packed
const workEvents = {
  progress: ({ done, total }) => setProgress(done, total),
  refused: ({ text }) => message(text),
  listed: ({ files, bytes }) => {
    listedFiles = files;
    $('progress-text').textContent = `${plural(files, 'file', 'files')}, ${bytesText(bytes)}`;
  },
  chunk: ({ chunk }) => {
    // The archive's pieces go into a Blob every 16 MiB, which the browser may keep out
    // of the page's memory, rather than piling up as buffers until the end.
    chunks.push(chunk);
    pending += chunk.byteLength;
    if (pending > 16 << 20) {
      chunks = [new Blob(chunks)];
      pending = 0;
    }
  },
};

const ready = (async () => {
  if (location.protocol === 'file:') throw new Error('served from file:');
  const module = await WebAssembly.compileStreaming(fetch(new URL('quodrel.wasm', import.meta.url)))
    .catch(async () => WebAssembly.compile(await (await fetch(new URL('quodrel.wasm', import.meta.url))).arrayBuffer()));
  browse = new Work(module);
  work = new Work(module, workEvents);
  await Promise.all([browse.ready, work.ready]);
})().then(() => {
  document.body.dataset.ready = 'yes';
  statusText('Ready: drop or choose a folder to pack, or an archive to open.');
}, (error) => {
  document.body.dataset.ready = 'no';
  statusText(`Could not load the library: ${error.message}`);
});

// The archive's pieces as one File, its last byte read back first: a browser that could
// not keep them all (its blob storage full: in Chromium's headless or incognito mode at
// about 500 MiB) fails there, and no broken archive is offered.
async function takeChunks(name) {
  const file = new File(chunks, name, { type: 'application/octet-stream' });
  chunks = [];
  pending = 0;
  if (file.size) {
    await file.slice(file.size - 1).arrayBuffer().catch((error) => {
      throw new Error(`the browser could not keep its ${bytesText(file.size)} (${error.message})`);
    });
  }
  return file;
}

// Offers `blob` as a download named `name`; the link stays for saving again.
function offer(blob, name, text) {
  const link = $('download');
  if (link.href) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.textContent = printable(text);
  link.hidden = false;
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// Where a saved file goes: a handle the save picker gives (asked at once, while the
// click still counts), or null for a download.
async function saveTarget(name, description) {
  if (typeof window.showSaveFilePicker !== 'function') return null;
  try {
    return await window.showSaveFilePicker({ suggestedName: name, types: description ? [description] : undefined });
  } catch (error) {
    if (error.name === 'AbortError') return undefined; // the picker was closed
    return null;
  }
}

// Writes `blob` where `target` says; the words that tell where it went. A cancel while
// writing a picked file leaves the file as it was.
async function put(blob, name, target, job) {
  if (!target) {
    download(blob, name);
    return `as a download named ${name} (the browser may change the name)`;
  }
  const writable = await target.createWritable();
  job.cancel = () => writable.abort().catch(() => {});
  try {
    if (job.cancelled) throw new CancelledError('cancelled'); // while the file was opened
    await writable.write(blob);
    await writable.close();
  } catch (error) {
    await writable.abort().catch(() => {});
    throw error;
  }
  return `as ${target.name}`;
}

// ---------------------------------------------------------------------------------
// Packing a folder.

// A folder input's Files, handed to the Worker a few at a time: Chromium looks at
// each File's size and time as it is posted (about half a millisecond each), which for
// 10,000 at once would hold the page for seconds. Each handful is sized to take about
// 40 ms, and the page answers between them.
async function handOver(files) {
  let size = 16;
  for (let at = 0; at < files.length;) {
    const start = performance.now();
    const some = files.slice(at, at + size);
    await work.call('take', { files: some });
    at += some.length;
    $('progress-text').textContent = `Handing the files to the packer: ${at.toLocaleString('en')} of ${files.length.toLocaleString('en')}`;
    size = Math.max(4, Math.min(2048, Math.round(size * 40 / Math.max(performance.now() - start, 1))));
  }
}

function pack(name, source) {
  schedule(`pack ${name}`, async (job) => {
    $('messages').replaceChildren();
    $('messages').hidden = true;
    $('download').hidden = true;
    chunks = [];
    pending = 0;
    statusText(`Packing ${name}…`);
    const started = performance.now();
    let result;
    let file;
    try {
      await work.ready;
      if (source.files) await handOver(source.files);
      result = await work.call('pack', source.files ? { name } : { ...source, name });
      file = await takeChunks(name);
      if (job.cancelled) throw new CancelledError('cancelled'); // while it was read back
    } catch (error) {
      chunks = [];
      if (error instanceof CancelledError) {
        statusText(`Packing ${name} was cancelled: no archive was made.`);
        document.body.dataset.packed = 'cancelled';
        return;
      }
      statusText(`Could not pack ${name}: ${error.message}`);
      document.body.dataset.packed = 'failed';
      return;
    }
    const seconds = ((performance.now() - started) / 1000).toFixed(1);
    uncancellable(job);
    offer(file, name, `Save ${name} (${bytesText(file.size)})`);
    statusText(result.complete
      ? `Packed ${plural(listedFiles, 'file', 'files')} into ${name} in ${seconds} s.`
      : `Packed ${name}, but some entries were refused (listed below).`);
    document.body.dataset.packed = result.complete ? 'complete' : 'incomplete';
    $('download').focus();
    await show(file, { quiet: true });
  }, () => work.restart());
}

// ---------------------------------------------------------------------------------
// The archive shown: its tree, the rows in view, the look inside.

let shown = null; // { file, tree, id }: id is the browsing Worker's number for it
let rows = [];
let active = -1;
let filter = '';
const treeBox = $('tree');
const rowHeight = () => parseFloat(getComputedStyle(document.documentElement).fontSize) * 2;

function openArchive(file) {
  schedule(`open ${file.name}`, () => show(file));
}

// Whether the archive shown may give way to another: its changes saved, or given up
// by the user.
function mayLeave() {
  const tree = shown?.tree;
  return !tree?.unsaved
    || window.confirm(`${printable(tree.name)} has changes that are not saved. Give them up and show another archive?`);
}

async function show(file, { quiet = false } = {}) {
  const kept = () => statusText(`${file.name} was not opened: the changes to ${shown.tree.name} are kept.`);
  if (!mayLeave()) {
    kept();
    return;
  }
  const asked = shown?.tree.state; // the changes the question was about
  if (!quiet) {
    $('messages').replaceChildren();
    $('messages').hidden = true;
    $('download').hidden = true; // it offers an archive no longer shown
    statusText(`Opening ${file.name}…`);
  }
  await browse.ready;
  const opened = await browse.call('open', { file });
  if (opened.failed) {
    if (!quiet) statusText(`${file.name} cannot be opened: ${opened.failed}`);
    document.body.dataset.opened = opened.failed.startsWith('ERROR! Not an archive') ? 'not-an-archive' : 'failed';
    return;
  }
  const entries = {
    paths: opened.paths ? opened.paths.split('\0') : [],
    sizes: opened.sizes, folders: opened.folders, refusals: opened.refusals, words: new Map(opened.words),
  };
  // Built in slices, the page answering between them.
  const tree = new Tree(file.name);
  for (let at = 0; at < entries.paths.length; at += 4096) {
    tree.fill(entries, at, Math.min(at + 4096, entries.paths.length));
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
  tree.count();
  // A change made while it was opened is asked about too.
  if (shown?.tree.state !== asked && !mayLeave()) {
    kept();
    return;
  }
  const summary = `${plural(tree.root.files, 'file', 'files')}, ${bytesText(tree.root.bytes)}`;
  shown = {
    file, tree, id: opened.id,
    summary: opened.ok ? `${summary}; every entry can be unpacked.`
      : `${summary}; ${plural(tree.refused, 'entry is', 'entries are')} refused and would not be unpacked.`,
  };
  filter = '';
  $('filter').value = '';
  $('archive').hidden = false;
  const lines = opened.text.split('\n').filter((line) => line.startsWith('ERROR!'));
  for (const line of lines) message(line);
  $('archive-heading').replaceChildren(pathNode(file.name));
  if (!quiet) {
    statusText(opened.ok ? `${file.name} is sound: every entry can be unpacked.`
      : `${file.name}: ${plural(tree.refused, 'entry is', 'entries are')} refused and would not be unpacked (listed above the tree, and in it).`);
  }
  document.body.dataset.opened = opened.ok ? 'sound' : 'refusals';
  active = -1;
  refresh(null);
  if (tree.root.children.length) setActive(0);
  else showPreview(null);
}

// The rows again (after a change, a fold or the filter), keeping `keep` chosen.
function refresh(keep = rows[active]?.node) {
  const { tree } = shown;
  // The archive's files and bytes as opened, and with the changes once there are any.
  $('archive-summary').textContent = tree.changed
    ? `With the changes: ${plural(tree.root.files, 'file', 'files')}, ${bytesText(tree.root.bytes)} (as opened: ${shown.summary.slice(0, -1)}).`
    : shown.summary;
  rows = tree.rows(filter);
  $('rows').style.height = `${rows.length * rowHeight()}px`;
  const at = keep ? rows.findIndex((row) => row.node === keep) : -1;
  active = at >= 0 ? at : Math.min(Math.max(active, 0), rows.length - 1);
  render();
  $('tree-count').textContent = filter
    ? `${plural(rows.filter((r) => r.node.lower.includes(filter.toLowerCase())).length, 'entry holds', 'entries hold')} "${filter}".`
    : '';
  const changeable = tree.refused === 0;
  for (const id of ['add-files-button', 'add-folder-button', 'replace', 'rename', 'remove'])
    $(id).disabled = !changeable;
  $('undo').disabled = !tree.canUndo;
  $('undo').setAttribute('aria-label', tree.canUndo ? `Undo: ${printable(tree.undoWords)}` : 'Undo');
  $('save-archive').disabled = !changeable;
  $('unpack').hidden = typeof window.showDirectoryPicker !== 'function';
  $('change-note').textContent = !changeable
    ? `${tree.name} holds refused entries: as quodrel -u does, the page changes no archive that -t does not call sound.`
    : typeof window.showDirectoryPicker !== 'function'
      ? 'This browser offers no folder picker: save the files one by one, or the archive.'
      : tree.changed ? 'Changed entries are marked; Save archive writes the archive with them.' : '';
}

// Only the rows in view (and the chosen one) are in the page.
function render() {
  const height = rowHeight();
  const first = Math.max(0, Math.floor(treeBox.scrollTop / height) - 8);
  const last = Math.min(rows.length, Math.ceil((treeBox.scrollTop + treeBox.clientHeight) / height) + 8);
  const fragment = document.createDocumentFragment();
  const add = (i) => fragment.append(rowElement(i, height));
  for (let i = first; i < last; ++i) add(i);
  if (active >= 0 && (active < first || active >= last)) add(active);
  $('rows').replaceChildren(fragment);
  if (active >= 0) treeBox.setAttribute('aria-activedescendant', `row-${active}`);
  else treeBox.removeAttribute('aria-activedescendant');
}

function sizeWords(node) {
  if (node.folder) return `${plural(node.files, 'file', 'files')}, ${bytesText(node.bytes)}`;
  return bytesText(node.size);
}

function rowElement(i, height) {
  const { node, level, position, of } = rows[i];
  const row = document.createElement('div');
  row.className = i === active ? 'row active' : 'row';
  row.id = `row-${i}`;
  row.setAttribute('role', 'treeitem');
  row.setAttribute('aria-level', level);
  row.setAttribute('aria-setsize', of);
  row.setAttribute('aria-posinset', position);
  row.setAttribute('aria-selected', i === active ? 'true' : 'false');
  row.dataset.index = i;
  row.style.top = `${i * height}px`;
  row.style.paddingLeft = `${(level - 1) * 1.1}rem`;
  const twist = document.createElement('span');
  twist.className = 'twist';
  twist.setAttribute('aria-hidden', 'true');
  const open = node.folder && (node.expanded || !!filter);
  if (node.folder) {
    row.setAttribute('aria-expanded', open ? 'true' : 'false');
    twist.textContent = open ? '▾' : '▸';
  }
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = printable(node.folder ? `${node.name}/` : node.name);
  name.title = printable(node.path);
  const size = document.createElement('span');
  size.className = 'size';
  size.textContent = sizeWords(node);
  row.append(twist, name, size);
  if (node.refusal || node.mark) {
    const badge = document.createElement('span');
    badge.className = node.refusal ? 'badge refused' : 'badge changed';
    badge.textContent = node.refusal ? 'refused' : node.mark;
    row.append(badge);
  }
  return row;
}

let previewTimer = 0;
function setActive(i, { scroll = true } = {}) {
  if (!rows.length) return;
  active = Math.max(0, Math.min(rows.length - 1, i));
  if (scroll) {
    const height = rowHeight();
    const top = active * height;
    if (top < treeBox.scrollTop) treeBox.scrollTop = top;
    else if (top + height > treeBox.scrollTop + treeBox.clientHeight) treeBox.scrollTop = top + height - treeBox.clientHeight;
  }
  render();
  clearTimeout(previewTimer);
  previewTimer = setTimeout(() => showPreview(rows[active]?.node ?? null), 60);
}

function toggle(node, open = !node.expanded) {
  if (!node.folder || filter) return;
  node.expanded = open;
  refresh(node);
}

treeBox.addEventListener('scroll', () => requestAnimationFrame(render));
treeBox.addEventListener('click', (event) => {
  const row = event.target.closest('.row');
  if (!row) return;
  const i = Number(row.dataset.index);
  if (event.target.classList.contains('twist') || (i === active && rows[i].node.folder)) toggle(rows[i].node);
  else setActive(i, { scroll: false });
  treeBox.focus();
});
treeBox.addEventListener('dblclick', (event) => {
  const row = event.target.closest('.row');
  if (row && rows[Number(row.dataset.index)].node.folder) toggle(rows[Number(row.dataset.index)].node);
});
// The tree pattern's keys: up and down move, right unfolds or goes in, left folds or
// goes up, Home and End, a page at a time; Enter folds and unfolds; Delete and F2.
treeBox.addEventListener('keydown', (event) => {
  if (!shown || !rows.length) return;
  const row = rows[active];
  const page = Math.max(1, Math.floor(treeBox.clientHeight / rowHeight()) - 1);
  const keys = {
    ArrowDown: () => setActive(active + 1),
    ArrowUp: () => setActive(active - 1),
    Home: () => setActive(0),
    End: () => setActive(rows.length - 1),
    PageDown: () => setActive(active + page),
    PageUp: () => setActive(active - page),
    ArrowRight: () => {
      if (!row?.node.folder) return;
      if (!row.node.expanded && !filter) toggle(row.node, true);
      else if (rows[active + 1]?.level > row.level) setActive(active + 1);
    },
    ArrowLeft: () => {
      if (row?.node.folder && row.node.expanded && !filter) {
        toggle(row.node, false);
        return;
      }
      for (let i = active - 1; i >= 0; --i) if (rows[i].level < row.level) { setActive(i); return; }
    },
    Enter: () => { if (row?.node.folder) toggle(row.node); },
    Delete: () => removeChosen(),
    F2: () => renameChosen(),
  };
  const act = keys[event.key];
  if (!act) return;
  event.preventDefault();
  act();
});

let filterTimer = 0;
$('filter').addEventListener('input', () => {
  clearTimeout(filterTimer);
  filterTimer = setTimeout(() => {
    filter = $('filter').value.trim();
    if (!shown) return;
    treeBox.scrollTop = 0;
    refresh();
  }, 80);
});
$('filter').addEventListener('keydown', (event) => {
  if (event.key === 'ArrowDown' || event.key === 'Enter') {
    event.preventDefault();
    treeBox.focus();
  }
});

let previewed = 0;
let previewUrl = '';
async function showPreview(node) {
  const token = ++previewed;
  delete document.body.dataset.preview;
  const body = $('preview-body');
  if (previewUrl) URL.revokeObjectURL(previewUrl);
  previewUrl = '';
  $('preview-actions').hidden = !node;
  if (!node) {
    $('preview-path').textContent = 'Nothing chosen';
    $('preview-meta').textContent = '';
    body.replaceChildren();
    return;
  }
  $('preview-path').replaceChildren(pathNode(node.folder ? `${node.path}/` : node.path));
  $('save-file').hidden = node.folder || !!node.refusal;
  $('replace').hidden = node.folder;
  const mark = node.mark ? ` (${node.mark})` : '';
  if (node.refusal) {
    $('preview-meta').textContent = `${sizeWords(node)}. Refused: ${printable(node.words)}`;
    body.replaceChildren();
    return;
  }
  if (node.folder) {
    $('preview-meta').textContent = `A folder: ${sizeWords(node)}${mark}.`;
    body.replaceChildren();
    return;
  }
  $('preview-meta').textContent = `${bytesText(node.size)}${mark}.`;
  const { file, id } = shown;
  const read = async (length) => {
    if (node.source.file) return new Uint8Array(await node.source.file.slice(0, length).arrayBuffer());
    return (await browse.call('preview', { id, file, index: node.source.index, length })).bytes;
  };
  let bytes;
  try {
    bytes = await read(PREVIEW);
  } catch (error) {
    if (token === previewed) body.replaceChildren(Object.assign(document.createElement('p'),
      { className: 'error', textContent: `Cannot read ${node.name}: ${error.message}` }));
    return;
  }
  if (token !== previewed) return;
  const more = node.size > bytes.length;
  const type = imageType(bytes);
  const kind = type.slice(6).toUpperCase();
  // As text or hex; `why` first, where the file was not shown as the picture it
  // seemed to be.
  const showBytes = (why = '') => {
    const note = document.createElement('p');
    note.className = 'status';
    const text = asText(bytes);
    const pre = document.createElement('pre');
    pre.tabIndex = 0;
    if (text !== null) {
      pre.textContent = text;
      pre.setAttribute('aria-label', `The text of ${printable(node.name)}`);
      note.textContent = why + (more ? `Text (UTF-8): the first ${bytesText(bytes.length)} of ${bytesText(node.size)}.` : 'Text (UTF-8).');
      document.body.dataset.preview = 'text';
    } else {
      pre.className = 'hex';
      pre.textContent = hex(bytes.subarray(0, HEX));
      pre.setAttribute('aria-label', `The bytes of ${printable(node.name)} in hex`);
      note.textContent = why + (node.size > HEX ? `Binary: the first ${bytesText(HEX)} of ${bytesText(node.size)}, in hex.` : 'Binary, in hex.');
      document.body.dataset.preview = 'hex';
    }
    body.replaceChildren(note, pre);
  };
  if (type && node.size <= IMAGE) {
    const whole = more ? await read(node.size) : bytes;
    if (token !== previewed) return;
    previewUrl = URL.createObjectURL(new Blob([whole], { type }));
    const image = document.createElement('img');
    image.alt = `${printable(node.name)}, shown as ${kind}`;
    image.addEventListener('error', () => {
      if (token === previewed) showBytes(`It starts as a ${kind} picture does, but is none the browser can draw. `);
    });
    image.src = previewUrl;
    const note = document.createElement('p');
    note.className = 'status';
    note.textContent = `An image (${kind}).`;
    body.replaceChildren(note, image);
    document.body.dataset.preview = 'image';
    return;
  }
  showBytes();
}

// ---------------------------------------------------------------------------------
// Changes.

const chosen = () => rows[active]?.node ?? null;
const folderChosen = () => {
  const node = chosen();
  if (!node) return shown.tree.root;
  return node.folder ? node : node.parent;
};

function changed(words, keep) {
  refresh(keep);
  statusText(words);
  showPreview(chosen());
}

// Reads each File's size here a slice at a time, telling how far it is: Chromium looks
// a File's size up on the disk the first time it is read (about half a millisecond),
// which for 20,000 Files at once held the page for 8 s.
async function readSizes(items) {
  const files = items.filter((item) => item.file);
  for (let at = 0; at < files.length;) {
    const start = performance.now();
    for (const end = Math.min(files.length, at + 1024); at < end && performance.now() - start < 40; ++at) {
      void files[at].file.size;
    }
    if (at < files.length) {
      statusText(`Reading the sizes of the files to add: ${at.toLocaleString('en')} of ${files.length.toLocaleString('en')}`);
      await new Promise((resolve) => setTimeout(resolve, 0));
    }
  }
}

// Adds `items` to `folder` of `tree`, chosen when it was shown.
async function addItems(folder, items, tree = shown.tree) {
  await readSizes(items);
  if (shown?.tree !== tree) {
    statusText(`Nothing was added: ${tree.name} is no longer shown.`);
    return;
  }
  const { added, replaced, clashes, refused } = shown.tree.add(folder, items);
  $('messages').replaceChildren();
  $('messages').hidden = true;
  for (const path of clashes) message(`ERROR! Name clash ${path}`);
  for (const words of refused) message(`ERROR! ${words}`);
  if (folder !== shown.tree.root) folder.expanded = true;
  const where = folder.path || shown.tree.name;
  const done = [];
  if (added.files || added.folders) {
    done.push(`added ${[added.files && plural(added.files, 'file', 'files'),
      added.folders && plural(added.folders, 'folder', 'folders')].filter(Boolean).join(' and ')}`);
  }
  if (replaced) done.push(`replaced ${plural(replaced, 'file', 'files')}`);
  const left = clashes.length + refused.length;
  changed(`In ${where}: ${done.join(', ') || 'nothing added'}${left
    ? `; ${plural(left, 'name was', 'names were')} left out (listed above)` : ''}.`, chosen());
}

// Added into the folder chosen, or the folder of the file chosen.
$('add-files-button').addEventListener('click', () => $('add-files').click());
// A folder to add comes from the folder picker where there is one (with its empty
// folders, which a folder input never gives), walked here: its Files are for this page.
$('add-folder-button').addEventListener('click', async () => {
  if (typeof window.showDirectoryPicker !== 'function') {
    $('add-folder').click();
    return;
  }
  let handle;
  try {
    handle = await window.showDirectoryPicker();
  } catch {
    return; // the picker was closed
  }
  const { tree } = shown;
  const folder = folderChosen();
  statusText(`Reading ${handle.name}…`);
  const items = [{ path: handle.name, folder: true }];
  try {
    await listHandle(handle, handle.name, items);
  } catch (error) {
    statusText(`Could not read ${handle.name}: ${error.message}`);
    return;
  }
  addItems(folder, items, tree);
});
$('add-files').addEventListener('change', (event) => {
  const files = [...event.target.files];
  event.target.value = '';
  if (files.length && shown) addItems(folderChosen(), files.map((file) => ({ path: file.name, file })));
});
$('add-folder').addEventListener('change', (event) => {
  const files = [...event.target.files];
  event.target.value = '';
  if (!shown) return;
  if (files.length) addItems(folderChosen(), files.map((file) => ({ path: file.webkitRelativePath, file })));
  else statusText(`Nothing was added: ${NO_FILES}`);
});
$('replace').addEventListener('click', () => $('replace-file').click());
$('replace-file').addEventListener('change', (event) => {
  const file = event.target.files[0];
  event.target.value = '';
  const node = chosen();
  if (!file || !node || node.folder) return;
  shown.tree.replace(node, file);
  changed(`Replaced ${node.path} with ${file.name} (${bytesText(file.size)}).`, node);
});

function removeChosen() {
  const node = chosen();
  if (!node || shown.tree.refused) return;
  const path = node.path;
  shown.tree.remove(node);
  changed(`Removed ${path}${node.folder ? ' and everything in it' : ''}; Undo brings it back.`);
}
$('remove').addEventListener('click', removeChosen);

let renameShown = '';
function renameChosen() {
  const node = chosen();
  if (!node || shown.tree.refused) return;
  $('rename-title').textContent = `Rename ${printable(node.name)}`;
  $('rename-input').value = node.name;
  renameShown = $('rename-input').value; // a line break in the name is not in an input
  $('rename-error').textContent = '';
  $('rename-dialog').showModal();
  $('rename-input').select();
}
$('rename').addEventListener('click', renameChosen);
$('rename-dialog').addEventListener('close', () => {
  if ($('rename-dialog').returnValue === 'ok') treeBox.focus();
});
$('rename-ok').addEventListener('click', (event) => {
  const node = chosen();
  const name = $('rename-input').value;
  const old = node.name;
  if (name === renameShown) return; // left as it was shown: the name stays
  const why = shown.tree.rename(node, name);
  if (why) {
    event.preventDefault();
    $('rename-error').textContent = why;
    return;
  }
  changed(`Renamed ${old} to ${name}.`, node);
});

$('undo').addEventListener('click', () => {
  const words = shown.tree.undo();
  if (words) changed(`Undone: ${words}.`);
});

// Saving the changed archive: the library makes it from the tree, its unchanged files
// read from the opened archive's ranges; byte for byte what quodrel -c makes of the
// same tree on disk.
$('save-archive').addEventListener('click', async () => {
  if (!shown) return;
  const { file, tree } = shown;
  const name = file.name;
  const target = await saveTarget(name, { description: 'Quodrel archive', accept: { 'application/octet-stream': ['.dat'] } });
  if (target === undefined) return;
  const listed = tree.listed();
  const state = tree.state; // what is saved: changes made meanwhile are not
  schedule(`save ${name}`, async (job) => {
    $('messages').replaceChildren();
    $('messages').hidden = true;
    chunks = [];
    pending = 0;
    statusText(`Saving ${name}…`);
    let result;
    let made;
    try {
      await work.ready;
      result = await work.call('save', { file, name, listed });
      made = await takeChunks(name);
      if (job.cancelled) throw new CancelledError('cancelled'); // while it was read back
    } catch (error) {
      chunks = [];
      if (error instanceof CancelledError) {
        statusText(`Saving ${name} was cancelled: nothing was saved.`);
        document.body.dataset.saved = 'cancelled';
        return;
      }
      statusText(`Could not save ${name}: ${error.message}`);
      document.body.dataset.saved = 'failed';
      return;
    }
    try {
      const where = await put(made, name, target, job);
      tree.saved(state);
      offer(made, name, `Save ${name} again (${bytesText(made.size)})`);
      statusText(`${result.complete ? 'Saved' : 'Saved, but with entries left out (listed below),'} ${name} (${bytesText(made.size)}) ${where}.`);
      document.body.dataset.saved = result.complete ? 'complete' : 'incomplete';
    } catch (error) {
      statusText(job.cancelled ? `Saving ${name} was cancelled: the file was left as it was.`
        : `Could not save ${name}: ${error.message}`);
      document.body.dataset.saved = 'failed';
    }
  }, () => work.restart());
});

// Saving one file: exactly the entry's name where the browser allows.
$('save-file').addEventListener('click', async () => {
  const node = chosen();
  if (!node || node.folder) return;
  const { file, id } = shown; // the archive it is in, which another may replace before its turn
  const target = await saveTarget(node.name);
  if (target === undefined) return;
  schedule(`save ${node.name}`, async (job) => {
    const blob = node.source.file ? node.source.file
      : new Blob([(await browse.call('read', { id, file, index: node.source.index })).bytes], { type: 'application/octet-stream' });
    const where = await put(blob, node.name, target, job);
    statusText(`Saved ${node.path} (${bytesText(blob.size)}) ${where}.`);
    document.body.dataset.savedFile = node.name;
  });
});

// Unpacking the archive as opened into a folder the picker gives.
$('unpack').addEventListener('click', async () => {
  if (!shown) return;
  let folder;
  try {
    folder = await window.showDirectoryPicker({ mode: 'readwrite' });
  } catch {
    return; // the picker was closed
  }
  const { file, tree } = shown;
  schedule(`unpack ${file.name} into ${folder.name}`, async () => {
    $('messages').replaceChildren();
    $('messages').hidden = true;
    statusText(`Unpacking ${file.name} into ${folder.name}${tree.changed ? ' (as opened: save the archive to keep the changes)' : ''}…`);
    await work.ready;
    const { written, refused, cancelled } = await work.call('unpack', { file, folder });
    const done = `${plural(written, 'entry', 'entries')} into ${folder.name}`;
    const left = refused ? `; ${plural(refused, 'entry was', 'entries were')} refused (listed below)` : '';
    if (cancelled) {
      statusText(`Unpacking was cancelled after ${done}: the file under way was not written${left}.`);
      document.body.dataset.unpacked = 'cancelled';
      return;
    }
    statusText(`Unpacked ${done}${left}.`);
    document.body.dataset.unpacked = refused ? 'incomplete' : 'complete';
  }, () => work.tell('cancel'));
});

// ---------------------------------------------------------------------------------
// Choosing and dropping.

$('choose-folder').addEventListener('click', async () => {
  if (typeof window.showDirectoryPicker !== 'function') {
    $('folder-input').click();
    return;
  }
  let handle;
  try {
    handle = await window.showDirectoryPicker();
  } catch {
    return;
  }
  pack(`${handle.name}.dat`, { handle });
});
$('choose-archive').addEventListener('click', () => $('archive-input').click());
// Each input is emptied once read, so that choosing the same again is a change too.
// A folder input's Files go to the Worker as they are: their paths and sizes are read
// there.
$('folder-input').addEventListener('change', (event) => {
  const files = [...event.target.files]; // emptying the input empties its FileList
  event.target.value = '';
  if (files.length) pack(`${files[0].webkitRelativePath.split('/')[0]}.dat`, { files });
  else statusText(`Nothing was packed: ${NO_FILES}`);
});
$('archive-input').addEventListener('change', (event) => {
  const file = event.target.files[0];
  event.target.value = '';
  if (file) openArchive(file);
});

// A dropped folder's Files, through the entries API (where there is no handle).
function readAll(reader) {
  return new Promise((resolve, reject) => {
    const all = [];
    const next = () => reader.readEntries((some) => {
      if (!some.length) resolve(all);
      else { all.push(...some); next(); }
    }, reject);
    next();
  });
}
async function listEntry(directory, prefix, out) {
  for (const child of await readAll(directory.createReader())) {
    const path = prefix ? `${prefix}/${child.name}` : child.name;
    if (child.isDirectory) {
      out.push({ path, folder: true });
      await listEntry(child, path, out);
    } else {
      out.push({ path, file: await new Promise((resolve, reject) => child.file(resolve, reject)) });
    }
  }
  return out;
}

// What was dropped: a folder handle (walked in the Worker), a folder entry, or files;
// all taken from the items at once, which are gone after the drop event.
async function dropped(dataTransfer) {
  const items = [...dataTransfer.items].filter((item) => item.kind === 'file').map((item) => ({
    handle: item.getAsFileSystemHandle?.().catch(() => null) ?? null,
    entry: item.webkitGetAsEntry?.() ?? null,
    file: item.getAsFile(),
  }));
  for (const item of items) item.handle = await item.handle;
  return items;
}

const dropOn = (event) => {
  if (![...event.dataTransfer.types].includes('Files')) return;
  event.preventDefault();
  document.body.classList.add('over');
};
document.addEventListener('dragenter', dropOn);
document.addEventListener('dragover', dropOn);
document.addEventListener('dragleave', (event) => {
  if (!event.relatedTarget) document.body.classList.remove('over');
});
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  document.body.classList.remove('over');
  const row = event.target.closest?.('.row');
  const onTree = shown && !shown.tree.refused && event.target.closest?.('#tree');
  const tree = shown?.tree;
  const things = await dropped(event.dataTransfer);
  if (onTree) {
    // Dropped on the tree: added to the folder dropped on (or the chosen one's).
    const node = row ? rows[Number(row.dataset.index)].node : null;
    const folder = node ? (node.folder ? node : node.parent) : tree.root;
    const items = [];
    for (const { entry, file } of things) {
      if (entry?.isDirectory) {
        items.push({ path: entry.name, folder: true });
        for (const item of await listEntry(entry, entry.name, [])) items.push(item);
      } else if (file) {
        items.push({ path: file.name, file });
      }
    }
    addItems(folder, items, tree);
    return;
  }
  if (things.length > 1) {
    statusText(`${things.length} items were dropped, and none was taken: drop one folder to pack, or one archive to open.`);
    return;
  }
  const first = things[0];
  if (!first) return;
  if (first.handle?.kind === 'directory') pack(`${first.handle.name}.dat`, { handle: first.handle });
  else if (first.entry?.isDirectory) pack(`${first.entry.name}.dat`, { entries: await listEntry(first.entry, '', []) });
  else if (first.file) openArchive(first.file);
});

await ready;

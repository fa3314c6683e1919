// The page's Worker: the library runs here, never on the page's thread, so the page
// stays responsive and tells progress while it works. FileReaderSync reads the Files'
// slices exactly when the library's synchronous read callback asks for them, so no big
// file is read whole into memory to be packed, and an archive is listed without being
// read whole. The page runs two of these: one that opens the archive shown and reads
// its files for the preview, and one for the long work (packing, saving, unpacking),
// which the page ends and starts again to cancel what runs synchronously.
import { listHandle } from './tree.mjs';

let lib = null;
let quodrel = null;
let archive = null; // the archive shown (the browsing Worker)
let shownId = 0; // its number: each archive opened to be shown has the next
let cancelled = false; // the page asked an unpacking to stop
let taken = []; // a folder input's Files, handed over a few at a time

const post = (message, transfer = []) => postMessage(message, transfer);

// Progress in bytes, told every 50 ms at most (posting each read would slow a tree of
// many small files down), and once more at the end.
function progress(total) {
  let done = 0;
  let told = 0;
  const tell = (force) => {
    const now = performance.now();
    if (force || now - told >= 50) {
      told = now;
      post({ type: 'progress', done, total });
    }
  };
  return {
    add(bytes) {
      done += bytes;
      tell(false);
    },
    end() {
      done = total;
      tell(true);
    },
  };
}

// A reader that counts what it gives, reading ahead: the library asks for 64 KiB at a
// time, and each read of a File is a round trip to the browser, so 4 MiB are read at
// once and given out piece by piece. The byte past a file's end that the library asks
// for (to see whether it grew) is not read: a File is a snapshot, which fails to read
// if the file changed since.
const AHEAD = 4 << 20;
function counted(reader, counter) {
  let start = 0;
  let window = new Uint8Array(0);
  return {
    size: reader.size,
    read(offset, length) {
      if (offset >= reader.size) return new Uint8Array(0);
      if (offset < start || offset + length > start + window.length) {
        start = offset;
        window = reader.read(offset, Math.min(Math.max(length, AHEAD), reader.size - offset));
      }
      const bytes = window.subarray(offset - start, offset - start + length);
      counter.add(bytes.length);
      return bytes;
    },
  };
}

function fileReader(file, counter) {
  const sync = new FileReaderSync();
  return counted({
    size: file.size,
    read: (offset, length) => new Uint8Array(sync.readAsArrayBuffer(file.slice(offset, offset + length))),
  }, counter);
}

function bytesReader(bytes, counter) {
  return counted({ size: bytes.length, read: (offset, length) => bytes.subarray(offset, offset + length) },
    counter);
}

// From a folder input's Files (which hold no empty folders): the folders their paths
// need, then the files, below the folder chosen. Gives the folder's name too.
function listFiles(files) {
  const out = [];
  const folders = new Set();
  let root = '';
  for (const file of files) {
    const parts = file.webkitRelativePath.split('/');
    root = parts[0];
    for (let i = 2; i < parts.length; ++i) {
      const folder = parts.slice(1, i).join('/');
      if (!folders.has(folder)) {
        folders.add(folder);
        out.push({ path: folder, folder: true });
      }
    }
    out.push({ path: parts.slice(1).join('/'), file });
  }
  return { root, entries: out };
}

// Small files are read whole first, many as one Blob at a time (up to 256 MiB of them
// in all): FileReaderSync costs a round trip to the browser per read, which for
// thousands of small files costs far more than packing them. Their entries then hold
// bytes.
const SMALL = 1 << 20; // a file read whole first: at most this large
const EARLY = 256 << 20; // and all of them together at most this large
const GROUP = 16 << 20; // read together, at most this many bytes of them
async function readSmall(entries, counter) {
  const small = [];
  let early = 0;
  for (const entry of entries) {
    if (!entry.file || entry.file.size > SMALL || early + entry.file.size > EARLY) continue;
    small.push(entry);
    early += entry.file.size;
  }
  for (let i = 0; i < small.length;) {
    const group = [];
    for (let size = 0; i < small.length && group.length < 1024 && size < GROUP; ++i) {
      group.push(small[i]);
      size += small[i].file.size;
    }
    const buffer = await new Blob(group.map((e) => e.file)).arrayBuffer();
    let at = 0;
    for (const entry of group) {
      const size = entry.file.size;
      entry.bytes = new Uint8Array(buffer, at, size);
      at += size;
    }
    counter.add(at);
  }
}

// The Files' and bytes' entries as the library takes them, reading counted.
function listedOf(entries, counter) {
  return entries.map((e) => {
    if (e.folder) return { path: e.path, folder: true };
    if (e.bytes) return { path: e.path, data: { size: e.bytes.length, read: (o, n) => e.bytes.subarray(o, o + n) } };
    return { path: e.path, data: fileReader(e.file, counter) };
  });
}

// Makes an archive of `listed`, its chunks posted to the page as they are written.
function create(listed, name) {
  const made = quodrel.create(listed, {
    name,
    onEvent: (event) => {
      if (event.kind === lib.EVENT.REFUSED) post({ type: 'refused', text: event.text.trim() });
    },
    onChunk: (chunk) => post({ type: 'chunk', chunk }, [chunk.buffer]),
  });
  return { complete: made.complete, text: made.text };
}

// The text a refused entry is told with: the program's line, or, for an entry inside
// a refused folder (for which the program prints nothing), the folder's.
function refusalWords(entries, lines) {
  const words = new Map();
  const folders = [];
  for (const entry of entries) {
    if (!entry.refusal) continue;
    if (entry.refusal === 7 /* inside a refused folder */) {
      const folder = folders.findLast((f) => entry.path.startsWith(`${f.path}/`));
      words.set(entry.index, folder ? `In ${folder.path}/, which is refused: ${folder.refusalText}`
        : `ERROR! ${entry.refusalText} ${entry.path}`);
      continue;
    }
    words.set(entry.index, lines.get(entry.index) ?? `ERROR! ${entry.refusalText} ${entry.path}`);
    if (entry.folder) folders.push(entry);
  }
  return words;
}

// Runs `call` on archive `id`: the one shown, or, when another has been opened since
// (a choice that waited behind it), `file` opened again for the call, so that an entry's
// index never reads another archive's file.
async function ofArchive(id, file, call) {
  if (id === shownId) return call(archive);
  const opened = await quodrel.openBlob(file, { name: file.name, requireMagic: true });
  try {
    return call(opened);
  } finally {
    opened.close();
  }
}

const operations = {
  async init({ module }) {
    lib = await import(new URL('quodrel.mjs', import.meta.url).href);
    quodrel = await lib.load(module);
    return { version: quodrel.version };
  },

  // Opens `file` to be shown: its number, its entries as arrays (cheap to post for
  // 100,000), the refusals in the program's words; or that it is no archive, and the
  // archive shown before stays open (the page still shows it).
  async open({ file }) {
    let opened;
    try {
      opened = await quodrel.openBlob(file, { name: file.name, requireMagic: true });
    } catch (error) {
      return { failed: error.text?.trim() || `ERROR! ${error.message}` };
    }
    archive?.close();
    archive = opened;
    const lines = new Map();
    const verdict = archive.check({
      onEvent: (event) => {
        if (event.kind === lib.EVENT.REFUSED && event.text) lines.set(event.index, event.text.trim());
      },
    });
    const entries = archive.entries;
    const words = refusalWords(entries, lines);
    const sizes = new Float64Array(entries.length);
    const folders = new Uint8Array(entries.length);
    const refusals = new Uint8Array(entries.length);
    entries.forEach((e, i) => {
      sizes[i] = e.size;
      folders[i] = e.folder ? 1 : 0;
      refusals[i] = e.refusal;
    });
    return {
      id: ++shownId, paths: entries.map((e) => e.path).join('\0'), sizes, folders, refusals,
      words: [...words], ok: verdict.ok, text: verdict.text,
      transfer: [sizes.buffer, folders.buffer, refusals.buffer],
    };
  },

  // The first `length` bytes of a file of archive `id` (opened from `file`).
  preview({ id, file, index, length }) {
    return ofArchive(id, file, (opened) => {
      const bytes = opened.read(index, { offset: 0, length });
      return { bytes, transfer: [bytes.buffer] };
    });
  },

  read({ id, file, index }) {
    return ofArchive(id, file, (opened) => {
      const bytes = opened.read(index);
      return { bytes, transfer: [bytes.buffer] };
    });
  },

  take({ files }) {
    taken.push(...files);
  },

  // Packs a folder: a directory handle (walked here), a folder input's Files (taken
  // before), or a list the page made ({ path, folder } or { path, file }).
  async pack({ handle, entries, name }) {
    if (handle) entries = await listHandle(handle, '', []);
    if (!entries) {
      ({ entries } = listFiles(taken));
      taken = [];
    }
    const total = entries.reduce((n, e) => n + (e.file ? e.file.size : 0), 0);
    const counter = progress(total);
    post({ type: 'listed', files: entries.filter((e) => e.file).length, bytes: total });
    await readSmall(entries, counter);
    const result = create(listedOf(entries, counter), name);
    counter.end();
    return result;
  },

  // Saves the changed tree: `listed` ({ path, folder } or { path, size, source }), its
  // unchanged files read from `file` (the archive opened) straight from their ranges,
  // the others from their Files.
  async save({ file, name, listed }) {
    const old = await quodrel.openBlob(file, { name: file.name, requireMagic: true });
    try {
      const total = listed.reduce((n, e) => n + (e.folder ? 0 : e.size), 0);
      const counter = progress(total);
      const entries = listed.map((e) => {
        if (e.folder) return { path: e.path, folder: true };
        if (e.source.file) return { path: e.path, data: fileReader(e.source.file, counter) };
        return { path: e.path, data: counted(old.reader(e.source.index), counter) };
      });
      const result = create(entries, name);
      counter.end();
      return result;
    } finally {
      old.close();
    }
  },

  // Writes every entry extraction would write into `folder` (a directory handle), in
  // the archive's order, each file through a writable that is committed only when
  // complete; the refused ones are told and left out. A cancel stops between pieces:
  // the file under way is thrown away, those written stay.
  async unpack({ file, folder }) {
    cancelled = false;
    const opened = await quodrel.openBlob(file, { name: file.name, requireMagic: true });
    try {
      const lines = new Map();
      opened.check({
        onEvent: (event) => {
          if (event.kind === lib.EVENT.REFUSED && event.text) lines.set(event.index, event.text.trim());
        },
      });
      const entries = opened.entries;
      const words = refusalWords(entries, lines);
      const counter = progress(entries.reduce((n, e) => n + (e.refusal || e.folder ? 0 : e.size), 0));
      const folders = new Map([['', folder]]);
      const folderOf = async (path) => {
        if (folders.has(path)) return folders.get(path);
        const cut = path.lastIndexOf('/');
        const parent = await folderOf(cut < 0 ? '' : path.slice(0, cut));
        const made = await parent.getDirectoryHandle(path.slice(cut + 1), { create: true });
        folders.set(path, made);
        return made;
      };
      let refused = 0;
      let written = 0;
      for (const entry of entries) {
        if (cancelled) return { cancelled: true, written, refused };
        if (entry.refusal) {
          ++refused;
          if (entry.refusal !== 7) post({ type: 'refused', text: words.get(entry.index) });
          continue;
        }
        if (entry.folder) {
          await folderOf(entry.path);
          ++written;
          continue;
        }
        const cut = entry.path.lastIndexOf('/');
        const parent = await folderOf(cut < 0 ? '' : entry.path.slice(0, cut));
        const name = entry.path.slice(cut + 1);
        const existed = await parent.getFileHandle(name).then(() => true, () => false);
        const handle = await parent.getFileHandle(name, { create: true });
        const writable = await handle.createWritable();
        for (let at = 0; at < entry.size; at += 4 << 20) {
          if (cancelled) {
            await writable.abort();
            if (!existed) await parent.removeEntry(name).catch(() => {});
            return { cancelled: true, written, refused };
          }
          const piece = opened.read(entry.index, { offset: at, length: 4 << 20 });
          await writable.write(piece);
          counter.add(piece.length);
        }
        await writable.close();
        ++written;
      }
      counter.end();
      return { written, refused };
    } finally {
      opened.close();
    }
  },

  cancel() {
    cancelled = true;
  },
};

onmessage = async ({ data }) => {
  try {
    const result = await operations[data.op](data);
    const transfer = result?.transfer ?? [];
    if (result) delete result.transfer;
    if (data.id) post({ type: 'result', id: data.id, result }, transfer);
  } catch (error) {
    post({ type: 'result', id: data.id, error: `${error.text?.trim() || error.message || error}` });
  }
};

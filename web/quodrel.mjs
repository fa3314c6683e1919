// Reading and writing .dat archives from JavaScript, in a browser or in Node, through
// the quodrel library built for WebAssembly (quodrel.wasm, made by `make web`).
//
// The module needs no WASI host: the library makes no system call on these paths (it
// reads archives from memory or through a reader and writes them through a writer),
// and the few WASI functions its C library links in answer "not supported" here. So
// the same file runs wherever WebAssembly does, with no dependency.

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// Event kinds and errors, as quodrel.h numbers them.
export const EVENT = Object.freeze({
  BEGIN: 1, PROGRESS: 2, ENTRY: 3, REFUSED: 4, FAILED: 5, END: 6, DIFFERENCE: 7,
});
export const ERROR = Object.freeze({
  OK: 0, ARGUMENT: 1, OPEN: 2, TABLE_CUT_SHORT: 3, BAD_NAME_LENGTH: 4, TOO_DEEP: 5,
  NO_MEMORY: 6, NOT_FOUND: 7, NOT_A_FILE: 8, REFUSED: 9, READ: 10, INCOMPLETE: 11,
  CANCELLED: 12, DESTINATION: 13, CREATE: 14, WRITE: 15, CHANGED: 16, LIMIT: 17,
  NOT_AN_ARCHIVE: 18, DESCRIPTORS: 19, DIFFERENT: 20, NOT_UPDATED: 21,
});

const OPEN_REQUIRE_MAGIC = 1;
const ENOSYS = 52; // WASI's "not supported"

// A call of the library that failed: `code` is the quodrel_error, `text` the events'
// words (as the quodrel program prints them).
export class QuodrelError extends Error {
  constructor(code, message, text = '') {
    super(message);
    this.name = 'QuodrelError';
    this.code = code;
    this.text = text;
  }
}

// Loads quodrel.wasm: from `source` (its bytes, a Response, a URL, or a compiled
// WebAssembly.Module), by default from beside this file.
export async function load(source = new URL('./quodrel.wasm', import.meta.url)) {
  let module;
  if (source instanceof WebAssembly.Module) {
    module = source;
  } else if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
    module = await WebAssembly.compile(source);
  } else {
    const url = source instanceof URL ? source : new URL(String(source), import.meta.url);
    if (url.protocol === 'file:' && typeof process !== 'undefined' && process.versions?.node) {
      const { readFile } = await import('node:fs/promises');
      module = await WebAssembly.compile(await readFile(url));
    } else {
      const response = source instanceof Response ? source : await fetch(url);
      module = await WebAssembly.compile(await response.arrayBuffer());
    }
  }
  return new Quodrel(module);
}

// One instance of the library, with its own memory.
export class Quodrel {
  constructor(module) {
    this.callbacks = new Map(); // context number -> what the library calls back
    this.nextContext = 1;
    const wasi = {};
    for (const { module: from, name } of WebAssembly.Module.imports(module))
      if (from === 'wasi_snapshot_preview1')
        wasi[name] = name === 'proc_exit' ? (code) => { throw new QuodrelError(-1, `exit ${code}`); }
          : () => ENOSYS;
    // What the library calls back. Nothing may be thrown through the WebAssembly (its
    // stack would be left as it was, and its memory with it): whatever the caller's
    // function throws or gives that is not what was asked for becomes the library's
    // failure value (a failed read or write, a cancel). Pointers come as signed 32-bit
    // numbers: `>>> 0` makes those past 2 GiB what they are.
    const guarded = (failure, call) => (...args) => {
      try {
        return call(...args);
      } catch {
        return failure;
      }
    };
    const host = {
      read_at: guarded(-1n, (context, buffer, size, offset) =>
        BigInt(this.callbacks.get(context).readAt(buffer >>> 0, size >>> 0, Number(offset)))),
      write: guarded(1, (context, data, size) =>
        this.callbacks.get(context).write(data >>> 0, size >>> 0)),
      on_event: guarded(1, (context, event) =>
        (this.callbacks.get(context).onEvent(event >>> 0) ? 1 : 0)),
    };
    this.instance = new WebAssembly.Instance(module, {
      wasi_snapshot_preview1: wasi, quodrel_host: host,
    });
    this.x = this.instance.exports;
    this.x._initialize?.();
    this.reader = this.x.quodrel_web_reader();
    this.writer = this.x.quodrel_web_writer();
    this.listener = this.x.quodrel_web_listener();
  }

  // The library's version, as QUODREL_VERSION_NUMBER gives it.
  get version() { return this.x.quodrel_version(); }

  bytes() { return new Uint8Array(this.x.memory.buffer); }
  view() { return new DataView(this.x.memory.buffer); }

  alloc(size) {
    if (!Number.isSafeInteger(size) || size < 0 || size > 0xffffffff)
      throw new QuodrelError(ERROR.NO_MEMORY, 'out of memory');
    const at = this.x.malloc(Math.max(size, 1)) >>> 0;
    if (!at) throw new QuodrelError(ERROR.NO_MEMORY, 'out of memory');
    return at;
  }

  // A path or name for the library: a string with no NUL (C would end it there) and no
  // lone surrogate (UTF-8 cannot hold it: it would become another name).
  string(text) {
    if (typeof text !== 'string')
      throw new QuodrelError(ERROR.ARGUMENT, `a path is a string, not ${typeof text}`);
    if (text.includes('\0'))
      throw new QuodrelError(ERROR.ARGUMENT, `a path holding a NUL character: ${JSON.stringify(text)}`);
    try {
      encodeURIComponent(text);
    } catch {
      throw new QuodrelError(ERROR.ARGUMENT, `a path with a lone surrogate: ${JSON.stringify(text)}`);
    }
    const bytes = encoder.encode(text);
    const at = this.alloc(bytes.length + 1);
    this.bytes().set(bytes, at);
    this.bytes()[at + bytes.length] = 0;
    return at;
  }

  cString(pointer) {
    const at = pointer >>> 0;
    const memory = this.bytes();
    let end = at;
    while (memory[end] !== 0) ++end;
    return decoder.decode(memory.subarray(at, end));
  }

  // A text the library writes as snprintf does: asked for its length, then written.
  written(write) {
    const length = write(0, 0) >>> 0;
    const at = this.alloc(length + 1);
    try {
      write(at, length + 1);
      return decoder.decode(this.bytes().slice(at, at + length));
    } finally {
      this.x.free(at);
    }
  }

  errorText(code) { return this.cString(this.x.quodrel_error_text(code)); }

  // A failure to open `name` in the program's words ("ERROR! Entry table cut short in
  // x.dat"): the library's text of a FAILED event about it.
  failureText(code, name) {
    const size = 120; // sizeof (quodrel_event) on wasm32
    const at = this.alloc(size);
    const path = this.string(name);
    try {
      this.bytes().fill(0, at, at + size);
      const view = this.view();
      view.setUint32(at, size, true);
      view.setInt32(at + 4, EVENT.FAILED, true);
      view.setInt32(at + 8, 5, true); // QUODREL_OPERATION_CHECK
      view.setUint32(at + 12, 0xffffffff, true); // no entry
      view.setUint32(at + 16, path, true);
      view.setInt32(at + 36, code, true);
      return this.written((buffer, length) => this.x.quodrel_event_text(at, buffer, length));
    } finally {
      this.x.free(path);
      this.x.free(at);
    }
  }
  refusalText(refusal) { return this.cString(this.x.quodrel_refusal_text(refusal)); }

  // Runs `call(context)` with `callbacks` reachable under `context` meanwhile.
  withCallbacks(callbacks, call) {
    const context = this.nextContext++;
    this.callbacks.set(context, callbacks);
    try {
      return call(context);
    } finally {
      this.callbacks.delete(context);
    }
  }

  // quodrel_options for one operation that tells `onEvent` (and gathers the words);
  // freed by the caller.
  options(context) {
    const at = this.alloc(20);
    const view = this.view();
    view.setUint32(at, 20, true);
    view.setUint32(at + 4, 1, true); // one thread: there is no other
    view.setUint32(at + 8, this.listener, true);
    view.setUint32(at + 12, context, true);
    view.setUint32(at + 16, 0, true);
    return at;
  }

  event(pointer) {
    const at = pointer >>> 0;
    const view = this.view();
    const path = view.getUint32(at + 16, true);
    const index = view.getUint32(at + 12, true);
    return {
      kind: view.getInt32(at + 4, true),
      index: index === 0xffffffff ? -1 : index,
      path: path ? this.cString(path) : '',
      bytes: Number(view.getBigInt64(at + 24, true)),
      refusal: view.getInt32(at + 32, true),
      error: view.getInt32(at + 36, true),
      entriesDone: Number(view.getBigInt64(at + 48, true)),
      entriesTotal: Number(view.getBigInt64(at + 56, true)),
      bytesDone: Number(view.getBigInt64(at + 64, true)),
      bytesTotal: Number(view.getBigInt64(at + 72, true)),
      text: this.written((buffer, size) => this.x.quodrel_event_text(at, buffer, size)),
    };
  }

  // Runs an operation that tells events: `run(options)` gives its quodrel_error.
  // Returns the error and the words told; `onEvent(event)` returning true cancels.
  // What `onEvent` throws cancels the operation (an exception must not unwind through
  // the library), and is thrown again once it has returned.
  operation(onEvent, run) {
    const told = [];
    let thrown = null;
    const listener = {
      onEvent: (at) => {
        let event;
        try {
          event = this.event(at);
          told.push(event.text);
          return onEvent ? onEvent(event) === true : false;
        } catch (error) {
          thrown ??= { error };
          return true;
        }
      },
    };
    const result = this.withCallbacks(listener, (context) => {
      const options = this.options(context);
      try {
        return { code: run(options), text: told.join('') };
      } finally {
        this.x.free(options);
      }
    });
    if (thrown) throw thrown.error;
    return result;
  }

  // Opens an archive: its bytes (Uint8Array or ArrayBuffer, copied into the module),
  // or a reader { size, read(offset, length) -> Uint8Array } that gives its bytes on
  // request, synchronously (a file handle in Node, FileReaderSync in a Worker).
  open(source, { name = 'archive', requireMagic = false } = {}) {
    const flags = requireMagic ? OPEN_REQUIRE_MAGIC : 0;
    const namePtr = this.string(name);
    const out = this.alloc(4);
    let data = 0;
    let reader = null;
    try {
      let code;
      if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
        const bytes = source instanceof Uint8Array ? source
          : new Uint8Array(source.buffer ?? source, source.byteOffset ?? 0, source.byteLength);
        data = this.alloc(bytes.length);
        this.bytes().set(bytes, data);
        code = this.x.quodrel_open_memory(data, bytes.length, namePtr, flags, out);
      } else if (source && typeof source.read === 'function') {
        if (!Number.isSafeInteger(source.size) || source.size < 0)
          throw new QuodrelError(ERROR.ARGUMENT, `a reader's size is a whole number of bytes, not ${source.size}`);
        reader = this.nextContext++;
        this.callbacks.set(reader, readerOf(this, source.read));
        code = this.x.quodrel_open_reader(this.reader, BigInt(source.size), reader, namePtr,
          flags, out);
      } else {
        throw new QuodrelError(ERROR.ARGUMENT, 'open: bytes or a reader');
      }
      if (code !== ERROR.OK)
        throw new QuodrelError(code, `${name}: ${this.errorText(code)}`, this.failureText(code, name));
      const handle = this.view().getUint32(out, true);
      const opened = new Archive(this, handle, name, () => {
        if (data) this.x.free(data);
        if (reader) this.callbacks.delete(reader);
      });
      data = 0;
      reader = null;
      return opened;
    } finally {
      if (data) this.x.free(data);
      if (reader) this.callbacks.delete(reader);
      this.x.free(namePtr);
      this.x.free(out);
    }
  }

  // Opens a Blob or File: through FileReaderSync where there is one (a Worker), else
  // its bytes read whole first.
  async openBlob(blob, options = {}) {
    const name = options.name ?? blob.name ?? 'archive';
    if (typeof FileReaderSync !== 'undefined') {
      const sync = new FileReaderSync();
      return this.open({
        size: blob.size,
        read: (offset, length) =>
          new Uint8Array(sync.readAsArrayBuffer(blob.slice(offset, offset + length))),
      }, { ...options, name });
    }
    return this.open(new Uint8Array(await blob.arrayBuffer()), { ...options, name });
  }

  // Opens the archive at `file` (Node): a path, a descriptor or a FileHandle, read
  // through its descriptor as it is asked for, never read whole. A file opened here
  // is closed with the archive; one the caller gave stays the caller's.
  async openFile(file, options = {}) {
    const fs = await import('node:fs');
    const given = typeof file === 'number' ? file : typeof file?.fd === 'number' ? file.fd : null;
    const name = given === null ? String(file) : 'archive';
    const cannot = () => new QuodrelError(ERROR.OPEN, `${name}: ${this.errorText(ERROR.OPEN)}`,
      this.failureText(ERROR.OPEN, options.name ?? name));
    // As the program opens an archive: a plain file only, and never waiting (a FIFO).
    let fd = given;
    if (fd === null) {
      try {
        fd = fs.openSync(file, fs.constants.O_RDONLY | (fs.constants.O_NONBLOCK ?? 0));
      } catch {
        throw cannot();
      }
    }
    const owned = given === null;
    try {
      const stat = fs.fstatSync(fd);
      if (!stat.isFile()) throw cannot();
      const { size } = stat;
      const archive = this.open({
        size,
        read: (offset, length) => {
          const bytes = new Uint8Array(length);
          return bytes.subarray(0, fs.readSync(fd, bytes, 0, length, offset));
        },
      }, { name: owned ? String(file) : 'archive', ...options });
      const release = archive.release;
      archive.release = () => {
        release();
        if (owned) fs.closeSync(fd);
      };
      return archive;
    } catch (error) {
      if (owned) fs.closeSync(fd);
      throw error;
    }
  }

  // As create, where files may be Blobs (Files) and no FileReaderSync reads them
  // (a page's main thread, Node): each is read whole first.
  async createAsync(entries, options = {}) {
    const whole = [];
    for (const entry of entries) {
      const blob = typeof Blob !== 'undefined' && entry.data instanceof Blob;
      const sync = typeof FileReaderSync !== 'undefined';
      whole.push(blob && !sync
        ? { ...entry, data: new Uint8Array(await entry.data.arrayBuffer()) } : entry);
    }
    return this.create(whole, options);
  }

  // Creates an archive of `entries`: { path, data } for a file (a Uint8Array, or a
  // reader { size, read(offset, length) -> Uint8Array }), { path, folder: true } for a
  // folder; in any order, as quodrel -c would pack the same tree. Gives { bytes,
  // complete, text }: complete is false when something was refused (the events and
  // `text` say what). Throws a QuodrelError when no archive could be made.
  create(entries, { name = 'archive', onEvent = null, onChunk = null } = {}) {
    if (entries === null || typeof entries !== 'object' || typeof entries[Symbol.iterator] !== 'function')
      throw new QuodrelError(ERROR.ARGUMENT, 'create: the entries are a list (any iterable)');
    entries = Array.from(entries);
    for (const entry of entries)
      if (entry === null || typeof entry !== 'object')
        throw new QuodrelError(ERROR.ARGUMENT, `create: an entry is { path, data } or { path, folder: true }, not ${entry}`);
    const count = entries.length;
    const table = this.alloc(24 * count);
    const strings = [];
    const sources = [];
    const chunks = [];
    let thrown = null; // what onChunk threw: the writer failed, and it is thrown again
    const writer = {
      write: (data, size) => {
        const chunk = this.bytes().slice(data, data + size);
        try {
          if (onChunk) onChunk(chunk);
          else chunks.push(chunk);
          return 0;
        } catch (error) {
          thrown ??= { error };
          return 1;
        }
      },
    };
    try {
      for (let i = 0; i < count; ++i) {
        const entry = entries[i];
        const at = table + 24 * i;
        const path = this.string(entry.path);
        strings.push(path);
        const view = this.view();
        view.setUint32(at, path, true);
        view.setInt32(at + 4, entry.folder ? 1 : 0, true);
        if (!entry.folder) {
          const source = sourceOf(entry.data);
          const context = this.nextContext++;
          this.callbacks.set(context, readerOf(this, source.read));
          sources.push(context);
          view.setBigUint64(at + 8, BigInt(source.size), true);
          view.setUint32(at + 16, context, true);
        }
      }
      const namePtr = this.string(name);
      strings.push(namePtr);
      const result = this.withCallbacks(writer, (context) =>
        this.operation(onEvent, (options) => this.x.quodrel_create_listed(table, count,
          this.reader, this.writer, context, namePtr, options)));
      if (thrown) throw thrown.error;
      if (result.code !== ERROR.OK && result.code !== ERROR.INCOMPLETE)
        throw new QuodrelError(result.code, firstError(result.text)
          ?? `${name}: ${this.errorText(result.code)}`, result.text);
      return {
        bytes: onChunk ? null : concatenate(chunks),
        complete: result.code === ERROR.OK,
        text: result.text,
      };
    } finally {
      for (const context of sources) this.callbacks.delete(context);
      for (const at of strings) this.x.free(at);
      this.x.free(table);
    }
  }
}

// An open archive. Closing it while a call on it runs (from a callback of that call)
// waits until the call has returned; any call after close is refused.
export class Archive {
  constructor(quodrel, handle, name, release) {
    this.q = quodrel;
    this.handle = handle;
    this.name = name;
    this.release = release;
    this.cached = null;
    this.busy = 0;
    this.closing = false;
  }

  // Runs `call(handle)` with the archive kept open meanwhile.
  use(call) {
    if (!this.handle || this.closing)
      throw new QuodrelError(ERROR.ARGUMENT, `${this.name}: the archive is closed`);
    ++this.busy;
    try {
      return call(this.handle);
    } finally {
      if (--this.busy === 0 && this.closing) this.close();
    }
  }

  get hasMagic() { return this.use((handle) => this.q.x.quodrel_has_magic(handle) === 1); }

  // Every entry in the archive's order: path, size, folder, and refusal (0 when
  // extraction writes it, else why not, in words too).
  get entries() {
    return this.use((handle) => {
      if (this.cached) return this.cached;
      const { x } = this.q;
      const count = x.quodrel_entry_count(handle) >>> 0;
      const entries = [];
      for (let i = 0; i < count; ++i) {
        const refusal = x.quodrel_entry_refusal(handle, i);
        entries.push({
          index: i,
          path: this.q.written((buffer, size) => x.quodrel_entry_path(handle, i, buffer, size)),
          size: Number(x.quodrel_entry_size(handle, i)),
          folder: x.quodrel_entry_is_folder(handle, i) === 1,
          refusal,
          refusalText: refusal ? this.q.refusalText(refusal) : '',
        });
      }
      this.cached = entries;
      return entries;
    });
  }

  // The entry extraction writes at `path` (as quodrel_find finds it): its index.
  find(path) {
    return this.use((handle) => {
      const { x } = this.q;
      const wanted = this.q.string(path);
      const out = this.q.alloc(4);
      try {
        const code = x.quodrel_find(handle, wanted, out);
        if (code !== ERROR.OK) throw new QuodrelError(code, `${path}: ${this.q.errorText(code)}`);
        return this.q.view().getUint32(out, true);
      } finally {
        x.free(wanted);
        x.free(out);
      }
    });
  }

  // A file's bytes, by path or index. The library checks the entry (refused, a
  // folder) before any memory is taken for it.
  read(which) {
    return this.use((handle) => {
      const { x } = this.q;
      let index;
      if (typeof which === 'string') {
        index = this.find(which);
      } else if (Number.isInteger(which) && which >= 0 && which < (x.quodrel_entry_count(handle) >>> 0)) {
        index = which;
      } else {
        throw new QuodrelError(ERROR.ARGUMENT, `read: a path or an entry's index, not ${which}`);
      }
      const got = this.q.alloc(4);
      let buffer = 0;
      try {
        let code = x.quodrel_read(handle, index, 0n, 0, 0, got);
        let size = 0;
        if (code === ERROR.OK) {
          size = Number(x.quodrel_entry_size(handle, index));
          buffer = this.q.alloc(size);
          code = x.quodrel_read(handle, index, 0n, buffer, size, got);
        }
        if (code !== ERROR.OK) throw new QuodrelError(code, `${which}: ${this.q.errorText(code)}`);
        const n = this.q.view().getUint32(got, true);
        return this.q.bytes().slice(buffer, buffer + n);
      } finally {
        if (buffer) x.free(buffer);
        x.free(got);
      }
    });
  }

  // What quodrel -t says of the archive: { ok, refused: [{ path, refusal }], text }.
  check({ onEvent = null } = {}) {
    return this.use((handle) => {
      const refused = [];
      const result = this.q.operation((event) => {
        if (event.kind === EVENT.REFUSED) refused.push({ path: event.path, refusal: event.refusal });
        return onEvent ? onEvent(event) : false;
      }, (options) => this.q.x.quodrel_check(handle, options));
      if (result.code === ERROR.CANCELLED)
        throw new QuodrelError(result.code, this.q.errorText(result.code), result.text);
      return { ok: result.code === ERROR.OK, refused, text: result.text };
    });
  }

  close() {
    if (!this.handle) return;
    this.closing = true;
    if (this.busy) return; // the running call closes it as it returns
    this.q.x.quodrel_close(this.handle);
    this.handle = 0;
    this.release();
  }
}

// What a listed file's bytes come from: a Uint8Array, a reader, or a Blob (a File)
// where FileReaderSync reads its slices (a Worker).
function sourceOf(data) {
  if (typeof Blob !== 'undefined' && data instanceof Blob) {
    if (typeof FileReaderSync === 'undefined')
      throw new QuodrelError(ERROR.ARGUMENT, 'a Blob is read in a Worker, or by createAsync');
    const sync = new FileReaderSync();
    return {
      size: data.size,
      read: (offset, length) =>
        new Uint8Array(sync.readAsArrayBuffer(data.slice(offset, offset + length))),
    };
  }
  if (data instanceof Uint8Array)
    return { size: data.length, read: (offset, length) => data.subarray(offset, offset + length) };
  if (data instanceof ArrayBuffer) return sourceOf(new Uint8Array(data));
  if (data && typeof data.read === 'function') {
    if (!Number.isSafeInteger(data.size) || data.size < 0)
      throw new QuodrelError(ERROR.ARGUMENT, `a reader's size is a whole number of bytes, not ${data.size}`);
    return data;
  }
  if (data === undefined || data === null) return sourceOf(new Uint8Array(0));
  throw new QuodrelError(ERROR.ARGUMENT, 'a file entry needs data: bytes or a reader');
}

// The library's reader callback over `read(offset, length) -> Uint8Array` (or an
// ArrayBuffer): a throw, anything else (a Promise, a string, other typed arrays), or
// more bytes than asked is a failed read, told to the library as -1.
function readerOf(quodrel, read) {
  return {
    readAt: (buffer, size, offset) => {
      let bytes;
      try {
        bytes = read(offset, size);
      } catch {
        return -1;
      }
      if (bytes instanceof ArrayBuffer) bytes = new Uint8Array(bytes);
      if (!(bytes instanceof Uint8Array) || bytes.length > size) return -1;
      quodrel.bytes().set(bytes, buffer);
      return bytes.length;
    },
  };
}

// The first "ERROR! " line of an operation's words, without its ending.
function firstError(text) {
  const at = text.indexOf('ERROR! ');
  return at < 0 ? null : text.slice(at).split('\n')[0];
}

function concatenate(chunks) {
  let size = 0;
  for (const chunk of chunks) size += chunk.length;
  const whole = new Uint8Array(size);
  let at = 0;
  for (const chunk of chunks) {
    whole.set(chunk, at);
    at += chunk.length;
  }
  return whole;
}

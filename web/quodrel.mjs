// Reading and writing .dat archives from JavaScript, in a browser or in Node, through
// the quodrel library built for WebAssembly (quodrel.wasm, made by `make web`).
//
// The module needs no WASI host: the library makes no system call on these paths (it
// reads archives from memory or through a reader and writes them through a writer),
// and the few WASI functions its C library links in answer "not supported" here. So
// the same file runs wherever WebAssembly does, with no dependency.

const encoder = new TextEncoder();
const decoder = new TextDecoder();

// Event kinds and errors, as quodrel.h numbers them. A later library may tell kinds
// and codes this table lacks: they come as their numbers, with the library's words.
export const EVENT = Object.freeze({
  BEGIN: 1, PROGRESS: 2, ENTRY: 3, REFUSED: 4, FAILED: 5, END: 6, DIFFERENCE: 7, COMMIT: 8,
});
export const ERROR = Object.freeze({
  OK: 0, ARGUMENT: 1, OPEN: 2, TABLE_CUT_SHORT: 3, BAD_NAME_LENGTH: 4, TOO_DEEP: 5,
  NO_MEMORY: 6, NOT_FOUND: 7, NOT_A_FILE: 8, REFUSED: 9, READ: 10, INCOMPLETE: 11,
  CANCELLED: 12, DESTINATION: 13, CREATE: 14, WRITE: 15, CHANGED: 16, LIMIT: 17,
  NOT_AN_ARCHIVE: 18, DESCRIPTORS: 19, DIFFERENT: 20, NOT_UPDATED: 21, LOCKED: 22, REPLACED: 23,
});

const OPEN_REQUIRE_MAGIC = 1;
const OPERATION_CHECK = 5;
const NO_INDEX = 0xffffffff;
const ENOSYS = 52; // WASI's "not supported"
const SCRATCH = 1024; // bytes kept for texts: every path extraction writes fits
const MAX_ARCHIVE = 0x7fffffff; // the largest archive the format holds, in bytes
// A lone surrogate (in a regular expression with the u flag, a pair is one character).
const LONE_SURROGATE = /[\uD800-\uDFFF]/u;
// Reads straight into the module's memory, where a source can (a descriptor in Node):
// (memory, at, length, offset) -> bytes read.
const READ_INTO = Symbol('readInto');

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
  } else if (typeof source?.arrayBuffer === 'function') { // a Response (or a Blob)
    module = await compiled(source, source.url || 'quodrel.wasm');
  } else {
    const url = source instanceof URL ? source : new URL(String(source), import.meta.url);
    if (url.protocol === 'file:' && typeof process !== 'undefined' && process.versions?.node) {
      const { readFile } = await import('node:fs/promises');
      module = await WebAssembly.compile(await readFile(url));
    } else {
      module = await compiled(await fetch(url), url.href);
    }
  }
  return new Quodrel(module);
}

// The module in a response's body; a response that failed (a 404's page) is told as
// such, not as bytes that are no WebAssembly.
async function compiled(response, what) {
  if (response.ok === false)
    throw new QuodrelError(ERROR.OPEN, `${what}: ${response.status} ${response.statusText}`.trim());
  return WebAssembly.compile(await response.arrayBuffer());
}

// What an archive holds in the module and outside it, released once: by close(), or,
// for an archive no one closed, when it is collected. It refers to no Archive, so the
// archive can be collected while it waits.
class Held {
  constructor(quodrel) {
    this.q = quodrel;
    this.handle = 0;
    this.data = 0; // the archive's bytes, copied into the module
    this.reader = 0; // the context of its reader
    this.closeFile = null; // a descriptor opened for it
  }

  release() {
    const { q } = this;
    if (this.handle) q.x.quodrel_close(this.handle);
    if (this.data) q.x.free(this.data);
    if (this.reader) q.callbacks.delete(this.reader);
    this.handle = this.data = this.reader = 0;
    const closeFile = this.closeFile;
    this.closeFile = null;
    if (closeFile) closeFile();
  }
}

const unclosed = typeof FinalizationRegistry === 'function'
  ? new FinalizationRegistry((held) => held.release()) : null;

// One instance of the library, with its own memory.
export class Quodrel {
  constructor(module) {
    this.callbacks = new Map(); // context number -> what the library calls back
    this.nextContext = 1;
    this.pending = null; // { error } a caller's callback threw during the current call
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
      } catch (error) {
        this.pending ??= { error };
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
    this.scratch = this.alloc(SCRATCH);
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

  // A path or name as UTF-8 bytes: a string with no NUL (C would end it there) and no
  // lone surrogate (UTF-8 cannot hold it: it would become another name).
  encoded(text) {
    if (typeof text !== 'string')
      throw new QuodrelError(ERROR.ARGUMENT, `a path is a string, not ${typeof text}`);
    if (text.includes('\0'))
      throw new QuodrelError(ERROR.ARGUMENT, `a path holding a NUL character: ${JSON.stringify(text)}`);
    if (LONE_SURROGATE.test(text))
      throw new QuodrelError(ERROR.ARGUMENT, `a path with a lone surrogate: ${JSON.stringify(text)}`);
    return encoder.encode(text);
  }

  // The same, NUL-terminated in the module's memory; freed by the caller.
  string(text) {
    const bytes = this.encoded(text);
    const at = this.alloc(bytes.length + 1);
    const memory = this.bytes();
    memory.set(bytes, at);
    memory[at + bytes.length] = 0;
    return at;
  }

  cString(pointer) {
    const at = pointer >>> 0;
    const memory = this.bytes();
    const end = memory.indexOf(0, at);
    return decoder.decode(memory.subarray(at, end));
  }

  // A text the library writes as snprintf does: into the scratch space when it fits,
  // else asked for its length and written again.
  written(write) {
    const length = write(this.scratch, SCRATCH) >>> 0;
    if (length === 0) return '';
    if (length < SCRATCH) return decoder.decode(this.bytes().subarray(this.scratch, this.scratch + length));
    const at = this.alloc(length + 1);
    try {
      write(at, length + 1);
      return decoder.decode(this.bytes().subarray(at, at + length));
    } finally {
      this.x.free(at);
    }
  }

  errorText(code) { return this.cString(this.x.quodrel_error_text(code)); }

  // A failure about `name` in the program's words ("ERROR! Entry table cut short in
  // x.dat"): the library's text of a FAILED event of a check.
  failureText(code, name) {
    const size = this.x.quodrel_web_event_size();
    const at = this.alloc(size);
    const path = this.string(name);
    try {
      this.bytes().fill(0, at, at + size);
      const view = this.view();
      view.setUint32(at, size, true);
      view.setInt32(at + 4, EVENT.FAILED, true);
      view.setInt32(at + 8, OPERATION_CHECK, true);
      view.setUint32(at + 12, NO_INDEX, true);
      view.setUint32(at + 16, path, true);
      view.setInt32(at + 36, code, true);
      return this.written((buffer, length) => this.x.quodrel_event_text(at, buffer, length));
    } finally {
      this.x.free(path);
      this.x.free(at);
    }
  }
  refusalText(refusal) { return this.cString(this.x.quodrel_refusal_text(refusal)); }

  // Runs `run()`, a call into the library; what the caller's callbacks threw meanwhile
  // (the library was told a failure, or a cancel, in its place) is thrown after it.
  guard(run) {
    const outer = this.pending;
    this.pending = null;
    try {
      const result = run();
      if (this.pending) throw this.pending.error;
      return result;
    } finally {
      this.pending = outer;
    }
  }

  // Registers `callbacks` under a new context number; gives it.
  register(callbacks) {
    const context = this.nextContext++;
    this.callbacks.set(context, callbacks);
    return context;
  }

  // Runs `call(context)` with `callbacks` reachable under `context` meanwhile.
  withCallbacks(callbacks, call) {
    const context = this.register(callbacks);
    try {
      return call(context);
    } finally {
      this.callbacks.delete(context);
    }
  }

  // quodrel_options for one operation, as quodrel_options_init sets them, with the
  // listener for `context`; freed by the caller.
  options(context) {
    const at = this.alloc(this.x.quodrel_web_options_size());
    this.x.quodrel_options_init(at);
    const view = this.view();
    view.setUint32(at + 4, 1, true); // one thread: there is no other
    view.setUint32(at + 8, this.listener, true);
    view.setUint32(at + 12, context, true);
    return at;
  }

  event(pointer, text) {
    const at = pointer >>> 0;
    const view = this.view();
    const path = view.getUint32(at + 16, true);
    const index = view.getUint32(at + 12, true);
    return {
      kind: view.getInt32(at + 4, true),
      index: index === NO_INDEX ? -1 : index,
      path: path ? this.cString(path) : '',
      bytes: Number(view.getBigInt64(at + 24, true)),
      refusal: view.getInt32(at + 32, true),
      error: view.getInt32(at + 36, true),
      entriesDone: Number(view.getBigInt64(at + 48, true)),
      entriesTotal: Number(view.getBigInt64(at + 56, true)),
      bytesDone: Number(view.getBigInt64(at + 64, true)),
      bytesTotal: Number(view.getBigInt64(at + 72, true)),
      text,
    };
  }

  // Runs an operation that tells events: `run(options)` gives its quodrel_error.
  // Returns the error and the words told; `onEvent(event)` returning true cancels.
  // What `onEvent` or a reader throws cancels the operation (an exception must not
  // unwind through the library), and is thrown again once it has returned.
  operation(onEvent, run) {
    const told = [];
    const listener = {
      onEvent: (at) => {
        if (this.pending) return true;
        const text = this.written((buffer, size) => this.x.quodrel_event_text(at, buffer, size));
        if (text) told.push(text);
        return onEvent ? onEvent(this.event(at, text)) === true : false;
      },
    };
    return this.guard(() => this.withCallbacks(listener, (context) => {
      const options = this.options(context);
      try {
        return { code: run(options), text: told.join('') };
      } finally {
        this.x.free(options);
      }
    }));
  }

  // Opens an archive: its bytes (Uint8Array or ArrayBuffer, copied into the module),
  // or a reader { size, read(offset, length) -> Uint8Array } that gives its bytes on
  // request, synchronously (a file handle in Node, FileReaderSync in a Worker).
  open(source, { name = 'archive', requireMagic = false } = {}) {
    const flags = requireMagic ? OPEN_REQUIRE_MAGIC : 0;
    const held = new Held(this);
    let read = null; // the reader's function, for Archive.reader
    const namePtr = this.string(name);
    const out = this.alloc(4);
    try {
      let code;
      if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) {
        const bytes = source instanceof Uint8Array ? source
          : new Uint8Array(source.buffer ?? source, source.byteOffset ?? 0, source.byteLength);
        held.data = this.alloc(bytes.length);
        this.bytes().set(bytes, held.data);
        code = this.x.quodrel_open_memory(held.data, bytes.length, namePtr, flags, out);
      } else if (source && typeof source.read === 'function') {
        if (!Number.isSafeInteger(source.size) || source.size < 0)
          throw new QuodrelError(ERROR.ARGUMENT, `a reader's size is a whole number of bytes, not ${source.size}`);
        held.reader = this.register(readerOf(this, source));
        read = source;
        code = this.guard(() => this.x.quodrel_open_reader(this.reader, BigInt(source.size),
          held.reader, namePtr, flags, out));
      } else {
        throw new QuodrelError(ERROR.ARGUMENT, 'open: bytes or a reader');
      }
      if (code !== ERROR.OK)
        throw new QuodrelError(code, `${name}: ${this.errorText(code)}`, this.failureText(code, name));
      held.handle = this.view().getUint32(out, true);
      return new Archive(this, held, name, read);
    } catch (error) {
      held.release();
      throw error;
    } finally {
      this.x.free(namePtr);
      this.x.free(out);
    }
  }

  // Opens a Blob or File: through FileReaderSync where there is one (a Worker), else
  // its bytes read whole first.
  async openBlob(blob, options = {}) {
    const name = options.name ?? blob.name ?? 'archive';
    if (typeof FileReaderSync !== 'undefined')
      return this.open(blobReader(blob), { ...options, name });
    return this.open(new Uint8Array(await blob.arrayBuffer()), { ...options, name });
  }

  // Opens the archive at `file` (Node): a path, a descriptor or a FileHandle, read
  // through its descriptor as it is asked for, never read whole. A file opened here
  // is closed with the archive (or when an archive never closed is collected); one
  // the caller gave stays the caller's.
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
    let archive;
    try {
      const stat = fs.fstatSync(fd);
      if (!stat.isFile()) throw cannot();
      archive = this.open({
        size: stat.size,
        read: (offset, length) => {
          const bytes = new Uint8Array(length);
          return bytes.subarray(0, fs.readSync(fd, bytes, 0, length, offset));
        },
        [READ_INTO]: (memory, at, length, offset) => fs.readSync(fd, memory, at, length, offset),
      }, { name: owned ? String(file) : 'archive', ...options });
    } catch (error) {
      if (owned) fs.closeSync(fd);
      throw error;
    }
    if (owned) archive.held.closeFile = () => fs.closeSync(fd);
    return archive;
  }

  // As create, where files may be Blobs (Files) and no FileReaderSync reads them
  // (a page's main thread, Node): each is read whole first.
  async createAsync(entries, options = {}) {
    const whole = [];
    for (const entry of entries) {
      const blob = typeof Blob !== 'undefined' && entry?.data instanceof Blob;
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
  // `text` say what). Throws a QuodrelError when no archive could be made, and what
  // a callback of the caller's threw (onEvent, onChunk, a reader) as it was.
  create(entries, { name = 'archive', onEvent = null, onChunk = null } = {}) {
    onEvent = callback(onEvent, 'onEvent');
    onChunk = callback(onChunk, 'onChunk');
    if (entries === null || typeof entries !== 'object' || typeof entries[Symbol.iterator] !== 'function')
      throw new QuodrelError(ERROR.ARGUMENT, 'create: the entries are a list (any iterable)');
    entries = Array.from(entries);
    const count = entries.length;
    // Every path's bytes, checked before anything is taken from the module.
    const paths = [];
    const sources = [];
    let pathBytes = 0;
    let dataBytes = 0;
    for (const entry of entries) {
      if (entry === null || typeof entry !== 'object')
        throw new QuodrelError(ERROR.ARGUMENT, `create: an entry is { path, data } or { path, folder: true }, not ${entry}`);
      const path = this.encoded(entry.path);
      paths.push(path);
      pathBytes += path.length + 1;
      const source = entry.folder ? null : sourceOf(entry.data);
      sources.push(source);
      if (source) dataBytes += source.size;
    }
    // Without onChunk the archive is gathered in one buffer, sized for the whole from
    // the start (the table takes at most 24 bytes and the path per entry), never past
    // what an archive can hold (the library refuses more).
    const gathered = onChunk ? null : new Gathered(Math.min(16 + 24 * count + pathBytes + dataBytes, MAX_ARCHIVE));
    const writer = {
      write: (data, size) => {
        if (gathered) gathered.push(this.bytes().subarray(data, data + size));
        else onChunk(this.bytes().slice(data, data + size));
        return 0;
      },
    };
    const contexts = [];
    const table = this.alloc(24 * count);
    let strings = 0;
    try {
      strings = this.alloc(pathBytes);
      const memory = this.bytes();
      const view = this.view();
      let at = strings;
      for (let i = 0; i < count; ++i) {
        const record = table + 24 * i;
        memory.set(paths[i], at);
        memory[at + paths[i].length] = 0;
        view.setUint32(record, at, true);
        at += paths[i].length + 1;
        const source = sources[i];
        view.setInt32(record + 4, source ? 0 : 1, true);
        view.setBigUint64(record + 8, BigInt(source ? source.size : 0), true);
        if (source) {
          const context = this.register(readerOf(this, source));
          contexts.push(context);
          view.setUint32(record + 16, context, true);
        } else {
          view.setUint32(record + 16, 0, true);
        }
      }
      const namePtr = this.string(name);
      let result;
      try {
        result = this.withCallbacks(writer, (context) =>
          this.operation(onEvent, (options) => this.x.quodrel_create_listed(table, count,
            this.reader, this.writer, context, namePtr, options)));
      } finally {
        this.x.free(namePtr);
      }
      if (result.code !== ERROR.OK && result.code !== ERROR.INCOMPLETE)
        throw new QuodrelError(result.code, firstError(result.text)
          ?? `${name}: ${this.errorText(result.code)}`, result.text);
      return {
        bytes: gathered ? gathered.whole() : null,
        complete: result.code === ERROR.OK,
        text: result.text,
      };
    } finally {
      for (const context of contexts) this.callbacks.delete(context);
      if (strings) this.x.free(strings);
      this.x.free(table);
    }
  }
}

// An open archive. Closing it while a call on it runs (from a callback of that call)
// waits until the call has returned; any call after close is refused. An archive
// that is never closed is closed when it is collected (where FinalizationRegistry
// exists), as is the file openFile opened for it.
export class Archive {
  constructor(quodrel, held, name, source) {
    this.q = quodrel;
    this.held = held;
    this.name = name;
    this.source = source; // the reader it was opened from, or null (bytes)
    this.cached = null;
    this.busy = 0;
    this.closing = false;
    unclosed?.register(this, held, this);
  }

  // Runs `call(handle)` with the archive kept open meanwhile.
  use(call) {
    if (!this.held.handle || this.closing)
      throw new QuodrelError(ERROR.ARGUMENT, `${this.name}: the archive is closed`);
    ++this.busy;
    try {
      return call(this.held.handle);
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
      const entries = new Array(count);
      const words = new Map();
      for (let i = 0; i < count; ++i) {
        const refusal = x.quodrel_entry_refusal(handle, i);
        if (refusal && !words.has(refusal)) words.set(refusal, this.q.refusalText(refusal));
        entries[i] = {
          index: i,
          path: this.q.written((buffer, size) => x.quodrel_entry_path(handle, i, buffer, size)),
          size: Number(x.quodrel_entry_size(handle, i)),
          folder: x.quodrel_entry_is_folder(handle, i) === 1,
          refusal,
          refusalText: refusal ? words.get(refusal) : '',
        };
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

  // The index of a file entry given by path or index.
  indexOf(which, call) {
    const { x } = this.q;
    if (typeof which === 'string') return this.find(which);
    if (Number.isInteger(which) && which >= 0 && which < (x.quodrel_entry_count(this.held.handle) >>> 0))
      return which;
    throw new QuodrelError(ERROR.ARGUMENT, `${call}: a path or an entry's index, not ${which}`);
  }

  // A file's bytes, by path or index: all of them, or `length` from `offset` (as many
  // as there are). The library checks the entry (refused, a folder) before any
  // memory is taken for it.
  read(which, { offset = 0, length = Infinity } = {}) {
    return this.use((handle) => {
      const { x } = this.q;
      const index = this.indexOf(which, 'read');
      if (!isRange(offset, length))
        throw new QuodrelError(ERROR.ARGUMENT, `read: an offset and a length in bytes, not ${offset} and ${length}`);
      const got = this.q.alloc(4);
      let buffer = 0;
      try {
        let code = this.q.guard(() => x.quodrel_read(handle, index, 0n, 0, 0, got));
        let size = 0;
        if (code === ERROR.OK) {
          size = Math.max(0, Math.min(length, Number(x.quodrel_entry_size(handle, index)) - offset));
          buffer = this.q.alloc(size);
          code = this.q.guard(() => x.quodrel_read(handle, index, BigInt(offset), buffer, size, got));
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

  // A file's bytes as a reader { size, read(offset, length) } for create(): how an
  // archive's unchanged files go into a new one, read from where this archive was
  // read (its bytes or its reader) without passing through the library. Read while
  // the archive is open; refused as read() refuses.
  reader(which) {
    return this.use((handle) => {
      const { x } = this.q;
      const index = this.indexOf(which, 'reader');
      const out = this.q.alloc(8);
      let start;
      try {
        const code = x.quodrel_entry_data_offset(handle, index, out);
        if (code !== ERROR.OK) throw new QuodrelError(code, `${which}: ${this.q.errorText(code)}`);
        start = Number(this.q.view().getBigUint64(out, true));
      } finally {
        x.free(out);
      }
      const size = Number(x.quodrel_entry_size(handle, index));
      // The file's bytes in the archive's copy (an archive opened from bytes): a view of
      // the module's memory, which is emptied when it grows, so only copied from.
      const held = (offset, length) => {
        const from = this.held.data + start + offset;
        return this.q.bytes().subarray(from, from + Math.max(0, Math.min(length, size - offset)));
      };
      const read = (offset, length) => this.use(() => {
        if (!isRange(offset, length))
          throw new QuodrelError(ERROR.ARGUMENT, `read: an offset and a length in bytes, not ${offset} and ${length}`);
        if (!this.source) return held(offset, length).slice();
        return this.source.read(start + offset, Math.max(0, Math.min(length, size - offset)));
      });
      if (this.source) return { size, read };
      // create() copies straight from the archive's copy into the bytes it asked for.
      const into = (memory, at, length, offset) => this.use(() => {
        const bytes = held(offset, length);
        memory.set(bytes, at);
        return bytes.length;
      });
      return { size, read, [READ_INTO]: into };
    });
  }

  // What quodrel -t says of the archive: { ok, refused: [{ path, refusal }], text }.
  // A file that does not start as an archive does is no archive, as -t says.
  check({ onEvent = null } = {}) {
    onEvent = callback(onEvent, 'onEvent');
    return this.use((handle) => {
      if (!this.hasMagic) {
        const text = this.q.failureText(ERROR.NOT_AN_ARCHIVE, this.name);
        if (onEvent) {
          const event = {
            kind: EVENT.FAILED, index: -1, path: this.name, bytes: 0, refusal: 0,
            error: ERROR.NOT_AN_ARCHIVE, entriesDone: 0, entriesTotal: 0, bytesDone: 0, bytesTotal: 0, text,
          };
          if (onEvent(event) === true)
            throw new QuodrelError(ERROR.CANCELLED, this.q.errorText(ERROR.CANCELLED), '');
        }
        return { ok: false, refused: [], text };
      }
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
    if (!this.held.handle) return;
    this.closing = true;
    if (this.busy) return; // the running call closes it as it returns
    unclosed?.unregister(this);
    this.cached = null;
    this.source = null;
    this.held.release();
  }
}

// `using archive = quodrel.open(bytes)` closes it at the end of its block.
if (typeof Symbol.dispose === 'symbol')
  Object.defineProperty(Archive.prototype, Symbol.dispose, {
    value: function dispose() { this.close(); }, writable: true, configurable: true,
  });

// An archive's bytes gathered in one buffer, grown by doubling when the guess was short.
class Gathered {
  constructor(guess) {
    try {
      this.buffer = new Uint8Array(guess);
    } catch {
      this.buffer = new Uint8Array(1 << 20); // so much is not to be had at once: grown as written
    }
    this.length = 0;
  }

  push(chunk) {
    if (this.length + chunk.length > this.buffer.length) {
      let grown;
      try {
        grown = new Uint8Array(Math.min(Math.max(2 * this.buffer.length, this.length + chunk.length), MAX_ARCHIVE));
      } catch {
        throw new QuodrelError(ERROR.NO_MEMORY, `out of memory for an archive of ${this.length + chunk.length} bytes: onChunk takes it piece by piece`);
      }
      grown.set(this.buffer.subarray(0, this.length));
      this.buffer = grown;
    }
    this.buffer.set(chunk, this.length);
    this.length += chunk.length;
  }

  // The bytes written: a view of the buffer when it is nearly full, else a copy.
  whole() {
    if (this.length >= this.buffer.length - (this.buffer.length >> 4))
      return this.buffer.subarray(0, this.length);
    return this.buffer.slice(0, this.length);
  }
}

// Whether `offset` and `length` are a range of bytes: whole numbers, not negative (a
// length may be past the end, Infinity too: as many as there are).
function isRange(offset, length) {
  return Number.isSafeInteger(offset) && offset >= 0
    && (length === Infinity || (Number.isInteger(length) && length >= 0));
}

// Reads a Blob's slices through FileReaderSync (a Worker).
function blobReader(blob) {
  const sync = new FileReaderSync();
  return {
    size: blob.size,
    read: (offset, length) => new Uint8Array(sync.readAsArrayBuffer(blob.slice(offset, offset + length))),
  };
}

// What a listed file's bytes come from: a Uint8Array, a reader, or a Blob (a File)
// where FileReaderSync reads its slices (a Worker).
function sourceOf(data) {
  if (typeof Blob !== 'undefined' && data instanceof Blob) {
    if (typeof FileReaderSync === 'undefined')
      throw new QuodrelError(ERROR.ARGUMENT, 'a Blob is read in a Worker, or by createAsync');
    return blobReader(data);
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

// The library's reader callback over a source's `read(offset, length) -> Uint8Array`
// (or an ArrayBuffer): what it throws is kept to be thrown again after the call, and
// the read fails; a Promise (the library reads at once) ends the call with an ARGUMENT
// error, its own outcome awaited by no one and so never an unhandled rejection;
// anything else it gives (a string, other typed arrays, or more bytes than asked) is a
// failed read, told to the library as -1.
function readerOf(quodrel, source) {
  const into = source[READ_INTO];
  return {
    readAt: (buffer, size, offset) => {
      let bytes;
      try {
        if (into) return into(quodrel.bytes(), buffer, size, offset);
        bytes = source.read(offset, size);
      } catch (error) {
        quodrel.pending ??= { error };
        return -1;
      }
      if (typeof bytes?.then === 'function') {
        Promise.resolve(bytes).catch(() => {});
        quodrel.pending ??= {
          error: new QuodrelError(ERROR.ARGUMENT,
            'a reader\'s read(offset, length) gave a Promise: it gives its bytes at once (Blobs: openBlob, createAsync)'),
        };
        return -1;
      }
      if (bytes instanceof ArrayBuffer) bytes = new Uint8Array(bytes);
      if (!(bytes instanceof Uint8Array) || bytes.length > size) return -1;
      quodrel.bytes().set(bytes, buffer);
      return bytes.length;
    },
  };
}

// A callback the caller gave (`what` names it): a function, or null for none.
function callback(value, what) {
  if (value === undefined || value === null) return null;
  if (typeof value !== 'function')
    throw new QuodrelError(ERROR.ARGUMENT, `${what} is a function, not ${typeof value}`);
  return value;
}

// The first "ERROR! " line of an operation's words, without its ending.
function firstError(text) {
  const at = text.indexOf('ERROR! ');
  return at < 0 ? null : text.slice(at).split('\n')[0];
}

// The WebAssembly library through the JavaScript module, under Node's test runner:
// archives made from a tree listed in memory against the native program's -c of the
// same tree on disk, byte for byte; archives of the native program opened from memory
// and through a reader, listed, read and checked; refusals, failing sources and
// cancels. QUODREL_WASM and QUODREL_PROGRAM name the module and the native program.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { load, ERROR, EVENT, QuodrelError } from '../quodrel.mjs';
import { pattern } from './pattern.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..');
const wasm = process.env.QUODREL_WASM ?? path.join(root, 'build-web', 'quodrel.wasm');
const program = process.env.QUODREL_PROGRAM ?? path.join(root, 'build', 'quodrel');

const quodrel = await load(fs.readFileSync(wasm));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quodrel-web-'));
process.on('exit', () => fs.rmSync(work, { recursive: true, force: true }));


// The tree: nested files with UTF-8 names, an empty folder, an empty file, a 3 MiB
// file, names that differ in case only in their order.
const tree = [
  { path: 'Zeta.txt', data: encode('last in bytes, first without case') },
  { path: 'alpha.txt', data: encode('alpha') },
  { path: 'ünïcødé/日本語.txt', data: encode('utf-8 names') },
  { path: 'ünïcødé/deep/er/α.bin', data: pattern(4099, 7) },
  { path: 'empty', folder: true },
  { path: 'zero', data: new Uint8Array(0) },
  { path: 'big.bin', data: pattern(3 << 20, 11) },
  { path: 'maps/a#b', data: encode('hash, stored as a colon') },
];

function encode(text) { return new TextEncoder().encode(text); }

function writeTree(folder, entries) {
  for (const entry of entries) {
    const at = path.join(folder, entry.path);
    if (entry.folder) {
      fs.mkdirSync(at, { recursive: true });
    } else {
      fs.mkdirSync(path.dirname(at), { recursive: true });
      fs.writeFileSync(at, entry.data);
    }
  }
}

function native(folder, name) {
  const archive = path.join(work, name);
  execFileSync(program, ['-c', folder, archive], { stdio: 'ignore' });
  return new Uint8Array(fs.readFileSync(archive));
}

const folder = path.join(work, 'tree');
writeTree(folder, tree);
const nativeArchive = native(folder, 'tree.dat');

test('an archive created from a list is byte-identical to -c of the same tree', async () => {
  // In an order of the caller's own, either way round.
  for (const order of [tree, [...tree].reverse()]) {
    const events = [];
    const made = quodrel.create(order, { name: 'tree.dat', onEvent: (e) => { events.push(e); } });
    assert.equal(made.complete, true);
    assert.equal(made.bytes.length, nativeArchive.length);
    assert.ok(Buffer.from(made.bytes).equals(Buffer.from(nativeArchive)));
    assert.match(made.text, /^Creating tree\.dat \(12 files\)\n\.+\nDone\n$/);
    assert.equal(events.filter((e) => e.kind === EVENT.ENTRY).length, 12);
    const progress = events.filter((e) => e.kind === EVENT.PROGRESS).map((e) => e.entriesDone);
    assert.deepEqual(progress, [...progress].sort((a, b) => a - b));
  }
  // From Blobs (a page's Files), read whole first where nothing reads them in slices.
  const blobs = tree.map((e) => (e.folder ? e : { path: e.path, data: new Blob([e.data]) }));
  assert.throws(() => quodrel.create(blobs), (e) => e.code === ERROR.ARGUMENT);
  const fromBlobs = await quodrel.createAsync(blobs);
  assert.ok(Buffer.from(fromBlobs.bytes).equals(Buffer.from(nativeArchive)));
  // Chunk by chunk, to a stream of the caller's.
  const chunks = [];
  assert.equal(quodrel.create(tree, { onChunk: (c) => chunks.push(c) }).bytes, null);
  assert.ok(Buffer.concat(chunks).equals(Buffer.from(nativeArchive)));
});

test('a native archive opens from memory, through a reader and from its file, lists, reads and checks', async () => {
  const fd = fs.openSync(path.join(work, 'tree.dat'), 'r');
  const size = fs.fstatSync(fd).size;
  const sources = [
    nativeArchive,
    {
      size,
      read: (offset, length) => {
        const bytes = Buffer.alloc(length);
        return bytes.subarray(0, fs.readSync(fd, bytes, 0, length, offset));
      },
    },
  ];
  const opened = sources.map((source) => quodrel.open(source, { name: 'tree.dat', requireMagic: true }));
  opened.push(await quodrel.openFile(path.join(work, 'tree.dat'), { requireMagic: true }));
  opened.push(await quodrel.openBlob(new Blob([nativeArchive]), { requireMagic: true }));
  const handle = await fs.promises.open(path.join(work, 'tree.dat'));
  opened.push(await quodrel.openFile(handle, { requireMagic: true }));
  for (const archive of opened) {
    assert.equal(archive.hasMagic, true);
    // A file's reader gives bytes of the caller's own: they stay when the module's
    // memory grows.
    const head = archive.reader('alpha.txt').read(0, 5);
    quodrel.x.memory.grow(1);
    assert.equal(new TextDecoder().decode(head), 'alpha');
    const files = archive.entries.filter((e) => !e.folder || e.size !== 0);
    const paths = archive.entries.map((e) => e.path);
    for (const entry of tree) {
      assert.ok(paths.includes(entry.path), entry.path);
      if (entry.folder || entry.data.length === 0) continue;
      assert.ok(Buffer.from(archive.read(entry.path)).equals(Buffer.from(entry.data)), entry.path);
    }
    assert.ok(paths.includes('ünïcødé/deep/er'));
    assert.equal(files.length, 6); // the files with bytes
    const verdict = archive.check();
    assert.deepEqual({ ok: verdict.ok, refused: verdict.refused }, { ok: true, refused: [] });
    assert.throws(() => archive.read('no/such'), (e) => e.code === ERROR.NOT_FOUND);
    archive.close();
  }
  fs.closeSync(fd);
  await handle.close(); // still the caller's after the archive closed
});

// An archive laid out by hand: one entry of each name given, files of 4 bytes.
function handMade(names) {
  const records = names.map((name) => {
    const stored = encode(name);
    const length = (Math.floor(stored.length / 4) + 1) * 4;
    return { stored, length };
  });
  const tableSize = 16 + records.reduce((n, r) => n + 20 + r.length, 0);
  const bytes = new Uint8Array(tableSize + 4 * names.length);
  const view = new DataView(bytes.buffer);
  bytes.set(encode('CHELALIC'));
  view.setInt32(8, names.length, true);
  view.setInt32(12, tableSize, true);
  let at = 16;
  records.forEach((r, i) => {
    view.setInt32(at, 4 * i, true);
    view.setInt32(at + 4, 4, true);
    view.setInt32(at + 16, r.length, true);
    bytes.set(r.stored, at + 20);
    at += 20 + r.length;
  });
  bytes.set(encode('DATA'.repeat(names.length)), tableSize);
  return bytes;
}

test('refusals are the program\'s: a hostile archive checked, names a tree cannot hold', () => {
  const archive = quodrel.open(handMade(['..', 'fine', 'fine']));
  const verdict = archive.check();
  assert.equal(verdict.ok, false);
  assert.deepEqual(verdict.refused.map((r) => r.path), ['..', 'fine']);
  assert.equal(archive.entries[0].refusalText, quodrel.refusalText(archive.entries[0].refusal));
  assert.equal(archive.entries[1].refusal, 0);
  assert.match(verdict.text, /ERROR! /);
  archive.close();
  assert.throws(() => quodrel.open(encode('plain text'), { requireMagic: true }),
    (e) => e.code === ERROR.NOT_AN_ARCHIVE);
  // A table larger than the module's memory could hold is told, not a trap.
  const header = new Uint8Array(16);
  header.set(encode('CHELALIC'));
  new DataView(header.buffer).setInt32(8, 0x7fffffff, true);
  const huge = { size: 2 ** 40, read: (at, n) => (at < 16 ? header.subarray(at, at + n) : new Uint8Array(n)) };
  assert.throws(() => quodrel.open(huge), (e) => e.code === ERROR.NO_MEMORY);
  assert.equal(quodrel.open(nativeArchive).entries.length, 12);

  const rows = [
    { path: 'a:b', refusal: 8 }, // a name no extraction gives back
    { path: 'x/../y', refusal: 1 },
    { path: 'alpha.txt', refusal: 6 }, // listed twice
  ];
  for (const row of rows) {
    const refused = [];
    const made = quodrel.create([...tree, { path: row.path, data: encode('more') }], {
      onEvent: (e) => { if (e.kind === EVENT.REFUSED) refused.push(e); },
    });
    assert.equal(made.complete, false);
    assert.deepEqual(refused.map((e) => [e.path, e.refusal]), [[row.path, row.refusal]]);
    assert.ok(Buffer.from(made.bytes).equals(Buffer.from(nativeArchive)), row.path);
  }
});

test('a source that fails or falls short, or a cancel, ends the creation with its error', () => {
  const rows = [
    { data: { size: 10, read: (at, n) => encode('four').subarray(at, at + n) }, code: ERROR.CHANGED },
    { data: { size: 4, read: () => encode('more than asked') }, code: ERROR.OPEN },
    { data: encode('fine'), cancelAt: 3, code: ERROR.CANCELLED },
    // Sizes past what an archive can hold: the library's refusal, gathered or not.
    { data: { size: 5 * 2 ** 30, read: (at, n) => new Uint8Array(n) }, code: ERROR.LIMIT },
    { data: { size: 2 ** 53 - 1, read: (at, n) => new Uint8Array(n) }, code: ERROR.LIMIT },
  ];
  for (const row of rows) {
    let events = 0;
    const onEvent = () => ++events === row.cancelAt;
    assert.throws(() => quodrel.create([{ path: 'f', data: row.data }], { onEvent }),
      (e) => e instanceof QuodrelError && e.code === row.code);
    if (row.cancelAt) assert.equal(events, row.cancelAt);
  }
  // What the caller's own callbacks throw (onEvent, onChunk, a file's reader) ends the
  // call and reaches the caller as it was, whatever the library made of it meanwhile.
  const thrown = new Error('from the caller');
  let reads = 0;
  const throwing = { size: 10, read: () => { ++reads; throw thrown; } };
  const calls = [
    () => quodrel.create(tree, { onEvent: () => { throw thrown; } }),
    () => quodrel.create(tree, { onChunk: () => { throw thrown; } }),
    () => quodrel.create([...tree, { path: 'sub/source.bin', data: throwing }]),
    () => quodrel.create([{ path: 'a', data: throwing }, { path: 'b', data: throwing }],
      { onEvent: (e) => { if (e.kind === EVENT.ENTRY) throw new Error('never reached'); } }),
    () => quodrel.open({ size: nativeArchive.length, read: throwing.read }),
    () => quodrel.open(encode('hello\n')).check({ onEvent: () => { throw thrown; } }),
  ];
  for (const call of calls) assert.throws(call, (e) => e === thrown, String(call));
  assert.equal(reads, 3); // each throwing reader was asked once: the call stopped there
  // Reading a file through a reader that throws, after the archive opened.
  let failing = false;
  const flaky = quodrel.open({
    size: nativeArchive.length,
    read: (at, n) => { if (failing) throw thrown; return nativeArchive.subarray(at, at + n); },
  });
  failing = true;
  assert.throws(() => flaky.read('alpha.txt'), (e) => e === thrown);
  failing = false;
  assert.equal(new TextDecoder().decode(flaky.read('alpha.txt')), 'alpha');
  flaky.close();
  // The module is whole after them: the next creation is as before.
  assert.ok(Buffer.from(quodrel.create(tree).bytes).equals(Buffer.from(nativeArchive)));
});

test('what a caller gets wrong is refused, and never leaves the module unusable', async () => {
  const bad = [ // callback results that are no bytes, each given many times over
    'abc', [1, 2, 3], 5, new DataView(new ArrayBuffer(3)),
    new Uint16Array([0x4142, 0x4344]), encode('far more than the three bytes asked'),
  ];
  for (const result of bad) {
    for (let i = 0; i < 150; ++i) {
      assert.throws(() => quodrel.create([{ path: 'a', data: { size: 3, read: () => result } }]),
        (e) => e instanceof QuodrelError && e.code === ERROR.OPEN);
    }
    assert.throws(() => quodrel.open({ size: nativeArchive.length, read: () => result }),
      (e) => e instanceof QuodrelError);
  }
  // A reader that gives a Promise (an async function, a FileHandle's read) is told as
  // the misuse it is, and the Promise's own failure is no unhandled rejection after it.
  let unhandled = 0;
  const onUnhandled = () => { ++unhandled; };
  process.on('unhandledRejection', onUnhandled);
  const later = [
    { size: 3, read: async () => encode('abc') },
    { size: 3, read: async () => { throw new Error('read later'); } },
  ];
  for (const reader of later) {
    for (const call of [() => quodrel.create([{ path: 'a', data: reader }]), () => quodrel.open(reader)]) {
      assert.throws(call, (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT
        && /gave a Promise/.test(e.message), String(reader.read));
    }
  }
  await new Promise((resolve) => setTimeout(resolve, 10));
  process.off('unhandledRejection', onUnhandled);
  assert.equal(unhandled, 0);
  const entries = [ // entry lists and paths the library cannot take as they are
    [{ path: 'a\0evil', data: encode('x') }],
    [{ path: 'lone\uD800', data: encode('x') }],
    [{ path: null, data: encode('x') }],
    [null],
    { path: 'not a list', data: encode('x') },
    [{ path: 'a', data: { size: 1.5, read: () => encode('x') } }],
  ];
  for (const list of entries) {
    assert.throws(() => quodrel.create(list),
      (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT, JSON.stringify(list));
  }
  // Callbacks that are no functions are refused before anything runs.
  const told = [];
  for (const options of [{ onEvent: 5 }, { onChunk: 'chunks' }, { onEvent: {}, onChunk: (c) => told.push(c) }]) {
    assert.throws(() => quodrel.create(tree, options),
      (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT, JSON.stringify(options));
  }
  assert.deepEqual(told, []);
  assert.throws(() => quodrel.open(nativeArchive).check({ onEvent: true }),
    (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT);
  // Any iterable is a list.
  const fromSet = quodrel.create(new Set(tree));
  assert.ok(Buffer.from(fromSet.bytes).equals(Buffer.from(nativeArchive)));

  const archive = quodrel.open(nativeArchive);
  for (const which of ['alpha.txt\0zzz', NaN, 2 ** 32 + 1, undefined, -1, 1.5]) {
    assert.throws(() => archive.read(which),
      (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT, String(which));
  }
  // Ranges that are no whole numbers of bytes, of read() and of a file's reader (which
  // never gives a byte outside its file).
  const reader = archive.reader('alpha.txt');
  assert.equal(new TextDecoder().decode(reader.read(1, 2 ** 60)), 'lpha'); // as many as there are
  for (const [offset, length] of [[0, 2.5], [1.5, 2], [-5, 10], [0, -1], [0, NaN], ['1', 2]]) {
    assert.throws(() => archive.read('alpha.txt', { offset, length }),
      (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT, `read ${offset}, ${length}`);
    assert.throws(() => reader.read(offset, length),
      (e) => e instanceof QuodrelError && e.code === ERROR.ARGUMENT, `reader ${offset}, ${length}`);
  }
  // A callback that closes the archive under its own call: the call ends as it would,
  // the archive is closed after it.
  const expected = quodrel.open(nativeArchive).check();
  let events = 0;
  const verdict = archive.check({ onEvent: () => { if (++events === 3) archive.close(); } });
  assert.deepEqual(verdict, expected);
  assert.throws(() => archive.check(), (e) => e.code === ERROR.ARGUMENT);
  assert.throws(() => archive.entries, (e) => e.code === ERROR.ARGUMENT);
  // And after all of it, the module still makes the program's bytes.
  assert.ok(Buffer.from(quodrel.create(tree).bytes).equals(Buffer.from(nativeArchive)));
});

test('a refused file read by index takes no memory, and failures are in the program\'s words', async () => {
  const hostile = handMade(['huge']);
  new DataView(hostile.buffer).setInt32(20, 0x7fffffff, true); // its size: far past the end
  const archive = quodrel.open(hostile);
  const before = quodrel.x.memory.buffer.byteLength;
  assert.throws(() => archive.read(0), (e) => e.code === ERROR.REFUSED);
  assert.equal(quodrel.x.memory.buffer.byteLength, before);
  archive.close();

  assert.throws(() => quodrel.open(nativeArchive.subarray(0, 40), { name: 'cut.dat' }),
    (e) => e.code === ERROR.TABLE_CUT_SHORT && e.text === 'ERROR! Entry table cut short in cut.dat\n');
  const fifo = path.join(work, 'fifo');
  execFileSync('mkfifo', [fifo]);
  for (const file of [fifo, path.join(work, 'missing.dat'), work, '/dev/zero']) {
    await assert.rejects(quodrel.openFile(file),
      (e) => e instanceof QuodrelError && e.code === ERROR.OPEN && e.text === `ERROR! Cannot open ${file}\n`,
      file);
  }
  const failing = { size: 4, read: () => -1 };
  assert.throws(() => quodrel.create([{ path: 'sub/source.bin', data: failing }]),
    (e) => e.code === ERROR.OPEN && e.message === 'ERROR! Cannot open sub/source.bin');
});

test('check() answers as -t does, also for a file that is no archive', async () => {
  const hostile = path.join(work, 'hostile.dat');
  fs.writeFileSync(hostile, handMade(['..', 'fine', 'fine']));
  const rows = [
    { name: 'empty.dat', bytes: new Uint8Array(0) },
    { name: 'zeros.dat', bytes: new Uint8Array(16) },
    { name: 'hello.dat', bytes: encode('hello\n') },
    { name: 'tree.dat', bytes: nativeArchive },
    { name: 'hostile.dat', bytes: fs.readFileSync(hostile) },
  ];
  for (const row of rows) {
    const file = path.join(work, row.name);
    fs.writeFileSync(file, row.bytes);
    const checked = spawnSync(program, ['-t', file], { encoding: 'utf8' });
    for (const archive of [quodrel.open(row.bytes, { name: file }), await quodrel.openFile(file)]) {
      const told = [];
      const verdict = archive.check({ onEvent: (e) => { told.push(e); } });
      assert.equal(verdict.text, checked.stdout, row.name);
      assert.equal(verdict.ok, checked.status === 0, row.name);
      assert.equal(told.map((e) => e.text).join(''), checked.stdout, row.name);
      archive.close();
    }
  }
  const none = quodrel.open(new Uint8Array(0), { name: 'empty.dat' }).check();
  assert.deepEqual(none, { ok: false, refused: [], text: 'ERROR! Not an archive empty.dat\n' });
});

test('closing gives an archive\'s memory back; archives never closed are released when collected', async () => {
  const big = pattern(10 << 20, 5);
  const archive = quodrel.create([{ path: 'big.bin', data: big }, ...tree.slice(0, 6)]).bytes;
  const memory = () => quodrel.x.memory.buffer.byteLength;
  // Opened from bytes (copied into the module), from a reader, from a Blob.
  const sources = [
    () => quodrel.open(archive),
    () => quodrel.open({ size: archive.length, read: (at, n) => archive.subarray(at, at + n) }),
    () => quodrel.openBlob(new Blob([archive])),
  ];
  for (const [n, open] of sources.entries()) {
    (await open()).close();
    const first = memory();
    const callbacks = quodrel.callbacks.size;
    for (let round = 0; round < (n === 2 ? 50 : 200); ++round) {
      const opened = await open();
      assert.equal(opened.read('big.bin', { offset: 5, length: 3 }).join(), big.subarray(5, 8).join());
      opened.close();
    }
    assert.ok(memory() - first <= 64 << 20, `${memory() - first} more bytes after 200 rounds`);
    assert.equal(quodrel.callbacks.size, callbacks); // no reader kept
  }
  // Closed by `using` (Symbol.dispose) where the language has it.
  if (typeof Symbol.dispose === 'symbol') {
    const opened = quodrel.open(archive);
    opened[Symbol.dispose]();
    assert.throws(() => opened.entries, (e) => e.code === ERROR.ARGUMENT);
  }

  // 200 archives opened from their file and dropped unclosed: their descriptors and
  // their readers come back once they are collected, a turn of the event loop after
  // gc() (in a process of its own, with --expose-gc).
  const file = path.join(work, 'big.dat');
  fs.writeFileSync(file, archive);
  const script = `
    import fs from 'node:fs';
    import { load } from ${JSON.stringify(new URL('../quodrel.mjs', import.meta.url).href)};
    const quodrel = await load(fs.readFileSync(${JSON.stringify(wasm)}));
    const state = () => ({ descriptors: fs.readdirSync('/proc/self/fd').length, callbacks: quodrel.callbacks.size });
    const turn = () => new Promise((resolve) => setTimeout(resolve, 0));
    gc();
    await turn();
    const before = state();
    const openMany = async () => {
      for (let i = 0; i < 200; ++i)
        if ((await quodrel.openFile(${JSON.stringify(file)})).entries.length !== 10) process.exit(2);
    };
    await openMany();
    const open = state();
    // The registry's callbacks run in a task of their own after the collection. On a
    // busy machine an archive opened last may outlive one collection (held by what
    // the engine had not yet let go of): a later one takes it.
    for (let rounds = 0; rounds < 10 && state().callbacks !== before.callbacks; ++rounds) {
      gc();
      await turn();
    }
    console.log(JSON.stringify({ before, open, after: state() }));`;
  const env = { ...process.env };
  delete env.NODE_TEST_CONTEXT; // a child of the test runner's would report to it
  const run = spawnSync(process.execPath, ['--expose-gc', '--input-type=module', '-e', script],
    { encoding: 'utf8', env });
  assert.equal(run.status, 0, run.stderr);
  const { before, open, after } = JSON.parse(run.stdout);
  assert.ok(open.descriptors >= before.descriptors + 200 && open.callbacks === before.callbacks + 200);
  assert.deepEqual(after, before);
});

test('load() takes quodrel.wasm as the README says: bytes, a Response, a URL, a Module', async () => {
  const bytes = fs.readFileSync(wasm);
  const sources = [bytes, new Uint8Array(bytes).buffer, new Response(bytes), pathToFileURL(wasm),
    pathToFileURL(wasm).href, new WebAssembly.Module(bytes)];
  for (const source of sources)
    assert.equal((await load(source)).version, quodrel.version, Object.prototype.toString.call(source));
  // A response that failed is told as such (its body is a page, no WebAssembly).
  await assert.rejects(load(new Response('<!doctype html><p>Not here', { status: 404, statusText: 'Not Found' })),
    (e) => e instanceof QuodrelError && e.code === ERROR.OPEN && e.message === 'quodrel.wasm: 404 Not Found');
});

test('the table of codes is the library\'s, and codes or kinds it lacks are told all the same', () => {
  const header = fs.readFileSync(path.join(root, 'include', 'quodrel', 'quodrel.h'), 'utf8');
  const version = ['MAJOR', 'MINOR', 'PATCH'].map((part) =>
    Number(header.match(new RegExp(`#define QUODREL_VERSION_${part} (\\d+)`))[1]));
  assert.equal(quodrel.version, version[0] * 10000 + version[1] * 100 + version[2]);
  // The error enum's names, in order, as the header lists them.
  const errors = header.slice(header.indexOf('typedef enum quodrel_error'), header.indexOf('} quodrel_error;'))
    .match(/QUODREL_(OK|ERROR_[A-Z_]+)/g).map((name) => name.replace(/^QUODREL_(ERROR_)?/, ''));
  assert.deepEqual(Object.keys(ERROR), errors);
  assert.deepEqual(Object.values(ERROR), errors.map((_, i) => i));
  assert.equal(quodrel.errorText(ERROR.LOCKED), 'another run is replacing the archive');
  for (const code of Object.values(ERROR)) assert.notEqual(quodrel.errorText(code), 'unknown error');
  assert.equal(quodrel.errorText(99), 'unknown error');
  // An event of a kind this module does not name is passed on with its number.
  const at = quodrel.alloc(quodrel.x.quodrel_web_event_size());
  quodrel.bytes().fill(0, at, at + quodrel.x.quodrel_web_event_size());
  quodrel.view().setInt32(at + 4, 42, true);
  quodrel.view().setUint32(at + 12, 0xffffffff, true);
  assert.deepEqual({ ...quodrel.event(at, '') }, {
    kind: 42, index: -1, path: '', bytes: 0, refusal: 0, error: 0, entriesDone: 0,
    entriesTotal: 0, bytesDone: 0, bytesTotal: 0, text: '',
  });
  quodrel.x.free(at);
});

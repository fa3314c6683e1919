// The page in headless Chromium, against the native program: a folder packed through
// the picker (chosen from the keyboard) byte-identical to -c, with progress, and one
// given to the folder input as -c packs it without its empty folder; a native
// archive listed as -l lists it and its files saved; a hostile archive, dropped on the
// page, refused as -t and -e word it; archives unpacked into a folder the picker gives
// as -e unpacks them; the page from file:. The picker is replaced by one that gives a
// folder of the origin private file system, which a test can fill and read back. A
// screenshot of each state goes to QUODREL_SCREENSHOTS. QUODREL_PAGE is the staged page
// (web/build.sh OUT gives OUT/page), QUODREL_PROGRAM the native quodrel.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { Browser } from './cdp.mjs';
import { serve } from './serve.mjs';
import { pattern as bytesInPattern } from '../test/pattern.mjs';

const pageFolder = path.resolve(process.env.QUODREL_PAGE);
const program = process.env.QUODREL_PROGRAM;
const shots = process.env.QUODREL_SCREENSHOTS;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quodrel-page-'));
const downloads = path.join(work, 'downloads');

// Bytes that differ from place to place, as Buffers.
const pattern = (size, seed) => Buffer.from(bytesInPattern(size, seed).buffer);

// Nested files with UTF-8 names, an empty folder, an empty file, a 3 MiB file.
const tree = [
  { path: 'Zeta.txt', data: Buffer.from('first without case, last in bytes') },
  { path: 'alpha.txt', data: Buffer.from('alpha') },
  { path: 'ünïcødé/日本語.txt', data: Buffer.from('utf-8 names') },
  { path: 'ünïcødé/deep/er/α.bin', data: pattern(4099, 7) },
  { path: 'empty', folder: true },
  { path: 'zero', data: Buffer.alloc(0) },
  { path: 'big.bin', data: pattern(3 << 20, 11) },
];

// An archive as a hostile tool might write it: names that climb out, clash, or hold a
// drive; each file four bytes.
function handMade(names) {
  const stored = names.map((name) => Buffer.from(name));
  const records = stored.map((s) => ({ s, length: (Math.floor(s.length / 4) + 1) * 4 }));
  const tableSize = 16 + records.reduce((n, r) => n + 20 + r.length, 0);
  const bytes = Buffer.alloc(tableSize + 4 * names.length);
  bytes.write('CHELALIC');
  bytes.writeInt32LE(names.length, 8);
  bytes.writeInt32LE(tableSize, 12);
  let at = 16;
  records.forEach((r, i) => {
    bytes.writeInt32LE(4 * i, at);
    bytes.writeInt32LE(4, at + 4);
    bytes.writeInt32LE(r.length, at + 16);
    r.s.copy(bytes, at + 20);
    at += 20 + r.length;
  });
  bytes.write('DATA'.repeat(names.length), tableSize);
  return bytes;
}

const treeFolder = path.join(work, 'tree');
for (const entry of tree) {
  const at = path.join(treeFolder, entry.path);
  fs.mkdirSync(entry.folder ? at : path.dirname(at), { recursive: true });
  if (!entry.folder) fs.writeFileSync(at, entry.data);
}
const native = (...args) => spawnSync(program, args, { encoding: 'utf8' });
const nativeArchive = path.join(work, 'tree.dat');
execFileSync(program, ['-c', treeFolder, nativeArchive, '-s'], { stdio: 'ignore' });
const hostileArchive = path.join(work, 'hostile.dat');
fs.writeFileSync(hostileArchive, handMade(['..', 'fine', 'fine', '../../etc/x', 'a\\b', 'C:/win']));

// A folder as [path, size or 'folder', bytes] rows, sorted, from the disk.
function diskTree(folder, prefix = '') {
  const rows = [];
  for (const name of fs.readdirSync(folder)) {
    const at = path.join(folder, name);
    const rel = prefix ? `${prefix}/${name}` : name;
    if (fs.statSync(at).isDirectory()) rows.push([rel, 'folder', ''], ...diskTree(at, rel));
    else rows.push([rel, fs.statSync(at).size, fs.readFileSync(at).toString('base64')]);
  }
  return rows.sort();
}

// The same rows from a folder of the page's origin private file system.
const opfsTree = `async function opfsTree(folder, prefix = '') {
  const rows = [];
  for await (const [name, child] of folder.entries()) {
    const rel = prefix ? prefix + '/' + name : name;
    if (child.kind === 'directory') rows.push([rel, 'folder', ''], ...await opfsTree(child, rel));
    else {
      const bytes = new Uint8Array(await (await child.getFile()).arrayBuffer());
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      rows.push([rel, bytes.length, btoa(text)]);
    }
  }
  return rows.sort();
}`;

// Makes the page's folder picker give the private file system's folder `name`, emptied.
const pickerGives = (name) => `(async () => {
  const root = await navigator.storage.getDirectory();
  await root.removeEntry(${JSON.stringify(name)}, { recursive: true }).catch(() => {});
  const folder = await root.getDirectoryHandle(${JSON.stringify(name)}, { create: true });
  window.showDirectoryPicker = async () => folder;
  return true;
})()`;

let browser;
let server;
let page;

// Clicks what `selector` finds and gives the bytes of the download it starts. The
// browser's download events are gathered from before the click: a small download may
// end before its start is seen here.
async function download(selector) {
  const events = [];
  const listener = (message) => { if (message.method?.startsWith('Browser.download')) events.push(message); };
  browser.listeners.add(listener);
  try {
    await page.evaluate(`document.querySelector(${JSON.stringify(selector)}).click()`);
    const begun = await until(() => events.find((e) => e.method === 'Browser.downloadWillBegin'));
    const { guid, suggestedFilename } = begun.params;
    const ended = await until(() => events.find((e) => e.method === 'Browser.downloadProgress'
      && e.params.guid === guid && e.params.state !== 'inProgress'));
    assert.equal(ended.params.state, 'completed');
    return { name: suggestedFilename, bytes: fs.readFileSync(path.join(downloads, guid)) };
  } finally {
    browser.listeners.delete(listener);
  }
}

async function until(found, timeout = 30000) {
  const end = Date.now() + timeout;
  for (let value; !(value = found());) {
    if (Date.now() > end) throw new Error(`nothing within ${timeout} ms`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return found();
}

const shot = (name, options) => (shots ? page.screenshot(path.join(shots, `${name}.png`), options) : null);
const listText = (id) => page.evaluate(
  `[...document.querySelectorAll('#${id} li')].map((li) => li.textContent)`);
// The program's refusal lines (-e prints them after its progress dots).
const nativeErrors = (output) => output.split('\n').filter((line) => line.includes('ERROR!'))
  .map((line) => line.slice(line.indexOf('ERROR!')));

before(async () => {
  server = await serve({ '/': pageFolder, '/tree/': treeFolder });
  browser = await Browser.launch();
  fs.mkdirSync(downloads);
  await browser.send('Browser.setDownloadBehavior',
    { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
  page = await browser.newPage();
});

after(async () => {
  await browser?.close();
  await server?.close();
  fs.rmSync(work, { recursive: true, force: true });
});

test('from file: the page shows itself and says it must be served', async () => {
  await page.goto(pathToFileURL(path.join(pageFolder, 'index.html')).href);
  assert.equal(await page.until('document.body.dataset.ready'), 'no');
  assert.equal(await page.evaluate('document.getElementById("needs-server").hidden'), false);
  await shot('from-file');
});

test('served, the page loads the library and every control has a name', async () => {
  await page.goto(`${server.url}index.html`);
  assert.equal(await page.until('document.body.dataset.ready'), 'yes');
  assert.equal(await page.evaluate('document.getElementById("needs-server").hidden'), true);
  // What a screen reader would say of each control, and where status is announced.
  const unnamed = await page.evaluate(`[...document.querySelectorAll('button, input, a[href], [role=button]')]
    .filter((e) => e.getAttribute('aria-hidden') !== 'true')
    .filter((e) => !(e.getAttribute('aria-label') || e.textContent.trim() || e.labels?.[0]?.textContent.trim()))
    .map((e) => e.outerHTML)`);
  assert.deepEqual(unnamed, []);
  for (const id of ['pack-status', 'open-status'])
    assert.equal(await page.evaluate(`document.getElementById('${id}').getAttribute('aria-live')`), 'polite');
  assert.deepEqual(page.errors, []);
  await shot('ready');
});

test('a folder chosen through the picker is packed byte-identical to -c', async () => {
  // The tree, served, copied into a private folder named as the one on disk.
  await page.evaluate(pickerGives('tree'));
  await page.evaluate(`(async () => {
    const folder = await showDirectoryPicker();
    for (const entry of ${JSON.stringify(tree.map((e) => ({ path: e.path, folder: !!e.folder })))}) {
      let at = folder;
      const parts = entry.path.split('/');
      const last = entry.folder ? parts.length : parts.length - 1;
      for (const part of parts.slice(0, last)) at = await at.getDirectoryHandle(part, { create: true });
      if (entry.folder) continue;
      const bytes = await (await fetch('/tree/' + entry.path)).arrayBuffer();
      const writable = await (await at.getFileHandle(parts[last], { create: true })).createWritable();
      await writable.write(bytes);
      await writable.close();
    }
  })()`);
  // The progress bar's values, as the page sets them.
  await page.evaluate(`window.progressSeen = [];
    new MutationObserver(() => progressSeen.push(Number(document.getElementById('pack-progress').value)))
      .observe(document.getElementById('pack-progress'), { attributes: true, attributeFilter: ['value'] });`);
  // From the keyboard: the drop area takes the focus and Enter chooses a folder.
  await page.evaluate('document.getElementById("drop").focus()');
  await page.press('Enter');
  assert.equal(await page.until('document.body.dataset.packed'), 'complete');
  const seen = await page.evaluate('progressSeen');
  assert.ok(seen.length >= 2 && seen.some((v) => v > 0 && v < 1), `progress told: ${seen}`);
  assert.deepEqual(seen.slice(1), [...seen.slice(1)].sort((a, b) => a - b));
  assert.equal(seen.at(-1), 1);
  assert.equal(await page.evaluate('document.activeElement.id'), 'pack-download');
  const files = tree.filter((e) => !e.folder).length;
  assert.match(await page.evaluate('document.getElementById("pack-status").textContent'),
    new RegExp(`^Packed ${files} files into tree\\.dat`));
  const { name, bytes } = await download('#pack-download');
  assert.equal(name, 'tree.dat');
  assert.ok(bytes.equals(fs.readFileSync(nativeArchive)), 'the page\'s archive differs from -c\'s');
  await shot('packed');
});

test('a folder given to the folder input is packed as -c packs it, but for empty folders', async () => {
  // Where there is no picker the page takes a folder input's files, which hold no
  // folder: the same tree without its empty folder is what -c must match.
  const plain = path.join(work, 'plain');
  fs.cpSync(treeFolder, plain, { recursive: true });
  fs.rmdirSync(path.join(plain, 'empty'));
  // Larger than the pieces the page gathers the archive in (16 MiB).
  fs.writeFileSync(path.join(plain, 'large.bin'), pattern(20 << 20, 13));
  const archive = path.join(work, 'plain.dat');
  execFileSync(program, ['-c', plain, archive, '-s'], { stdio: 'ignore' });
  await page.evaluate('delete document.body.dataset.packed');
  await page.setFiles('#folder-input', [plain]);
  assert.equal(await page.until('document.body.dataset.packed'), 'complete');
  const { name, bytes } = await download('#pack-download');
  assert.equal(name, 'plain.dat');
  assert.ok(bytes.equals(fs.readFileSync(archive)), 'the page\'s archive differs from -c\'s');
});

test('a native archive is listed as -l lists it, and its files saved', async () => {
  await page.setFiles('#archive-input', [nativeArchive]);
  assert.equal(await page.until('document.body.dataset.opened'), 'sound');
  const rows = await page.evaluate(`[...document.querySelectorAll('#entries tr')]
    .map((tr) => (tr.cells[1].textContent || '0').replaceAll(',', '') + ' ' + tr.cells[0].textContent)`);
  const listed = native('-l', nativeArchive).stdout.split('\n').filter((l) => /^ +\d+ /.test(l));
  assert.deepEqual(rows, listed.map((l) => l.trim().replace(/ +/, ' ')));
  assert.match(await page.evaluate('document.getElementById("open-status").textContent'), /is sound/);
  for (const entry of tree.filter((e) => !e.folder && e.data.length)) {
    const saved = await download(`button[aria-label=${JSON.stringify(`Save ${entry.path}`)}]`);
    assert.equal(saved.name, path.basename(entry.path));
    assert.ok(saved.bytes.equals(entry.data), `${entry.path} saved differs`);
  }
  await shot('listed');
  await shot('listed-phone', { width: 390, height: 844, mobile: true });
});

test('an archive unpacked through the picker holds what -e writes', async () => {
  await page.evaluate(pickerGives('unpacked'));
  await page.evaluate('document.getElementById("unpack").click()');
  assert.equal(await page.until('document.body.dataset.unpacked'), 'complete');
  const written = await page.evaluate(`(async () => { ${opfsTree};
    return opfsTree(await (await navigator.storage.getDirectory()).getDirectoryHandle('unpacked')); })()`);
  const extracted = path.join(work, 'extracted');
  execFileSync(program, ['-e', nativeArchive, extracted, '-s'], { stdio: 'ignore' });
  assert.deepEqual(written, diskTree(extracted));
  // The tree itself comes back but for its empty file: the archive holds no size for a
  // folder, so -e (and the page) make an entry of no bytes a folder.
  const original = diskTree(treeFolder);
  assert.deepEqual(written.filter((row) => row[1] !== 'folder'), original.filter((row) => row[1] !== 'folder' && row[1] !== 0));
  assert.ok(written.some((row) => row[0] === 'empty' && row[1] === 'folder'));
  await shot('unpacked');
});

test('a hostile archive\'s refusals are -t\'s and -e\'s, and only what -e writes is written', async () => {
  await page.evaluate('delete document.body.dataset.opened; delete document.body.dataset.unpacked');
  // Dropped on the page, this time.
  await page.evaluate('document.getElementById("drop").scrollIntoView()');
  await page.dropFiles('#drop', [hostileArchive]);
  assert.equal(await page.until('document.body.dataset.opened'), 'refusals');
  assert.match(await page.evaluate('document.getElementById("listing-caption").textContent'), /^hostile\.dat: /);
  const checked = native('-t', hostileArchive);
  assert.notEqual(checked.status, 0);
  const refusals = nativeErrors(checked.stdout + checked.stderr);
  assert.ok(refusals.length > 0);
  assert.deepEqual(await listText('open-refused'), refusals);
  const states = await page.evaluate(`[...document.querySelectorAll('#entries tr')]
    .filter((tr) => tr.cells[2].classList.contains('refusal')).map((tr) => tr.cells[2].textContent + ' ' + tr.cells[0].textContent)`);
  assert.deepEqual(states, refusals);
  await shot('hostile');

  await page.evaluate(pickerGives('hostile'));
  await page.evaluate('document.getElementById("unpack").click()');
  assert.equal(await page.until('document.body.dataset.unpacked'), 'incomplete');
  assert.deepEqual(await listText('open-refused'), refusals);
  const written = await page.evaluate(`(async () => { ${opfsTree};
    return opfsTree(await (await navigator.storage.getDirectory()).getDirectoryHandle('hostile')); })()`);
  const extracted = path.join(work, 'hostile-extracted');
  const unpacked = native('-e', hostileArchive, extracted, '-s');
  assert.notEqual(unpacked.status, 0);
  // -e names each refused entry under its destination folder.
  assert.deepEqual(nativeErrors(unpacked.stdout + unpacked.stderr)
    .map((line) => line.replace(`${extracted}${path.sep}`, '')), refusals);
  assert.deepEqual(written, diskTree(extracted));
  assert.deepEqual(page.errors, []);
  await shot('hostile-unpacked');
});

test('without a folder picker (Firefox, Safari) the page offers saving files only', async () => {
  await page.evaluate('delete window.showDirectoryPicker; delete document.body.dataset.opened');
  await page.setFiles('#archive-input', [nativeArchive]);
  assert.equal(await page.until('document.body.dataset.opened'), 'sound');
  assert.deepEqual(await page.evaluate(`['unpack', 'no-picker'].map((id) => document.getElementById(id).hidden)`),
    [true, false]);
  const saves = await page.evaluate('document.querySelectorAll("#entries button").length');
  assert.equal(saves, tree.filter((e) => !e.folder && e.data.length).length);
  await shot('no-picker');
});

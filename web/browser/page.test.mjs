// The page in Debian's headless Chromium, driven by puppeteer-core, against the native
// program: folders packed (through the picker, the folder input) byte-identical to -c,
// with progress in bytes and Cancel; archives shown as a tree (from the keyboard
// alone, filtered, 100,000 entries), looked inside, changed and saved byte-identical
// to -c of the changed tree on disk; refusals as -t and -e word them; unpacking as -e
// writes; files saved under their names; work chosen while other work runs; the page
// from file:. The pickers are replaced by ones that give folders and files of the
// origin private file system, which a test can fill and read back. A screenshot of
// each state goes to QUODREL_SCREENSHOTS. QUODREL_PAGE is the staged page (web/build.sh
// OUT gives OUT/page), QUODREL_PROGRAM the native quodrel, QUODREL_TOOLS the folder
// web/tools/install.sh made, QUODREL_PROFILE Chromium's profile (made fresh).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { serve } from './serve.mjs';
import { pattern as bytesInPattern } from '../test/pattern.mjs';
import { load } from '../quodrel.mjs';

const pageFolder = path.resolve(process.env.QUODREL_PAGE);
const program = process.env.QUODREL_PROGRAM;
const shots = process.env.QUODREL_SCREENSHOTS;
const puppeteer = createRequire(path.join(process.env.QUODREL_TOOLS, 'package.json'))('puppeteer-core');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'quodrel-page-'));
const downloads = path.join(work, 'downloads');
const quodrel = await load(fs.readFileSync(path.join(pageFolder, 'quodrel.wasm')));

// Bytes that differ from place to place, as Buffers.
const pattern = (size, seed) => Buffer.from(bytesInPattern(size, seed).buffer);
// The smallest PNG and GIF (one pixel), as a browser draws them.
const PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==', 'base64');

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

function writeTree(folder, entries) {
  for (const entry of entries) {
    const at = path.join(folder, entry.path);
    fs.mkdirSync(entry.folder ? at : path.dirname(at), { recursive: true });
    if (!entry.folder) fs.writeFileSync(at, entry.data);
  }
  return folder;
}
const native = (...args) => spawnSync(program, args, { encoding: 'utf8' });
const pack = (folder, archive) => {
  execFileSync(program, ['-c', folder, archive, '-s'], { stdio: 'ignore' });
  return archive;
};
const treeFolder = writeTree(path.join(work, 'tree'), tree);
const nativeArchive = pack(treeFolder, path.join(work, 'tree.dat'));

// An archive as a hostile tool might write it: -c's archive of a tree whose folder
// "dd" (with two files) is renamed ".." in the table, and names that climb out or
// clash; each added file four bytes.
function hostile() {
  const folder = writeTree(path.join(work, 'hostile-tree'), [
    { path: 'dd/one.txt', data: Buffer.from('one') }, { path: 'dd/two.txt', data: Buffer.from('two') },
    { path: 'fine', data: Buffer.from('fine') },
  ]);
  const bytes = fs.readFileSync(pack(folder, path.join(work, 'hostile-base.dat')));
  const at = bytes.indexOf(Buffer.from('dd\0'));
  bytes.write('..', at);
  return bytes;
}
const hostileArchive = path.join(work, 'hostile.dat');
fs.writeFileSync(hostileArchive, hostile());

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

// In the page: the same rows from a folder of its origin private file system, and
// bytes as base64.
const inPage = `
  window.base64 = (bytes) => {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  };
  window.opfsTree = async (folder, prefix = '') => {
    const rows = [];
    for await (const [name, child] of folder.entries()) {
      const rel = prefix ? prefix + '/' + name : name;
      if (child.kind === 'directory') rows.push([rel, 'folder', ''], ...await opfsTree(child, rel));
      else {
        const bytes = new Uint8Array(await (await child.getFile()).arrayBuffer());
        rows.push([rel, bytes.length, base64(bytes)]);
      }
    }
    return rows.sort();
  };
  // The pickers give a folder (emptied) and files of the private file system.
  window.pickFolder = async (name) => {
    const root = await navigator.storage.getDirectory();
    await root.removeEntry(name, { recursive: true }).catch(() => {});
    const folder = await root.getDirectoryHandle(name, { create: true });
    window.showDirectoryPicker = async () => folder;
    return folder;
  };
  window.pickSaves = async () => {
    const root = await navigator.storage.getDirectory();
    const saves = await root.getDirectoryHandle('saves', { create: true });
    window.showSaveFilePicker = async ({ suggestedName }) => saves.getFileHandle(suggestedName, { create: true });
  };
  window.saved = async (name) => {
    const saves = await (await navigator.storage.getDirectory()).getDirectoryHandle('saves');
    return base64(new Uint8Array(await (await (await saves.getFileHandle(name)).getFile()).arrayBuffer()));
  };
  window.offered = async () => base64(new Uint8Array(await (await fetch(document.getElementById('download').href)).arrayBuffer()));
`;

let browser;
let server;
let page;
let session;
const downloaded = [];

before(async () => {
  server = await serve({ '/': pageFolder, '/tree/': treeFolder });
  const profile = process.env.QUODREL_PROFILE ?? path.join(work, 'profile');
  fs.rmSync(profile, { recursive: true, force: true });
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM,
    headless: true,
    userDataDir: profile,
    args: [
      ...(process.getuid?.() === 0 ? ['--no-sandbox'] : []),
      '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
      '--disable-quic', '--disable-gpu', '--disable-dev-shm-usage', '--mute-audio',
    ],
    env: { ...process.env, HOME: profile },
    defaultViewport: { width: 1100, height: 1000 },
    protocolTimeout: 600000,
  });
  fs.mkdirSync(downloads);
  session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
  session.on('Browser.downloadWillBegin', (e) => downloaded.push({ ...e, state: 'begun' }));
  session.on('Browser.downloadProgress', (e) => {
    const seen = downloaded.find((d) => d.guid === e.guid);
    if (seen && e.state !== 'inProgress') seen.state = e.state;
  });
  page = await browser.newPage();
  await page.evaluateOnNewDocument(inPage);
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  // Showing another archive over unsaved changes asks first: the tests give them up.
  page.dialogs = [];
  page.on('dialog', (dialog) => {
    page.dialogs.push(dialog.message());
    dialog.accept();
  });
});

after(async () => {
  await browser?.close();
  await server?.close();
  fs.rmSync(work, { recursive: true, force: true });
});

const shot = async (name, { phone = false } = {}) => {
  if (!shots) return;
  fs.mkdirSync(shots, { recursive: true });
  if (phone) await page.emulate(puppeteer.KnownDevices['Pixel 5']);
  await page.screenshot({ path: path.join(shots, `${name}.png`), fullPage: true });
  if (phone) await page.emulate({ viewport: { width: 1100, height: 1000 }, userAgent: await browser.userAgent() });
};
const $eval = (expression) => page.evaluate(expression);
const text = (id) => $eval(`document.getElementById(${JSON.stringify(id)}).textContent`);
const until = async (expression, timeout = 60000) => {
  await page.waitForFunction(expression, { timeout, polling: 20 });
  return $eval(expression);
};
const marker = (name) => $eval(`delete document.body.dataset[${JSON.stringify(name)}]`);
const seenIn = (texts, text) => texts.includes(text) || assert.fail(`${text} not among:\n${texts.join('\n')}`);
const listText = () => $eval(`[...document.querySelectorAll('#messages li')].map((li) => li.textContent)`);
// The program's refusal lines (-e prints them after its progress dots).
const nativeErrors = (output) => output.split('\n').filter((line) => line.includes('ERROR!'))
  .map((line) => line.slice(line.indexOf('ERROR!')));
const setFiles = async (selector, files) => (await page.$(selector)).uploadFile(...files);
async function openInPage(file) {
  await marker('opened');
  await setFiles('#archive-input', [file]);
  return until('document.body.dataset.opened');
}
// The tree's rows in view: [path as the row's title, size words, badge, level, expanded].
const treeRows = () => $eval(`[...document.querySelectorAll('#rows .row')]
  .sort((a, b) => a.dataset.index - b.dataset.index)
  .map((row) => [row.querySelector('.name').title, row.querySelector('.size').textContent,
    row.querySelector('.badge')?.textContent ?? '', Number(row.getAttribute('aria-level')),
    row.getAttribute('aria-expanded')])`);
const activeRow = () => $eval(`document.getElementById(document.getElementById('tree')
  .getAttribute('aria-activedescendant'))?.querySelector('.name').title`);
async function press(...keys) {
  for (const key of keys) await page.keyboard.press(key);
}
// Every folder of the tree unfolded, from the keyboard: down the rows, right on each.
async function unfoldAll() {
  await page.focus('#tree');
  await press('Home');
  for (let i = 0; i < 200; ++i) {
    const row = await $eval(`(() => { const r = document.querySelector('#rows .row.active');
      return [r.getAttribute('aria-expanded'), r.dataset.index, document.querySelectorAll('#rows .row').length]; })()`);
    if (row[0] === 'false') await press('ArrowRight');
    await press('ArrowDown');
    if (await $eval(`document.querySelector('#rows .row.active').dataset.index`) === row[1]) break;
  }
}
async function downloadOf(click) {
  const seen = downloaded.length;
  await click();
  await until(`true`);
  for (let i = 0; i < 1500 && !(downloaded.length > seen && downloaded.at(-1).state !== 'begun'); ++i)
    await new Promise((resolve) => setTimeout(resolve, 20));
  const last = downloaded.at(-1);
  assert.equal(last?.state, 'completed');
  return { name: last.suggestedFilename, bytes: fs.readFileSync(path.join(downloads, last.guid)) };
}

test('from file: every control says why it cannot work, and nothing waits', async () => {
  await page.goto(pathToFileURL(path.join(pageFolder, 'index.html')).href);
  assert.equal(await until('document.body.dataset.ready'), 'no');
  assert.equal(await $eval('document.getElementById("needs-server").hidden'), false);
  const controls = await $eval(`[...document.querySelectorAll('button, input')]
    .map((c) => [c.id, c.disabled, c.getAttribute('aria-describedby')])`);
  assert.ok(controls.length > 10);
  for (const [id, disabled, describedBy] of controls) assert.deepEqual([id, disabled, describedBy], [id, true, 'needs-server']);
  assert.match(await text('status'), /file: address/);
  assert.equal(await $eval('document.getElementById("busy").hidden'), true);
  await shot('from-file');
});

test('served, the page loads the library; every control is named once, in words for the device', async () => {
  await page.goto(`${server.url}index.html`);
  assert.equal(await until('document.body.dataset.ready'), 'yes');
  assert.equal(await $eval('document.getElementById("needs-server").hidden'), true);
  // What a screen reader is told of each control: a name, and no description that
  // repeats it.
  const snapshot = await page.accessibility.snapshot({ interestingOnly: true });
  const nodes = [];
  const walk = (node) => { nodes.push(node); (node.children ?? []).forEach(walk); };
  walk(snapshot);
  const controls = nodes.filter((n) => ['button', 'textbox', 'searchbox', 'link', 'tree'].includes(n.role));
  assert.ok(controls.length >= 2);
  for (const control of controls) {
    assert.ok(control.name, `${control.role} without a name`);
    assert.notEqual(control.description, control.name, `${control.name} told twice`);
  }
  assert.equal(await $eval(`document.getElementById('status').getAttribute('aria-live')`), 'polite');
  // Pointer words on a desktop, touch words on a phone: nothing about dropping there.
  const words = () => $eval(`document.getElementById('drop').innerText`);
  assert.match(await words(), /Drop a folder/);
  await page.emulate(puppeteer.KnownDevices['Pixel 5']); // a touch screen: (pointer: coarse)
  assert.doesNotMatch(await words(), /[Dd]rop/);
  assert.match(await words(), /Choose a folder to pack/);
  await page.emulate({ viewport: { width: 1100, height: 1000 }, userAgent: await browser.userAgent() });
  assert.deepEqual(page.errors, []);
  await shot('ready');
});

test('a folder chosen through the picker is packed byte-identical to -c, shown as a tree', async () => {
  // The tree, served, copied into a private folder named as the one on disk.
  await $eval(`(async () => {
    const folder = await pickFolder('tree');
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
  await marker('packed');
  await page.focus('#choose-folder');
  await press('Enter');
  assert.equal(await until('document.body.dataset.packed'), 'complete');
  assert.equal(await $eval('document.activeElement.id'), 'download');
  assert.match(await text('status'), /^Packed 6 files into tree\.dat/);
  assert.equal(await $eval(`document.getElementById('download').download`), 'tree.dat');
  assert.equal(await $eval('offered()'), fs.readFileSync(nativeArchive).toString('base64'));
  // The packed archive is shown, as -l lists it.
  assert.equal(await until('document.body.dataset.opened'), 'sound');
  await shot('packed');
});

test('progress is told in bytes, within a big file too, and Cancel leaves no archive', async () => {
  // One big file alone: before, the bar stood at 0 until it was packed.
  const one = writeTree(path.join(work, 'one'), [{ path: 'big.bin', data: pattern(48 << 20, 3) }]);
  await $eval(`window.progressSeen = new Set();
    new MutationObserver(() => progressSeen.add(document.getElementById('progress').value))
      .observe(document.getElementById('progress'), { attributes: true, attributeFilter: ['value'] });
    new MutationObserver(() => progressSeen.add(document.getElementById('progress').value))
      .observe(document.getElementById('progress-text'), { childList: true });
    // Cancel, clicked the moment the archive is offered (while it is opened to be shown),
    // if it is there to be clicked.
    window.cancelOffered = new MutationObserver(() => {
      const cancel = document.getElementById('cancel');
      if (!document.getElementById('download').hidden && !cancel.hidden && !cancel.disabled) cancel.click();
    });
    cancelOffered.observe(document.getElementById('download'), { attributes: true, attributeFilter: ['hidden'] });`);
  await marker('packed');
  await setFiles('#folder-input', [one]);
  assert.equal(await until('document.body.dataset.packed'), 'complete');
  const seen = await $eval('[...progressSeen]');
  assert.ok(seen.filter((v) => v > 0 && v < 1).length >= 2, `progress told: ${seen}`);
  assert.equal(await $eval('offered()'), fs.readFileSync(pack(one, path.join(work, 'one.dat'))).toString('base64'));
  await until('!document.body.dataset.busy');
  await $eval('cancelOffered.disconnect()');
  assert.match(await text('status'), /^Packed 1 file into one\.dat in [\d.]+ s\.$/);

  // A browser that cannot keep the archive's pieces (its blob storage full, which
  // headless Chromium is at about 500 MiB) fails to read them back: told, not offered.
  await $eval(`document.getElementById('download').hidden = true;
    window.realArrayBuffer = Blob.prototype.arrayBuffer;
    Blob.prototype.arrayBuffer = function broken() {
      return Promise.reject(new DOMException('The requested file could not be read', 'NotReadableError'));
    };`);
  await marker('packed');
  await setFiles('#folder-input', [one]);
  assert.equal(await until('document.body.dataset.packed'), 'failed');
  await $eval('Blob.prototype.arrayBuffer = realArrayBuffer');
  assert.equal(await text('status'), 'Could not pack one.dat: the browser could not keep its 48.0 MiB (The requested file could not be read)');
  assert.equal(await $eval(`document.getElementById('download').hidden`), true);

  // 1 GiB (sparse on disk), cancelled once it is under way: no archive offered, and the
  // next work runs as before.
  const gib = path.join(work, 'gib');
  fs.mkdirSync(gib);
  fs.writeFileSync(path.join(gib, 'small.txt'), 'small');
  fs.truncateSync(fs.openSync(path.join(gib, 'huge.bin'), 'w'), 1 << 30);
  await marker('packed');
  await $eval(`document.getElementById('download').hidden = true`);
  await setFiles('#folder-input', [gib]);
  await until(`document.getElementById('progress').value > 0.05`, 120000);
  await shot('cancel');
  await page.click('#cancel');
  assert.equal(await until('document.body.dataset.packed'), 'cancelled');
  assert.match(await text('status'), /cancelled: no archive was made/);
  assert.equal(await $eval(`document.getElementById('download').hidden`), true);
  assert.equal(await until('!document.body.dataset.busy && "idle"'), 'idle');
  await marker('packed');
  await setFiles('#folder-input', [one]);
  assert.equal(await until('document.body.dataset.packed'), 'complete');
});

test('a choice made while work runs waits its turn, and says so', async () => {
  const slow = path.join(work, 'slow');
  fs.mkdirSync(slow);
  fs.truncateSync(fs.openSync(path.join(slow, 'huge.bin'), 'w'), 320 << 20);
  assert.equal(await openInPage(nativeArchive), 'sound');
  await $eval('pickSaves()');
  await marker('packed');
  // Every text the status was given, each as it was (several may come in one task).
  await $eval(`window.statusSeen = [];
    new MutationObserver((records) => { for (const r of records) for (const n of r.addedNodes) statusSeen.push(n.textContent); })
      .observe(document.getElementById('status'), { childList: true });`);
  await setFiles('#folder-input', [slow]);
  await until('document.body.dataset.busy');
  // A file of the archive shown, saved after the pack, which shows another archive:
  // the file's own bytes all the same.
  await page.focus('#tree');
  await press('Home');
  for (let i = 0; i < 10 && await activeRow() !== 'alpha.txt'; ++i) await press('ArrowDown');
  await until(`document.getElementById('preview-path').textContent === 'alpha.txt'`);
  await page.click('#save-file');
  await setFiles('#archive-input', [nativeArchive]);
  assert.match(await until(`document.getElementById('queued').textContent.includes('open')
    && document.getElementById('queued').textContent`), /^Waiting: save alpha\.txt; open tree\.dat \(after pack slow\.dat\)\.$/);
  assert.equal(await until('document.body.dataset.packed', 120000), 'complete');
  await until(`document.getElementById('status').textContent.startsWith('tree.dat is sound')`);
  assert.ok(seenIn(await $eval('statusSeen'), 'Saved alpha.txt (5 bytes) as alpha.txt.'));
  assert.equal(await $eval(`saved('alpha.txt')`), Buffer.from('alpha').toString('base64'));
  const seen = await $eval('statusSeen');
  assert.ok(seen.findIndex((s) => s.startsWith('Packed 1 file into slow.dat')) < seen.findIndex((s) => s.startsWith('Saved alpha.txt')), seen.join('\n'));
  assert.ok(seen.findIndex((s) => s.startsWith('Saved alpha.txt')) < seen.findIndex((s) => s.startsWith('Opening tree.dat')), seen.join('\n'));
  assert.equal(await text('archive-heading'), 'tree.dat');
  assert.equal(await text('queued'), '');
});

test('an archive is a tree: unfolded from the keyboard it lists what -l lists; the filter narrows it', async () => {
  assert.equal(await openInPage(nativeArchive), 'sound');
  assert.deepEqual(page.errors, []);
  // A screen reader reads the tree's help once: as its description, not as a text too.
  const nodes = [];
  const walk = (node) => { nodes.push(node); (node.children ?? []).forEach(walk); };
  walk(await page.accessibility.snapshot({ interestingOnly: true }));
  const tree = nodes.find((n) => n.role === 'tree');
  assert.match(tree.description, /^Arrow keys move/);
  assert.deepEqual(nodes.filter((n) => n.role === 'StaticText' && n.name === tree.description), []);
  // Folded, only the top level is there; each folder tells its files and bytes.
  const top = await treeRows();
  assert.deepEqual(top.map((r) => r[0]), ['alpha.txt', 'big.bin', 'empty', 'zero', 'Zeta.txt', 'ünïcødé']);
  assert.deepEqual(top.find((r) => r[0] === 'ünïcødé').slice(1), ['2 files, 4.0 KiB', '', 1, 'false']);
  await unfoldAll();
  const rows = await treeRows();
  const listed = native('-l', nativeArchive).stdout.split('\n').filter((l) => /^ +\d+ /.test(l))
    .map((l) => l.trim().split(/ +/)[1].replace(/\/$/, ''));
  assert.deepEqual(rows.map((r) => r[0]).sort(), listed.sort());
  assert.deepEqual(rows.find((r) => r[0] === 'ünïcødé/deep/er/α.bin').slice(3), [4, null]);
  // Left goes up to the folder, and folds it.
  await press('End');
  assert.equal(await activeRow(), 'ünïcødé/日本語.txt');
  await press('ArrowLeft');
  assert.equal(await activeRow(), 'ünïcødé');
  await press('ArrowLeft');
  assert.equal((await treeRows()).length, 6);
  await press('ArrowRight', 'ArrowRight');
  assert.equal(await activeRow(), 'ünïcødé/deep');
  // The filter, typed: the matches and the folders above them.
  await page.focus('#filter');
  await page.keyboard.type('α');
  await until(`document.querySelectorAll('#rows .row').length === 4`);
  assert.deepEqual((await treeRows()).map((r) => r[0]), ['ünïcødé', 'ünïcødé/deep', 'ünïcødé/deep/er', 'ünïcødé/deep/er/α.bin']);
  assert.match(await text('tree-count'), /^1 entry holds "α"\.$/);
  await press('ArrowDown', 'End');
  assert.equal(await activeRow(), 'ünïcødé/deep/er/α.bin');
  assert.equal(await until(`document.getElementById('preview-path').textContent === 'ünïcødé/deep/er/α.bin'
    && document.body.dataset.preview`), 'hex');
  await page.focus('#filter');
  await press('Backspace');
  await until(`document.querySelectorAll('#rows .row').length > 4`);
  await shot('tree');
});

test('100,000 entries open, and only the rows in view are in the page', async () => {
  const entries = [];
  for (let i = 0; i < 100000; ++i) entries.push({ path: `f${Math.floor(i / 1000)}/n${i}.txt`, data: Buffer.from(String(i)) });
  const big = path.join(work, 'many.dat');
  fs.writeFileSync(big, quodrel.create(entries).bytes);
  assert.equal(await openInPage(big), 'sound');
  assert.match(await text('archive-summary'), /^100,000 files/);
  await page.focus('#tree');
  await press('ArrowRight', 'End');
  assert.equal(await activeRow(), 'f99');
  await press('ArrowRight', 'End');
  assert.equal(await activeRow(), 'f99/n99999.txt');
  assert.ok(await $eval(`document.querySelectorAll('#rows .row').length`) < 100);
  await press('Home', 'ArrowRight');
  for (let i = 0; i < 30; ++i) await press('PageDown');
  assert.match(await activeRow(), /^f0\/n\d+\.txt$/);
  // The top's 100 folders, and the 1,000 files of each of the two unfolded.
  assert.equal(await $eval(`document.getElementById('rows').style.height`), `${2100 * 32}px`);
});

test('a look inside: text, an image by its bytes, a binary in hex; HTML and SVG never as documents', async () => {
  const look = writeTree(path.join(work, 'look'), [
    { path: 'a.txt', data: Buffer.from('plain words\n') },
    { path: 'long.txt', data: Buffer.from('line of text\n'.repeat(10000)) },
    { path: 'picture', data: PNG },
    { path: 'b.bin', data: pattern(5000, 9) },
    { path: 'page.html', data: Buffer.from('<h1 id=evil>evil</h1><script>top.evil = 1</script>') },
    { path: 'image.svg', data: Buffer.from('<svg xmlns="http://www.w3.org/2000/svg" onload="top.evil=1"><script>top.evil=1</script></svg>') },
    { path: 'html.png', data: Buffer.from('<html><script>top.evil = 1</script></html>') },
    { path: 'cars.txt', data: Buffer.from('BMW makes cars\n') }, // "BM", as a BMP starts
    { path: 'broken.png', data: Buffer.concat([PNG.subarray(0, 16), pattern(200, 5)]) },
  ]);
  assert.equal(await openInPage(pack(look, path.join(work, 'look.dat'))), 'sound');
  const pages = (await browser.pages()).length;
  const shown = async (name) => {
    await page.focus('#tree');
    await press('Home');
    for (let i = 0; i < 10 && await activeRow() !== name; ++i) await press('ArrowDown');
    await until(`document.getElementById('preview-path').textContent === ${JSON.stringify(name)}
      && document.body.dataset.preview && document.querySelector('#preview-body :is(pre, img)')`);
    return $eval(`({ kind: document.body.dataset.preview, note: document.querySelector('#preview-body p').textContent,
      text: document.querySelector('#preview-body pre')?.textContent,
      image: document.querySelector('#preview-body img')?.naturalWidth })`);
  };
  assert.deepEqual(await shown('a.txt'), { kind: 'text', note: 'Text (UTF-8).', text: 'plain words\n' });
  const long = await shown('long.txt');
  assert.equal(long.note, 'Text (UTF-8): the first 64.0 KiB of 127.0 KiB.'); // 130,000 bytes
  assert.equal(long.text.length, 64 << 10);
  await until(`document.querySelector('#preview-body img')?.complete`).catch(() => {});
  const picture = await shown('picture');
  assert.equal(picture.kind, 'image');
  await until(`document.querySelector('#preview-body img').naturalWidth === 1`);
  await shot('preview-image');
  const binary = await shown('b.bin');
  assert.equal(binary.kind, 'hex');
  assert.equal(binary.note, 'Binary: the first 4.0 KiB of 4.9 KiB, in hex.');
  assert.equal(binary.text.split('\n')[0], `00000000  ${[...pattern(16, 9)].map((b) => b.toString(16).padStart(2, '0')).join(' ')}  ${[...pattern(16, 9)].map((b) => (b >= 32 && b < 127 ? String.fromCharCode(b) : '.')).join('')}`);
  for (const name of ['page.html', 'image.svg', 'html.png']) {
    const seen = await shown(name);
    assert.equal(seen.kind, 'text', name);
    assert.equal(seen.text, fs.readFileSync(path.join(look, name), 'utf8'));
  }
  assert.deepEqual(await shown('cars.txt'), { kind: 'text', note: 'Text (UTF-8).', text: 'BMW makes cars\n' });
  // A file that starts as a PNG but is none: its bytes, and why.
  await shown('broken.png');
  assert.equal(await until(`document.body.dataset.preview === 'hex'
    && document.querySelector('#preview-body p').textContent`),
  'It starts as a PNG picture does, but is none the browser can draw. Binary, in hex.');
  assert.equal(await $eval(`document.querySelectorAll('iframe, object, embed, #evil').length`), 0);
  assert.equal(await $eval('window.evil ?? 0'), 0);
  assert.equal(page.frames().length, 1);
  assert.equal((await browser.pages()).length, pages);
  await shot('preview');
});

test('changes (add, replace, remove, rename) saved byte-identical to -c of the changed tree on disk', async () => {
  assert.equal(await openInPage(nativeArchive), 'sound');
  await $eval('pickSaves()');
  const extra = writeTree(path.join(work, 'extra'), [
    { path: 'new.txt', data: Buffer.from('added') },
    { path: 'alpha.txt', data: Buffer.from('replacement of alpha') },
    { path: 'added/inner.bin', data: pattern(70000, 4) },
  ]);
  const choose = async (name) => {
    await page.focus('#tree');
    await press('Home');
    for (let i = 0; i < 20 && await activeRow() !== name; ++i) await press('ArrowDown');
    assert.equal(await activeRow(), name);
  };
  // Add two files into ünïcødé/ (one clashing with nothing), a folder at the top.
  await choose('ünïcødé');
  await setFiles('#add-files', [path.join(extra, 'new.txt'), path.join(extra, 'alpha.txt')]);
  await until(`document.getElementById('status').textContent === 'In ünïcødé: added 2 files.'`);
  // The same again: what was added is replaced, and said so.
  await setFiles('#add-files', [path.join(extra, 'new.txt'), path.join(extra, 'alpha.txt')]);
  await until(`document.getElementById('status').textContent === 'In ünïcødé: replaced 2 files.'`);
  await choose('Zeta.txt');
  await setFiles('#add-folder', [path.join(extra, 'added')]);
  await until(`document.getElementById('status').textContent === 'In tree.dat: added 1 file and 1 folder.'`);
  // Through the folder picker: its empty folders too, which no folder input gives.
  await $eval(`(async () => {
    const folder = await pickFolder('more');
    await folder.getDirectoryHandle('hollow', { create: true });
    const writable = await (await folder.getFileHandle('file.txt', { create: true })).createWritable();
    await writable.write('more');
    await writable.close();
  })()`);
  await choose('Zeta.txt');
  await page.click('#add-folder-button');
  await until(`document.getElementById('status').textContent === 'In tree.dat: added 1 file and 2 folders.'`);
  // Replace big.bin; remove zero from the keyboard; rename Zeta.txt through F2.
  await choose('big.bin');
  await setFiles('#replace-file', [path.join(extra, 'alpha.txt')]);
  await until(`/^Replaced big.bin/.test(document.getElementById('status').textContent)`);
  await choose('zero');
  await press('Delete');
  assert.match(await text('status'), /^Removed zero/);
  await choose('Zeta.txt');
  await press('F2');
  await until(`document.getElementById('rename-dialog').open`);
  await page.keyboard.down('Control');
  await press('a');
  await page.keyboard.up('Control');
  await page.keyboard.type('omega.txt');
  await press('Enter');
  await until(`/^Renamed Zeta.txt to omega.txt/.test(document.getElementById('status').textContent)`);
  // A name that clashes is refused in the dialog; a change undone is gone.
  await choose('alpha.txt');
  await page.click('#rename');
  await page.$eval('#rename-input', (input) => { input.value = 'omega.txt'; });
  await page.click('#rename-ok');
  assert.equal(await text('rename-error'), 'omega.txt is there already');
  await page.$eval('#rename-input', (input) => { input.value = 'gone.txt'; });
  await page.click('#rename-ok');
  assert.equal(await $eval(`document.getElementById('rename-dialog').open`), false);
  assert.equal(await $eval(`document.getElementById('undo').getAttribute('aria-label')`), 'Undo: rename gone.txt back to alpha.txt');
  await page.click('#undo');
  assert.match(await text('status'), /^Undone: rename gone\.txt back to alpha\.txt\.$/);
  const badges = Object.fromEntries((await treeRows()).filter((r) => r[2]).map((r) => [r[0], r[2]]));
  assert.deepEqual(badges, {
    added: 'added', more: 'added', 'big.bin': 'replaced', 'omega.txt': 'renamed', 'ünïcødé/alpha.txt': 'added', 'ünïcødé/new.txt': 'added',
  });
  await shot('changed');

  // The same changes on disk, packed by -c.
  const changed = path.join(work, 'changed');
  fs.cpSync(treeFolder, changed, { recursive: true });
  fs.copyFileSync(path.join(extra, 'new.txt'), path.join(changed, 'ünïcødé', 'new.txt'));
  fs.copyFileSync(path.join(extra, 'alpha.txt'), path.join(changed, 'ünïcødé', 'alpha.txt'));
  fs.cpSync(path.join(extra, 'added'), path.join(changed, 'added'), { recursive: true });
  writeTree(changed, [{ path: 'more/hollow', folder: true }, { path: 'more/file.txt', data: Buffer.from('more') }]);
  fs.copyFileSync(path.join(extra, 'alpha.txt'), path.join(changed, 'big.bin'));
  fs.rmSync(path.join(changed, 'zero'));
  fs.renameSync(path.join(changed, 'Zeta.txt'), path.join(changed, 'omega.txt'));
  const expected = fs.readFileSync(pack(changed, path.join(work, 'changed.dat'))).toString('base64');
  // The counts above the tree are the changed tree's, and the archive's as opened.
  const files = diskTree(changed).filter((row) => row[1] !== 'folder').length;
  assert.match(await text('archive-summary'), new RegExp(`^With the changes: ${files} files, [\\d.]+ KiB \\(as opened: 5 files, 3\\.0 MiB; every entry can be unpacked\\)\\.$`));

  await marker('saved');
  await page.click('#save-archive');
  assert.equal(await until('document.body.dataset.saved'), 'complete');
  assert.match(await text('status'), /^Saved tree\.dat \(72\.9 KiB\) as tree\.dat\.$/);
  assert.equal(await $eval(`saved('tree.dat')`), expected);
  // Without a save picker: a download, under the name asked for.
  await $eval('delete window.showSaveFilePicker');
  await marker('saved');
  const { name, bytes } = await downloadOf(() => page.click('#save-archive'));
  assert.equal(await until('document.body.dataset.saved'), 'complete');
  assert.equal(name, 'tree.dat');
  assert.equal(bytes.toString('base64'), expected);
  assert.match(await text('status'), /as a download named tree\.dat \(the browser may change the name\)\.$/);

  // A change made while an archive is saved (here an undo, the moment saving begins) is
  // not in it: showing another archive asks before it is given up. So does one made
  // while the other archive is opened.
  const changeWhen = (words, button) => $eval(`window.changer = new MutationObserver(() => {
      if (!document.getElementById('status').textContent.startsWith(${JSON.stringify(words)})) return;
      changer.disconnect();
      document.getElementById(${JSON.stringify(button)}).click();
    });
    changer.observe(document.getElementById('status'), { childList: true });`);
  await changeWhen('Saving', 'undo');
  await marker('saved');
  await downloadOf(() => page.click('#save-archive'));
  assert.equal(await until('document.body.dataset.saved'), 'complete');
  assert.ok((await treeRows()).some((r) => r[0] === 'Zeta.txt')); // the rename undone, once saved
  const asked = page.dialogs.length;
  assert.equal(await openInPage(nativeArchive), 'sound');
  await changeWhen('Opening', 'remove');
  assert.equal(await openInPage(nativeArchive), 'sound');
  const question = 'tree.dat has changes that are not saved. Give them up and show another archive?';
  assert.deepEqual(page.dialogs.slice(asked), [question, question]);
  assert.deepEqual(page.errors, []);
});

test('a saved file carries the entry\'s name: picked exactly, or downloaded as asked', async () => {
  const names = writeTree(path.join(work, 'names'), [
    { path: 'a#b', data: Buffer.from('hash') }, { path: 'Makefile', data: Buffer.from('all:\n') },
    { path: 'notes/.hidden', data: Buffer.from('hidden') },
  ]);
  assert.equal(await openInPage(pack(names, path.join(work, 'names.dat'))), 'sound');
  await unfoldAll();
  const choose = async (name) => {
    await press('Home');
    for (let i = 0; i < 10 && await activeRow() !== name; ++i) await press('ArrowDown');
    await until(`document.getElementById('preview-path').textContent === ${JSON.stringify(name)}`);
  };
  await $eval('pickSaves()');
  for (const [entry, name] of [['a#b', 'a#b'], ['notes/.hidden', '.hidden']]) {
    await page.focus('#tree');
    await choose(entry);
    await page.click('#save-file');
    await until(`document.getElementById('status').textContent.startsWith('Saved ${entry}')`);
    assert.equal(await $eval(`saved(${JSON.stringify(name)})`), fs.readFileSync(path.join(names, entry)).toString('base64'));
    assert.match(await text('status'), new RegExp(`as ${name.replace('.', '\\.')}\\.$`));
  }
  await $eval('delete window.showSaveFilePicker');
  for (const entry of ['a#b', 'Makefile']) {
    await page.focus('#tree');
    await choose(entry);
    const saved = await downloadOf(() => page.click('#save-file'));
    assert.equal(saved.name, entry);
    assert.ok(saved.bytes.equals(fs.readFileSync(path.join(names, entry))));
    await until(`/the browser may change the name/.test(document.getElementById('status').textContent)`);
  }
});

test('a hostile archive: refusals as -t words them, inside a refused folder too; counts agree; -e\'s files', async () => {
  await page.setViewport({ width: 1100, height: 1000 });
  // Dropped on the page; two at once are refused with words (the page takes one).
  await marker('opened');
  const client = await page.createCDPSession();
  const drop = async (files) => {
    for (const type of ['dragEnter', 'dragOver', 'drop'])
      await client.send('Input.dispatchDragEvent', { type, x: 200, y: 200, data: { items: [], files, dragOperationsMask: 1 } });
  };
  await drop([hostileArchive, nativeArchive]);
  assert.equal(await until(`/dropped/.test(document.getElementById('status').textContent)
    && document.getElementById('status').textContent`),
  '2 items were dropped, and none was taken: drop one folder to pack, or one archive to open.');
  await drop([hostileArchive]);
  assert.equal(await until('document.body.dataset.opened'), 'refusals');
  const checked = native('-t', hostileArchive);
  assert.equal(checked.status, 1);
  const refusals = nativeErrors(checked.stdout);
  assert.deepEqual(await listText(), refusals);
  assert.equal(await text('status'), 'hostile.dat: 3 entries are refused and would not be unpacked (listed above the tree, and in it).');
  await unfoldAll();
  // Every refused entry says why: the folder in -t's words, those inside it by the folder.
  const states = {};
  for (const name of ['..', '../one.txt', '../two.txt']) {
    await press('Home');
    for (let i = 0; i < 10 && await activeRow() !== name; ++i) await press('ArrowDown');
    states[name] = await until(`document.getElementById('preview-path').textContent === ${JSON.stringify(name === '..' ? '../' : name)}
      && document.getElementById('preview-meta').textContent`);
  }
  assert.deepEqual(states, {
    '..': '2 files, 6 bytes. Refused: ERROR! Unsafe name ..',
    '../one.txt': '3 bytes. Refused: In ../, which is refused: unsafe name',
    '../two.txt': '3 bytes. Refused: In ../, which is refused: unsafe name',
  });
  assert.equal(await $eval(`document.getElementById('save-archive').disabled`), true);
  assert.match(await text('change-note'), /changes no archive that -t does not call sound/);
  await shot('hostile');

  const folder = path.join(work, 'hostile-extracted');
  const unpacked = native('-e', hostileArchive, folder, '-s');
  assert.equal(unpacked.status, 1);
  await $eval(`pickFolder('hostile')`);
  await marker('unpacked');
  await page.click('#unpack');
  assert.equal(await until('document.body.dataset.unpacked'), 'incomplete');
  assert.equal(await text('status'), 'Unpacked 1 entry into hostile; 3 entries were refused (listed below).');
  assert.deepEqual(await listText(), nativeErrors(unpacked.stdout).map((l) => l.replace(`${folder}${path.sep}`, '')));
  const written = await $eval(`(async () => opfsTree(await (await navigator.storage.getDirectory()).getDirectoryHandle('hostile')))()`);
  assert.deepEqual(written, diskTree(folder));
});

test('names with control characters or bidirectional overrides are shown as -l prints them, never reordered', async () => {
  const names = ['line\nbreak', 'tab\there', 'esc\x1b[31mred', 'c1\u0085x', 'evil\u202Etxt.exe', 'in\u2067side/inner.txt'];
  const folder = writeTree(path.join(work, 'odd'), names.map((name, i) => ({ path: name, data: Buffer.from(`file ${i}`) })));
  const archive = pack(folder, path.join(work, 'odd.dat'));
  assert.equal(await openInPage(archive), 'sound');
  await unfoldAll();
  // -l escapes the controls; the page escapes the bidirectional characters too.
  const bidi = { '\u202E': '\\342\\200\\256', '\u2067': '\\342\\201\\247' };
  const listed = native('-l', archive).stdout.split('\n').filter((l) => /^ +\d+ /.test(l))
    .map((l) => l.replace(/^ +\d+ /, '').replace(/\/$/, '').replace(/[\u202E\u2067]/g, (c) => bidi[c]));
  assert.deepEqual((await treeRows()).map((r) => r[0]).sort(), listed.sort());
  const choose = async (name) => {
    await page.focus('#tree');
    await press('Home');
    for (let i = 0; i < 10 && await activeRow() !== name; ++i) await press('ArrowDown');
    await until(`document.getElementById('preview-path').textContent === ${JSON.stringify(name)}`);
  };
  await choose('evil\\342\\200\\256txt.exe');
  // What the page shows of the names: the rows (and their titles), the look inside's
  // heading, the status.
  const unprinted = /[\u0001-\u001f\u007f-\u009f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/;
  const namesShown = () => $eval(`[...document.querySelectorAll('#rows .name, #preview-path, #status, #rename-title')]
    .map((e) => e.textContent + e.title).join(' ')`);
  assert.doesNotMatch(await namesShown(), unprinted);
  // A name with a line break, which no input holds, renamed as it was shown: it stays.
  await choose('line\\nbreak');
  await press('F2');
  await until(`document.getElementById('rename-dialog').open`);
  assert.equal(await text('rename-title'), 'Rename line\\nbreak');
  await press('Enter');
  await until(`!document.getElementById('rename-dialog').open`);
  assert.equal(await $eval(`document.getElementById('undo').disabled`), true);
  assert.ok((await treeRows()).some((r) => r[0] === 'line\\nbreak'));
  assert.doesNotMatch(await namesShown(), unprinted);
});

test('a file that is no archive is told so, as -t tells it; the archive shown stays', async () => {
  assert.equal(await openInPage(nativeArchive), 'sound');
  const files = { 'empty.dat': Buffer.alloc(0), 'zeros.dat': Buffer.alloc(16), 'picture.png': PNG };
  for (const [name, bytes] of Object.entries(files)) {
    const file = path.join(work, name);
    fs.writeFileSync(file, bytes);
    assert.equal(await openInPage(file), 'not-an-archive', name);
    assert.equal(await text('status'), `${name} cannot be opened: ERROR! Not an archive ${name}`);
    assert.equal(native('-t', file).stdout, `ERROR! Not an archive ${file}\n`);
  }
  // The archive shown before is still there, its files read as before.
  assert.equal(await text('archive-heading'), 'tree.dat');
  await page.focus('#tree');
  await press('Home');
  for (let i = 0; i < 10 && await activeRow() !== 'alpha.txt'; ++i) await press('ArrowDown');
  assert.equal(await until(`document.getElementById('preview-path').textContent === 'alpha.txt'
    && document.querySelector('#preview-body :is(pre, .error)')?.textContent`), 'alpha');
});

test('unpacking writes what -e writes; a cancel leaves no file half written', async () => {
  assert.equal(await openInPage(nativeArchive), 'sound');
  await $eval(`pickFolder('unpacked')`);
  await marker('unpacked');
  await page.click('#unpack');
  assert.equal(await until('document.body.dataset.unpacked'), 'complete');
  const written = await $eval(`(async () => opfsTree(await (await navigator.storage.getDirectory()).getDirectoryHandle('unpacked')))()`);
  const extracted = path.join(work, 'extracted');
  execFileSync(program, ['-e', nativeArchive, extracted, '-s'], { stdio: 'ignore' });
  assert.deepEqual(written, diskTree(extracted));

  const large = writeTree(path.join(work, 'large'), [
    { path: 'a.txt', data: Buffer.from('first') }, { path: 'b.bin', data: pattern(256 << 20, 2) },
  ]);
  assert.equal(await openInPage(pack(large, path.join(work, 'large.dat'))), 'sound');
  await $eval(`pickFolder('cancelled')`);
  await marker('unpacked');
  await page.click('#unpack');
  await until(`document.getElementById('progress').value > 0.05`);
  await page.click('#cancel');
  assert.equal(await until('document.body.dataset.unpacked'), 'cancelled');
  const left = await $eval(`(async () => opfsTree(await (await navigator.storage.getDirectory()).getDirectoryHandle('cancelled')))()`);
  assert.deepEqual(left, [['a.txt', 5, Buffer.from('first').toString('base64')]]);
});

test('the page\'s thread reads no File of a folder given to its input, an added one\'s sizes a slice at a time; a phone\'s paths break at /', async () => {
  // Reading each File's size here cost seconds for 10,000 of them.
  const many = writeTree(path.join(work, 'many'), Array.from({ length: 2000 }, (_, i) =>
    ({ path: `d${i % 10}/f${i}.txt`, data: Buffer.from(`file ${i}`) })));
  // Every File's size read here, and in which task of the page it was first read (the
  // first read is the one Chromium looks up on the disk).
  await $eval(`(() => {
    window.sizesRead = 0;
    window.firstReads = new Map(); // task number -> sizes first read in it
    let task = 0;
    const channel = new MessageChannel();
    channel.port1.onmessage = () => { ++task; if (!window.stopCounting) channel.port2.postMessage(0); };
    channel.port2.postMessage(0);
    const seen = new WeakSet();
    const size = Object.getOwnPropertyDescriptor(Blob.prototype, 'size');
    Object.defineProperty(Blob.prototype, 'size', { get() {
      ++window.sizesRead;
      if (!seen.has(this)) firstReads.set(task, (firstReads.get(task) ?? 0) + 1);
      seen.add(this);
      return size.get.call(this);
    } });
  })()`);
  // A folder that holds no file gives a folder input nothing: told, not ignored.
  const hollow = path.join(work, 'hollow');
  fs.mkdirSync(path.join(hollow, 'inner'), { recursive: true });
  await setFiles('#folder-input', [hollow]);
  assert.equal(await until(`/^Nothing/.test(document.getElementById('status').textContent)
    && document.getElementById('status').textContent`),
  'Nothing was packed: the folder chosen holds no files, and a folder input gives nothing else of it.');
  await marker('packed');
  await marker('opened');
  await setFiles('#folder-input', [many]);
  assert.equal(await until('document.body.dataset.packed'), 'complete');
  assert.equal(await $eval('offered()'), fs.readFileSync(pack(many, path.join(work, 'many.dat'))).toString('base64'));
  assert.ok(await $eval('window.sizesRead') < 10, `${await $eval('window.sizesRead')} sizes read on the page's thread`);
  // The same folder added to the archive shown: its sizes are read here (the tree
  // tells them), a slice at a time, never all in one task.
  assert.equal(await until('document.body.dataset.opened'), 'sound');
  await $eval('firstReads.clear()');
  await setFiles('#add-folder', [many]);
  await until(`/^In d0: added 2,000 files and 11 folders\.$/.test(document.getElementById('status').textContent)`);
  const reads = await $eval('window.stopCounting = true; [...firstReads.values()]');
  assert.equal(reads.reduce((a, b) => a + b, 0), 2000);
  assert.ok(Math.max(...reads) <= 1024, `sizes first read in each task: ${reads}`);
  await setFiles('#add-folder', [hollow]);
  assert.equal(await until(`/^Nothing/.test(document.getElementById('status').textContent)
    && document.getElementById('status').textContent`),
  'Nothing was added: the folder chosen holds no files, and a folder input gives nothing else of it.');

  const deep = writeTree(path.join(work, 'deep'), [{ path: 'maps/tiles/level-one-of-the-long-names/tiles.bin', data: pattern(100, 1) }]);
  await page.emulate(puppeteer.KnownDevices['Pixel 5']);
  assert.equal(await openInPage(pack(deep, path.join(work, 'deep.dat'))), 'sound');
  await unfoldAll();
  await press('End');
  await until(`document.getElementById('preview-path').textContent.endsWith('tiles.bin')`);
  // Each line of the path shown ends at a "/" (or is the last).
  const lines = await $eval(`(() => {
    const heading = document.getElementById('preview-path');
    const range = document.createRange();
    const lines = new Map();
    const walker = document.createTreeWalker(heading, NodeFilter.SHOW_TEXT);
    for (let node; (node = walker.nextNode());)
      for (let i = 0; i < node.length; ++i) {
        range.setStart(node, i);
        range.setEnd(node, i + 1);
        const top = Math.round(range.getBoundingClientRect().top);
        lines.set(top, (lines.get(top) ?? '') + node.data[i]);
      }
    return [...lines.values()];
  })()`);
  assert.ok(lines.length > 1, `one line: ${lines}`);
  for (const line of lines.slice(0, -1)) assert.ok(line.endsWith('/'), `a line broken inside a name: ${lines.join('|')}`);
  await shot('phone-tree', { phone: true });
  await page.emulate({ viewport: { width: 1100, height: 1000 }, userAgent: await browser.userAgent() });
});

test('Cancel while a changed archive is saved leaves the picked file as it was (the README\'s pictures)', async () => {
  // A tree of the example's kind, with a picture drawn by the browser and a large
  // file, so that saving takes long enough to be seen.
  const picture = Buffer.from(await $eval(`(async () => {
    const canvas = new OffscreenCanvas(320, 200);
    const g = canvas.getContext('2d');
    for (let y = 0; y < 10; ++y) for (let x = 0; x < 16; ++x) {
      g.fillStyle = (x * 7 + y * 3) % 5 < 2 ? '#3a7d44' : (x + y) % 7 === 0 ? '#2f6fb0' : '#d9c27a';
      g.fillRect(x * 20, y * 20, 20, 20);
    }
    return base64(new Uint8Array(await (await canvas.convertToBlob({ type: 'image/png' })).arrayBuffer()));
  })()`), 'base64');
  const folder = path.join(work, 'maps');
  fs.cpSync(new URL('../../examples/tree', import.meta.url), folder, { recursive: true });
  writeTree(folder, [{ path: 'maps/overview.png', data: picture }, { path: 'music/theme.ogg', data: pattern(3 << 20, 5) }]);
  fs.truncateSync(fs.openSync(path.join(folder, 'maps', 'terrain.bin'), 'w'), 768 << 20);
  const archive = pack(folder, path.join(work, 'maps.dat'));
  const extra = writeTree(path.join(work, 'maps-extra'), [{ path: 'level3.map', data: Buffer.from('new level\n') }]);
  for (const phone of [false, true]) {
    if (phone) await page.emulate({ ...puppeteer.KnownDevices['Pixel 5'], viewport: { ...puppeteer.KnownDevices['Pixel 5'].viewport, deviceScaleFactor: 1 } });
    assert.equal(await openInPage(archive), 'sound');
    await page.focus('#tree');
    await press('Home', 'ArrowRight', 'ArrowDown');
    await setFiles('#add-files', [path.join(extra, 'level3.map')]);
    for (let i = 0; i < 10 && await activeRow() !== 'maps/overview.png'; ++i) await press('ArrowDown');
    await until(`document.body.dataset.preview === 'image' && document.querySelector('#preview-body img').complete`);
    await $eval(`(async () => {
      const root = await navigator.storage.getDirectory();
      window.showSaveFilePicker = async () => root.getFileHandle('maps-saved.dat', { create: true });
    })()`);
    await page.click('#save-archive');
    await until(`document.getElementById('progress').value > 0.15`, 120000);
    if (shots) await page.screenshot({ path: path.join(shots, phone ? 'doc-phone.png' : 'doc-desktop.png'), fullPage: true });
    await marker('saved');
    await page.click('#cancel');
    assert.equal(await until('document.body.dataset.saved'), 'cancelled');
    assert.equal(await text('status'), 'Saving maps.dat was cancelled: nothing was saved.');
    assert.equal(await $eval(`(async () => (await (await (await navigator.storage.getDirectory())
      .getFileHandle('maps-saved.dat')).getFile()).size)()`), 0);
    await until('!document.body.dataset.busy');
    // Another archive shown over the change not saved: asked first.
    const asked = page.dialogs.length;
    assert.equal(await openInPage(nativeArchive), 'sound');
    assert.deepEqual(page.dialogs.slice(asked),
      ['maps.dat has changes that are not saved. Give them up and show another archive?']);
  }
  await page.emulate({ viewport: { width: 1100, height: 1000 }, userAgent: await browser.userAgent() });
});

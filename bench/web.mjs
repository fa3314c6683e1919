// Times the WebAssembly library in Node and the page in headless Chromium (driven by
// puppeteer-core). Prints one JSON line of millisecond lists (one warm-up run each is
// left out) and checks that every archive made is the one expected.
//
//   node bench/web.mjs node WASM TREE ARCHIVE RUNS PROGRAM
//     creating TREE's archive in Node from a list in memory (every file's bytes read
//     first), with ARCHIVE the native program's archive of it, each run paired with
//     PROGRAM's -c of TREE with one thread: { create: [...], native: [...] }
//   node bench/web.mjs page TOOLS PAGE WORK RUNS
//     in the page, with WORK holding small/ (a tree), small.dat (its archive),
//     files/ (10,000 small files), many.dat (100,000 entries), big.dat (1 GiB) and
//     big-changed.dat (big.dat with changed.bin laid over it by -u):
//     memory: packing small/ from memory (its files already in the page);
//     files, floor: packing files/ given to the folder input, and reading those same
//     Files in a Worker only (the browser's floor), both from the input's change;
//     filesTask, floorTask: the longest task of the page's thread while it packs
//     them, and while the floor reads them (Chromium's delivery of the Files counts
//     in both);
//     many, manyTask: opening many.dat until its tree shows, and the longest task;
//     save: big.dat opened, changed.bin added, Save archive until the file is written.
import crypto from 'node:crypto';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const [mode, ...args] = process.argv.slice(2);
const digest = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

// The tree's folders and files, as paths relative to it.
function walk(folder, prefix = '', out = []) {
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const rel = prefix ? `${prefix}/${entry.name}` : entry.name;
    if (entry.isDirectory()) {
      out.push({ path: rel, folder: true });
      walk(path.join(folder, entry.name), rel, out);
    } else {
      out.push({ path: rel });
    }
  }
  return out;
}

if (mode === 'node') {
  const [wasm, tree, archive, runs, program] = args;
  const { spawnSync } = await import('node:child_process');
  const again = path.join(path.dirname(archive), 'again.dat');
  const here = path.dirname(fileURLToPath(import.meta.url));
  const { load } = await import(path.join(here, '..', 'web', 'quodrel.mjs'));
  const quodrel = await load(fs.readFileSync(wasm));
  const entries = walk(tree);
  for (const e of entries) if (!e.folder) e.data = fs.readFileSync(path.join(tree, e.path));
  const create = [];
  const native = [];
  let made;
  for (let i = 0; i <= Number(runs); ++i) {
    let start = performance.now();
    spawnSync(program, ['-c', tree, again, '-s'], { env: { ...process.env, QUODREL_THREADS: '1' }, stdio: 'ignore' });
    const programMs = performance.now() - start;
    fs.rmSync(again);
    start = performance.now();
    made = quodrel.create(entries, { name: 'small.dat' }).bytes;
    if (i > 0) {
      create.push(performance.now() - start);
      native.push(programMs);
    }
  }
  if (digest(made) !== digest(fs.readFileSync(archive))) throw new Error('Node\'s archive differs from the program\'s');
  console.log(JSON.stringify({ create, native, entries: entries.length }));
  process.exit(0);
}

const [tools, pageFolder, workFolder, runs] = args;
const puppeteer = createRequire(path.join(tools, 'package.json'))('puppeteer-core');
const { serve } = await import('../web/browser/serve.mjs');
const at = (name) => path.join(workFolder, name);
const server = await serve({ '/': path.resolve(pageFolder), '/small/': at('small'), '/work/': workFolder });
const profile = at('profile');
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  args: [
    ...(process.getuid?.() === 0 ? ['--no-sandbox'] : []),
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
    '--disable-quic', '--disable-gpu', '--disable-dev-shm-usage',
  ],
  env: { ...process.env, HOME: profile },
  protocolTimeout: 1800000,
});
const result = {};
try {
  const page = await browser.newPage();
  await page.goto(`${server.url}index.html`);
  await page.waitForFunction('document.body.dataset.ready === "yes"', { timeout: 60000 });
  const evaluate = (expression) => page.evaluate(expression);
  const until = (expression) => page.waitForFunction(expression, { timeout: 1800000, polling: 10 });

  // From memory: the library alone, in the page's thread.
  const listed = walk(at('small'));
  const memory = await evaluate(`(async () => {
    const { load } = await import('./quodrel.mjs');
    const quodrel = await load();
    const entries = ${JSON.stringify(listed)};
    const files = entries.filter((e) => !e.folder);
    for (let i = 0; i < files.length; i += 32)
      await Promise.all(files.slice(i, i + 32).map(async (e) => {
        e.data = new Uint8Array(await (await fetch('/small/' + e.path.split('/').map(encodeURIComponent).join('/'))).arrayBuffer());
      }));
    const times = [];
    let made;
    for (let i = 0; i <= ${Number(runs)}; ++i) {
      const start = performance.now();
      made = quodrel.create(entries, { name: 'small.dat' }).bytes;
      if (i > 0) times.push(performance.now() - start);
    }
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', made));
    return { times, digest: [...digest].map((b) => b.toString(16).padStart(2, '0')).join('') };
  })()`);
  if (memory.digest !== digest(fs.readFileSync(at('small.dat')))) throw new Error('the page\'s archive differs');
  result.memory = memory.times;

  // The page's thread: its longest task, from the moment it is asked.
  await evaluate(`window.longest = 0;
    new PerformanceObserver((list) => { for (const e of list.getEntries()) longest = Math.max(longest, e.duration); })
      .observe({ type: 'longtask' });
    // The floor: the same Files read in a Worker, as fast as the browser gives them
    // (many as one Blob), and nothing else.
    window.floorWorker = new Worker(URL.createObjectURL(new Blob([\`
      onmessage = async ({ data: files }) => {
        const start = performance.now();
        let bytes = 0;
        for (let i = 0; i < files.length; i += 1024) bytes += (await new Blob(files.slice(i, i + 1024)).arrayBuffer()).byteLength;
        postMessage({ bytes, ms: performance.now() - start });
      };\`], { type: 'text/javascript' })));
    document.addEventListener('change', (event) => { window.changed = performance.now(); }, true);
    new MutationObserver(() => { if (document.body.dataset.packed) window.packed = performance.now(); })
      .observe(document.body, { attributes: true, attributeFilter: ['data-packed'] });`);
  const input = await page.$('#folder-input');
  result.files = [];
  result.floor = [];
  result.filesTask = [];
  result.floorTask = [];
  for (let i = 0; i <= Number(runs); ++i) {
    // The floor, from the change of an input of its own.
    await evaluate(`window.floorInput?.remove();
      window.floorInput = Object.assign(document.createElement('input'), { type: 'file', webkitdirectory: true });
      document.body.append(floorInput);
      floorInput.addEventListener('change', () => {
        const start = performance.now();
        floorWorker.onmessage = ({ data }) => { window.floor = performance.now() - start; };
        floorWorker.postMessage([...floorInput.files]);
      });
      window.floor = 0;`);
    await evaluate('window.longest = 0');
    await (await page.$('body > input:last-of-type')).uploadFile(at('files'));
    await until('window.floor > 0');
    const floorTask = await evaluate('longest');
    await evaluate('delete document.body.dataset.packed; window.longest = 0');
    await input.uploadFile(at('files'));
    await until('document.body.dataset.packed === "complete" && !document.body.dataset.busy');
    if (i > 0) {
      result.floor.push(await evaluate('floor'));
      result.files.push(await evaluate('packed - changed'));
      result.filesTask.push(await evaluate('longest'));
      result.floorTask.push(floorTask);
    }
  }
  const offered = await evaluate(`(async () => {
    const made = await (await fetch(document.getElementById('download').href)).arrayBuffer();
    return [...new Uint8Array(await crypto.subtle.digest('SHA-256', made))].map((b) => b.toString(16).padStart(2, '0')).join('');
  })()`);
  if (offered !== digest(fs.readFileSync(at('files.dat')))) throw new Error('the page\'s archive of the Files differs');

  // 100,000 entries opened and shown.
  await evaluate(`new MutationObserver(() => { if (document.body.dataset.opened) window.opened = performance.now(); })
    .observe(document.body, { attributes: true, attributeFilter: ['data-opened'] });`);
  const archiveInput = await page.$('#archive-input');
  result.many = [];
  result.manyTask = [];
  for (let i = 0; i <= Number(runs); ++i) {
    await evaluate('delete document.body.dataset.opened; window.longest = 0');
    await archiveInput.uploadFile(at('many.dat'));
    await until('document.body.dataset.opened === "sound" && !document.body.dataset.busy');
    // Scrolled to the end and back meanwhile counts in the longest task.
    await evaluate(`document.getElementById('tree').scrollTop = 1e9`);
    await new Promise((resolve) => setTimeout(resolve, 100));
    if (i > 0) {
      result.many.push(await evaluate('opened - changed'));
      result.manyTask.push(await evaluate('longest'));
    }
  }

  // A change to 1 GiB saved: the archive opened, one file added, saved to a file the
  // save picker gives (the origin's private file system).
  result.save = [];
  const changedInput = at('over/sub/changed.bin');
  for (let i = 0; i <= Math.min(Number(runs), 3); ++i) {
    await evaluate('delete document.body.dataset.opened');
    await archiveInput.uploadFile(at('big.dat'));
    await until('document.body.dataset.opened === "sound" && !document.body.dataset.busy');
    // Into sub/, as -u lays over/ over it.
    await page.focus('#tree');
    for (let k = 0; k < 20 && await evaluate(`document.querySelector('#rows .row.active .name').title`) !== 'sub'; ++k)
      await page.keyboard.press('ArrowDown');
    await page.waitForFunction(`document.getElementById('preview-path').textContent === 'sub/'`);
    await (await page.$('#add-files')).uploadFile(changedInput);
    await evaluate(`(async () => {
      const root = await navigator.storage.getDirectory();
      await root.removeEntry('saved.dat').catch(() => {});
      window.showSaveFilePicker = async () => root.getFileHandle('saved.dat', { create: true });
      delete document.body.dataset.saved;
    })()`);
    const start = Date.now();
    await page.click('#save-archive');
    await until('document.body.dataset.saved === "complete" && !document.body.dataset.busy');
    if (i > 0) result.save.push(Date.now() - start);
  }
  const saved = await evaluate(`(async () => {
    const file = await (await (await navigator.storage.getDirectory()).getFileHandle('saved.dat')).getFile();
    const hash = await crypto.subtle.digest('SHA-256', await file.arrayBuffer());
    return [...new Uint8Array(hash)].map((b) => b.toString(16).padStart(2, '0')).join('');
  })()`);
  if (saved !== digest(fs.readFileSync(at('big-changed.dat')))) throw new Error('the page\'s saved archive differs from -u\'s');
  console.log(JSON.stringify(result));
} finally {
  await browser.close();
  await server.close();
}

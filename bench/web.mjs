// Times the WebAssembly library in headless Chromium against the native program's
// archive of the same tree: packing the tree from memory (every file's bytes already in
// the page, as Uint8Arrays, fetched from a static server beforehand) and listing the
// archive (opened through a reader over its bytes in memory, every entry's path, size
// and refusal read). Each operation runs once to warm up, then RUNS times, timed inside
// the page. Then the page packs the tree as a user has it do, from its folder input. Prints one JSON line:
// { files, folders, identical, create, open, list, files_create: [ms...] }.
// Usage: node bench/web.mjs PAGE-FOLDER TREE ARCHIVE RUNS
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

import { Browser } from '../web/browser/cdp.mjs';
import { serve } from '../web/browser/serve.mjs';

const [pageFolder, tree, archive, runs] = process.argv.slice(2);
const server = await serve({
  '/': path.resolve(pageFolder), '/tree/': path.resolve(tree),
  '/archive/': path.dirname(path.resolve(archive)),
});

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
const listed = walk(path.resolve(tree));
const browser = await Browser.launch();
try {
  const page = await browser.newPage();
  await page.goto(`${server.url}index.html`);
  const result = await page.evaluate(`(async () => {
    const { load } = await import('./quodrel.mjs');
    const quodrel = await load();
    const bytes = new Uint8Array(await (await fetch('/archive/${encodeURIComponent(path.basename(archive))}')).arrayBuffer());
    // The tree in memory.
    const entries = ${JSON.stringify(listed)};
    const fetchOne = async (e) => {
      const url = '/tree/' + e.path.split('/').map(encodeURIComponent).join('/');
      e.data = new Uint8Array(await (await fetch(url)).arrayBuffer());
    };
    const files = entries.filter((e) => !e.folder);
    for (let i = 0; i < files.length; i += 32) await Promise.all(files.slice(i, i + 32).map(fetchOne));
    const timed = (work) => { const start = performance.now(); work(); return performance.now() - start; };
    const pack = () => quodrel.create(entries, { name: 'small.dat' });
    // The archive is read as the page reads a File: through a reader, which the library
    // asks for the table alone.
    const reader = { size: bytes.length, read: (at, n) => bytes.subarray(at, at + n) };
    const open = () => quodrel.open(reader).close();
    const list = () => {
      const archive = quodrel.open(reader);
      let n = 0;
      for (const entry of archive.entries) n += entry.path.length + entry.size + entry.refusal;
      archive.close();
      return n;
    };
    const made = pack().bytes;
    list();
    const create = [];
    const opening = [];
    const listing = [];
    for (let i = 0; i < ${Number(runs)}; ++i) {
      create.push(timed(pack));
      opening.push(timed(open));
      listing.push(timed(list));
    }
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', made));
    return {
      files: entries.filter((e) => !e.folder).length, folders: entries.filter((e) => e.folder).length,
      digest: [...digest].map((b) => b.toString(16).padStart(2, '0')).join(''), create, open: opening, list: listing,
    };
  })()`);
  // The page as a user drives it: the tree given to its folder input, packed in its
  // Worker from the Files (FileReaderSync reads them as the library asks), the archive
  // gathered into a Blob; timed from the input's change to the page's "packed".
  await page.evaluate(`document.addEventListener('change', () => { window.started = performance.now(); }, true);
    new MutationObserver(() => { if (document.body.dataset.packed) window.ended = performance.now(); })
      .observe(document.body, { attributes: true, attributeFilter: ['data-packed'] });`);
  result.files_create = [];
  for (let i = 0; i <= Number(runs); ++i) {
    await page.evaluate('delete document.body.dataset.packed');
    await page.setFiles('#folder-input', [path.resolve(tree)]);
    if (await page.until('document.body.dataset.packed', 600000) !== 'complete')
      throw new Error('the page did not pack the tree');
    if (i > 0) result.files_create.push(await page.evaluate('ended - started')); // the first warms up
  }
  const fromFiles = await page.evaluate(`(async () => {
    const made = await (await fetch(document.getElementById('pack-download').href)).arrayBuffer();
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', made));
    return [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
  })()`);
  const native = crypto.createHash('sha256').update(fs.readFileSync(archive)).digest('hex');
  result.identical = result.digest === native && fromFiles === native;
  delete result.digest;
  console.log(JSON.stringify(result));
} finally {
  await browser.close();
  await server.close();
}

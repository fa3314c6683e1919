// The page's pure parts under Node's test runner: the tree of an archive and its
// changes (tree.mjs), and how a file's first bytes are shown (look.mjs). What the page
// does with them in Chromium is tested end to end in web/browser/.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { Tree, badName } from '../tree.mjs';
import { asText, hex, imageType, printable } from '../look.mjs';

// A tree as an opened archive gives it: paths in the archive's order, files' sizes.
function opened(list, refused = {}) {
  const paths = list.map(([path]) => path);
  return new Tree('a.dat', {
    paths,
    sizes: list.map(([, size]) => size ?? 0),
    folders: list.map(([, size]) => (size === undefined ? 1 : 0)),
    refusals: paths.map((p) => refused[p]?.[0] ?? 0),
    words: new Map(paths.flatMap((p, i) => (refused[p] ? [[i, refused[p][1]]] : []))),
  });
}
const names = (tree, filter) => tree.rows(filter).map((row) => `${'  '.repeat(row.level - 1)}${row.node.name}`);
const file = (name, size) => ({ name, size });

test('the tree folds, counts its folders\' files and bytes, and filters by name', () => {
  const tree = opened([['a', 3], ['d'], ['d/b.txt', 5], ['d/e'], ['d/e/c.TXT', 7], ['z', 1]]);
  assert.deepEqual(names(tree), ['a', 'd', 'z']);
  const d = tree.root.children[1];
  assert.deepEqual([d.files, d.bytes, tree.root.files, tree.root.bytes], [2, 12, 4, 16]);
  d.expanded = true;
  assert.deepEqual(names(tree), ['a', 'd', '  b.txt', '  e', 'z']);
  assert.deepEqual(tree.rows().map((r) => [r.position, r.of]), [[1, 3], [2, 3], [1, 2], [2, 2], [3, 3]]);
  // The filter: matches in any letter case, and the folders above them, unfolded.
  const rows = [
    ['txt', ['d', '  b.txt', '  e', '    c.TXT']],
    ['C.t', ['d', '  e', '    c.TXT']],
    ['e', ['d', '  e']],
    ['nothing', []],
  ];
  for (const [filter, expected] of rows) assert.deepEqual(names(tree, filter), expected, filter);
  // An entry whose folder is no entry (a hostile name) stands at the top whole.
  const hostile = opened([['..'], ['../x', 4], ['y/../z', 1]], { '..': [1, 'ERROR! Unsafe name ..'] });
  assert.deepEqual(hostile.root.children.map((n) => n.path), ['..', 'y/../z']);
  assert.equal(hostile.refused, 1);
});

test('changes are made as -u lays a folder over an archive, and undone in turn', () => {
  const tree = opened([['a', 3], ['d'], ['d/b.txt', 5], ['z', 1]]);
  const [a, d] = tree.root.children;
  const before = tree.listed();
  const rows = [
    // [what, its words or result, the listing after it]
    [() => tree.rename(a, 'd'), 'd is there already', before],
    [() => tree.rename(a, 'x/y'), 'a name cannot hold /, \\, : or NUL', before],
    [() => tree.rename(a, '..'), '".." names no entry', before],
    [() => tree.rename(a, 'A'), '', null],
    [() => tree.remove(d), undefined, null],
    [() => tree.add(tree.root, [{ path: 'd/b.txt', file: file('b.txt', 9) }, { path: 'z/q', file: file('q', 2) },
      { path: 'n/m', file: file('m', 4) }, { path: 'A', folder: true }, { path: 'z/r', file: file('r', 1) }]),
    { added: { files: 2, folders: 2 }, replaced: 0, clashes: ['z', 'A'], refused: [] }, null],
  ];
  const listings = [];
  for (const [change, expected, listing] of rows) {
    assert.deepEqual(change(), expected);
    if (listing) assert.deepEqual(tree.listed(), listing);
    listings.push(tree.listed());
  }
  assert.deepEqual(tree.listed().map((e) => [e.path, e.size, e.source?.index ?? e.source?.file?.name]), [
    ['A', 3, 0], ['z', 1, 3], ['d', undefined, undefined], ['d/b.txt', 9, 'b.txt'],
    ['n', undefined, undefined], ['n/m', 4, 'm'],
  ]);
  assert.deepEqual(tree.root.children.map((n) => [n.name, n.mark]), [['A', 'renamed'], ['z', ''], ['d', 'added'], ['n', 'added']]);
  assert.equal(tree.undoWords, 'take back what was added to a.dat');
  // Each undo gives back the tree as it was before the change.
  for (let i = listings.length - 2; i >= 2; --i) {
    tree.undo();
    assert.deepEqual(tree.listed(), listings[i]);
  }
  tree.undo();
  assert.deepEqual(tree.listed(), before);
  assert.deepEqual([tree.canUndo, tree.unsaved], [false, false]);
  // Replacing a file, saved, then undoing it. A change made while an archive is saved
  // is not in it: still unsaved after.
  tree.replace(a, file('new', 11));
  assert.equal(tree.unsaved, true);
  const listedAt = tree.state;
  tree.rename(a, 'B');
  tree.saved(listedAt);
  assert.equal(tree.unsaved, true);
  tree.undo();
  assert.equal(tree.unsaved, false);
  assert.deepEqual([a.size, a.mark, a.source.file.name, tree.root.bytes], [11, 'replaced', 'new', 17]);
  tree.undo();
  assert.deepEqual([a.size, a.mark, a.source, tree.root.bytes, tree.unsaved], [3, '', { index: 0 }, 9, false]);
  assert.deepEqual(['', '.', 'ok', 'a:b', 'é'.repeat(128)].map(badName),
    ['a name cannot be empty', '"." names no entry', '', 'a name cannot hold /, \\, : or NUL', 'a name is at most 255 bytes']);
});

test('adding many into a folder of many looks each name up once, not through the folder', () => {
  const count = 4000;
  const tree = opened([['d'], ...Array.from({ length: count }, (_, i) => [`d/old${i}`, 1])]);
  const d = tree.root.children[0];
  let reads = 0; // the folder's children read one by one
  d.children = new Proxy(d.children, {
    get(target, key, receiver) {
      if (typeof key === 'string' && /^\d+$/.test(key)) ++reads;
      return Reflect.get(target, key, receiver);
    },
  });
  const items = Array.from({ length: count }, (_, i) => ({ path: i % 2 ? `new${i}` : `old${i}`, file: file('f', 2) }));
  const { added, replaced } = tree.add(d, items);
  assert.deepEqual([added.files, replaced, d.children.length, d.files], [count / 2, count / 2, 1.5 * count, 1.5 * count]);
  assert.ok(reads < 10 * count, `${reads} children read for ${count} names`);
});

test('a file\'s first bytes: images by their magic only, UTF-8 text, or hex', () => {
  const bytes = (...parts) => new Uint8Array(parts.flatMap((p) => (typeof p === 'string' ? [...Buffer.from(p)] : p)));
  const rows = [
    [bytes([0x89], 'PNG\r\n', [0x1a, 0x0a, 0]), 'image/png'],
    [bytes([0xff, 0xd8, 0xff, 0xe0]), 'image/jpeg'],
    [bytes('GIF89a'), 'image/gif'],
    [bytes('BM', [0x3a, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 40, 0, 0, 0]), 'image/bmp'],
    [bytes('BM', [0, 0]), ''], // too short to be one
    [bytes('BMW makes cars\n'), ''], // a text that starts with BM
    [bytes('RIFF', [0, 0, 0, 0], 'WEBPVP8 '), 'image/webp'],
    [bytes('RIFF', [0, 0, 0, 0], 'WAVE'), ''],
    [bytes('<svg xmlns="http://www.w3.org/2000/svg"/>'), ''],
    [bytes('<!doctype html><script>'), ''],
    [bytes([0x89], 'PNG'), ''],
  ];
  for (const [first, type] of rows) assert.equal(imageType(first), type, Buffer.from(first).toString('latin1'));
  assert.equal(asText(bytes('plain ünïcødé')), 'plain ünïcødé');
  assert.equal(asText(bytes('cut ', [0xc3])), 'cut '); // a character cut at the end
  assert.equal(asText(bytes('nul', [0])), null);
  assert.equal(asText(bytes([0xff, 0xfe, 0x41])), null);
  assert.equal(hex(bytes('0123456789abcdefXY', [0, 0x7f])),
    '00000000  30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66  0123456789abcdef\n'
    + '00000010  58 59 00 7f                                      XY..');
});

test('a name is shown as the program prints it, and no character in it reorders the rest', () => {
  const rows = [
    ['plain ünïcødé/日本語.txt', 'plain ünïcødé/日本語.txt'],
    ['line\nbreak\ttab\rreturn', 'line\\nbreak\\ttab\\rreturn'],
    ['esc\x1b[31mred\x07\x7f', 'esc\\033[31mred\\007\\177'],
    ['c1\u0085x', 'c1\\302\\205x'], // a C1 control: both of its bytes
    ['evil\u202Etxt.exe', 'evil\\342\\200\\256txt.exe'], // RIGHT-TO-LEFT OVERRIDE
    ['a\u2066b\u2069\u200F\u061C', 'a\\342\\201\\246b\\342\\201\\251\\342\\200\\217\\330\\234'],
    ['already \\n escaped', 'already \\n escaped'],
  ];
  for (const [name, shown] of rows) assert.equal(printable(name), shown, JSON.stringify(name));
});

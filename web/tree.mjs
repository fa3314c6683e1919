// The page's tree of an archive and the changes made to it, apart from any page: the
// entries as folders and files, folded and unfolded; a filter by name; the rows in
// view; changes (add, replace, remove, rename) with their undo; and the list of
// entries an archive of the changed tree is made from.

const encoder = new TextEncoder();

// Why a name cannot be given to an entry, or '' when it can: what creation would
// refuse or take for another path.
export function badName(name) {
  if (name === '') return 'a name cannot be empty';
  if (name === '.' || name === '..') return `"${name}" names no entry`;
  if (/[/\\:\0]/.test(name)) return 'a name cannot hold /, \\, : or NUL';
  if (name.length > 85 && encoder.encode(name).length > 255) return 'a name is at most 255 bytes';
  return '';
}

export class Node {
  constructor(name, folder, parent, index = -1, size = 0) {
    this.name = name;
    this.folder = folder;
    this.parent = parent;
    this.children = folder ? [] : null;
    this.expanded = false;
    this.index = index; // the entry in the opened archive, or -1
    this.size = size; // a file's bytes
    this.file = null; // a File that gives its bytes in place of the archive's
    this.refusal = 0;
    this.words = ''; // why extraction refuses it, in the program's words
    this.mark = ''; // 'added', 'replaced' or 'renamed'
    this.files = 0; // a folder's files and their bytes, all levels down
    this.bytes = 0;
    this.lowered = null;
  }

  // Where a file's bytes come from: { index } of the opened archive, or { file }.
  get source() { return this.file ? { file: this.file } : { index: this.index }; }

  set source(source) {
    this.file = source.file ?? null;
    if (!this.file) this.index = source.index;
  }

  get lower() {
    this.lowered ??= this.name.toLowerCase();
    return this.lowered;
  }

  get path() {
    const parts = [];
    for (let node = this; node.parent; node = node.parent) parts.push(node.name);
    return parts.reverse().join('/');
  }

  get level() {
    let level = 0;
    for (let node = this; node.parent; node = node.parent) ++level;
    return level;
  }

  child(name) { return this.children.find((c) => c.name === name) ?? null; }

  setName(name) {
    this.name = name;
    this.lowered = null;
  }
}

export class Tree {
  // From an opened archive's entries: { paths, sizes, folders, refusals, words }
  // (arrays in the archive's order; words: index -> text, for refused entries).
  constructor(name, entries = null) {
    this.name = name;
    this.root = new Node('', true, null);
    this.root.expanded = true;
    this.undos = [];
    this.savedAt = undefined; // the change the last archive saved was made after
    this.refused = 0;
    this.folderAt = new Map([['', this.root]]);
    if (entries) this.fill(entries);
    this.count();
  }

  // Adds entries `from` to `to` (all by default): a page adds many in slices, so that
  // it is never held long.
  fill({ paths, sizes, folders, refusals, words }, from = 0, to = paths.length) {
    const { folderAt } = this;
    for (let i = from; i < to; ++i) {
      const path = paths[i];
      const cut = path.lastIndexOf('/');
      // An entry whose folder is no folder entry (a hostile name) stands at the root
      // under its whole path.
      const parent = cut > 0 ? folderAt.get(path.slice(0, cut)) : this.root;
      const name = parent && cut > 0 ? path.slice(cut + 1) : path;
      const node = new Node(name, folders[i] === 1, parent ?? this.root, i, sizes[i]);
      if (refusals[i]) {
        node.refusal = refusals[i];
        node.words = words.get(i) ?? '';
        ++this.refused;
      }
      if (node.folder && !folderAt.has(path)) folderAt.set(path, node);
      node.parent.children.push(node);
    }
  }

  // Each folder's files and bytes, all levels down.
  count() {
    const walk = (folder) => {
      let files = 0;
      let bytes = 0;
      for (const child of folder.children) {
        if (child.folder) {
          walk(child);
          files += child.files;
          bytes += child.bytes;
        } else {
          ++files;
          bytes += child.size;
        }
      }
      folder.files = files;
      folder.bytes = bytes;
    };
    walk(this.root);
  }

  // The rows in view, in order: every node below an unfolded folder; with a filter,
  // the nodes whose name holds it (in any letter case) and the folders above them,
  // unfolded. Each row: { node, level, position, of }.
  rows(filter = '') {
    const rows = [];
    const wanted = filter.toLowerCase();
    let keep = null;
    if (wanted) {
      keep = new Set();
      const mark = (folder) => {
        let any = false;
        for (const child of folder.children) {
          const inside = child.folder && mark(child);
          if (inside || child.lower.includes(wanted)) {
            keep.add(child);
            any = true;
          }
        }
        return any;
      };
      mark(this.root);
    }
    const walk = (folder, level) => {
      const shown = keep ? folder.children.filter((c) => keep.has(c)) : folder.children;
      for (let i = 0; i < shown.length; ++i) {
        const node = shown[i];
        rows.push({ node, level, position: i + 1, of: shown.length });
        if (node.folder && (keep ? node.children.some((c) => keep.has(c)) : node.expanded)) walk(node, level + 1);
      }
    };
    walk(this.root, 1);
    return rows;
  }

  // Remembers how to undo a change, in words for the Undo button.
  done(words, undo) {
    this.undos.push({ words, undo });
    this.count();
  }

  get canUndo() { return this.undos.length > 0; }
  get undoWords() { return this.undos.at(-1)?.words ?? ''; }

  undo() {
    const last = this.undos.pop();
    if (!last) return '';
    last.undo();
    this.count();
    return last.words;
  }

  rename(node, name) {
    const why = badName(name);
    if (why) return why;
    if (name === node.name) return '';
    if (node.parent.child(name)) return `${name} is there already`;
    const { name: old, mark } = node;
    node.setName(name);
    if (!node.mark) node.mark = 'renamed';
    this.done(`rename ${name} back to ${old}`, () => {
      node.setName(old);
      node.mark = mark;
    });
    return '';
  }

  remove(node) {
    const { parent } = node;
    const at = parent.children.indexOf(node);
    parent.children.splice(at, 1);
    this.done(`bring back ${node.path || node.name}`, () => parent.children.splice(at, 0, node));
  }

  replace(node, file) {
    const { source, size, mark } = node;
    node.source = { file };
    node.size = file.size;
    if (mark !== 'added') node.mark = 'replaced';
    this.done(`put back the old ${node.name}`, () => {
      node.source = source;
      node.size = size;
      node.mark = mark;
    });
  }

  // Lays `items` ({ path below `folder`, file } or { path, folder: true }) over
  // `folder`, as quodrel -u lays a folder over an archive: a file replaces the file
  // at its path, folders merge, and a file where a folder is (or a folder where a file
  // is) is a name clash, left out. Gives what was added and replaced ({ files,
  // folders }, a count of files), the clashing paths and the names refused, each once.
  // Names are looked up in an index of each folder, so that adding many into a folder
  // of many costs what they are, not their product.
  add(folder, items) {
    const steps = [];
    const clashes = new Set();
    const refused = new Set();
    const added = { files: 0, folders: 0 };
    let replaced = 0;
    const index = new Map(); // folder -> its children by name, made when first asked
    const childOf = (parent, name) => {
      let names = index.get(parent);
      if (!names) {
        names = new Map();
        for (const child of parent.children) if (!names.has(child.name)) names.set(child.name, child);
        index.set(parent, names);
      }
      return names.get(name) ?? null;
    };
    const at = (parent, name, wantFolder, path) => {
      const why = badName(name);
      if (why) {
        refused.add(`${path}: ${why}`);
        return null;
      }
      const there = childOf(parent, name);
      if (there) {
        if (there.folder === wantFolder) return there;
        clashes.add(path);
        return null;
      }
      const node = new Node(name, wantFolder, parent);
      node.mark = 'added';
      parent.children.push(node);
      index.get(parent).set(name, node);
      ++added[wantFolder ? 'folders' : 'files'];
      steps.push(() => parent.children.splice(parent.children.indexOf(node), 1));
      return node;
    };
    for (const item of items) {
      const parts = item.path.split('/');
      let parent = folder;
      let path = folder.path;
      for (let i = 0; parent && i < parts.length; ++i) {
        path = path ? `${path}/${parts[i]}` : parts[i];
        const last = i === parts.length - 1;
        const wantFolder = !last || !!item.folder;
        const there = parent.folder ? childOf(parent, parts[i]) : null;
        const node = at(parent, parts[i], wantFolder, path);
        if (node && last && !wantFolder) {
          if (there) {
            const { source, size, mark } = node;
            steps.push(() => { node.source = source; node.size = size; node.mark = mark; });
            if (mark !== 'added') node.mark = 'replaced';
            ++replaced;
          }
          node.source = { file: item.file };
          node.size = item.file.size;
        }
        parent = node;
      }
    }
    if (steps.length) {
      const where = folder.path || this.name;
      this.done(`take back what was added to ${where}`, () => {
        for (const step of steps.reverse()) step();
      });
    }
    return { added, replaced, clashes: [...clashes], refused: [...refused] };
  }

  get changed() {
    return this.undos.length > 0;
  }

  // The tree's changes as they stand: the last change made (and not undone).
  get state() { return this.undos.at(-1); }

  // Whether there are changes that no saved archive holds.
  get unsaved() { return this.undos.length > 0 && this.state !== this.savedAt; }

  // An archive of the tree as it was at `state` (listed then) was saved.
  saved(state) { this.savedAt = state; }

  // What an archive of the tree is made from: { path, folder: true } for each folder,
  // { path, size, source } for each file, in the tree's order.
  listed() {
    const out = [];
    const walk = (folder, prefix) => {
      for (const node of folder.children) {
        const path = prefix ? `${prefix}/${node.name}` : node.name;
        if (node.folder) {
          out.push({ path, folder: true });
          walk(node, path);
        } else {
          out.push({ path, size: node.size, source: node.source });
        }
      }
    };
    walk(this.root, '');
    return out;
  }
}

// A directory handle's folders and files below it (File System Access), as the library
// takes a tree: { path, folder: true } or { path, file }, each path after `prefix` and a
// '/' (none when `prefix` is empty). The page walks one to add a folder, the Worker one
// to pack it.
export async function listHandle(handle, prefix, out) {
  for await (const [name, child] of handle.entries()) {
    const path = prefix ? `${prefix}/${name}` : name;
    if (child.kind === 'directory') {
      out.push({ path, folder: true });
      await listHandle(child, path, out);
    } else {
      out.push({ path, file: await child.getFile() });
    }
  }
  return out;
}

#!/usr/bin/env bash
# Times the WebAssembly library in Node and the page in headless Chromium (puppeteer-core,
# installed by web/tools/install.sh into WEB-BUILD-FOLDER) against the native program
# with one thread (QUODREL_THREADS=1), everything in tmpfs:
# - the small tree (a copy of /usr/include, links and empty folders left out) packed
#   from a list in memory, in Node and in the page;
# - 10,000 small files packed from the page's folder input, against the browser's
#   floor (the same Files only read, in a Worker), with the page's longest task;
# - an archive of 100,000 entries opened until its tree shows (the program: -l);
# - one 1 MiB file added to a 1 GiB archive and the archive saved (the program: -u).
# One warm-up run each, then RUNS runs; medians. Every archive made is checked against
# the program's. Usage: bench/web.sh path/to/quodrel WEB-BUILD-FOLDER [RUNS]   (Markdown)
set -euo pipefail
bin=$(realpath "$1")
web=$(realpath "$2")
runs=${3:-5}
here=$(dirname "$(realpath "$0")")
. "$here/workloads.sh"
shm=$(mktemp -d /dev/shm/quodrel-web-bench-XXXXXX)
trap 'rm -rf "$shm"' EXIT
tools=$("$here/../web/tools/install.sh" "$web")

make_small "$shm/small"
# A folder input gives files only: the tree's empty folders (a few) are left out, so
# that the page's archive from its input is the program's too.
find "$shm/small" -mindepth 1 -type d -empty -delete
node -e '
const fs = require("fs"), path = require("path");
const [files, many] = process.argv.slice(1);
for (let i = 0; i < 10000; ++i) {
  const folder = path.join(files, `d${i % 100}`);
  if (i < 100) fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, `f${i}.txt`), "x".repeat(1 + (i * 7919) % 8192));
}
for (let i = 0; i < 100000; ++i) {
  const folder = path.join(many, `f${Math.floor(i / 1000)}`);
  if (i % 1000 === 0) fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, `n${i}.txt`), String(i));
}' "$shm/files" "$shm/many"
make_big "$shm/big"
mkdir -p "$shm/over/sub"
head -c 1M /dev/urandom >"$shm/over/sub/changed.bin"
for tree in small files many big; do QUODREL_THREADS=1 "$bin" -c "$shm/$tree" "$shm/$tree.dat" -s >/dev/null; done
rm -rf "$shm/many"
cp "$shm/big.dat" "$shm/big-changed.dat"
"$bin" -u "$shm/big-changed.dat" "$shm/over" -s >/dev/null

# (its times are fractions of milliseconds, listed with commas)
median_of() { tr ',' '\n' | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
timed() { # command...: milliseconds, to a tenth
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }'
}
create=() list=() update=()
for round in $(seq 0 "$runs"); do
    c=$(timed env QUODREL_THREADS=1 "$bin" -c "$shm/small" "$shm/again.dat" -s)
    l=$(timed env QUODREL_THREADS=1 "$bin" -l "$shm/many.dat")
    cp "$shm/big.dat" "$shm/work.dat"
    u=$(timed env QUODREL_THREADS=1 "$bin" -u "$shm/work.dat" "$shm/over" -s)
    rm -f "$shm/work.dat" "$shm/again.dat"
    [ "$round" -eq 0 ] && continue
    create+=("$c") list+=("$l") update+=("$u")
done
native_create=$(IFS=,; echo "${create[*]}" | median_of)
native_list=$(IFS=,; echo "${list[*]}" | median_of)
native_update=$(IFS=,; echo "${update[*]}" | median_of)

node_json=$(node "$here/web.mjs" node "$web/quodrel.wasm" "$shm/small" "$shm/small.dat" "$runs" "$bin")
page_json=$(node "$here/web.mjs" page "$tools" "$web/page" "$shm" "$runs")
m() { node -e 'const [json, key] = process.argv.slice(1); const a = JSON.parse(json)[key];
  console.log([...a].sort((x, y) => x - y)[Math.floor((a.length - 1) / 2)].toFixed(1));' "$1" "$2"; }
node_create=$(m "$node_json" create)
node_native=$(m "$node_json" native)
page_memory=$(m "$page_json" memory)
page_files=$(m "$page_json" files)
page_floor=$(m "$page_json" floor)
files_task=$(m "$page_json" filesTask)
floor_task=$(m "$page_json" floorTask)
page_many=$(m "$page_json" many)
many_task=$(m "$page_json" manyTask)
page_save=$(m "$page_json" save)
files=$(find "$shm/small" -type f | wc -l)

cat <<EOF
## JavaScript: Node and the page (\`bench/web.sh\`)

The WebAssembly library in Node and the page in headless Chromium (driven by
puppeteer-core), beside the native program with one thread: the small tree packed from
a list in memory (every file's bytes read first; the program packs from tmpfs); an
archive of 100,000 entries opened until the page's tree shows (the program: \`-l\`); one
1 MiB file added to a 1 GiB archive and the archive saved through the page's save
picker (the program: \`-u\`). The second table packs 10,000 small files given to the
page's folder input, beside the browser's floor: the same Files only read, in a Worker,
both timed from the input's change. Rows name the longest task of the page's own thread
(the page must not stop answering for more than 100 ms). Every archive made is checked
byte-identical to the program's. One warm-up run each, then $runs runs; medians.

EOF
echo "In headless Chromium $(chromium --version 2>/dev/null | grep -oE '[0-9]+(\.[0-9]+)+' | head -1) and" \
    "Node $(node --version): the small tree is $files files; 10,000 small files of 1 to 8 KiB;" \
    "100,000 entries of a few bytes; 1 GiB in 7 files with a 1 MiB file added. Every archive is" \
    "byte-identical to the program's. quodrel.wasm is $(stat -c %s "$web/quodrel.wasm") bytes."
echo
echo '| workload | operation | quodrel ms (1 thread) | JavaScript ms | JavaScript / quodrel |'
echo '|---|---|---|---|---|'
echo "| small | create from a list in memory, in Node (paired runs) | $node_native | $node_create | $(ratio "$node_create" "$node_native") |"
echo "| small | create from memory, in the page | $native_create | $page_memory | $(ratio "$page_memory" "$native_create") |"
echo "| 100,000 entries | open until the page's tree shows (quodrel: -l); longest task $many_task ms | $native_list | $page_many | $(ratio "$page_many" "$native_list") |"
echo "| 1 GiB | a 1 MiB file added and the archive saved (quodrel: -u) | $native_update | $page_save | $(ratio "$page_save" "$native_update") |"
echo
echo '| workload | operation | browser floor ms (reading the Files) | page ms | page / floor |'
echo '|---|---|---|---|---|'
echo "| 10,000 small files | packed from the folder input; the page's longest task $files_task ms (the floor's: $floor_task ms) | $page_floor | $page_files | $(ratio "$page_files" "$page_floor") |"

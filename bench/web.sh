#!/usr/bin/env bash
# Times the WebAssembly library in headless Chromium against the native program with
# one thread (QUODREL_THREADS=1), on the small tree of bench/run.sh (a copy of
# /usr/include, links left out) in tmpfs: packing it (the page from memory: every
# file's bytes already in the page; the program from tmpfs) and listing its archive
# (the page through a reader over the archive's bytes, as it reads a File; the program
# with -l); and packing it as a user has the page do, from its folder input's Files.
# One warm-up run each, then RUNS runs; medians and the ratio page / program.
# Checks that the page's archive is byte-identical to the program's.
# Usage: bench/web.sh path/to/quodrel WEB-BUILD-FOLDER [RUNS]   (Markdown to stdout)
set -euo pipefail
bin=$(realpath "$1")
web=$(realpath "$2")
runs=${3:-5}
here=$(dirname "$(realpath "$0")")
shm=$(mktemp -d /dev/shm/quodrel-web-bench-XXXXXX)
trap 'rm -rf "$shm"' EXIT

cp -r --no-dereference /usr/include "$shm/small"
find "$shm/small" -type l -delete
# A folder input gives files only: the tree's empty folders (a few) are left out, so
# that the page's archive from its input is the program's too.
find "$shm/small" -mindepth 1 -type d -empty -delete

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
timed() { # command...: milliseconds, to a tenth
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }'
}

QUODREL_THREADS=1 "$bin" -c "$shm/small" "$shm/small.dat" -s >/dev/null
create=() list=()
timed env QUODREL_THREADS=1 "$bin" -c "$shm/small" "$shm/warm.dat" -s >/dev/null
timed "$bin" -l "$shm/small.dat" >/dev/null
for _ in $(seq "$runs"); do
    create+=("$(timed env QUODREL_THREADS=1 "$bin" -c "$shm/small" "$shm/again.dat" -s)")
    list+=("$(timed env QUODREL_THREADS=1 "$bin" -l "$shm/small.dat")")
done
native_create=$(printf '%s\n' "${create[@]}" | median)
native_list=$(printf '%s\n' "${list[@]}" | median)

json=$(node "$here/web.mjs" "$web/page" "$shm/small" "$shm/small.dat" "$runs")
read -r files folders identical page_create page_open page_list page_files < <(node -e '
const r = JSON.parse(process.argv[1]);
const median = (a) => [...a].sort((x, y) => x - y)[Math.floor((a.length - 1) / 2)].toFixed(1);
console.log(r.files, r.folders, r.identical, median(r.create), median(r.open), median(r.list),
  median(r.files_create));
' "$json")
[ "$identical" = true ] || { echo "the page's archive differs from the program's" >&2; exit 1; }

echo "In headless Chromium $(chromium --version 2>/dev/null | grep -oE '[0-9]+(\.[0-9]+)+' | head -1):" \
    "the small tree, $files files in $folders folders; the page's archive is byte-identical" \
    "to the program's. quodrel.wasm is $(stat -c %s "$web/quodrel.wasm") bytes."
echo
echo '| workload | operation | quodrel ms (1 thread) | page in Chromium ms | page / quodrel |'
echo '|---|---|---|---|---|'
echo "| small | create (page: from memory) | $native_create | $page_create | $(ratio "$page_create" "$native_create") |"
echo "| small | create (page: from its folder input's Files, in its Worker) | $native_create | $page_files | $(ratio "$page_files" "$native_create") |"
echo "| small | list (page: opened, every entry read; the open alone $page_open ms) | $native_list | $page_list | $(ratio "$page_list" "$native_list") |"

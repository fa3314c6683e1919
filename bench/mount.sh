#!/usr/bin/env bash
# Times quodrel-mount side by side with the tree itself in tmpfs and with squashfuse
# over an uncompressed squashfs image of the same tree: how long mounting takes, then
# reading every file twice (tar of the whole mounted tree into a pipe, as a backup or
# a search would). The first read reaches the mount for every byte; the second may be
# served by the kernel's cache. Everything lives in tmpfs. The tools take turns within
# each of RUNS rounds, each round a fresh mount; medians in milliseconds.
# Usage: bench/mount.sh path/to/quodrel path/to/quodrel-mount [RUNS] [TREE]
#   (writes the Markdown table to stdout; TREE defaults to a copy of /usr/include)
set -euo pipefail
bin=$(realpath "$1")
mount_bin=$(realpath "$2")
runs=${3:-5}
shm=$(mktemp -d /dev/shm/quodrel-mount-bench-XXXXXX)
points=()
cleanup() {
    for point in "${points[@]}"; do fusermount3 -u "$point" 2>/dev/null || true; done
    rm -rf "$shm"
}
trap cleanup EXIT

if [ -n "${4:-}" ]; then
    cp -r "$4" "$shm/tree"
else
    cp -r --no-dereference /usr/include "$shm/tree"
fi
find "$shm/tree" -type l -delete
"$bin" -c "$shm/tree" "$shm/tree.dat" -s >/dev/null
mksquashfs "$shm/tree" "$shm/tree.squashfs" -noI -noD -noF -noX -no-progress -quiet >/dev/null
mkdir "$shm/m"
points+=("$shm/m")

now() { date +%s%N; }
read_all() { tar -cf - -C "$1" . | cat >/dev/null; }

# One round of one tool: "mount-ms first-ms second-ms".
round() { # tool
    local start mounted first second
    start=$(now)
    case $1 in
    tree) ;;
    quodrel) "$mount_bin" "$shm/tree.dat" "$shm/m" >/dev/null ;;
    squashfuse) squashfuse "$shm/tree.squashfs" "$shm/m" ;;
    esac
    mounted=$(now)
    local dir=$shm/m
    [ "$1" = tree ] && dir=$shm/tree
    read_all "$dir"
    first=$(now)
    read_all "$dir"
    second=$(now)
    [ "$1" = tree ] || fusermount3 -u "$shm/m"
    echo "$(((mounted - start) / 1000000)) $(((first - mounted) / 1000000)) $(((second - first) / 1000000))"
}

# The mount shows what extraction writes (where an empty file is a folder, as the
# format stores it).
"$bin" -e "$shm/tree.dat" "$shm/extracted" -s >/dev/null
"$mount_bin" "$shm/tree.dat" "$shm/m" >/dev/null
diff -r "$shm/extracted" "$shm/m" >/dev/null || { echo "the mount differs from the tree" >&2; exit 1; }
fusermount3 -u "$shm/m"
rm -rf "$shm/extracted"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }

sync
sleep 5 # let what ran before (deletions, the disk's journal) settle before timing
tools=(tree quodrel squashfuse)
declare -A mount_ms=() first_ms=() second_ms=()
for tool in "${tools[@]}"; do round "$tool" >/dev/null; done # warm-up
for _ in $(seq "$runs"); do
    for tool in "${tools[@]}"; do
        read -r m f s < <(round "$tool")
        mount_ms[$tool]+="$m "
        first_ms[$tool]+="$f "
        second_ms[$tool]+="$s "
    done
done

files=$(find "$shm/tree" -type f | wc -l)
echo "Mounted: the small tree, $files files, $(du -sm "$shm/tree" | cut -f1) MiB;" \
    "every file read with \`tar -cf - -C MOUNT . | cat\`."
echo
echo '| | mount ms | first read of all, ms | x tmpfs | second read of all, ms | x tmpfs |'
echo '|---|---|---|---|---|---|'
base_first=$(printf '%s\n' ${first_ms[tree]} | median)
base_second=$(printf '%s\n' ${second_ms[tree]} | median)
for tool in "${tools[@]}"; do
    m=$(printf '%s\n' ${mount_ms[$tool]} | median)
    f=$(printf '%s\n' ${first_ms[$tool]} | median)
    s=$(printf '%s\n' ${second_ms[$tool]} | median)
    case $tool in
    tree) name="the tree itself in tmpfs"; m=- ;;
    quodrel) name="quodrel-mount" ;;
    squashfuse) name="squashfuse, uncompressed squashfs" ;;
    esac
    echo "| $name | $m | $f | $(ratio "$f" "$base_first") | $s | $(ratio "$s" "$base_second") |"
done

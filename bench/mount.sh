#!/usr/bin/env bash
# Times quodrel-mount side by side with the tree itself in tmpfs and with squashfuse
# over an uncompressed squashfs image of the same tree: how long mounting takes, then
# reading every file twice (tar of the whole mounted tree into a pipe, as a backup or
# a search would). The first read reaches the mount for every byte; the second may be
# served by the kernel's cache. Then a walk that reads no file (`find MOUNT`) on a
# fresh mount, with the bytes the daemon read meanwhile and its CPU time (from /proc,
# once it has settled: what it does ahead of reads counts). Everything lives in tmpfs.
# The tools take turns within each of RUNS rounds, each round a fresh mount; medians in
# milliseconds.
# Usage: bench/mount.sh path/to/quodrel path/to/quodrel-mount [RUNS] [TREE]
#   (writes the Markdown table to stdout; TREE defaults to a copy of /usr/include;
#   MOUNT_BEFORE=path/to/another/quodrel-mount adds its rows, taking turns with the
#   others: a change's cost in paired runs)
set -euo pipefail
. "$(dirname "$(realpath "$0")")/workloads.sh"
bin=$(realpath "$1")
mount_bin=$(realpath "$2")
before_bin=${MOUNT_BEFORE:+$(realpath "$MOUNT_BEFORE")}
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
    find "$shm/tree" -type l -delete
else
    make_small "$shm/tree"
fi
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
    before) "$before_bin" "$shm/tree.dat" "$shm/m" >/dev/null ;;
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

# What a daemon has read (its system calls' bytes, /proc/PID/io's rchar) and its CPU
# time in milliseconds, once it has stopped reading.
read_bytes() { awk '/^rchar:/ {print $2}' "/proc/$1/io"; }
cpu_ms() { awk -v tick="$(getconf CLK_TCK)" '{print ($14 + $15) * 1000 / tick}' "/proc/$1/stat"; }
settle() { # pid
    local before
    before=$(read_bytes "$1")
    while sleep 0.2 && [ "$(read_bytes "$1")" != "$before" ]; do before=$(read_bytes "$1"); done
}

# One walk of one tool that reads no file: "find-ms daemon-bytes daemon-cpu-ms"
# (0 0 for the tree itself, which no daemon serves).
walk() { # tool
    local dir=$shm/m pid='' bytes=0 cpu=0 start end
    case $1 in
    tree) dir=$shm/tree ;;
    quodrel | before)
        local daemon=$mount_bin
        [ "$1" = before ] && daemon=$before_bin
        "$daemon" "$shm/tree.dat" "$shm/m" >/dev/null
        pid=$(pgrep -n -f "$daemon $shm/tree.dat $shm/m")
        ;;
    squashfuse)
        squashfuse "$shm/tree.squashfs" "$shm/m"
        pid=$(pgrep -n -f "$shm/tree.squashfs $shm/m")
        ;;
    esac
    if [ -n "$pid" ]; then
        bytes=$(read_bytes "$pid")
        cpu=$(cpu_ms "$pid")
    fi
    start=$(now)
    find "$dir" >/dev/null
    end=$(now)
    if [ -n "$pid" ]; then
        settle "$pid"
        bytes=$(($(read_bytes "$pid") - bytes))
        cpu=$(awk -v a="$(cpu_ms "$pid")" -v b="$cpu" 'BEGIN {print a - b}')
        fusermount3 -u "$shm/m"
    fi
    echo "$(((end - start) / 1000000)) $bytes $cpu"
}

# The mount shows what extraction writes (where an empty file is a folder, as the
# format stores it).
"$bin" -e "$shm/tree.dat" "$shm/extracted" -s >/dev/null
"$mount_bin" "$shm/tree.dat" "$shm/m" >/dev/null
diff -r "$shm/extracted" "$shm/m" >/dev/null || { echo "the mount differs from the tree" >&2; exit 1; }
fusermount3 -u "$shm/m"
rm -rf "$shm/extracted"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }

sync
sleep 5 # let what ran before (deletions, the disk's journal) settle before timing
tools=(tree quodrel squashfuse)
[ -n "$before_bin" ] && tools+=(before)
declare -A mount_ms=() first_ms=() second_ms=() walk_ms=() walk_bytes=() walk_cpu=()
for tool in "${tools[@]}"; do round "$tool" >/dev/null; done # warm-up
for _ in $(seq "$runs"); do
    for tool in "${tools[@]}"; do
        read -r m f s < <(round "$tool")
        mount_ms[$tool]+="$m "
        first_ms[$tool]+="$f "
        second_ms[$tool]+="$s "
    done
    for tool in "${tools[@]}"; do
        read -r w b c < <(walk "$tool")
        walk_ms[$tool]+="$w "
        walk_bytes[$tool]+="$b "
        walk_cpu[$tool]+="$c "
    done
done

files=$(find "$shm/tree" -type f | wc -l)
cat <<EOF
## The mount (\`bench/mount.sh\`)

The small tree mounted by \`quodrel-mount\` from its archive, beside the same tree read
from tmpfs itself and mounted by squashfuse from an uncompressed squashfs image of it.
Each of $runs rounds mounts afresh, then reads every file twice with
\`tar -cf - -C MOUNT . | cat\`: the first read reaches the mount, the second may be served
by what the kernel kept; "x tmpfs" is the time over the tree's own median. The mount is
checked to show what extraction writes before anything is timed. The second table is a
walk that reads no file (\`find MOUNT\`) on a fresh mount, with what the daemon read
meanwhile and its CPU time.

EOF
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
    before) name="quodrel-mount before ($before_bin)" ;;
    esac
    echo "| $name | $m | $f | $(ratio "$f" "$base_first") | $s | $(ratio "$s" "$base_second") |"
done
echo
echo "Walked without reading a file (\`find MOUNT\`), each round on a fresh mount: what the"
echo "daemon read meanwhile (its requests included) and its CPU time, until it settled."
echo
echo '| | find ms | read by the daemon, MiB | daemon CPU ms |'
echo '|---|---|---|---|'
for tool in "${tools[@]}"; do
    w=$(printf '%s\n' ${walk_ms[$tool]} | median)
    b=$(printf '%s\n' ${walk_bytes[$tool]} | median)
    c=$(printf '%s\n' ${walk_cpu[$tool]} | median)
    mib=$(awk -v b="$b" 'BEGIN {printf "%.1f", b / 1048576}')
    case $tool in
    tree) echo "| the tree itself in tmpfs | $w | - | - |" ;;
    quodrel) echo "| quodrel-mount | $w | $mib | $c |" ;;
    squashfuse) echo "| squashfuse, uncompressed squashfs | $w | $mib | $c |" ;;
    before) echo "| quodrel-mount before ($before_bin) | $w | $mib | $c |" ;;
    esac
done

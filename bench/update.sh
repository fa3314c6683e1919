#!/usr/bin/env bash
# Times quodrel -u of one 1 MiB file into an archive, against cp of the archive (the
# floor of writing it anew) and against the way it is done without -u: extract, change,
# create. Two archives: the small tree's and 1 GiB of big files. Everything lives in
# tmpfs; the three take turns within each of RUNS rounds, each on a fresh copy of the
# archive (copied outside the timing); medians in milliseconds.
# Usage: bench/update.sh path/to/quodrel [RUNS]   (writes the Markdown table to stdout)
set -euo pipefail
bin=$(realpath "$1")
runs=${2:-5}
shm=$(mktemp -d /dev/shm/quodrel-update-bench-XXXXXX)
trap 'rm -rf "$shm"' EXIT
cp -r --no-dereference /usr/include "$shm/small"
find "$shm/small" -type l -delete
mkdir -p "$shm/big/sub"
for n in 1 2 3 4 5; do head -c 128M /dev/urandom > "$shm/big/blob$n.bin"; done
head -c 128M /dev/urandom > "$shm/big/sub/blob6.bin"
head -c 256M /dev/urandom > "$shm/big/large.bin"
mkdir -p "$shm/over/sub"
head -c 1M /dev/urandom > "$shm/over/sub/changed.bin"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "Updated: one 1 MiB file laid over each archive; cp = copying the archive once;" \
    "by hand = quodrel -e, the file copied in, quodrel -c."
echo
echo '| archive | quodrel -u ms | cp ms | by hand ms | -u / cp | -u / by hand |'
echo '|---|---|---|---|---|---|'
for tree in small big; do
    "$bin" -c "$shm/$tree" "$shm/$tree.dat" -s >/dev/null
    declare -A ms=()
    for round in $(seq 0 "$runs"); do
        for way in update cp hand; do
            rm -rf "$shm/work" "$shm/copy.dat" "$shm/x"
            cp "$shm/$tree.dat" "$shm/work.dat"
            sync
            start=$(now)
            case $way in
            update) "$bin" -u "$shm/work.dat" "$shm/over" -s >/dev/null ;;
            cp) cp "$shm/$tree.dat" "$shm/copy.dat" ;;
            hand)
                "$bin" -e "$shm/work.dat" "$shm/x" -s >/dev/null
                cp -r "$shm/over/." "$shm/x/"
                "$bin" -c "$shm/x" "$shm/work.dat" -s >/dev/null ;;
            esac
            [ "$round" -gt 0 ] && ms[$way]+="$((($(now) - start) / 1000000)) "
            true
        done
    done
    u=$(printf '%s\n' ${ms[update]} | median)
    c=$(printf '%s\n' ${ms[cp]} | median)
    h=$(printf '%s\n' ${ms[hand]} | median)
    echo "| $tree | $u | $c | $h | $(ratio "$u" "$c") | $(ratio "$u" "$h") |"
    unset ms
    rm -rf "$shm/$tree" "$shm/$tree.dat" "$shm/work.dat" "$shm/copy.dat" "$shm/x"
done

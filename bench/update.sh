#!/usr/bin/env bash
# Times quodrel -u of one 1 MiB file into an archive, against cp of the archive (the
# floor of writing it anew: into a new file, and over a copy of it, which frees the
# pages of the one replaced as -u must) and against the way it is done without -u:
# extract, change, create. Two archives: the small tree's and 1 GiB of big files.
# Everything lives in tmpfs; the four take turns within each of RUNS rounds, each on a
# fresh copy of the archive (copied outside the timing); medians in milliseconds.
# Usage: bench/update.sh path/to/quodrel [RUNS]   (writes the Markdown table to stdout)
set -euo pipefail
. "$(dirname "$(realpath "$0")")/workloads.sh"
bin=$(realpath "$1")
runs=${2:-5}
shm=$(mktemp -d /dev/shm/quodrel-update-bench-XXXXXX)
trap 'rm -rf "$shm"' EXIT
make_small "$shm/small"
make_big "$shm/big"
mkdir -p "$shm/over/sub"
head -c 1M /dev/urandom > "$shm/over/sub/changed.bin"

now() { date +%s%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

cat <<EOF
## Updating, -u (\`bench/update.sh\`)

One 1 MiB file laid over the small tree's archive and over the big one, beside \`cp\` of
the archive into a new file (the floor of writing it anew), \`cp\` over a copy of the
archive (the floor of replacing it: the kernel frees the replaced file's pages, as it
frees the old archive's when \`-u\` puts the new one in its place) and beside doing it by
hand (\`-e\`, the file copied in, \`-c\`). Everything lives in tmpfs; the four take turns
within each of $runs rounds, each on a fresh copy of the archive made outside the
timing; medians in milliseconds.

EOF
echo "Updated: one 1 MiB file laid over each archive; cp = copying the archive once into" \
    "a new file; cp over = copying it over a copy of it (whose pages the kernel frees, as" \
    "it frees those of the archive -u replaces); by hand = quodrel -e, the file copied in," \
    "quodrel -c."
echo
echo '| archive | quodrel -u ms | cp ms | cp over ms | by hand ms | -u / cp | -u / cp over | -u / by hand |'
echo '|---|---|---|---|---|---|---|---|'
for tree in small big; do
    "$bin" -c "$shm/$tree" "$shm/$tree.dat" -s >/dev/null
    declare -A ms=()
    for round in $(seq 0 "$runs"); do
        for way in update cp over hand; do
            rm -rf "$shm/work" "$shm/copy.dat" "$shm/x"
            cp "$shm/$tree.dat" "$shm/work.dat"
            sync
            start=$(now)
            case $way in
            update) "$bin" -u "$shm/work.dat" "$shm/over" -s >/dev/null ;;
            cp) cp "$shm/$tree.dat" "$shm/copy.dat" ;;
            over) cp "$shm/$tree.dat" "$shm/work.dat" ;;
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
    o=$(printf '%s\n' ${ms[over]} | median)
    h=$(printf '%s\n' ${ms[hand]} | median)
    echo "| $tree | $u | $c | $o | $h | $(ratio "$u" "$c") | $(ratio "$u" "$o") | $(ratio "$u" "$h") |"
    unset ms
    rm -rf "$shm/$tree" "$shm/$tree.dat" "$shm/work.dat" "$shm/copy.dat" "$shm/x"
done

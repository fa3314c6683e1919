#!/usr/bin/env bash
# Times quodrel -d (how an archive differs from a folder) on the small tree against
# GNU tar's -d of a tar of the same tree, and against merely reading the archive and
# every file of the tree once. Everything lives in tmpfs; the
# tools take turns within each of RUNS rounds; medians in milliseconds.
# Usage: bench/compare.sh path/to/quodrel [RUNS]   (writes the Markdown table to stdout)
set -euo pipefail
. "$(dirname "$(realpath "$0")")/workloads.sh"
bin=$(realpath "$1")
runs=${2:-5}
shm=$(mktemp -d /dev/shm/quodrel-compare-bench-XXXXXX)
trap 'rm -rf "$shm"' EXIT
make_small "$shm/tree"
# (and empty files: the format stores one as an empty folder, a difference -d names)
find "$shm/tree" -type f -empty -delete
"$bin" -c "$shm/tree" "$shm/tree.dat" -s >/dev/null
tar -cf "$shm/tree.tar" -C "$shm/tree" .
# Both see no difference, or the timing would be of something else.
"$bin" -d "$shm/tree.dat" "$shm/tree" >/dev/null || { echo "quodrel -d found differences" >&2; exit 1; }
(cd "$shm/tree" && tar -df "$shm/tree.tar") || { echo "tar -d found differences" >&2; exit 1; }

now() { date +%s%N; }
run() { # tool
    case $1 in
    quodrel1) QUODREL_THREADS=1 "$bin" -d "$shm/tree.dat" "$shm/tree" >/dev/null ;;
    quodrel) "$bin" -d "$shm/tree.dat" "$shm/tree" >/dev/null ;;
    tar) (cd "$shm/tree" && tar -df "$shm/tree.tar") ;;
    both) cat "$shm/tree.dat" >/dev/null && find "$shm/tree" -type f -print0 | xargs -0 cat >/dev/null ;;
    esac
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

tools=(quodrel1 quodrel tar both)
declare -A ms=()
for tool in "${tools[@]}"; do run "$tool"; done # warm-up
for _ in $(seq "$runs"); do
    for tool in "${tools[@]}"; do
        start=$(now)
        run "$tool"
        ms[$tool]+="$(((($(now) - start)) / 1000000)) "
    done
done
for tool in "${tools[@]}"; do declare "med_$tool=$(printf '%s\n' ${ms[$tool]} | median)"; done
cat <<EOF
## Comparing, -d (\`bench/compare.sh\`)

The small tree (its empty files left out: the format stores an empty file as an empty
folder, which \`-d\` names as a difference) compared with its archive by \`quodrel -d\`
(one thread, and one per core), beside GNU tar's \`-d\` of a tar of the same tree, and beside reading the archive
and every file of the tree once (\`cat\`), with no comparison at all. Both tools are
checked to find no difference first. Everything lives in tmpfs; the tools take turns
within each of $runs rounds; medians in milliseconds.

EOF
echo "Compared: the small tree with its archive, no difference; reading both = the archive and every file read once with cat."
echo
echo '| quodrel threads | quodrel -d ms | GNU tar -d ms | reading both ms | quodrel / tar | quodrel / reading both |'
echo '|---|---|---|---|---|---|'
for row in quodrel1 quodrel; do
    med=med_$row
    threads=$(nproc)
    [ "$row" = quodrel1 ] && threads=1
    echo "| $threads | ${!med} | $med_tar | $med_both | $(ratio "${!med}" "$med_tar") | $(ratio "${!med}" "$med_both") |"
done

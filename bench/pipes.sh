#!/usr/bin/env bash
# Times quodrel's archives through pipes against the same work on files, on the two
# workloads of run.sh (made at run time in tmpfs): -c DIR - into a file against -c DIR
# FILE, and cat ARCHIVE | quodrel -e - OUT against quodrel -e ARCHIVE OUT, each with one
# thread per core, taking turns within each of RUNS rounds after one warm-up; medians in
# milliseconds and each way's highest peak memory (/usr/bin/time; for a pipe, the larger
# of its two ends). The piped routes keep only the table: their peak memory stays flat
# from the small workload to the big one, whose data is eight times larger. Beside the
# extraction, the floor of any reader of a pipe: the archive merely moved through one
# (cat ARCHIVE | cat > /dev/null).
# Usage: bench/pipes.sh path/to/quodrel [RUNS]   (writes the Markdown table to stdout)
set -euo pipefail
. "$(dirname "$(realpath "$0")")/workloads.sh"
bin=$(realpath "$1")
runs=${2:-5}
shm=$(mktemp -d /dev/shm/quodrel-pipes-bench-XXXXXX)
trap 'rm -rf "$shm"' EXIT
make_small "$shm/small"
make_big "$shm/big"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# Runs one way, timed, after its untimed clean-up: prints "milliseconds peak-KiB".
way() { # way tree
    rm -rf "$shm/out" "$shm/out.dat"
    local start end command
    case $1 in
    file-c) command="'$bin' -c '$shm/$2' '$shm/out.dat' -s" ;;
    pipe-c) command="'$bin' -c '$shm/$2' - -s > '$shm/out.dat'" ;;
    file-e) command="'$bin' -e '$shm/$2.dat' '$shm/out' -s" ;;
        pipe-e) command="cat '$shm/$2.dat' | '$bin' -e - '$shm/out' -s" ;;
    floor-e) command="cat '$shm/$2.dat' | cat > /dev/null" ;;
    esac
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$shm/rss" sh -c "$command" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "$(((end - start) / 1000000)) $(tail -1 "$shm/rss")"
}

cat <<EOF
## Through pipes (\`bench/pipes.sh\`)

\`-c DIR -\` into a file beside \`-c DIR FILE\`, and \`cat ARCHIVE | quodrel -e - OUT\` beside
\`quodrel -e ARCHIVE OUT\`, on the two workloads above, with one thread per core, taking
turns within each of $runs rounds after one warm-up; medians in milliseconds and each
way's highest peak memory (for a pipe, the larger of its two ends). Beside the
extraction stands the floor of any reader of a pipe: the archive merely moved through
one (\`cat ARCHIVE | cat > /dev/null\`). The piped routes keep only the archive's table,
so their peak memory should stay flat from the small workload to the big one.

EOF
echo "Through pipes: -c DIR - into a file, and cat ARCHIVE | quodrel -e - OUT, beside the" \
    "same on files; $(nproc) threads."
echo
echo '| workload | operation | file ms | pipe ms | pipe / file | through a pipe alone ms | pipe / pipe alone | peak MiB: file, pipe |'
echo '|---|---|---|---|---|---|---|---|'
for tree in small big; do
    "$bin" -c "$shm/$tree" "$shm/$tree.dat" -s >/dev/null
    # The pipe's archive is the file's, byte for byte.
    "$bin" -c "$shm/$tree" - -s 2>/dev/null | cmp -s - "$shm/$tree.dat" ||
        { echo "the piped archive differs" >&2; exit 1; }
        for op in c e; do
        declare -A ms=() kib=()
        ways=(file pipe)
        [ "$op" = e ] && ways+=(floor)
        for w in "${ways[@]}"; do way "$w-$op" "$tree" >/dev/null; done # warm-up
        for _ in $(seq "$runs"); do
            for w in "${ways[@]}"; do
                read -r t m < <(way "$w-$op" "$tree")
                ms[$w]+="$t "
                kib[$w]+="$m "
            done
        done
                f=$(printf '%s\n' ${ms[file]} | median)
        p=$(printf '%s\n' ${ms[pipe]} | median)
        label="create: -c DIR - > FILE"
        floor="- | -"
        if [ "$op" = e ]; then
            label="extract: cat ARCHIVE \\| -e - OUT"
            a=$(printf '%s\n' ${ms[floor]} | median)
            floor="$a | $(ratio "$p" "$a")"
        fi
        echo "| $tree | $label | $f | $p | $(ratio "$p" "$f") | $floor |" \
            "$(mib "$(printf '%s\n' ${kib[file]} | maximum)"), $(mib "$(printf '%s\n' ${kib[pipe]} | maximum)") |"
        unset ms kib
    done
    rm -rf "$shm/$tree" "$shm/$tree.dat" "$shm/out" "$shm/out.dat"
done

#!/usr/bin/env bash
# Times quodrel side by side with GNU tar and bsdtar, and with cp -r as the floor for
# moving the same bytes, on two workloads made at run time:
#   small: a copy of /usr/include, links left out (about 8,000 files, 800 folders)
#   big:   six files of 128 MiB and one of 256 MiB, random bytes, one in a subfolder
# quodrel runs twice in each turn: with one thread (QUODREL_THREADS=1) and with one
# per core. Trees and archives live in tmpfs (/dev/shm); extraction is timed into tmpfs
# and onto the disk. After one warm-up run of each, the tools take turns (A B C D, A B C
# D, ...) for RUNS runs; medians are reported, with each tool's peak memory. Every
# extraction goes into a fresh folder; on the disk the folders of one row are only
# removed after its last run (ext4 is slow to create files for seconds after many were
# deleted), and clean-up is never timed. Last, quodrel alone on trees twice as large
# shows whether its cost grows linearly.
# Usage: bench/run.sh path/to/quodrel [RUNS]   (writes the Markdown table to stdout)
set -euo pipefail
bin=$(realpath "$1")
runs=${2:-5}
here=$(dirname "$(realpath "$0")")
. "$here/workloads.sh"
shm=$(mktemp -d /dev/shm/quodrel-bench-XXXXXX)
disk=$(mktemp -d "$here/work-XXXXXX")
trap 'rm -rf "$shm" "$disk"' EXIT

small_copies() { # folder copies: the small tree as many times over, side by side
    for i in $(seq "$2"); do
        make_small "$1/include$i"
    done
}

# The command that creates (or, for cp, copies) with one tool, in the array `command`.
cores=$(nproc)
create_command() { # tool tree archive
    case $1 in
    quodrel1) command=(env QUODREL_THREADS=1 "$bin" -c "$2" "$3" -s) ;;
    quodrel) command=(env QUODREL_THREADS="$cores" "$bin" -c "$2" "$3" -s) ;;
    tar) command=(tar -cf "$3" -C "$2" .) ;;
    bsdtar) command=(bsdtar -cf "$3" -C "$2" .) ;;
    cp) command=(cp -r "$2" "$3") ;;
    esac
}

# The command that extracts with one tool; tar and bsdtar need the folder made first.
extract_command() { # tool archive dest
    case $1 in
    quodrel1) command=(env QUODREL_THREADS=1 "$bin" -e "$2" "$3" -s) ;;
    quodrel) command=(env QUODREL_THREADS="$cores" "$bin" -e "$2" "$3" -s) ;;
    tar) mkdir "$3" && command=(tar -xf "$2" -C "$3") ;;
    bsdtar) mkdir "$3" && command=(bsdtar -xf "$2" -C "$3") ;;
    cp) command=(cp -r "$2" "$3") ;;
    esac
}

create() { # tool tree archive
    create_command "$@"
    "${command[@]}"
}

# Runs `command`, timed: prints "milliseconds peak-KiB".
timed() {
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$shm/rss" "${command[@]}" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "$(((end - start) / 1000000)) $(tail -1 "$shm/rss")"
}

# The archive (or, for cp, the copied tree) each tool extracts from; both quodrel
# rows read the same archive.
source_of() { # tool tree
    case $1 in
    cp) echo "$shm/$2" ;;
    quodrel1) echo "$shm/$2.quodrel" ;;
    *) echo "$shm/$2.$1" ;;
    esac
}

measure() { # op tool tree
    local op=$1 tool=$2 tree=$3
    case $op in
    create)
        rm -rf "$shm/out"
        create_command "$tool" "$shm/$tree" "$shm/out"
        timed ;;
    "extract, tmpfs")
        rm -rf "$shm/x"
        extract_command "$tool" "$(source_of "$tool" "$tree")" "$shm/x"
        timed ;;
    "extract, disk")
        extract_command "$tool" "$(source_of "$tool" "$tree")" "$(mktemp -u -d "$disk/x-XXXXXX")"
        timed ;;
    esac
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

small_copies "$shm/small" 1
make_big "$shm/big"
files=$(find "$shm/small" -type f | wc -l)
folders=$(find "$shm/small" -mindepth 1 -type d | wc -l)
cat <<EOF
## Against GNU tar, bsdtar and cp -r (\`bench/run.sh\`)

quodrel against GNU tar, bsdtar and \`cp -r\` (the floor: the same bytes moved with no
archive at all) on two workloads made at run time: small, a copy of /usr/include with
links left out; big, six files of 128 MiB and one of 256 MiB of random bytes, one in a
subfolder. quodrel runs twice in each turn: with one thread (\`QUODREL_THREADS=1\`, the
calling thread alone) and with one thread per core. Trees and archives live in tmpfs;
extraction is timed into tmpfs and onto the disk. After one warm-up run of each, the
five take turns within each of $runs runs; the table gives medians in milliseconds and
each tool's highest peak memory (\`/usr/bin/time\`). Ratios are quodrel's time over the
faster of GNU tar and bsdtar, and over \`cp -r\`: below 1 means quodrel is faster. Each
extraction goes into a fresh folder; onto the disk, the folders of a row are removed
only after its last run, as ext4 creates files slowly for seconds after many were
deleted. Every thread count is checked to write the very same archive. The second table
is quodrel alone on each workload once and twice over: a ratio near 2 means a cost
linear in entries and bytes.

EOF
echo "Workloads: small = $files files in $folders folders," \
    "$(du -sm "$shm/small" | cut -f1) MiB; big = 7 files, $(du -sm "$shm/big" | cut -f1) MiB."
echo
echo '| workload | operation | quodrel threads | quodrel ms | GNU tar ms | bsdtar ms | cp -r ms | quodrel / faster tar | quodrel / cp -r | peak MiB: quodrel, tar, bsdtar, cp |'
echo '|---|---|---|---|---|---|---|---|---|---|'
tools=(quodrel1 quodrel tar bsdtar cp)
for tree in small big; do
    for tool in quodrel tar bsdtar; do
        create "$tool" "$shm/$tree" "$shm/$tree.$tool" >/dev/null
    done
    # Every thread count writes the very same archive.
    create quodrel1 "$shm/$tree" "$shm/$tree.quodrel1" >/dev/null
    cmp -s "$shm/$tree.quodrel1" "$shm/$tree.quodrel" || { echo "the archives differ" >&2; exit 1; }
    for op in create "extract, tmpfs" "extract, disk"; do
        declare -A ms=() kib=()
        for tool in "${tools[@]}"; do measure "$op" "$tool" "$tree" >/dev/null; done # warm-up
        for _ in $(seq "$runs"); do
            for tool in "${tools[@]}"; do
                read -r t m < <(measure "$op" "$tool" "$tree")
                ms[$tool]+="$t "
                kib[$tool]+="$m "
            done
        done
        rm -rf "$shm/x" "$disk"/x-* "$shm/out"
        sync
        sleep 5 # let the deletions settle before the next row
        for tool in "${tools[@]}"; do
            declare "med_$tool=$(printf '%s\n' ${ms[$tool]} | median)"
            declare "peak_$tool=$(mib "$(printf '%s\n' ${kib[$tool]} | maximum)")"
        done
        faster=$med_tar
        [ "$med_bsdtar" -lt "$faster" ] && faster=$med_bsdtar
        for row in quodrel1 quodrel; do
            med=med_$row
            peak=peak_$row
            threads=$cores
            [ "$row" = quodrel1 ] && threads=1
            printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s, %s, %s, %s |\n' "$tree" "$op" \
                "$threads" "${!med}" "$med_tar" "$med_bsdtar" "$med_cp" \
                "$(ratio "${!med}" "$faster")" "$(ratio "${!med}" "$med_cp")" \
                "${!peak}" "$peak_tar" "$peak_bsdtar" "$peak_cp"
        done
        unset ms kib
    done
    rm -f "$shm/$tree".*
done

# Linearity: quodrel alone (one thread per core), each workload at two sizes, in tmpfs: /usr/include once
# and twice over; 512 MiB and the 1 GiB of the big workload (an archive holds less
# than 2 GiB).
echo
echo '| workload | operation | 1x ms | 2x ms | 2x / 1x |'
echo '|---|---|---|---|---|'
rm -rf "$shm/big"
mv "$shm/small" "$shm/small1"
small_copies "$shm/small2" 2
make_big "$shm/big1" half
make_big "$shm/big2"
for tree in small big; do
    for size in 1 2; do
        "$bin" -c "$shm/$tree$size" "$shm/$tree$size.quodrel" -s >/dev/null
    done
    for op in create "extract, tmpfs"; do
        declare -A ms=()
        for _ in $(seq "$runs"); do
            for size in 1 2; do
                read -r t _ < <(measure "$op" quodrel "$tree$size")
                ms[$size]+="$t "
            done
        done
        one=$(printf '%s\n' ${ms[1]} | median)
        two=$(printf '%s\n' ${ms[2]} | median)
        printf '| %s | %s | %s | %s | %s |\n' "$tree" "$op" "$one" "$two" "$(ratio "$two" "$one")"
        unset ms
    done
    rm -rf "$shm/$tree"1* "$shm/$tree"2* "$shm/x" "$shm/out"
done

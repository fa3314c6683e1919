#!/usr/bin/env bash
# Times creation and extraction side by side with GNU tar and bsdtar, on many small
# files and on a few big ones. Trees and archives live in tmpfs (/dev/shm); extraction
# is timed into tmpfs and onto disk. Median of RUNS runs; clean-up is never timed.
# Usage: bench/run.sh path/to/quodrel [RUNS]
set -euo pipefail
bin=$(realpath "$1")
runs=${2:-5}
command -v bsdtar >/dev/null || { apt-get update -qq && apt-get install -y -qq libarchive-tools >/dev/null; }
shm=$(mktemp -d /dev/shm/quodrel-bench-XXXXXX)
disk=$(mktemp -d "$(dirname "$(realpath "$0")")/work-XXXXXX")
trap 'rm -rf "$shm" "$disk"' EXIT

make_trees() {
    # 20,000 small files (1 B to 8 KiB) in 200 folders; 4 files of 200 MiB.
    python3 - "$shm/small" "$shm/big" <<'PY'
import os, random, sys
random.seed(1)
small, big = sys.argv[1], sys.argv[2]
for d in range(20):
    for s in range(10):
        folder = os.path.join(small, f"dir{d}", f"sub{s}")
        os.makedirs(folder)
        for f in range(100):
            with open(os.path.join(folder, f"file{f}.dat"), "wb") as out:
                out.write(random.randbytes(random.randint(1, 8192)))
os.makedirs(big)
for f in range(4):
    with open(os.path.join(big, f"blob{f}.bin"), "wb") as out:
        for _ in range(200):
            out.write(random.randbytes(1 << 20))
PY
}

# median of the timings (ms) printed by the command
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

time_ms() { # command...
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

create() { # tool tree archive
    case $1 in
    quodrel) "$bin" -c "$2" "$3" -s ;;
    tar) tar -cf "$3" -C "$2" . ;;
    bsdtar) bsdtar -cf "$3" -C "$2" . ;;
    esac
}

extract() { # tool archive dest
    mkdir -p "$3"
    case $1 in
    quodrel) "$bin" -e "$2" "$3" -s ;;
    tar) tar -xf "$2" -C "$3" ;;
    bsdtar) bsdtar -xf "$2" -C "$3" ;;
    esac
}

make_trees
printf '| tree | operation | quodrel ms | GNU tar ms | bsdtar ms | tar / quodrel | bsdtar / quodrel |\n'
printf '|---|---|---|---|---|---|---|\n'
# One run of one tool for one operation; prints milliseconds.
measure() { # op tool tree
    local op=$1 tool=$2 tree=$3
    case $op in
    create)
        rm -f "$shm/out.$tool"
        time_ms create "$tool" "$shm/$tree" "$shm/out.$tool" ;;
    "extract to tmpfs")
        rm -rf "$shm/x"; sync
        time_ms extract "$tool" "$shm/$tree.$tool" "$shm/x" ;;
    "extract to disk")
        rm -rf "$disk/x"; sync; sleep 2 # let the file system settle after deleting
        time_ms extract "$tool" "$shm/$tree.$tool" "$disk/x" ;;
    esac
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
tools=(quodrel tar bsdtar)
for tree in small big; do
    for tool in "${tools[@]}"; do
        create "$tool" "$shm/$tree" "$shm/$tree.$tool" >/dev/null
    done
    for op in create "extract to tmpfs" "extract to disk"; do
        declare -A times=()
        # Tools take turns within each run, so drift in the machine hits all alike.
        for _ in $(seq "$runs"); do
            for tool in "${tools[@]}"; do
                times[$tool]+="$(measure "$op" "$tool" "$tree") "
            done
        done
        rm -rf "$shm/x" "$disk/x" "$shm"/out.*
        q=$(printf '%s\n' ${times[quodrel]} | median)
        t=$(printf '%s\n' ${times[tar]} | median)
        b=$(printf '%s\n' ${times[bsdtar]} | median)
        printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$tree" "$op" "$q" "$t" "$b" \
            "$(ratio "$t" "$q")" "$(ratio "$b" "$q")"
        unset times
    done
done

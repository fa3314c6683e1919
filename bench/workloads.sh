# The workloads and the statistics every bench script shares, sourced by each, so that
# the tables of one run measure the same trees:
#   small: a copy of /usr/include, links left out (about 8,000 files, 800 folders)
#   big:   six files of 128 MiB and one of 256 MiB, random bytes, one in a subfolder

make_small() { # FOLDER: the small tree
    mkdir -p "$(dirname "$1")"
    cp -r --no-dereference /usr/include "$1"
    find "$1" -type l -delete
}

make_big() { # FOLDER [half]: the big tree, or half of it
    mkdir -p "$1/sub"
    local count=5
    [ "${2:-}" = half ] && count=3
    for n in $(seq "$count"); do
        head -c 128M /dev/urandom > "$1/blob$n.bin"
    done
    head -c 128M /dev/urandom > "$1/sub/blob6.bin"
    [ "${2:-}" = half ] || head -c 256M /dev/urandom > "$1/large.bin"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
maximum() { sort -n | tail -1; }

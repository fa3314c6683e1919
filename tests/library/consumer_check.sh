#!/usr/bin/env bash
# Another program built against the installed library, as its users build theirs:
# examples/print_file through pkg-config and through CMake's find_package, both
# against a fresh install in a folder of its own, then run on an archive.
set -u
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix=$work/prefix
for component in library development; do
    cmake --install "$build" --prefix "$prefix" --component $component >/dev/null ||
        fail "install $component"
done
libdir=$(dirname "$(find "$prefix" -name 'libquodrel.so.2' | head -1)")
[ -n "$libdir" ] || fail "no libquodrel.so.2 installed"

mkdir -p "$work/tree/maps"
printf 'level one' > "$work/tree/maps/level1.map"
"$build/quodrel" -c "$work/tree" "$work/maps.dat" -s >/dev/null || fail "packing"

check() { # how it was built, the program
    local out
    out=$(LD_LIBRARY_PATH=$libdir "$2" "$work/maps.dat" maps/level1.map) || fail "$1: it failed"
    [ "$out" = "level one" ] || fail "$1: printed '$out'"
    LD_LIBRARY_PATH=$libdir "$2" "$work/maps.dat" maps/none 2>"$work/err" && fail "$1: no error"
    grep -qx 'maps/none: not in the archive' "$work/err" || fail "$1: said $(cat "$work/err")"
}

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc "$source/examples/print_file/print_file.c" $(pkg-config --cflags --libs quodrel) \
    -o "$work/by-pkg-config" || fail "building with pkg-config"
check pkg-config "$work/by-pkg-config"
readelf -d "$work/by-pkg-config" | grep -q 'NEEDED.*libquodrel.so.2' || fail "not linked to libquodrel.so.2"

# CMake
cmake -S "$source/examples/print_file" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null ||
    fail "configuring with find_package(Quodrel)"
cmake --build "$work/cmake" >/dev/null || fail "building with CMake"
check CMake "$work/cmake/print_file"

[ "$failures" -eq 0 ] && echo "ok: built through pkg-config and CMake, and ran"
[ "$failures" -eq 0 ]

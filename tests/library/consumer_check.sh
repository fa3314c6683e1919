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

# pkg-config --static: a C program linked with the C compiler's driver, all static,
# gets the C++ runtime and threads it needs from the file.
cc "$source/examples/print_file/print_file.c" $(pkg-config --static --cflags --libs quodrel) -static \
    -o "$work/static-by-pkg-config" >"$work/static.log" 2>&1 ||
    { fail "building statically with pkg-config --static:"; cat "$work/static.log"; }
check "pkg-config --static" "$work/static-by-pkg-config"
readelf -d "$work/static-by-pkg-config" 2>/dev/null | grep -q NEEDED && fail "not a static program"

# CMake: find_package(Quodrel) in a project of C alone, with the shared target and with
# the static one (which must bring the C++ runtime and threads itself).
for target in Quodrel::quodrel Quodrel::quodrel_static; do
    name=${target#Quodrel::}
    mkdir -p "$work/c-$name"
    cat >"$work/c-$name/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(print_file C)
find_package(Quodrel 2.1 REQUIRED)
add_executable(print_file $source/examples/print_file/print_file.c)
target_link_libraries(print_file PRIVATE $target)
CMAKE
    cmake -S "$work/c-$name" -B "$work/cmake-$name" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null ||
        fail "configuring with find_package(Quodrel) for $target"
    cmake --build "$work/cmake-$name" >"$work/cmake.log" 2>&1 ||
        { fail "building with CMake and $target:"; cat "$work/cmake.log"; }
    check "CMake $target" "$work/cmake-$name/print_file"
done
readelf -d "$work/cmake-quodrel_static/print_file" | grep -q 'NEEDED.*libquodrel' &&
    fail "Quodrel::quodrel_static linked the shared library"

[ "$failures" -eq 0 ] && echo "ok: built through pkg-config and CMake, shared and static, and ran"
[ "$failures" -eq 0 ]

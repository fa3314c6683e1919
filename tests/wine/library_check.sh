#!/usr/bin/env bash
# The library for Windows programs, as a user of the zip builds against it: quodrel.dll
# imports only Windows' own DLLs and exports exactly the interface (lib/quodrel.def);
# examples/print_file, as the zip holds it, built with mingw-w64 against the import library the zip holds
# and against one made from the export list (as other linkers' users make theirs),
# runs under Wine with the DLL beside it.
#   library_check.sh WINDOWS_BUILD SOURCE WINE_PREFIX LINUX_QUODREL
set -u
build=$(realpath "$1")
source=$(realpath "$2")
WINEPREFIX=$(realpath -m "$3")
native=$(realpath "$4")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mingw=x86_64-w64-mingw32

# What the zip holds for programs of their own.
cmake --install "$build" --prefix "$work/zip" --component development >/dev/null || fail "install"
for file in quodrel.dll lib/libquodrel.dll.a lib/quodrel.def lib/libquodrel.a include/quodrel/quodrel.h \
    examples/print_file/print_file.c; do
    [ -f "$work/zip/$file" ] || fail "the zip lacks $file"
done
dll=$work/zip/quodrel.dll

imports=$($mingw-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' |
    sort | tr '\n' ' ')
[ "$imports" = "kernel32.dll msvcrt.dll " ] || fail "quodrel.dll imports: $imports"
# (the name is each row's last field: binutils 2.44 puts the ordinal and hint before it)
exports=$($mingw-objdump -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' |
    awk '$NF ~ /^quodrel_/ {print $NF}' | sort | tr '\n' ' ')
listed=$(sed -n 's/^[[:space:]]\{1,\}\(quodrel_[a-z_]*\)$/\1/p' "$source/lib/quodrel.def" | sort |
    tr '\n' ' ')
[ -n "$exports" ] && [ "$exports" = "$listed" ] || fail "quodrel.dll exports: $exports"

# An archive to read, made by the Linux program.
mkdir -p "$work/tree/maps"
printf 'level one' > "$work/tree/maps/level1.map"
"$native" -c "$work/tree" "$work/maps.dat" -s >/dev/null || fail "packing"

# (the example's source as the zip holds it: the README's commands compile it)
cmp -s "$work/zip/examples/print_file/print_file.c" "$source/examples/print_file/print_file.c" ||
    fail "the zip's print_file.c is not examples/print_file/print_file.c"
[ "$(cd "$work/zip/examples" && find . -type f)" = ./print_file/print_file.c ] ||
    fail "the zip's examples: $(cd "$work/zip/examples" && find . -type f)"
example=$work/zip/examples/print_file/print_file.c
mkdir "$work/run"
cp "$dll" "$work/run/"
$mingw-gcc -DQUODREL_SHARED -I"$work/zip/include" "$example" -L"$work/zip/lib" -lquodrel \
    -o "$work/run/by-import-library.exe" || fail "building against libquodrel.dll.a"
$mingw-dlltool -d "$work/zip/lib/quodrel.def" -l "$work/quodrel.lib" || fail "dlltool"
$mingw-gcc -DQUODREL_SHARED -I"$work/zip/include" "$example" "$work/quodrel.lib" \
    -o "$work/run/by-def.exe" || fail "building against an import library made from quodrel.def"
for program in by-import-library by-def; do
    exe=$work/run/$program.exe
    $mingw-objdump -p "$exe" | grep -q 'DLL Name: quodrel.dll' || fail "$program: quodrel.dll not imported"
    out=$(cd "$work" && wine "$exe" maps.dat 'MAPS\level1.map' 2>"$work/err")
    [ "$out" = "level one" ] || fail "$program: printed '$out' ($(cat "$work/err"))"
    (cd "$work" && wine "$exe" maps.dat maps/none 2>"$work/err" >/dev/null) && fail "$program: no error"
    [ "$(tr -d '\r' < "$work/err")" = "maps/none: not in the archive" ] ||
        fail "$program: said $(cat "$work/err")"
done

[ "$failures" -eq 0 ] && echo "ok: quodrel.dll imports Windows' own DLLs, exports the interface, and C programs built against it run"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# The library for Windows programs, as a user of the zip builds against it: quodrel.dll
# imports only Windows' own DLLs and exports exactly the interface (lib/quodrel.def);
# examples/print_file, as the zip holds it, built with mingw-w64 as the README says
# (wmain, -municode) against the import library the zip holds, against one made from
# the export list (as other linkers' users make theirs), and statically (needing no DLL
# at all), runs under Wine on an archive named café.dat and prints a file's bytes as
# they are.
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

# An archive to read, made by the Linux program, under a name beyond ASCII.
mkdir -p "$work/tree/maps"
printf 'level one' > "$work/tree/maps/level1.map"
printf 'one\ntwo\n' > "$work/tree/maps/lines.txt"
"$native" -c "$work/tree" "$work/café.dat" -s >/dev/null || fail "packing"

# (the example's source as the zip holds it: the README's commands compile it)
cmp -s "$work/zip/examples/print_file/print_file.c" "$source/examples/print_file/print_file.c" ||
    fail "the zip's print_file.c is not examples/print_file/print_file.c"
[ "$(cd "$work/zip/examples" && find . -type f)" = ./print_file/print_file.c ] ||
    fail "the zip's examples: $(cd "$work/zip/examples" && find . -type f)"
example=$work/zip/examples/print_file/print_file.c
zip=$work/zip
mkdir "$work/run" "$work/static"
cp "$dll" "$work/run/"
# Against quodrel.dll, beside it.
$mingw-gcc -municode -DQUODREL_SHARED -I"$zip/include" "$example" -L"$zip/lib" -lquodrel \
    -o "$work/run/by-import-library.exe" || fail "building against libquodrel.dll.a"
$mingw-dlltool -d "$zip/lib/quodrel.def" -l "$work/quodrel.lib" || fail "dlltool"
$mingw-gcc -municode -DQUODREL_SHARED -I"$zip/include" "$example" "$work/quodrel.lib" \
    -o "$work/run/by-def.exe" || fail "building against an import library made from quodrel.def"
# All static, in a folder without the DLL: the static library by its file name
# (-lquodrel alone finds the import library first) or by its path.
$mingw-gcc -municode -I"$zip/include" "$example" -L"$zip/lib" -l:libquodrel.a -static -lstdc++ \
    -lpthread -o "$work/static/by-name.exe" || fail "building with -l:libquodrel.a -static"
$mingw-gcc -municode -I"$zip/include" "$example" "$zip/lib/libquodrel.a" -static -lstdc++ \
    -lpthread -o "$work/static/by-path.exe" || fail "building with lib/libquodrel.a -static"
for exe in "$work"/run/*.exe "$work"/static/*.exe; do
    program=$(basename "$(dirname "$exe")")/$(basename "$exe" .exe)
    imports=$($mingw-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' |
        sort | tr '\n' ' ')
    case $program in
    run/*) [ "$imports" = "kernel32.dll msvcrt.dll quodrel.dll " ] || fail "$program imports: $imports" ;;
    *) [ "$imports" = "kernel32.dll msvcrt.dll " ] || fail "$program imports: $imports" ;;
    esac
    out=$(cd "$work" && wine "$exe" café.dat 'MAPS\level1.map' 2>"$work/err")
    [ "$out" = "level one" ] || fail "$program: printed '$out' ($(cat "$work/err"))"
    (cd "$work" && wine "$exe" café.dat maps/lines.txt >"$work/lines" 2>"$work/err")
    cmp -s "$work/lines" "$work/tree/maps/lines.txt" ||
        fail "$program: printed $(od -c "$work/lines" | head -2) ($(cat "$work/err"))"
    (cd "$work" && wine "$exe" café.dat maps/none 2>"$work/err" >/dev/null) && fail "$program: no error"
    [ "$(tr -d '\r' < "$work/err")" = "maps/none: not in the archive" ] ||
        fail "$program: said $(cat "$work/err")"
done

[ "$failures" -eq 0 ] && echo "ok: quodrel.dll imports Windows' own DLLs, exports the interface, and C programs built against it and statically run"
[ "$failures" -eq 0 ]

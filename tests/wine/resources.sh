#!/usr/bin/env bash
# What quodrel.exe carries: it imports only Windows' own DLLs, so it runs on a bare
# Windows, and its resources are the icon group 101 of four images in a fixed order,
# the very icon in res/, and the manifest that declares long paths; nothing else.
set -u
exe=$1
res=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # label expected actual
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
check "imports only system DLLs" "kernel32.dll msvcrt.dll " "$imports"

resources=$(wrestool -l "$exe" | sed 's/ --language=[0-9]* \[.*//' | tr '\n' ' ')
check "resources: four icon images, one icon group, one manifest" \
    "--type=3 --name=1 --type=3 --name=2 --type=3 --name=3 --type=3 --name=4 --type=14 --name=101 --type=24 --name=1 " \
    "$resources"

wrestool -x --raw --type=24 --name=1 "$exe" > "$work/manifest"
if cmp -s "$work/manifest" "$res/quodrel.manifest" && grep -q '<longPathAware[^>]*>true<' "$work/manifest"; then
    echo "ok: the manifest is res/quodrel.manifest, long paths declared"
else
    echo "FAIL: the manifest in the program differs from res/quodrel.manifest"
    failures=$((failures + 1))
fi

wrestool -x --type=14 --name=101 "$exe" > "$work/group.ico"
images=$(icotool -l "$work/group.ico" | sed 's/--index=[0-9]* //' | tr '\n' ';')
check "icon group 101: 32x32/16, 48x48/256, 16x16/16, 32x32/256" \
    "--icon --width=32 --height=32 --bit-depth=4 --palette-size=16;--icon --width=48 --height=48 --bit-depth=8 --palette-size=256;--icon --width=16 --height=16 --bit-depth=4 --palette-size=16;--icon --width=32 --height=32 --bit-depth=8 --palette-size=256;" \
    "$images"

# wrestool may append bytes past the rebuilt icon's last image.
if cmp -s -n "$(stat -c %s "$res/quodrel.ico")" "$work/group.ico" "$res/quodrel.ico"; then
    echo "ok: the icon is res/quodrel.ico"
else
    echo "FAIL: the icon in the program differs from res/quodrel.ico"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]

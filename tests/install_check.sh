#!/usr/bin/env bash
# Desktop use on Linux: the install puts the program on the PATH, a launcher that
# runs it in a terminal on one dropped path, and the icon in the hicolor theme, and
# the icon files are what res/make_icon.py draws.
set -u
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$work/usr" >/dev/null || fail "cmake --install"
for file in bin/quodrel share/applications/quodrel.desktop \
    share/icons/hicolor/16x16/apps/quodrel.png share/icons/hicolor/32x32/apps/quodrel.png \
    share/icons/hicolor/48x48/apps/quodrel.png; do
    [ -f "$work/usr/$file" ] || fail "not installed: $file"
done

# The program runs on the shared library installed beside it: found through its
# RUNPATH, relative to where it lies (below /usr, in the packages, there is none).
readelf -d "$work/usr/bin/quodrel" | grep -q 'NEEDED.*libquodrel\.so\.2' ||
    fail "the program does not use libquodrel.so.2"
readelf -d "$work/usr/bin/quodrel" | grep -q 'RUNPATH.*\[\$ORIGIN/\.\./lib' ||
    fail "no RUNPATH to the library: $(readelf -d "$work/usr/bin/quodrel" | grep PATH)"
env -i "$work/usr/bin/quodrel" --version >/dev/null || fail "the installed program does not run"

desktop=$work/usr/share/applications/quodrel.desktop
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "the launcher does not validate"
fi
grep -qx 'Exec=quodrel %f' "$desktop" || fail "the launcher must pass one dropped path"
grep -qx 'Terminal=true' "$desktop" || fail "the launcher must run in a terminal"

# Dropping a folder on the launcher runs the installed program on its path.
mkdir -p "$work/drop/maps"
echo level > "$work/drop/maps/one"
(cd "$work/drop" && PATH="$work/usr/bin:$PATH" setsid quodrel "$work/drop/maps" </dev/null \
    >"$work/out") || fail "the dropped folder was not packed"
[ -s "$work/drop/maps.dat" ] || fail "no archive beside the dropped folder"
grep -q 'Press any key to quit' "$work/out" || fail "no key prompt after a dropped path"

for size in 16 32 48; do
    header=$(od -An -tx1 -j16 -N8 "$work/usr/share/icons/hicolor/${size}x${size}/apps/quodrel.png" |
        tr -d ' \n')
    [ "$header" = "$(printf '%08x%08x' "$size" "$size")" ] || fail "icon $size is not ${size}x$size"
done

python3 "$source/res/make_icon.py" --check "$work/icon" || fail "make_icon.py failed"
cmp -s "$work/icon/quodrel.ico" "$source/res/quodrel.ico" || fail "quodrel.ico is not what make_icon.py draws"
for size in 16 32 48; do
    cmp -s "$work/icon/icons/quodrel-$size.png" "$source/res/icons/quodrel-$size.png" ||
        fail "quodrel-$size.png is not what make_icon.py draws"
done

[ "$failures" -eq 0 ] && echo "ok: installed for desktop use"
[ "$failures" -eq 0 ]

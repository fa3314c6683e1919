#!/usr/bin/env bash
# Desktop use on Linux: the install puts the program on the PATH, a launcher that
# runs it in a terminal on one dropped path, and the icon in the hicolor theme, and
# the icon files are what res/make_icon.py draws. Archives are known by their content
# (shared-mime-info), whatever their name, and no other .dat is: the launcher is
# offered for them and for folders, not for every file.
set -u
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$work/usr" >/dev/null || fail "cmake --install"
for file in bin/quodrel share/applications/quodrel.desktop share/mime/packages/quodrel.xml \
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
grep -qx 'MimeType=inode/directory;application/x-quodrel-archive;' "$desktop" ||
    fail "the launcher must take folders and archives, nothing else: $(grep MimeType "$desktop")"

# Dropping a folder on the launcher runs the installed program on its path.
mkdir -p "$work/drop/maps"
echo level > "$work/drop/maps/one"
(cd "$work/drop" && PATH="$work/usr/bin:$PATH" setsid quodrel "$work/drop/maps" </dev/null \
    >"$work/out") || fail "the dropped folder was not packed"
[ -s "$work/drop/maps.dat" ] || fail "no archive beside the dropped folder"
grep -q 'Press any key to quit' "$work/out" || fail "no key prompt after a dropped path"

# The type, as the installed database and GLib (the file managers' library, which
# xdg-mime asks on such desktops) give it, reading nothing from the user's home.
type=application/x-quodrel-archive
mkdir -p "$work/data-home" "$work/types"
update-mime-database "$work/usr/share/mime" || fail "update-mime-database"
update-desktop-database "$work/usr/share/applications" || fail "update-desktop-database"
desk() {
    env HOME="$work" XDG_DATA_HOME="$work/data-home" XDG_DATA_DIRS="$work/usr/share:/usr/share" \
        XDG_CURRENT_DESKTOP=GNOME GIO_USE_VFS=local "$@"
}
cp "$work/drop/maps.dat" "$work/types/maps.dat"
cp "$work/drop/maps.dat" "$work/types/maps.DAT"
cp "$work/drop/maps.dat" "$work/types/maps" # no ending
: >"$work/types/empty.dat"
printf '\001\002\003\004binary data\000\377\376' >"$work/types/binary.dat"
printf 'x y z\n1 2 3\n' >"$work/types/table.dat"
printf ' CHELALIC\000\000\000\000' >"$work/types/shifted.dat" # the magic not at offset 0
printf 'CHELALI\000\000\000\000\000' >"$work/types/short.dat"
filetype() { # TOOL FILE: the type gio info or xdg-mime query filetype gives
    if [ "$1" = gio ]; then
        desk gio info -a standard::content-type "$2" 2>&1 | sed -n 's/^ *standard::content-type: //p'
    else
        desk xdg-mime query filetype "$2" 2>&1
    fi
}
while read -r name expected; do
    for tool in gio xdg-mime; do
        got=$(filetype $tool "$work/types/$name")
        if [ "$expected" = ours ]; then
            [ "$got" = "$type" ] || fail "$tool calls $name '$got'"
        else
            [ -n "$got" ] && [ "$got" != "$type" ] || fail "$tool calls $name '$got'"
        fi
    done
done <<'ROWS'
maps.dat ours
maps.DAT ours
maps ours
empty.dat other
binary.dat other
table.dat other
shifted.dat other
short.dat other
ROWS
# The application a file manager offers first for a type (xdg-mime's own lookup).
default_for() { desk env -u XDG_CURRENT_DESKTOP xdg-mime query default "$1"; }
[ "$(default_for "$type")" = quodrel.desktop ] || fail "the launcher is not offered for archives"
[ -z "$(default_for application/octet-stream)" ] || fail "the launcher is offered for any file"

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

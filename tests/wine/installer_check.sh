#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own made for the run (its home
# folder inside the run's folder too, so nothing reaches the user's): what the
# installer carries (the program's icon, its version, no request for administrator
# rights); a silent install writes exactly the files and registry values listed below
# and nothing else; each right-click command, run exactly as the registry spells it
# with %1 a folder or a .dat whose names hold blanks and non-ASCII characters, under
# a path over 260 characters, gives the archive and the tree the command line gives;
# the quiet uninstall string leaves the prefix as it was before, file for file and
# key for key; an older version installed first is replaced with nothing of it left.
#   installer_check.sh WINDOWS_BUILD SOURCE VERSION LINUX_QUODREL
set -u
build=$(realpath "$1")
source=$(realpath "$2")
version=$3
native=$(realpath "$4")
setup=$build/quodrel-$version-setup.exe
exe=$build/quodrel.exe
run_command=$build/tests/run_command.exe
work=$(mktemp -d)
export HOME=$work/home WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME"
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# What the installer itself carries: the program's icon (the same four images), the
# program's version, and a manifest that asks for no administrator rights.
wrestool -x --type=14 "$setup" >"$work/setup.ico" 2>/dev/null
icons() { icotool -l "$1" | sed 's/--index=[0-9]* //' | sort; }
[ -s "$work/setup.ico" ] && [ "$(icons "$work/setup.ico")" = "$(icons "$source/res/quodrel.ico")" ] ||
    fail "the installer's icon is not res/quodrel.ico: $(icons "$work/setup.ico" | tr '\n' ' ')"
mkdir "$work/icons" && icotool -x -o "$work/icons" "$work/setup.ico" &&
    mkdir "$work/ours" && icotool -x -o "$work/ours" "$source/res/quodrel.ico" &&
    for image in "$work"/ours/*; do
        cmp -s "$image" "$work/icons/setup_${image##*/quodrel_}" || fail "icon image ${image##*/} differs"
    done
strings=$(wrestool -x --raw --type=16 "$setup" | iconv -f UTF-16LE -t UTF-8 2>/dev/null |
    tr -c '[:print:]' '\n' | grep -v '^.\{0,1\}$' | tr '\n' '|')
for pair in "ProductName|Quodrel|" "ProductVersion|$version|" "FileVersion|$version|" \
    "CompanyName|the Quodrel developers|"; do
    case $strings in *"|$pair"*) ;; *) fail "the installer's version lacks $pair: $strings" ;; esac
done
wrestool -x --raw --type=24 "$setup" | grep -q 'level="asInvoker"' ||
    fail "the installer asks for more than the user's rights"

wineboot --init </dev/null >/dev/null 2>&1 || fail "wineboot"
wine=$(cd "$WINEPREFIX/drive_c/users" && ls | grep -vx Public | head -1)
dir="C:\\users\\$wine\\AppData\\Local\\Programs\\Quodrel" # where it installs by default
unix_dir=$WINEPREFIX/drive_c/users/$wine/AppData/Local/Programs/Quodrel

# The prefix as it stands: every file and folder below drive C, and the registry's
# keys and values (without Wine's timestamps), once Wine has ended and saved it.
snapshot() { # NAME
    wineserver -w
    (cd "$WINEPREFIX" && find drive_c -printf '%y %p\n' | sort) >"$work/$1.files"
    for hive in user system; do
        sed -e '/^#time=/d' -e 's/^\(\[.*\]\) [0-9]*$/\1/' "$WINEPREFIX/$hive.reg" >"$work/$1.$hive"
    done
}
# (in the order of the file: each key followed by its values, as Wine sorts them)
added() { diff "$work/$1.$3" "$work/$2.$3" | sed -n 's/^> //p' | grep -v '^$'; }
removed() { diff "$work/$1.$3" "$work/$2.$3" | sed -n 's/^< //p' | grep -v '^$'; }
snapshot before
for hive in user system; do
    grep -qi 'quodrel\|PendingFileRename' "$work/before.$hive" && fail "the new prefix has Quodrel in $hive.reg"
done

# Exactly these files and values, and nothing else, in the user's folders and HKCU.
user=drive_c/users/$wine
expected_files="d $user/AppData/Local/Programs
d $user/AppData/Local/Programs/Quodrel
f $user/AppData/Local/Programs/Quodrel/LICENSE
f $user/AppData/Local/Programs/Quodrel/README.md
f $user/AppData/Local/Programs/Quodrel/quodrel.dll
f $user/AppData/Local/Programs/Quodrel/quodrel.exe
f $user/AppData/Local/Programs/Quodrel/uninstall.exe
f $user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quodrel.lnk"
expected_values() { # VERSION: the registry's lines, as Wine saves them
    local regdir line
    regdir=$(printf '%s' "$dir" | sed 's/\\/\\\\/g')
    while IFS= read -r line; do echo "${line//DIR/"$regdir"}"; done <<EOF
[Software\\\\Classes\\\\Directory\\\\shell\\\\Quodrel.Pack]
@="Pack into a .dat archive (Quodrel)"
"Icon"="DIR\\\\quodrel.exe,0"
[Software\\\\Classes\\\\Directory\\\\shell\\\\Quodrel.Pack\\\\command]
@="\\"DIR\\\\quodrel.exe\\" \\"%1\\""
[Software\\\\Classes\\\\SystemFileAssociations\\\\.dat\\\\shell\\\\Quodrel.Unpack]
@="Unpack into a folder (Quodrel)"
"Icon"="DIR\\\\quodrel.exe,0"
[Software\\\\Classes\\\\SystemFileAssociations\\\\.dat\\\\shell\\\\Quodrel.Unpack\\\\command]
@="\\"DIR\\\\quodrel.exe\\" \\"%1\\""
[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Quodrel]
"DisplayIcon"="DIR\\\\quodrel.exe,0"
"DisplayName"="Quodrel"
"DisplayVersion"="$1"
"EstimatedSize"=dword:$(printf %08x "$size")
"InstallLocation"="DIR"
"NoModify"=dword:00000001
"NoRepair"=dword:00000001
"Publisher"="the Quodrel developers"
"QuietUninstallString"="\\"DIR\\\\uninstall.exe\\" /S _?=DIR"
"UninstallString"="\\"DIR\\\\uninstall.exe\\" _?=DIR"
"URLInfoAbout"="https://quodrel.org"
EOF
}
check_installed() { # LABEL VERSION SNAPSHOT
    [ "$(added before "$3" files)" = "$expected_files" ] ||
        fail "$1: files made: $(added before "$3" files)"
    [ -z "$(removed before "$3" files)" ] || fail "$1: files gone: $(removed before "$3" files)"
    for file in quodrel.exe quodrel.dll; do
        cmp -s "$unix_dir/$file" "$build/installer/$file" || fail "$1: $file is not the build's"
    done
    for file in README.md LICENSE; do
        cmp -s "$unix_dir/$file" "$source/$file" || fail "$1: $file is not the source's"
    done
    # (what Settings shows: the folder's size in KiB)
    size=$(($(cat "$unix_dir"/* | wc -c) / 1024))
    [ "$(added before "$3" user)" = "$(expected_values "$2")" ] ||
        fail "$1: HKCU holds:
$(diff <(expected_values "$2") <(added before "$3" user))"
    [ -z "$(removed before "$3" user)" ] || fail "$1: HKCU lost: $(removed before "$3" user)"
    grep -qi 'quodrel\|PendingFileRename' "$work/$3.system" && fail "$1: HKLM changed"
}
check_gone() { # LABEL SNAPSHOT
    [ -z "$(diff "$work/before.files" "$work/$2.files")" ] ||
        fail "$1: files left: $(diff "$work/before.files" "$work/$2.files")"
    [ -z "$(diff "$work/before.user" "$work/$2.user")" ] ||
        fail "$1: HKCU left: $(diff "$work/before.user" "$work/$2.user")"
    grep -qi 'quodrel\|PendingFileRename' "$work/$2.system" && fail "$1: HKLM changed"
}

wine "$setup" /S || fail "the silent install failed"
snapshot installed
check_installed "install" "$version" installed
echo "The install made these files and folders:"
added before installed files | sed 's/^/  /'
echo "and these registry keys and values (HKCU):"
added before installed user | sed 's/^/  /'

# The right-click commands, each run as Explorer runs it (run_command.exe reads the
# command from the registry and puts the item's path for %1), beside the command
# line's -c and -e of the same items.
long=$work/trees/$(printf '%0100d' 0)/$(printf '%0100d' 1)/$(printf '%060d' 2)
folder="My maps é 日本"
archive="Old maps ü 漢字"
mkdir -p "$long/$folder/level 1/空" "$work/source/sub"
printf 'one\r\n' >"$long/$folder/level 1/a b.txt"
printf 'ä' >"$long/$folder/ünïcode.map"
head -c 300000 /dev/urandom >"$long/$folder/big.bin"
printf 'old' >"$work/source/sub/x y.txt"
printf '' >"$work/source/empty"
"$native" -c "$work/source" "$long/$archive.dat" -s >/dev/null || fail "packing the .dat"
windows="Z:${long//\//\\}"
[ ${#windows} -gt 260 ] || fail "the path is only ${#windows} characters long"
verb() { # KEY ITEM
    wine "$run_command" "Software\\Classes\\$1\\command" "" "$2" >"$work/verb.out" 2>&1
}
verb "Directory\\shell\\Quodrel.Pack" "$windows\\$folder" ||
    fail "the pack command failed: $(cat "$work/verb.out")"
wine "$exe" -c "$windows\\$folder" "$windows\\by-command-line.dat" -s >/dev/null ||
    fail "-c of the folder"
"$native" -c "$long/$folder" "$work/by-linux.dat" -s >/dev/null
[ -f "$long/$folder.dat" ] && cmp -s "$long/$folder.dat" "$long/by-command-line.dat" &&
    cmp -s "$long/$folder.dat" "$work/by-linux.dat" || fail "the pack command's archive differs from -c's"
verb "SystemFileAssociations\\.dat\\shell\\Quodrel.Unpack" "$windows\\$archive.dat" ||
    fail "the unpack command failed: $(cat "$work/verb.out")"
wine "$exe" -e "$windows\\$archive.dat" "$windows\\by-command-line" -s >/dev/null || fail "-e of the .dat"
"$native" -e "$long/$archive.dat" "$work/by-linux" -s >/dev/null
[ -d "$long/$archive" ] && diff -r "$long/$archive" "$long/by-command-line" >/dev/null &&
    diff -r "$long/$archive" "$work/by-linux" >/dev/null || fail "the unpack command's tree differs from -e's"
grep -q '^Done' "$work/verb.out" || fail "the unpack command said: $(cat "$work/verb.out")"

# The quiet uninstall, as the registry spells it: the prefix as it was.
wine "$run_command" 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Quodrel' QuietUninstallString ||
    fail "the quiet uninstall failed"
snapshot uninstalled
check_gone "uninstall" uninstalled

# An upgrade: an older version (its verbs under other names) replaced, nothing of it
# left, the state exactly a fresh install's; then uninstalled again.
makensis -V2 -DVERSION=1.00 -DPACK_VERB=Quodrel.PackOld -DUNPACK_VERB=Quodrel.UnpackOld \
    -DPROGRAM_DIR="$build/installer" -DSOURCE="$source" -DOUTFILE="$work/older-setup.exe" \
    "$source/res/quodrel.nsi" || fail "makensis of the older version"
wine "$work/older-setup.exe" /S || fail "the older version's install"
snapshot older
grep -q 'Quodrel.PackOld' "$work/older.user" && grep -q '"DisplayVersion"="1.00"' "$work/older.user" ||
    fail "the older version did not install"
wine "$setup" /S || fail "the upgrade failed"
snapshot upgraded
check_installed "upgrade" "$version" upgraded
wine "$run_command" 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Quodrel' QuietUninstallString ||
    fail "the quiet uninstall after the upgrade failed"
snapshot uninstalled-again
check_gone "uninstall after the upgrade" uninstalled-again

[ -z "$(ls -A "$HOME")" ] || fail "the home folder holds: $(ls -A "$HOME")"
[ "$failures" -eq 0 ] && echo "ok: installed, right-clicked, upgraded and uninstalled cleanly"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# The Debian package CPack makes of the build: a sane control file with the
# libraries the program needs as dependencies, and, unpacked into a folder of its
# own, the program, the launcher, the icons, the manual page and the licence,
# nothing else; the program in it runs, its manual page renders cleanly, and
# lintian finds no error.
set -u
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || {
    fail "cpack"
    sed 's/^/  | /' "$work/cpack.log"
}
deb=$(ls "$work"/pkg/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { fail "no package made"; exit 1; }
[ "$(basename "$deb")" = "quodrel_1.01_$(dpkg --print-architecture).deb" ] ||
    fail "package named $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quodrel ] || fail "Package: $(field Package)"
[ "$(field Version)" = 1.01 ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
[ "$(field Maintainer)" = "Ilmaro <ilmaro@quodrel.org>" ] || fail "Maintainer: $(field Maintainer)"
for library in libc6 libstdc++6 libgcc-s1; do
    field Depends | grep -q "$library" || fail "Depends lacks $library: $(field Depends)"
done
description=$(field Description)
[ "$(echo "$description" | head -1)" = "pack a directory tree into a .dat archive, and unpack one" ] ||
    fail "Description: $(echo "$description" | head -1)"
[ "$(echo "$description" | wc -l)" -gt 2 ] || fail "no long description"
dpkg-deb -I "$deb" >/dev/null || fail "dpkg-deb -I"

dpkg -x "$deb" "$work/root" || fail "dpkg -x"
files=$(cd "$work/root" && find . -type f | sort)
expected="./usr/bin/quodrel
./usr/share/applications/quodrel.desktop
./usr/share/doc/quodrel/README.md
./usr/share/doc/quodrel/changelog.gz
./usr/share/doc/quodrel/copyright
./usr/share/icons/hicolor/16x16/apps/quodrel.png
./usr/share/icons/hicolor/32x32/apps/quodrel.png
./usr/share/icons/hicolor/48x48/apps/quodrel.png
./usr/share/man/man1/quodrel.1.gz"
[ "$files" = "$expected" ] || fail "files in the package:
$files"
[ "$("$work/root/usr/bin/quodrel" --version)" = "Quodrel 1.01" ] || fail "the packaged program"
warnings=$(zcat "$work/root/usr/share/man/man1/quodrel.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "the manual page: $warnings"

zcat "$work/root/usr/share/doc/quodrel/changelog.gz" | head -1 | grep -q '^quodrel (1.01) ' ||
    fail "the changelog does not start with this version"
# Debian's own checks: any error fails, the warnings are shown.
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges')
[ -z "$lintian_out" ] || echo "$lintian_out"
echo "$lintian_out" | grep -q '^E: ' && fail "lintian reports errors"

[ "$failures" -eq 0 ] && echo "ok: $(basename "$deb")"
[ "$failures" -eq 0 ]

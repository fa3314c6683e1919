#!/usr/bin/env bash
# The Debian packages CPack makes of the build. The program's: a sane control file
# with the libraries the program needs as dependencies, and, unpacked into a folder
# of its own, the program, the launcher, the icons, the manual page, the README, the
# changelog and the licence, nothing else; the program in it runs and its manual
# page renders cleanly. The library's (libquodrel2) and its development files'
# (libquodrel-dev) hold what they should. lintian finds no error in any of them.
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
deb=$(ls "$work"/pkg/quodrel_*.deb 2>/dev/null | head -1)
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

# The library and what building against it needs.
contents() { dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | sort | tr '\n' ' '; }
library=$work/pkg/libquodrel2_1.01_$(dpkg --print-architecture).deb
[ "$(contents "$library")" = "./usr/lib/libquodrel.so.2 ./usr/lib/libquodrel.so.2.1.0 ./usr/share/doc/libquodrel2/changelog.gz ./usr/share/doc/libquodrel2/copyright " ] ||
    fail "libquodrel2 holds: $(contents "$library")"
dpkg-deb --ctrl-tarfile "$library" | tar -xO ./shlibs | grep -qx 'libquodrel 2 libquodrel2 (>= 1.01)' ||
    fail "libquodrel2 has no shlibs file"
development=$work/pkg/libquodrel-dev_1.01_$(dpkg --print-architecture).deb
for file in ./usr/include/quodrel/quodrel.h ./usr/lib/libquodrel.a ./usr/lib/libquodrel.so \
    ./usr/lib/pkgconfig/quodrel.pc ./usr/lib/cmake/Quodrel/QuodrelConfig.cmake; do
    contents "$development" | grep -q "$file " || fail "libquodrel-dev lacks $file"
done
[ "$(dpkg-deb -f "$development" Depends)" = "libquodrel2 (= 1.01)" ] ||
    fail "libquodrel-dev depends on: $(dpkg-deb -f "$development" Depends)"

# The mount, packaged on its own where it is built: it pulls in FUSE, the program not.
mount=$work/pkg/quodrel-mount_1.01_$(dpkg --print-architecture).deb
if [ -f "$mount" ]; then
    contents "$mount" | grep -q './usr/bin/quodrel-mount ' || fail "quodrel-mount lacks its program"
    contents "$mount" | grep -q './usr/share/man/man1/quodrel-mount.1.gz ' || fail "no manual page"
    dpkg-deb -f "$mount" Depends | grep -q 'fuse3' || fail "quodrel-mount does not depend on fuse3"
fi
dpkg-deb -f "$deb" Depends | grep -q fuse && fail "the program's package pulls in FUSE"

# Debian's own checks: any error fails, the warnings are shown.
for package in "$work"/pkg/*.deb; do
    lintian_out=$(lintian --tag-display-limit 0 "$package" 2>&1 | grep -v 'running with root privileges')
    [ -z "$lintian_out" ] || echo "$lintian_out"
    echo "$lintian_out" | grep -q '^E: ' && fail "lintian reports errors in $(basename "$package")"
done

[ "$failures" -eq 0 ] && echo "ok: $(cd "$work/pkg" && echo *.deb)"
[ "$failures" -eq 0 ]

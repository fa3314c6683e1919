#!/usr/bin/env bash
# The Debian packages CPack makes of the build. The program's: a sane control file
# with the libraries the program needs as dependencies, and, unpacked into a folder
# of its own, the program, the launcher, the icons, the archive type, the manual page,
# the README, the changelog and the licence, nothing else, and no maintainer script;
# the program in it runs and its manual page renders cleanly. The library's
# (libquodrel2) and its development files' (libquodrel-dev) hold what they should, at
# the library's version, and the Python module's (python3-quodrel) at the module's
# own; the module's tests pass from the unpacked packages.
# lintian finds no error and no warning in any of them.
set -u
build=$(realpath "$1")
source=$(realpath "$2")
arch=$(dpkg --print-architecture)
# The library's packages carry its own version (its header's, the one source), the
# programs' the program's (CMake's), the Python module's its own (python/quodrel/_version.py).
version=$(sed -n 's/^#define QUODREL_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' \
    "$source/include/quodrel/quodrel.h" | paste -sd.)
program_version=$(sed -n 's/^set(QUODREL_VERSION \([0-9.]*\)).*/\1/p' "$source/CMakeLists.txt")
python_version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' "$source/python/quodrel/_version.py")
python_needs=$(sed -n 's/^LIBRARY_VERSION = "\(.*\)"$/\1/p' "$source/python/quodrel/_version.py")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for packages in program library python; do
    (cd "$build" && cpack -G DEB -D QUODREL_PACKAGES=$packages -B "$work/pkg" >"$work/cpack.log" 2>&1) || {
        fail "cpack of the $packages packages"
        sed 's/^/  | /' "$work/cpack.log"
    }
done
deb=$(ls "$work"/pkg/quodrel_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { fail "no package made"; exit 1; }
[ "$(basename "$deb")" = "quodrel_${program_version}_$(dpkg --print-architecture).deb" ] ||
    fail "package named $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quodrel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$program_version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
[ "$(field Maintainer)" = "Ilmaro <ilmaro@quodrel.org>" ] || fail "Maintainer: $(field Maintainer)"
for library in "libquodrel2 (>= ${version})" libc6 libstdc++6 libgcc-s1; do
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
./usr/share/man/man1/quodrel.1.gz
./usr/share/mime/packages/quodrel.xml"
[ "$files" = "$expected" ] || fail "files in the package:
$files"
# The archive type: shared-mime-info's trigger updates the database, so the package has
# no maintainer script of its own.
cmp -s "$work/root/usr/share/mime/packages/quodrel.xml" "$source/res/quodrel-mime.xml" ||
    fail "the package's quodrel.xml is not res/quodrel-mime.xml"
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm')
[ -z "$scripts" ] || fail "quodrel has maintainer scripts: $scripts"
readelf -d "$work/root/usr/bin/quodrel" | grep -q 'NEEDED.*libquodrel\.so\.2' ||
    fail "the packaged program does not use libquodrel.so.2"
readelf -d "$work/root/usr/bin/quodrel" | grep -q PATH && fail "the packaged program has a search path"
warnings=$(zcat "$work/root/usr/share/man/man1/quodrel.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "the manual page: $warnings"

zcat "$work/root/usr/share/doc/quodrel/changelog.gz" | head -1 | grep -q "^quodrel ($program_version) " ||
    fail "the changelog does not start with this version"

# The library and what building against it needs, at the library's own version, with
# its own changelog.
contents() { dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | sort | tr '\n' ' '; }
library=$work/pkg/libquodrel2_${version}_$arch.deb
[ "$(contents "$library")" = "./usr/lib/$multiarch/libquodrel.so.2 ./usr/lib/$multiarch/libquodrel.so.${version} ./usr/share/doc/libquodrel2/changelog.gz ./usr/share/doc/libquodrel2/copyright " ] ||
    fail "libquodrel2 holds: $(contents "$library")"
dpkg-deb --ctrl-tarfile "$library" | tar -xO ./shlibs | grep -qx "libquodrel 2 libquodrel2 (>= ${version})" ||
    fail "libquodrel2 has no shlibs file"
dpkg-deb --ctrl-tarfile "$library" | tar -t | grep -q 'post' && fail "libquodrel2 has maintainer scripts"
dpkg-deb --ctrl-tarfile "$library" | tar -xO ./triggers | grep -qx 'activate-noawait ldconfig' ||
    fail "libquodrel2 does not trigger ldconfig"
# dpkg-gensymbols compares the symbols file with what the library exports: a
# symbol gone or new without a line fails.
dpkg-deb --ctrl-tarfile "$library" | tar -xO ./symbols >"$work/symbols"
mkdir -p "$work/debian" # (Debian 13's dpkg-gensymbols reads a control file)
printf 'Source: libquodrel\nMaintainer: %s\n\nPackage: libquodrel2\nArchitecture: any\n' \
    "$(dpkg-deb -f "$library" Maintainer)" >"$work/debian/control"
dpkg -x "$library" "$work/library"
(cd "$work" && dpkg-gensymbols -plibquodrel2 -v${version} -c4 -Isymbols -O"$work/symbols.new" \
    -e"$work/library/usr/lib/$multiarch/libquodrel.so.${version}" >"$work/gensymbols.log" 2>&1) ||
    { fail "the symbols file does not match the library:"; cat "$work/gensymbols.log"; }
zcat "$work/library/usr/share/doc/libquodrel2/changelog.gz" | head -1 | grep -q "^libquodrel (${version}) " ||
    fail "libquodrel2's changelog is not the library's"
development=$work/pkg/libquodrel-dev_${version}_$arch.deb
for file in ./usr/include/quodrel/quodrel.h ./usr/lib/$multiarch/libquodrel.a \
    ./usr/lib/$multiarch/libquodrel.so ./usr/lib/$multiarch/pkgconfig/quodrel.pc \
    ./usr/lib/$multiarch/cmake/Quodrel/QuodrelConfig.cmake ./usr/share/man/man3/libquodrel.3.gz; do
    contents "$development" | grep -q "$file " || fail "libquodrel-dev lacks $file"
done
[ "$(dpkg-deb -f "$development" Depends)" = "libquodrel2 (= ${version})" ] ||
    fail "libquodrel-dev depends on: $(dpkg-deb -f "$development" Depends)"

# The Python module: for every architecture, at its own version, on the library
# version it needs, with its own changelog.
python=$work/pkg/python3-quodrel_${python_version}_all.deb
[ "$(dpkg-deb -f "$python" Architecture)" = all ] || fail "python3-quodrel is not Architecture: all"
[ "$(dpkg-deb -f "$python" Depends)" = "libquodrel2 (>= ${python_needs}), python3" ] ||
    fail "python3-quodrel depends on: $(dpkg-deb -f "$python" Depends)"
modules=$(cd "$source/python" && ls quodrel/*.py | sed 's|^|./usr/lib/python3/dist-packages/|' | tr '\n' ' ')
[ "$(contents "$python")" = "${modules}./usr/lib/python3/dist-packages/quodrel/py.typed ./usr/share/doc/python3-quodrel/changelog.gz ./usr/share/doc/python3-quodrel/copyright " ] ||
    fail "python3-quodrel holds: $(contents "$python")"
dpkg -x "$python" "$work/python-package"
zcat "$work/python-package/usr/share/doc/python3-quodrel/changelog.gz" | head -1 |
    grep -q "^python3-quodrel (${python_version}) " || fail "python3-quodrel's changelog is not the module's"
# Imported from the unpacked packages, finding the library as the loader does, its
# tests pass against the packaged program.
for package in "$library" "$python"; do dpkg -x "$package" "$work/root"; done
(cd "$source/tests/python" && env LD_LIBRARY_PATH="$work/root/usr/lib/$multiarch" \
    PYTHONPATH="$work/root/usr/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
    QUODREL_EXE="$work/root/usr/bin/quodrel" /usr/bin/python3 -m unittest test_quodrel \
    >"$work/python.log" 2>&1) || { fail "the module's tests from the packages:"; cat "$work/python.log"; }
(cd "$work" && env -u QUODREL_LIBRARY PYTHONPATH="$work/root/usr/lib/python3/dist-packages" \
    /usr/bin/python3 -c 'import quodrel' 2>"$work/missing.log") &&
    fail "the module imported without a library to load"
grep -q 'install the libquodrel2 package' "$work/missing.log" ||
    fail "the module did not say what is missing: $(cat "$work/missing.log")"
# From a checkout, pip installs it into a virtual environment with the system's
# setuptools, needing no package index (a copy, so the checkout stays clean).
cp -r "$source/python" "$work/checkout"
/usr/bin/python3 -m venv --system-site-packages "$work/venv" &&
    "$work/venv/bin/pip" install --no-build-isolation --no-index "$work/checkout" >"$work/pip.log" 2>&1 ||
    { fail "pip install from the checkout:"; cat "$work/pip.log"; }
mkdir -p "$work/tree-for-pip" && printf 'level one' >"$work/tree-for-pip/one.txt"
(cd "$work" && LD_LIBRARY_PATH="$work/root/usr/lib/$multiarch" "$work/venv/bin/python" -c '
import quodrel, sys
quodrel.create(sys.argv[1], "pip.dat")
assert quodrel.__file__.startswith(sys.argv[2]), quodrel.__file__
with quodrel.open("pip.dat") as archive:
    assert archive.read("one.txt") == b"level one"
' "$work/tree-for-pip" "$work/venv") 2>"$work/pip-run.log" || { fail "the module pip installed:"; cat "$work/pip-run.log"; }

# The mount, packaged on its own where it is built: it pulls in FUSE, the program not.
mount=$work/pkg/quodrel-mount_${program_version}_$arch.deb
if [ -f "$mount" ]; then
    contents "$mount" | grep -q './usr/bin/quodrel-mount ' || fail "quodrel-mount lacks its program"
    contents "$mount" | grep -q './usr/share/man/man1/quodrel-mount.1.gz ' || fail "no manual page"
    dpkg-deb -f "$mount" Depends | grep -q 'fuse3' || fail "quodrel-mount does not depend on fuse3"
    dpkg-deb -f "$mount" Depends | grep -q "libquodrel2 (>= ${version})" ||
        fail "quodrel-mount does not depend on the library"
fi
dpkg-deb -f "$deb" Depends | grep -q fuse && fail "the program's package pulls in FUSE"

# Debian's own checks: any error or warning fails.
for package in "$work"/pkg/*.deb; do
    lintian_out=$(lintian --tag-display-limit 0 "$package" 2>&1 | grep -v 'running with root privileges')
    [ -z "$lintian_out" ] || echo "$lintian_out"
    echo "$lintian_out" | grep -q '^[EW]: ' && fail "lintian reports errors or warnings in $(basename "$package")"
done

[ "$failures" -eq 0 ] && echo "ok: $(cd "$work/pkg" && echo *.deb)"
[ "$failures" -eq 0 ]

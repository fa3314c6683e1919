#!/usr/bin/env bash
# The module's wheel, as a user without the Debian packages gets it: built from the
# build's library, named for the platform at the module's version, holding the
# module, its changelog and the library and nothing else, the library needing no
# more than Debian 12's C library and C++ runtime (as the README says); installed by
# pip into a fresh virtual environment (no system site packages, no QUODREL_LIBRARY,
# no LD_LIBRARY_PATH), it loads the library it carries and passes the module's tests
# against the build's program. Everything it makes stays in the build folder.
#   tests/python/wheel_check.sh BUILD SOURCE
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$build/python-wheel
rm -rf "$work"
mkdir -p "$work/home"
export HOME=$work/home PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore
unset QUODREL_LIBRARY LD_LIBRARY_PATH PYTHONPATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

wheel=$("$source/python/make_wheel.sh" "$build/libquodrel.so.2" "$work/dist" "$work/build")
version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' "$source/python/quodrel/_version.py")
[ "$(basename "$wheel")" = "quodrel-$version-py3-none-linux_$(uname -m).whl" ] || fail "the wheel is named $(basename "$wheel")"
listed=$(/usr/bin/python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$wheel")
modules=$(cd "$source/python" && ls quodrel/*.py | sort | tr '\n' ' ')
expected="${modules}quodrel/changelog quodrel/libquodrel.so.2 quodrel/py.typed"
expected+=" quodrel-$version.dist-info/METADATA quodrel-$version.dist-info/RECORD"
expected+=" quodrel-$version.dist-info/WHEEL quodrel-$version.dist-info/top_level.txt"
[ "$listed" = "$(echo "$expected" | tr ' ' '\n' | sort | tr '\n' ' ' | sed 's/ $//')" ] ||
    fail "the wheel holds: $listed"

# The oldest system it runs on: the newest symbol versions the carried library needs.
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && /usr/bin/python3 -m zipfile -e "$wheel" .)
carried=$work/unpacked/quodrel/libquodrel.so.2
newest() { objdump -T "$carried" | grep -o "$1_[0-9.]*" | sort -uV | tail -1; }
# A wheel is as old as the system it is built on: the one released is built on Debian
# 12 (glibc 2.36), and only there, or on older, is it held to Debian 12's floor.
built_on=$(getconf GNU_LIBC_VERSION | grep -o '[0-9][0-9.]*')
if [ "$(printf '%s\n2.36\n' "$built_on" | sort -V | tail -1)" = 2.36 ]; then
    for floor in GLIBC_2.34 GLIBCXX_3.4.30; do
        found=$(newest "${floor%_*}")
        [ "$(printf '%s\n%s\n' "$found" "$floor" | sort -V | tail -1)" = "$floor" ] ||
            fail "the carried library needs $found, newer than Debian 12's $floor the README states"
    done
else
    echo "note: built on glibc $built_on, newer than Debian 12's: this wheel needs $(newest GLIBC)"
fi
readelf -d "$carried" | grep -q 'SONAME.*\[libquodrel\.so\.2\]' || fail "the carried library is not libquodrel.so.2"

/usr/bin/python3 -m venv "$work/venv"
"$work/venv/bin/pip" install --no-index -q "$wheel" >"$work/pip.log" 2>&1 ||
    { fail "pip install of the wheel:"; cat "$work/pip.log"; }
"$work/venv/bin/python" -c '
import sys, quodrel, quodrel._native
assert quodrel.__file__.startswith(sys.prefix), quodrel.__file__
assert quodrel._native.lib._name.startswith(sys.prefix), quodrel._native.lib._name
assert quodrel.__version__ == sys.argv[1], quodrel.__version__
' "$version" || fail "the installed module does not run on the library it carries"
(cd "$source/tests/python" && PYTHONDONTWRITEBYTECODE=1 QUODREL_EXE="$build/quodrel" \
    "$work/venv/bin/python" -m unittest test_quodrel >"$work/tests.log" 2>&1) ||
    { fail "the module's tests from the wheel:"; tail -40 "$work/tests.log"; }

[ "$failures" -eq 0 ] && echo "ok: $(basename "$wheel") installs and passes the module's tests"
[ "$failures" -eq 0 ]

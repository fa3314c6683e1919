#!/usr/bin/env bash
# Builds the module's wheel, which carries the library inside the package (the module
# loads that copy before the system's): quodrel-VERSION-py3-none-linux_x86_64.whl.
# setuptools calls a wheel of package data pure (py3-none-any) unless told the
# platform, so the staged copy gets a setup.cfg that names it. The library is the one
# the Debian package ships: it needs the C library and C++ runtime of Debian 12
# (glibc 2.34, GLIBCXX_3.4.30; the wheel's test holds it to that).
#   python/make_wheel.sh LIBRARY OUTPUT_FOLDER WORK_FOLDER
set -euo pipefail
library=$(realpath "$1")
output=$(mkdir -p "$2" && realpath "$2")
work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/stage"
work=$(realpath "$work")
stage=$work/stage
cp "$here/pyproject.toml" "$here/README.md" "$stage/"
cp -r "$here/quodrel" "$stage/quodrel"
rm -rf "$stage/quodrel/__pycache__"
cp "$library" "$stage/quodrel/libquodrel.so.2"
strip --strip-unneeded "$stage/quodrel/libquodrel.so.2"
platform=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_platform().replace("-", "_").replace(".", "_"))')
printf '[bdist_wheel]\nplat_name = %s\n' "$platform" >"$stage/setup.cfg"
# The same bytes from the same commit; pip's cache and logs stay out of the home folder.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 315532800)}
export PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore PYTHONDONTWRITEBYTECODE=1
version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' "$here/quodrel/_version.py")
rm -f "$output"/quodrel-*.whl
/usr/bin/python3 -m pip wheel --no-build-isolation --no-index --no-deps -q -w "$output" "$stage" \
    >"$work/pip.log" 2>&1 || { cat "$work/pip.log" >&2; exit 1; }
wheel=$output/quodrel-$version-py3-none-$platform.whl
[ -f "$wheel" ] || { echo "make_wheel.sh: no $wheel made:" >&2; ls "$output" >&2; exit 1; }
echo "$wheel"

#!/usr/bin/env bash
# Installs the Debian packages one purpose needs, only those that are missing, and
# without the packages they merely recommend (Debian 12 and 13):
#   deps.sh build      the program and the demo: a compiler and CMake
#   deps.sh test       the whole test suite (unit, end-to-end native and under Wine,
#                      terminal, fuzzing, sanitizers, packages)
#   deps.sh bench      the benchmark's other tools (and the mount's, to time it)
#   deps.sh package    the Debian packages, the Windows zip and the Python wheel
#   deps.sh wheel      the Python wheel alone
#   deps.sh coverage   the coverage report
#   deps.sh web        the library for WebAssembly, its JavaScript module's tests and
#                      the page's (in Chromium)
# Installing needs root: as root it installs, with sudo it asks sudo, and otherwise
# it says in one line what to run as root.
set -euo pipefail
build=(cmake make g++)
# clang's wasm32-wasi C++ library (libc++abi and wasi-libc come with it); Node runs the
# JavaScript module's tests and drives Chromium through the page's (Node and npm only
# where missing: a Node from another source may conflict with Debian's npm).
web=(clang lld libc++-dev-wasm32 libclang-rt-dev-wasm32 chromium)
command -v node >/dev/null 2>&1 || web+=(nodejs)
command -v npm >/dev/null 2>&1 || web+=(npm)
# libclang-rt-dev follows the release's own clang (14 on Debian 12, 19 on 13); file
# and dpkg-dev let CPack find a package's dependencies; quodrel-mount is built on
# libfuse3 and runs with fuse3; NSIS's makensis builds the Windows installer.
package=(g++-mingw-w64-x86-64-posix dpkg-dev file lintian pkg-config libfuse3-dev fuse3 nsis)
# pip builds the Python wheel with the system's setuptools (and, on Debian 12, wheel).
wheel=(python3 python3-pip python3-setuptools python3-wheel)
case ${1:-build} in
build) packages=("${build[@]}") ;;
test)
    packages=("${build[@]}" "${package[@]}" "${wheel[@]}" libgtest-dev clang-format tmux python3-venv python3-mypy
        desktop-file-utils wine wine64 icoutils clang libclang-rt-dev acl groff-base shared-mime-info
        libglib2.0-bin xdg-utils "${web[@]}") ;;
bench) packages=("${build[@]}" libarchive-tools time pkg-config libfuse3-dev fuse3 squashfuse
    squashfs-tools "${web[@]}") ;;
package) packages=("${build[@]}" "${package[@]}" "${wheel[@]}") ;;
wheel) packages=("${build[@]}" "${wheel[@]}") ;;
coverage) packages=("${build[@]}" libgtest-dev gcovr) ;;
web) packages=("${web[@]}") ;;
*) echo "usage: deps.sh build|test|bench|package|wheel|coverage|web" >&2; exit 2 ;;
esac
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
install="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "Missing packages; as root run: apt-get update && $install" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null

#!/usr/bin/env bash
# Installs the Debian packages one purpose needs, only those that are missing:
#   deps.sh build      the program and the demo: a compiler and CMake
#   deps.sh test       the whole test suite (unit, end-to-end native and under Wine,
#                      terminal, fuzzing, sanitizers, packages)
#   deps.sh bench      the benchmark's other tools
#   deps.sh package    the Debian package and the Windows zip
#   deps.sh coverage   the coverage report
set -euo pipefail
build=(cmake make g++)
case ${1:-build} in
build) packages=("${build[@]}") ;;
test)
    packages=("${build[@]}" libgtest-dev clang-format tmux python3 desktop-file-utils
        g++-mingw-w64-x86-64-posix wine wine64 icoutils clang libclang-rt-14-dev acl
        groff-base dpkg-dev file) ;;
bench) packages=("${build[@]}" libarchive-tools time) ;;
package) packages=("${build[@]}" g++-mingw-w64-x86-64-posix dpkg-dev file) ;;
coverage) packages=("${build[@]}" libgtest-dev gcovr) ;;
*) echo "usage: deps.sh build|test|bench|package|coverage" >&2; exit 2 ;;
esac
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null

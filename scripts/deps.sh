#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing; more
# packages may be named as arguments.
set -euo pipefail
packages=("$@" cmake make g++ libgtest-dev clang-format tmux python3 desktop-file-utils
    g++-mingw-w64-x86-64-posix wine wine64 icoutils clang libclang-rt-14-dev gcovr acl)
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

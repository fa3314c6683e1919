#!/usr/bin/env bash
# Fails when any C++ source differs from what clang-format makes of it.
set -eu
cd "$1"
files=$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.inc' 2>/dev/null || find . -name '*.cpp' -o -name '*.h' -o -name '*.inc')
[ -n "$files" ] || { echo "no sources found"; exit 1; }
clang-format --dry-run --Werror $files
echo "formatted: $(echo "$files" | wc -l) files"

#!/usr/bin/env bash
# Packs the example tree, unpacks the archive into a fresh folder and compares.
set -euo pipefail
bin=$(realpath "$1")
cd "$(dirname "$0")/.."
rm -rf demo && mkdir demo
cp -r examples/tree demo/tree
cd demo
run() { echo "\$ quodrel $*"; "$bin" "$@" || true; echo; }
run -c tree example.dat
run -e example.dat unpacked
echo "Archive: $(stat -c %s example.dat) bytes"
echo "Unpacked tree:"
(cd unpacked && find . -mindepth 1 | sort | sed 's/^\.\//  /')
if ! diff -r tree unpacked >/dev/null; then
    echo "The trees differ:"
    diff -r tree unpacked || true
    exit 1
fi
echo "The unpacked tree matches the source tree byte for byte."
echo
echo "The program is $bin"
echo "Try it on a folder of your own:"
echo "  $bin -c FOLDER FOLDER.dat    pack"
echo "  $bin -l FOLDER.dat           list"
echo "  $bin -e FOLDER.dat OUT       unpack into OUT"

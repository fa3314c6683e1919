#!/usr/bin/env bash
# The rooms of the source keep to their places: calls and includes run downwards only.
# The format (archive/) stands on the standard library alone; no operation room
# (create/, extract/, update/, compare/) includes another's headers, and creation knows
# nothing of updates; no room of the library but platform/ holds a system's own code.
set -u
source=$(realpath "$1")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cd "$source" || exit 2

# The rooms a room's quoted includes name.
includes() { grep -ho '^#include "[a-z_]*/' "$1"/*.h "$1"/*.cpp 2>/dev/null | sed 's/#include "//; s#/##' | sort -u; }

rooms=$(includes archive | grep -vx archive)
[ -z "$rooms" ] || fail "archive/ includes: $rooms"
for room in create extract update compare; do
    for other in create extract update compare; do
        [ "$room" = "$other" ] && continue
        includes "$room" | grep -qx "$other" && fail "$room/ includes $other/'s headers"
    done
done
words=$(grep -rn 'old_archive\|kFromArchive\|NOT_UPDATED' create/)
[ -z "$words" ] || fail "create/ knows of updates: $words"
conditionals=$(grep -rln '^#if.*\(_WIN32\|__linux__\|__wasi__\|__APPLE__\)' archive events report reading \
    writer transfer create extract update compare lib 2>/dev/null)
[ -z "$conditionals" ] || fail "a system's own code outside platform/: $conditionals"

[ "$failures" -eq 0 ] && echo "ok: the rooms keep to their places"
[ "$failures" -eq 0 ]

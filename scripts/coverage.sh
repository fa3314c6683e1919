#!/usr/bin/env bash
# Writes doc/coverage.md whole from a coverage build whose suite has run: the date,
# the commit, the folders measured, the totals and the figures per file (gcovr). Its
# summary goes to standard output too.
# Usage: scripts/coverage.sh COVERAGE-BUILD [OUTPUT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
out=${2:-doc/coverage.md}
# The library and the program; the mount, the tests and the bindings are measured by
# their own suites, not here.
rooms=(archive reading writer create extract update compare transfer events lib rules app report console)
filters=()
for room in "${rooms[@]}"; do filters+=(--filter "$room/"); done
options=(-r . "$build" "${filters[@]}" --exclude-unreachable-branches --exclude-throw-branches)
gcovr "${options[@]}" --txt "$build/coverage.txt" --print-summary >"$build/summary.txt"
tail -3 "$build/summary.txt"
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
[ "$commit" = unknown ] || [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    commit="$commit with uncommitted changes"
{
    echo "# Test coverage"
    echo
    echo "This file is written whole by \`make coverage\` (\`scripts/coverage.sh\`): line and"
    echo "branch coverage of the native suite (\`ctest\` in a gcov build), measured"
    echo "$(date -u +%Y-%m-%d) at commit $commit, over the folders"
    echo "$(printf '`%s/` ' "${rooms[@]}" | sed 's/ $//; s/ /, /g')."
    echo
    echo "Totals:"
    echo
    tail -3 "$build/summary.txt" | sed 's/^/    /'
    echo
    echo "Per file (lines; gcovr's text report):"
    echo
    sed 's/^/    /' "$build/coverage.txt"
} >"$out"

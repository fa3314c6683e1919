#!/usr/bin/env bash
# Writes bench/RESULTS.md whole, to standard output: the title, the date, machine and
# commit of this run, then each part's own heading, description and tables, as each
# bench script prints them. Nothing in the file outlives the run that wrote it.
# Usage: bench/results.sh RELEASE-BUILD WEB-BUILD RUNS [PART...]
#   RELEASE-BUILD holds quodrel and quodrel-mount; WEB-BUILD the staged WebAssembly
#   module (make web); the PARTs, by default all of them: run mount compare update
#   pipes web (the name of each script in bench/).
set -euo pipefail
build=$1
web=$2
runs=$3
shift 3
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(run mount compare update pipes web)
here=$(dirname "$(realpath "$0")")
root=$(dirname "$here")

commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ "$commit" != unknown ] && [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    commit="$commit with uncommitted changes"
fi

cat <<HEADER
# Benchmark results

This file is written whole by \`make bench\` (\`bench/results.sh\`); edit the scripts in
\`bench/\`, never this file.

$("$root/scripts/machine.sh") Commit $commit; ${#parts[@]} parts (${parts[*]}), $runs runs each.

Timings on a shared or virtual machine vary from run to run by 10-20% (the disk rows
more): compare rows of one run, not runs with each other.
HEADER

for part in "${parts[@]}"; do
    echo
    case $part in
    run | compare | update | pipes) "$here/$part.sh" "$build/quodrel" "$runs" ;;
    mount) "$here/mount.sh" "$build/quodrel" "$build/quodrel-mount" "$runs" ;;
    web) "$here/web.sh" "$build/quodrel" "$web" "$runs" ;;
    *) echo "bench/results.sh: no part $part" >&2; exit 2 ;;
    esac
done

#!/usr/bin/env bash
# Builds the WebAssembly library and the page into OUT and runs the page's tests in
# headless Chromium against PROGRAM (the native quodrel); each state's screenshot goes
# to SHOTS. Exits 77 (skipped) where Node, the wasm32-wasi libraries or Chromium are
# missing, or where Chromium cannot start. Usage: web/browser/check.sh OUT PROGRAM SHOTS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$1 program=$2 shots=$3
if ! command -v node >/dev/null || ! ls -d /usr/lib/llvm-*/lib/wasm32-wasi >/dev/null 2>&1; then
    echo "Node or the wasm32-wasi libraries are missing (scripts/deps.sh web)"
    exit 77
fi
chromium=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
if [ -z "$chromium" ]; then
    echo "Chromium is missing (scripts/deps.sh web)"
    exit 77
fi
# Chromium, started once with a HOME and a profile of its own, must print a page.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(--no-sandbox)
if ! HOME=$probe timeout 60 "$chromium" --headless "${sandbox[@]}" --user-data-dir="$probe/profile" \
    --disable-gpu --dump-dom 'data:text/html,<p>started</p>' 2>/dev/null | grep -q started; then
    echo "Chromium cannot run here"
    exit 77
fi
"$root/web/build.sh" "$out" >/dev/null
rm -rf "$shots"
QUODREL_PAGE="$out/page" QUODREL_PROGRAM="$program" QUODREL_SCREENSHOTS="$shots" CHROMIUM="$chromium" \
    node --test "$root/web/browser/page.test.mjs"

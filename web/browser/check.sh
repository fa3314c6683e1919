#!/usr/bin/env bash
# Builds the WebAssembly library and the page into OUT and runs the page's tests in
# Debian's headless Chromium, driven by puppeteer-core (installed by npm ci from
# web/tools' lockfile into OUT), against PROGRAM (the native quodrel); each state's
# screenshot goes to SHOTS. Exits 77 (skipped) where Node, the wasm32-wasi libraries or
# Chromium are missing, or where Chromium cannot start.
# Usage: web/browser/check.sh OUT PROGRAM SHOTS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd) program=$2 shots=$3
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
tools=$("$root/web/tools/install.sh" "$out")
rm -rf "$shots"
QUODREL_PAGE="$out/page" QUODREL_PROGRAM="$program" QUODREL_SCREENSHOTS="$shots" CHROMIUM="$chromium" \
    QUODREL_TOOLS="$tools" QUODREL_PROFILE="$out/chromium-profile" \
    node --test --test-concurrency=1 "$root/web/browser/page.test.mjs"

#!/usr/bin/env bash
# Installs what the web tests use (package.json and its lockfile beside this script:
# puppeteer-core, which drives Debian's Chromium, and TypeScript) into OUT/tools with
# `npm ci`, npm's cache and logs kept in OUT; again only when the lockfile changed.
# Prints the folder. Usage: web/tools/install.sh OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
tools=$out/tools
if ! cmp -s "$here/package-lock.json" "$tools/package-lock.json" || [ ! -d "$tools/node_modules" ]; then
    rm -rf "$tools"
    mkdir -p "$tools"
    cp "$here/package.json" "$here/package-lock.json" "$tools/"
    # No install scripts run: the driver is told where Chromium is, it downloads none.
    (cd "$tools" && npm_config_cache="$out/npm-cache" npm_config_update_notifier=false \
        npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >&2)
fi
echo "$tools"

#!/bin/sh
# Readies the one Wine prefix a test run uses (made once, then reused) and keeps a
# Wine server running between the cases, so each start of quodrel.exe is quick.
set -eu
prefix=$(realpath -m "$1")
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No .NET or browser engine: nothing here needs them, and they would be fetched. No
# menu builder: it would put menu entries and file associations in the user's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$prefix/system.reg" ]; then
    wineboot --init </dev/null >/dev/null 2>&1
fi
# Already running (from wineboot, or an earlier run) is as good as started.
wineserver -p120 2>/dev/null || true
# Wine's own background services start with the first program; start them here,
# away from the pipes the tests read.
wine cmd /c exit </dev/null >/dev/null 2>&1

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
# One server for the whole run, started here: not by whichever case happens to start
# Wine when no server runs, which would hand that case's limits (a file size limit)
# on to the server, and end it. Kept for two minutes without clients. One already
# running (wineboot's ends three seconds after its last client) is ended first.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p120 </dev/null >/dev/null 2>&1
# Wine's own background services start with the first program; start them here,
# away from the pipes the tests read.
wine cmd /c exit </dev/null >/dev/null 2>&1

#!/usr/bin/env bash
# Names in a Windows console: under Wine in a real terminal (tmux), `quodrel.exe -l`
# of an archive holding 日本語.txt and é.txt shows both names whole, and so does an
# error line of -p on standard error (Ärchiv.dat); redirected, the output is the very
# UTF-8 bytes the Linux program writes.
#   console_names.sh QUODREL_EXE WINE_PREFIX LINUX_QUODREL
set -u
exe=$(realpath "$1")
WINEPREFIX=$(realpath -m "$2")
native=$(realpath "$3")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
command -v tmux >/dev/null || { echo "FAIL: tmux is not installed"; exit 1; }
work=$(mktemp -d)
tmux_() { tmux -S "$work/sock" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; tmux_ capture-pane -p -t q 2>/dev/null | sed 's/^/  | /'; failures=$((failures + 1)); }

mkdir -p "$work/tree"
printf 'x' > "$work/tree/日本語.txt"
printf 'y' > "$work/tree/é.txt"
(cd "$work" && "$native" -c tree names.dat -s >/dev/null) || fail "packing"
cat > "$work/case.sh" <<CASE
cd "$work"
wine "$exe" -l names.dat
wine "$exe" -p Ärchiv.dat x
echo "END"
CASE
tmux_ -f /dev/null new-session -d -s q -x 120 -y 20 \
    "env -i PATH=$PATH HOME=$work LANG=C.UTF-8 TERM=xterm WINEPREFIX=$WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' bash --noprofile --norc $work/case.sh; sleep 30"
for _ in $(seq 1 300); do tmux_ capture-pane -p -t q | grep -q '^END' && break; sleep 0.1; done
screen=$(tmux_ capture-pane -p -t q)
echo "$screen" | grep -q '日本語.txt' || fail "日本語.txt is not shown whole"
echo "$screen" | grep -q 'é.txt' || fail "é.txt is not shown whole"
echo "$screen" | grep -q 'ERROR! Cannot open Ärchiv.dat' || fail "Ärchiv.dat is not shown whole"
echo "$screen" | grep -q '�' && fail "replacement characters on the screen"
# Redirected: the same bytes as the Linux program's.
(cd "$work" && wine "$exe" -l names.dat > windows.out 2>/dev/null; "$native" -l names.dat > linux.out)
cmp -s "$work/windows.out" "$work/linux.out" || fail "redirected output differs from Linux's"
[ "$failures" -eq 0 ] && echo "ok: names show whole in a console, and redirected output is Linux's"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# The key wait in a real terminal (tmux): it waits, one key ends it, nothing is
# echoed or left over for the shell, and the terminal mode afterwards is the mode
# before, also when a signal ends the program during the wait. Without a terminal
# the wait returns at once.
set -u
bin=$(realpath "$1")
command -v tmux >/dev/null || { echo "FAIL: tmux is not installed"; exit 1; }
work=$(mktemp -d)
server=0 # a fresh tmux server for each case, so no case sees another's state
tmux_() { tmux -S "$work/sock$server" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
failures=0
passes=0

screen() { tmux_ capture-pane -p -t q; }
fail() { echo "FAIL: $*"; screen | sed 's/^/  | /'; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passes=$((passes + 1)); }
wait_for() { # pattern [tenths of a second]
    for _ in $(seq 1 "${2:-100}"); do screen | grep -q -- "$1" && return 0; sleep 0.1; done
    return 1
}

# A fresh shell in a fresh pane for each case.
start_shell() {
    tmux_ kill-server 2>/dev/null
    server=$((server + 1))
    # A pane wide enough for any command line, and a home of the test's own, so the
    # shell's history never reaches the user's.
    tmux_ new-session -d -s q -x 250 -y 50 \
        "env HOME='$work' HISTFILE=/dev/null PS1='$ ' bash --norc --noprofile"
    wait_for '^\$' || { echo "FAIL: no shell in tmux"; exit 1; }
    pane_tty=$(tmux_ display -p -t q '#{pane_tty}')
}

# Runs the program with no arguments (usage text, then the key wait) from a plain
# sh, which (unlike bash) never repairs the terminal mode itself, records the mode
# around it, then lets the shell read anything that was left over.
# The command line typed into the shell names only these two scripts: nothing on it
# looks like what they print, however the pane wraps it.
cat > "$work/case.sh" <<CASE
export W='$work' B='$bin'
CASE
cat >> "$work/case.sh" <<'CASE'
stty -g > "$W/before"
if [ "$1" = redirected ]; then
    sh -c 'echo $$ > "$W/pid"; exec "$B"' < /dev/null
else
    sh -c 'echo $$ > "$W/pid"; exec "$B"'
fi
echo EXIT=$?
stty -g > "$W/after"
CASE
# Then whatever the program left unread on the terminal is read, as a shell would.
cat > "$work/after.sh" <<'AFTER'
read -t 1 -n 20 -r rest
echo "LEFT=[$rest]"
AFTER
run_waiting() { # label [redirected]
    start_shell
    tmux_ send-keys -t q "sh $work/case.sh ${2:-}; bash $work/after.sh" Enter
    wait_for 'Press any key to quit' || { fail "$1: no prompt"; return 1; }
    sleep 0.5
    if screen | grep -q '^EXIT='; then fail "$1: did not wait"; return 1; fi
    local mode
    mode=$(stty -a -F "$pane_tty")
    for flag in -echo -icanon -isig -ixon; do
        grep -q -- "$flag" <<<"$mode" || { fail "$1: terminal not raw during the wait ($flag)"; return 1; }
    done
    return 0
}

# After a key: the wait ended with the usage status, the key was not echoed, the
# shell found nothing left over, and the mode is as before.
check_after_key() { # label
    wait_for '^LEFT=' || { fail "$1: the key did not end the wait"; return; }
    local text
    text=$(screen)
    grep -qx 'EXIT=2' <<<"$text" || { fail "$1: wrong status or an echo"; return; }
    grep -qx 'LEFT=\[\]' <<<"$text" || { fail "$1: bytes left over for the shell"; return; }
    cmp -s "$work/before" "$work/after" || { fail "$1: terminal mode not restored"; return; }
    pass "$1"
}

for key in x Enter Up F5 Escape Home é C-c C-z C-s Space; do
    run_waiting "key $key" || continue
    tmux_ send-keys -t q "$key"
    check_after_key "key $key"
done

run_waiting "redirected input" redirected && {
    tmux_ send-keys -t q -l q
    check_after_key "redirected input does not end the wait"
}

run_waiting "resize" && {
    tmux_ resize-window -t q -x 90 -y 30 2>/dev/null || tmux_ resize-pane -t q -x 90 -y 30
    sleep 0.5
    if screen | grep -q '^EXIT='; then fail "a resize ended the wait"; else
        tmux_ send-keys -t q -l k
        check_after_key "a resize does not end the wait"
    fi
}

for signal in TERM HUP; do
    run_waiting "SIG$signal" || continue
    kill -"$signal" "$(cat "$work/pid")"
    if wait_for '^LEFT=' && cmp -s "$work/before" "$work/after"; then
        pass "SIG$signal during the wait restores the terminal"
    else
        fail "SIG$signal during the wait"
    fi
done

# No terminal at all: returns at once.
start=$(date +%s%N)
setsid -w timeout 10 "$bin" </dev/null >/dev/null 2>&1
status=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
if [ "$status" = 2 ] && [ "$elapsed" -lt 2000 ]; then
    pass "no terminal: returns at once (${elapsed} ms)"
else
    fail "no terminal: status $status after ${elapsed} ms"
fi

echo "$passes passed, $failures failed"
[ "$failures" = 0 ]

#!/usr/bin/env bash
# The Windows program's key wait under Wine in a real terminal (tmux): it waits,
# one key ends it (Ctrl+C included, as an ordinary key), redirected input does not
# end it, the console mode afterwards is the mode before, and without a console it
# returns at once.
# Wine's terminal console holds back a lone Escape (it might start a sequence) and
# reads keys only while standard input is the terminal, so those two are not tried.
set -u
exe=$(realpath "$1")
probe=$(dirname "$exe")/tests/key_wait_probe.exe
WINEPREFIX=$(realpath -m "$2")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
command -v tmux >/dev/null || { echo "FAIL: tmux is not installed"; exit 1; }
work=$(mktemp -d)
server=0 # a fresh tmux server for each case, so no case sees another's shutting down
tmux_() { tmux -S "$work/sock$server" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
failures=0
passes=0

screen() { tmux_ capture-pane -p -t q 2>/dev/null; }
fail() { echo "FAIL: $*"; screen | sed 's/^/  | /'; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passes=$((passes + 1)); }
wait_for() { # pattern [tenths of a second]
    for _ in $(seq 1 "${2:-150}"); do screen | grep -q -- "$1" && return 0; sleep 0.1; done
    return 1
}

# Runs a command in a fresh pane, then prints its exit status and whether the
# terminal's mode came back as it was.
run_in_pane() { # command...
    tmux_ kill-server 2>/dev/null
    server=$((server + 1))
    # The case's own shell ignores Ctrl+C, so that only the program sees it.
    cat > "$work/case.sh" <<CASE
trap '' INT
before=\$(stty -g)
$*
echo "EXIT=\$?"
# Wine's console host gives the terminal its mode back as it ends, which can be a
# moment after the program's exit: give it five seconds.
tty=changed
for _ in \$(seq 1 50); do
    [ "\$(stty -g)" = "\$before" ] && { tty=same; break; }
    sleep 0.1
done
echo "TTY=\$tty"
sleep 60
CASE
    tmux_ new-session -d -s q -x 120 -y 50 "sh $work/case.sh"
}

# The program itself: the usage text, then the wait, ended by one key.
for key in x Enter Up F5 C-c; do
    run_in_pane "wine '$exe'"
    if ! wait_for 'Press any key to quit'; then fail "$key: no prompt"; continue; fi
    sleep 1
    if screen | grep -q '^EXIT='; then fail "$key: did not wait"; continue; fi
    tmux_ send-keys -t q "$key"
    if ! wait_for '^TTY=' 150; then fail "$key: the key did not end the wait"; continue; fi
    if ! screen | grep -q '^EXIT=2$'; then fail "$key: wrong exit status"; continue; fi
    if ! screen | grep -q '^TTY=same$'; then fail "$key: terminal mode not restored"; continue; fi
    pass "$key"
done

# Input redirected from an empty file does not end the wait.
run_in_pane "wine '$exe' < /dev/null"
if wait_for 'Press any key to quit' && sleep 2 && ! screen | grep -q '^EXIT='; then
    pass "redirected input: still waiting"
else
    fail "redirected input ended the wait"
fi

# The console mode the program leaves behind is the one it found.
run_in_pane "wine '$probe'"
if wait_for '^waiting'; then
    sleep 1
    tmux_ send-keys -t q q
    if wait_for '^key ' 100; then
        before=$(screen | sed -n 's/^mode before //p')
        after=$(screen | sed -n 's/^key 113 mode after //p')
        if [ -n "$before" ] && [ "$before" != 0 ] && [ "$before" = "$after" ]; then
            pass "console mode $before restored"
        else
            fail "console mode before '$before', after '$after'"
        fi
    else
        fail "probe: the key did not end the wait"
    fi
else
    fail "probe did not start"
fi

# No console at all: no terminal, output to a file. The wait returns at once.
start=$(date +%s)
setsid timeout 60 wine "$exe" </dev/null >"$work/out" 2>/dev/null
status=$?
if [ "$status" = 2 ] && grep -q 'Press any key to quit' "$work/out" &&
    [ $(($(date +%s) - start)) -lt 30 ]; then
    pass "no console: returned at once"
else
    echo "FAIL: no console: status $status"
    failures=$((failures + 1))
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

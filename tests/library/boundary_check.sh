#!/usr/bin/env bash
# The library as a boundary other programs build on: libquodrel.a defines no C name
# but the interface's (quodrel_*), the Windows DLL's export list is the shared
# library's, it calls nothing that changes the process around it
# (its umask, signal handlers, current folder, locale, the terminal) or ends it, and
# a C program that defines names of its own links against it statically and runs.
set -u
build=$(realpath "$1")
source=$(realpath "$2")
library=$build/libquodrel.a
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Names a C program could define: every defined global that is a C identifier (C++
# names are mangled, "_Z...") must be the interface's.
c_names=$(nm -g --defined-only "$library" | awk 'NF == 3 {print $3}' |
    grep -E '^[A-Za-z_][A-Za-z0-9_]*$' | grep -v '^_Z' | grep -v '^quodrel_' | sort -u)
[ -z "$c_names" ] || fail "libquodrel.a defines C names beside the interface: $c_names"

# quodrel.dll exports what lib/quodrel.def lists: the very names libquodrel.so.2 does.
so_names=$(nm -D --defined-only "$build/libquodrel.so.2" | awk '{print $3}' | sort -u | tr '\n' ' ')
def_names=$(sed -n 's/^[[:space:]]\{1,\}\(quodrel_[a-z_]*\)$/\1/p' "$source/lib/quodrel.def" | sort |
    tr '\n' ' ')
[ -n "$so_names" ] && [ "$so_names" = "$def_names" ] ||
    fail "libquodrel.so.2 exports $so_names; lib/quodrel.def lists $def_names"
# The Debian symbols file names each of them with the version it came in, and the
# manual page documents each.
symbols_names=$(sed -n 's/^ \(quodrel_[a-z_]*\)@Base [0-9.]*$/\1/p' "$source/cmake/debian/symbols" | sort |
    tr '\n' ' ')
[ "$so_names" = "$symbols_names" ] ||
    fail "libquodrel.so.2 exports $so_names; cmake/debian/symbols lists $symbols_names"
for name in $so_names; do
    grep -q "^\.BI\? \"\?[^\"(]*\b$name(" "$source/doc/libquodrel.3" ||
        fail "doc/libquodrel.3 has no synopsis of $name"
done

# What it calls: nothing process-wide, nothing on the terminal, never an end.
forbidden='umask|sigaction|signal|bsd_signal|sysv_signal|sigprocmask|sigset|raise|kill|exit|_exit|_Exit|abort|chdir|fchdir|setlocale|printf|puts|fputs|fwrite|putchar|perror|fprintf|isatty|tcsetattr|tcgetattr|SetConsoleCtrlHandler|WriteConsoleW|SetConsoleMode'
calls=$(nm -u "$library" | awk '{print $2}' | grep -Ex "$forbidden" | sort -u)
[ -z "$calls" ] || fail "libquodrel.a calls: $calls"

# A C program with names of its own, some of them the program's, links statically.
mkdir -p "$work/tree"
printf 'level one' > "$work/tree/a.map"
cat > "$work/own_names.c" <<'C'
#include <quodrel/quodrel.h>
#include <stdio.h>
#include <string.h>
/* Names a host program may well have of its own. */
void end_of_run(int signal) { (void)signal; }
void restore_and_reraise(int signal) { (void)signal; }
int sweep(void) { return 0; }
int read_at(void) { return 0; }
const char* printable(const char* name) { return name; }
int main(int argc, char** argv) {
    (void)argc;
    if (quodrel_create(argv[1], argv[2], NULL) != QUODREL_OK)
        return 1;
    quodrel_archive* archive = NULL;
    char path[64];
    if (quodrel_open(argv[2], QUODREL_OPEN_REQUIRE_MAGIC, &archive) != QUODREL_OK)
        return 1;
    quodrel_entry_path(archive, 0, path, sizeof path);
    quodrel_close(archive);
    end_of_run(0);
    puts(path);
    return strcmp(path, "a.map") != 0;
}
C
cc -o "$work/own_names" "$work/own_names.c" -I"$source/include" "$library" -lstdc++ -lpthread \
    >"$work/link.log" 2>&1 || { fail "a C program with names of its own does not link:"; cat "$work/link.log"; }
[ -x "$work/own_names" ] && { [ "$("$work/own_names" "$work/tree" "$work/a.dat")" = a.map ] ||
    fail "the statically linked program did not work"; }

[ "$failures" -eq 0 ] && echo "ok: only quodrel_* C names, no process-wide calls, links from C"
[ "$failures" -eq 0 ]

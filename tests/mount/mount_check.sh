#!/usr/bin/env bash
# quodrel-mount against a real tree (a copy of /usr/include): the mounted folder
# equals an extraction of the same archive, byte for byte; files read from several
# processes at once and at odd offsets; what extraction refuses is named and left
# out; writing fails; files it cannot read are left out of an archive made of it;
# damage refuses the mount; unmounting works both ways. Skips
# where FUSE cannot mount (no /dev/fuse, or not allowed).
#   mount_check.sh QUODREL QUODREL_MOUNT
set -u
quodrel=$(realpath "$1")
mount=$(realpath "$2")
base=/tmp
[ -d /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/quodrel-mount-XXXXXX")
mounted=()
cleanup() {
    for point in "${mounted[@]}"; do fusermount3 -u "$point" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
# Under a sanitizer, reports go to files the end of this script looks for: a mount in
# the background has no output to report to.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:log_path=$work/sanitizer"
[ -n "${UBSAN_OPTIONS:-}" ] && export UBSAN_OPTIONS="$UBSAN_OPTIONS:log_path=$work/sanitizer"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; exit 77; }
[ -c /dev/fuse ] || skip "no /dev/fuse here"
command -v fusermount3 >/dev/null || skip "fusermount3 is not installed (package fuse3)"
cd "$work"

# A tree worth mounting, its archive and its extraction.
mkdir tree
cp -r /usr/include/. tree/ 2>/dev/null
find tree -type l -delete
# A wide folder: its listing spans many of the kernel's buffers.
mkdir tree/wide
long=$(printf 'n%.0s' $(seq 200))
for i in $(seq 3000); do echo "$i" > "tree/wide/$long$i"; done
"$quodrel" -c tree tree.dat -s >/dev/null || fail "packing /usr/include"
"$quodrel" -e tree.dat extracted -s >/dev/null || fail "extracting it"
mkdir m
out=$("$mount" tree.dat m) || { [ -z "$(ls m)" ] && skip "FUSE cannot mount here: $out"; }
mounted+=("$work/m")
[ -z "$out" ] || fail "a sound archive mounts silently, said: $out"
diff -r m extracted >/dev/null || fail "the mount differs from the extraction"
[ "$(find m | wc -l)" = "$(find extracted | wc -l)" ] || fail "a different number of entries"
[ "$(ls -f m/wide | sort)" = "$(ls -f extracted/wide | sort)" ] || fail "the wide folder lists otherwise"

# Several processes at once, each over every file.
(cd extracted && find . -type f -print0 | sort -z | xargs -0 sha256sum) > sums
for reader in 1 2 3 4; do
    (cd m && find . -type f -print0 | sort -z | xargs -0 sha256sum > "../sums.$reader") &
done
wait
for reader in 1 2 3 4; do cmp -s sums "sums.$reader" || fail "reader $reader saw other bytes"; done

# Odd offsets, and past the end.
file=$(cd extracted && find . -type f -size +20k | sort | head -1)
size=$(stat -c %s "extracted/$file")
for skip in 1 4095 4097 12345 $((size - 3)); do
    cmp -s <(dd if="m/$file" bs=1 skip=$skip count=777 2>/dev/null) \
        <(dd if="extracted/$file" bs=1 skip=$skip count=777 2>/dev/null) || fail "bytes at $skip"
done
[ -z "$(dd if="m/$file" bs=1 skip=$((size + 10)) count=5 2>/dev/null)" ] || fail "bytes past the end"

# What stat tells: sizes, read rights, the archive's time.
[ "$(stat -c '%s %a' "m/$file")" = "$size 444" ] || fail "stat: $(stat -c '%s %a' "m/$file")"
[ "$(stat -c '%a' m/linux)" = 555 ] || fail "a folder's rights: $(stat -c '%a' m/linux)"
[ "$(stat -c %Y "m/$file")" = "$(stat -c %Y tree.dat)" ] || fail "not the archive's time"

# Nothing can be written.
touch m/new 2>err && fail "a file was made"
grep -q "Read-only file system" err || fail "writing said: $(cat err)"
echo x 2>err >>"m/$file" && fail "a file was written"

# Replaced while mounted: the old contents stay until unmounted.
"$quodrel" -c extracted/linux tree.dat -s >/dev/null
cmp -s "m/$file" "extracted/$file" || fail "the replaced archive changed the mount"
fusermount3 -u m || fail "fusermount3 -u"
mounted=()
[ -z "$(ls m)" ] || fail "still mounted"

# A hostile archive: what extraction refuses is named once and left out.
printf 'CHELALIC\004\000\000\000\140\000\000\000' > hostile.dat
printf '\000\000\000\000\000\000\000\000\000\000\000\000\001\000\000\000\004\000\000\000..\000\000' >> hostile.dat
printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\000\000\000\004\000\000\000x\000\000\000' >> hostile.dat
printf '\001\000\000\000\002\000\000\000\000\000\000\000\000\000\000\000\004\000\000\000ok\000\000' >> hostile.dat
printf '\000\000\000\100\002\000\000\000\000\000\000\000\000\000\000\000\004\000\000\000far\000' >> hostile.dat
printf 'XYZ' >> hostile.dat
"$quodrel" -e hostile.dat hostile-out -s >/dev/null
out=$("$mount" hostile.dat m)
status=$?
mounted+=("$work/m")
[ "$status" = 0 ] || fail "refusals at mount time give status $status (the mount stands)"
[ "$out" = "$(printf 'ERROR! Unsafe name ..\nERROR! Data cut short for far')" ] ||
    fail "the refusals told: $out"
[ "$(cd m && find . | sort)" = "$(cd hostile-out && find . | sort)" ] || fail "the hostile mount shows other entries"
cmp -s m/ok hostile-out/ok || fail "the hostile mount's file"
fusermount3 -u m
mounted=()

# Mounted with a standard descriptor closed: the archive never takes its place (the
# daemon points 0 to 2 at the null device), every file still reads.
for closed in '<&-' '>&-' '2>&-'; do
    eval "\"\$mount\" hostile.dat m $closed"
    mounted+=("$work/m")
    cmp -s m/ok hostile-out/ok || fail "mounted with $closed, the file reads otherwise"
    fusermount3 -u m
    mounted=()
done

# Files that cannot be read (their archive cut short in place while mounted: every
# read fails) are left out of an archive made of the mount, and named; never stored
# as zeros.
mkdir cut-src
printf 'first' > cut-src/a
head -c 100000 /dev/urandom > cut-src/big
printf 'z' > cut-src/z
"$quodrel" -c cut-src cut.dat -s >/dev/null
"$mount" cut.dat m
mounted+=("$work/m")
truncate -s 100 cut.dat
out=$("$quodrel" -c m from-mount.dat -s)
[ $? = 1 ] || fail "unreadable files: status $?"
[ "$out" = "$(printf 'Creating from-mount.dat (3 files)\n.ERROR! Cannot open m/a\n.ERROR! Cannot open m/big\n.ERROR! Cannot open m/z\n\nDone')" ] ||
    fail "unreadable files: $out"
[ "$("$quodrel" -l from-mount.dat)" = "0 files, 0 directories, 0 bytes" ] ||
    fail "unreadable files were packed: $("$quodrel" -l from-mount.dat)"
fusermount3 -u m
mounted=()

# What cannot be mounted is refused, and nothing is mounted: damage, a mount point
# that is no folder (status 1, with why), a mount that would be writable, an option it
# does not know or one without its value (the usage text, status 2, and nothing of
# libfuse's on standard error).
head -c 40 tree.dat > damaged.dat
touch plain-file
usage=$("$mount" --help)
while IFS='|' read -r args want_status want_out; do
    out=$(eval "\"\$mount\" $args" 2>err)
    status=$?
    [ -s err ] && fail "$args: said on standard error $(cat err)"
    [ "$status" = "$want_status" ] || fail "$args: status $status"
    [ "$out" = "$(eval "printf '%s' \"$want_out\"")" ] || fail "$args: said $out"
    for point in m plain-file; do
        grep -q " $work/$point fuse" /proc/mounts && fail "$args: mounted" && fusermount3 -u "$point"
    done
done <<'ROWS'
damaged.dat m|1|ERROR! Entry table cut short in damaged.dat
tree.dat plain-file|1|ERROR! Cannot mount plain-file
tree.dat no-such-folder|1|ERROR! Cannot mount no-such-folder
-o rw tree.dat m|2|$usage
-o ro,rw tree.dat m|2|$usage
-orw,allow_other tree.dat m|2|$usage
-o 'r\w' tree.dat m|2|$usage
-o foo=bar tree.dat m|2|$usage
-o allow_other,nonempty tree.dat m|2|$usage
-o max_read=many tree.dat m|2|$usage
tree.dat m -o|2|$usage
-x tree.dat m|2|$usage
ROWS

# The options it knows, as --help names them, are libfuse's to take: each mounts.
known=$("$mount" --help | sed -n '/^  -o OPTIONS/,/^$/p' |
    sed 's/.*such as \([a-z_]*\) .*/\1,/; s/.*the others it knows://' | tr -d ' \n' |
    sed 's/=N,/=4096,/; s/=NAME/=maps/g')
IFS=, read -ra options <<<"$known"
[ "${#options[@]}" -ge 10 ] || fail "--help names the options $known"
for option in "${options[@]}"; do
    out=$("$mount" -o "$option" hostile.dat m 2>&1)
    status=$?
    [ "$status" = 0 ] && cmp -s m/ok hostile-out/ok || fail "-o $option: status $status, said $out"
    fusermount3 -u m 2>/dev/null
done

# A foreground mount ends with status 0 when unmounted: by fusermount3, or by any
# signal that ends a process by default (Ctrl+C, Ctrl+\ from a terminal, kill), sent
# to it while it serves; the folder is then unmounted, never left to say "Transport
# endpoint is not connected". (A background job of a script ignores SIGINT and
# SIGQUIT, and so would the mount: they are put back to their defaults, as a terminal
# has them.) A fault signal sent by another process ends it alike.
for how in TERM INT HUP QUIT USR1 USR2 ALRM VTALRM PROF PWR XCPU RTMIN RTMIN+3 RTMAX SEGV \
    fusermount; do
    env --default-signal "$mount" -f hostile.dat m >/dev/null &
    runner=$!
    for _ in $(seq 100); do [ -e m/ok ] && break; sleep 0.05; done
    [ -e m/ok ] || fail "$how: no foreground mount"
    if [ "$how" = fusermount ]; then fusermount3 -u m; else kill -s "$how" $runner; fi
    wait $runner
    status=$?
    [ "$status" = 0 ] || fail "$how: unmounted with status $status"
    listed=$(ls m 2>&1)
    [ -z "$listed" ] || fail "$how: left the mount point: $listed"
    grep -q " $work/m fuse" /proc/mounts && fail "$how: still mounted" && fusermount3 -u m
done

# The background mount of a relative mount point ends cleanly on those signals too (it
# unmounts that folder, not one of the name below /); -o max_read= is taken.
for how in TERM QUIT USR1 RTMIN+1; do
    "$mount" -o max_read=65536 hostile.dat m >/dev/null || fail "max_read: not mounted"
    cmp -s m/ok hostile-out/ok || fail "max_read: the file reads otherwise"
    kill -s "$how" "$(pgrep -n -f "$mount -o max_read=65536 hostile.dat m")"
    for _ in $(seq 100); do grep -q " $work/m fuse" /proc/mounts || break; sleep 0.05; done
    grep -q " $work/m fuse" /proc/mounts && fail "$how left the mount" && fusermount3 -u m
    listed=$(ls m 2>&1)
    [ -z "$listed" ] || fail "$how left the mount point: $listed"
done

# With too few descriptors to mount, or to go to the background, it says so (rather
# than let libfuse fail, or hold the caller's output open), and mounts nothing; with
# enough (the three standard ones, the archive, the background's null device and pipe,
# and three for libfuse as it mounts: the device, and fusermount3's socket pair where
# it mounts through it) it mounts.
# (Not under the sanitizers: their own checks open descriptors, and fail without.)
if [ -z "${ASAN_OPTIONS:-}" ]; then
    few="ERROR! Unsafe name ..
ERROR! Data cut short for far
ERROR! Too few open files allowed for m"
    while read -r limit how want_status; do
        foreground=()
        [ "$how" = -f ] && foreground=(-f)
        (
            # Only the standard descriptors open, whatever this script was given.
            for open in /proc/$BASHPID/fd/*; do
                [ "${open##*/}" -gt 2 ] && eval "exec ${open##*/}>&-"
            done
            exec >few.out 2>few.err
            ulimit -n "$limit"
            exec timeout 20 "$mount" "${foreground[@]}" hostile.dat m
        ) &
        runner=$!
        if [ "$want_status" = 0 ]; then
            for _ in $(seq 100); do [ -e m/ok ] && break; sleep 0.05; done
            cmp -s m/ok hostile-out/ok || fail "$limit descriptors $how: the file reads otherwise"
            fusermount3 -u m
        fi
        wait $runner
        status=$?
        out=$(cat few.out)
        if [ "$want_status" = 0 ]; then
            [ "$status" = 0 ] && [ "$out" = "$(printf '%s' "$few" | head -2)" ] ||
                fail "$limit descriptors $how: status $status, said $out"
        else
            [ "$status" = 1 ] && [ "$out" = "$few" ] && [ ! -s few.err ] ||
                fail "$limit descriptors $how: status $status, said $out $(cat few.err)"
        fi
        grep -q " $work/m fuse" /proc/mounts && fail "$limit descriptors: mounted" && fusermount3 -u m
    done <<'ROWS'
5 -f 1
6 -f 1
5 background 1
7 background 1
9 background 1
7 -f 0
10 background 0
ROWS
fi

# A walk that reads no file (find) is handed nothing ahead: of an archive of 4,000
# small files in 40 folders, the daemon reads a small part (the kernel's requests, and
# no file's bytes), where it once read all of it. Reading one file of a folder hands
# the kernel its others.
mkdir many
for d in $(seq 40); do
    mkdir many/d$d
    head -c $((100 * 8192)) /dev/urandom | (cd many/d$d && split -b 8192 -a 2 - f)
done
"$quodrel" -c many many.dat -s >/dev/null
archive_size=$(stat -c %s many.dat)
"$mount" -f many.dat m >/dev/null &
runner=$!
for _ in $(seq 100); do [ -e m/d1 ] && break; sleep 0.05; done
read_bytes() { awk '/^rchar:/ {print $2}' "/proc/$runner/io"; }
# Waits until the daemon has stopped reading (for what it does on a thread of its own).
settle() {
    local before
    before=$(read_bytes)
    while sleep 0.2 && [ "$(read_bytes)" != "$before" ]; do before=$(read_bytes); done
}
before=$(read_bytes)
[ "$(find m | wc -l)" = 4041 ] || fail "find: $(find m | wc -l) entries"
settle
walked=$(($(read_bytes) - before))
[ $((walked * 20)) -lt "$archive_size" ] ||
    fail "a find had the daemon read $walked bytes of a $archive_size-byte archive"
before=$(read_bytes)
cmp -s m/d7/faa many/d7/faa || fail "ahead: the first file read"
for _ in $(seq 200); do
    [ $(($(read_bytes) - before)) -ge $((100 * 8192)) ] && break
    sleep 0.05
done
[ $(($(read_bytes) - before)) -ge $((100 * 8192)) ] ||
    fail "reading one file handed on $(($(read_bytes) - before)) bytes of its folder's 819200"
diff -r m/d7 many/d7 >/dev/null || fail "ahead: the files handed on read otherwise"
fusermount3 -u m
wait $runner

# An archive written over in place while mounted (cp over it) is found out at the next
# read that reaches the mount: told once, and from then on every read fails, also of a
# file read before, rather than give old bytes beside new ones. (In the background the
# line goes to the system log.) The files are larger than the mount hands the kernel
# ahead of their reads, and the folder is listed first.
# Both ways: another archive one byte longer copied over it, and one of the same size
# copied with its time set to the mounted one's (cp -p), where only the change time
# tells.
mkdir live-src other-src
for n in 1 2 3; do
    head -c 300000 /dev/urandom > "live-src/f$n"
    head -c 300000 /dev/urandom > "other-src/f$n"
done
for way in longer same-time; do
    "$quodrel" -c live-src live.dat -s >/dev/null
    if [ "$way" = longer ]; then
        cp live.dat other.dat
        printf 'x' >> other.dat
        copy=(cp other.dat live.dat)
    else
        "$quodrel" -c other-src other.dat -s >/dev/null
        touch -r live.dat other.dat
        copy=(cp -p other.dat live.dat)
    fi
    "$mount" -f live.dat m > mount-out &
    runner=$!
    for _ in $(seq 100); do [ -e m/f1 ] && break; sleep 0.05; done
    [ "$(ls m)" = "$(printf 'f1\nf2\nf3')" ] || fail "$way: listed $(ls m)"
    cmp -s m/f1 live-src/f1 || fail "$way: f1 before the change"
    "${copy[@]}"
    cat m/f2 >/dev/null 2>&1 && fail "$way: a read after the change succeeded"
    cat m/f3 >/dev/null 2>&1 && fail "$way: a second read after the change succeeded"
    for _ in $(seq 100); do cat m/f1 >/dev/null 2>&1 || break; sleep 0.05; done
    cat m/f1 >/dev/null 2>&1 && fail "$way: a file read before still reads from the kernel's cache"
    fusermount3 -u m
    wait $runner
    [ "$(cat mount-out)" = "ERROR! File changed while reading live.dat" ] ||
        fail "$way: the mount said: $(cat mount-out)"
done

# Sanitizer reports of any process, the mounts in the background included, fail the case.
if ls "$work"/sanitizer.* >/dev/null 2>&1; then
    fail "sanitizer reports: $(cat "$work"/sanitizer.*)"
fi

[ "$failures" -eq 0 ] && echo "ok: mounted, compared, read at once and at odd offsets, refused, unmounted"
[ "$failures" -eq 0 ]

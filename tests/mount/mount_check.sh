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
"$quodrel" -c tree tree.dat -s >/dev/null || fail "packing /usr/include"
"$quodrel" -e tree.dat extracted -s >/dev/null || fail "extracting it"
mkdir m
out=$("$mount" tree.dat m) || { [ -z "$(ls m)" ] && skip "FUSE cannot mount here: $out"; }
mounted+=("$work/m")
[ -z "$out" ] || fail "a sound archive mounts silently, said: $out"
diff -r m extracted >/dev/null || fail "the mount differs from the extraction"
[ "$(find m | wc -l)" = "$(find extracted | wc -l)" ] || fail "a different number of entries"

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
[ "$status" = 1 ] || fail "refusals at mount time give status $status"
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
# read of them fails) are left out of an archive made of the mount, and named; never
# stored as zeros.
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
[ "$out" = "$(printf 'Creating from-mount.dat (3 files)\n..ERROR! Cannot open m/big\n.ERROR! Cannot open m/z\n\nDone')" ] ||
    fail "unreadable files: $out"
[ "$("$quodrel" -l from-mount.dat)" = "$(printf '         5 a\n1 files, 0 directories, 5 bytes')" ] ||
    fail "unreadable files were packed: $("$quodrel" -l from-mount.dat)"
fusermount3 -u m
mounted=()

# Damage refuses the mount; a foreground mount ends on SIGTERM (a background job of a
# script ignores SIGINT; from a terminal Ctrl+C ends it alike).
head -c 40 tree.dat > damaged.dat
out=$("$mount" damaged.dat m)
[ $? = 1 ] && [ "$out" = "ERROR! Entry table cut short in damaged.dat" ] || fail "damage: $out"
[ -z "$(ls m)" ] || fail "a damaged archive was mounted"
"$mount" -f hostile.dat m >/dev/null &
runner=$!
for _ in $(seq 100); do [ -e m/ok ] && break; sleep 0.05; done
[ -e m/ok ] || fail "no foreground mount"
kill -TERM $runner
wait $runner
[ -z "$(ls m 2>/dev/null)" ] || fail "SIGTERM did not unmount"

[ "$failures" -eq 0 ] && echo "ok: mounted, compared, read at once and at odd offsets, refused, unmounted"
[ "$failures" -eq 0 ]

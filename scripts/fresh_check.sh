#!/usr/bin/env bash
# Proves the README's first steps on fresh machines: for each Debian release named
# (default: bookworm trixie, that is Debian 12 and 13) it makes a minimal chroot
# (debootstrap --variant=minbase, from the mirror this machine's apt uses, and no
# other), clones
# this checkout into it, runs the README's install line as written, then `make demo`
# and `make test` there, then installs the Python wheel in a virtual environment
# (before any of the library's packages is there) and runs the module's tests from
# it, then installs what `make package` makes with apt and reads an archive from
# Python through the installed module, and prints what each step cost: packages,
# disk and time.
# Needs root, debootstrap and a few GiB of disk; takes minutes per release.
#   scripts/fresh_check.sh [RELEASE...]     FRESH_DIR=/var/tmp/quodrel-fresh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "fresh_check.sh: run it as root (it makes chroots)" >&2; exit 2; }
command -v debootstrap >/dev/null || {
    apt-get update -qq && apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
}
releases=("$@")
[ ${#releases[@]} -gt 0 ] || releases=(bookworm trixie)
base=${FRESH_DIR:-/var/tmp/quodrel-fresh}
mkdir -p "$base"

# The mirror apt already uses here, so the chroots reach what this machine reaches.
mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
    2>/dev/null | grep -E '^(URIs:|deb )' | grep -o -E 'https?://[^ ]+/debian/?( |$)' | head -1 || true)
mirror=${mirror% }
[ -n "$mirror" ] || { echo "fresh_check.sh: apt's configuration names no Debian mirror to make the chroots from" >&2; exit 1; }

# The README's own first line: the first indented command that installs packages.
install_line=$(grep -m1 -E '^    .*apt-get install' "$here/README.md" | sed 's/^ *//; s/ *#.*$//')
[ -n "$install_line" ] || { echo "no install line in the README" >&2; exit 1; }

# A bare clone of what is committed here, for the chroot to clone again.
snapshot="$base/quodrel.git"
rm -rf "$snapshot"
git clone -q --bare "$here" "$snapshot"

mounted=()
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[i]}" 2>/dev/null || true
    done
    mounted=()
}
trap unmount_all EXIT

summary=()
failed=0
for release in "${releases[@]}"; do
    root="$base/$release"
    echo "== $release: a minimal Debian in $root"
    # (whatever an earlier run left mounted there first, or rm would walk into it)
    awk -v root="$root/" 'index($2, root) == 1 {print $2}' /proc/mounts | sort -r |
        while read -r left; do umount -l "$left"; done
    rm -rf "$root"
    start=$(date +%s)
    debootstrap --variant=minbase "$release" "$root" "$mirror" >"$base/$release.debootstrap.log" 2>&1 || {
        echo "debootstrap failed: $base/$release.debootstrap.log" >&2
        failed=1
        continue
    }
    echo "   made in $(($(date +%s) - start)) s"
    # What Wine, tmux and the tests need of a running system.
    for fs in proc sys dev dev/pts dev/shm; do
        mkdir -p "$root/$fs"
        case $fs in
        proc) mount -t proc proc "$root/proc" ;;
        sys) mount -t sysfs sys "$root/sys" ;;
        dev) mount --bind /dev "$root/dev" ;;
        dev/pts) mount --bind /dev/pts "$root/dev/pts" ;;
        dev/shm) mount -t tmpfs tmpfs "$root/dev/shm" ;;
        esac
        mounted+=("$root/$fs")
    done
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    # The certificates this machine's Node trusts beyond its own (NODE_EXTRA_CA_CERTS: a
    # proxy on the way to the npm registry may sign with one), so that npm in the chroot
    # reaches the registry as it does here.
    extra_ca=()
    if [ -r "${NODE_EXTRA_CA_CERTS:-}" ]; then
        cp "$NODE_EXTRA_CA_CERTS" "$root/etc/node-extra-ca.pem"
        extra_ca=(NODE_EXTRA_CA_CERTS=/etc/node-extra-ca.pem)
    fi
    mkdir -p "$root/srv"
    cp -a "$snapshot" "$root/srv/quodrel.git"

    inside() { chroot "$root" /usr/bin/env -i HOME=/root TERM=xterm PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 "${extra_ca[@]}" bash -c "$1"; }
    packages() { inside "dpkg-query -W -f='\${Status}\n' | grep -c 'install ok installed'"; }
    disk() { inside "du -sxm / 2>/dev/null | cut -f1"; }
    step() { # name, command: runs it inside, prints its cost
        local name=$1 command=$2 p0 d0 t0 status=0
        p0=$(packages) d0=$(disk) t0=$(date +%s)
        inside "$command" >"$base/$release.$name.log" 2>&1 || status=$?
        local line
        line=$(printf '%-8s %-10s %4d packages  %5d MiB  %5d s  %s' "$release" "$name" \
            $(($(packages) - p0)) $(($(disk) - d0)) $(($(date +%s) - t0)) \
            "$([ $status -eq 0 ] && echo ok || echo "FAILED ($status), see $base/$release.$name.log")")
        echo "   $line"
        summary+=("$line")
        return $status
    }
    # The steps after make test stand on its build, not on its verdict: a failing test
    # does not hide whether the wheel and the packages install and work.
    if step first-line "$install_line" &&
        step clone "git clone -q /srv/quodrel.git /root/quodrel" &&
        step demo "cd /root/quodrel && make demo"; then
        step test "cd /root/quodrel && make test" || failed=1
        step wheel "cd /root/quodrel && make wheel && ! dpkg -s libquodrel2 >/dev/null 2>&1 &&
            rm -rf /tmp/wheel && python3 -m venv /tmp/wheel &&
            /tmp/wheel/bin/pip install --no-index dist/quodrel-*.whl && cd tests/python &&
            QUODREL_EXE=/root/quodrel/build/quodrel /tmp/wheel/bin/python -m unittest test_quodrel" || failed=1
        step packages "cd /root/quodrel && make package && apt-get install -y ./dist/*.deb &&
            mkdir -p /tmp/py/maps && echo level > /tmp/py/maps/one && cd /tmp/py &&
            quodrel -c maps maps.dat -s && python3 -c 'import quodrel
with quodrel.open(\"maps.dat\") as archive:
    assert archive.read(\"one\") == b\"level\\n\", archive.entries
print(\"python3 reads\", archive.name)'" || failed=1
    else
        failed=1
    fi
    inside "dpkg-query -W -f='\${Package} \${Version}\n' wine g++ g++-mingw-w64-x86-64-posix clang 2>/dev/null" |
        sed "s/^/   $release has /" || true
    inside "tail -12 /root/quodrel/.test-summary 2>/dev/null" || true
    unmount_all
done

echo
echo "release  step       added packages, disk, time"
printf '%s\n' "${summary[@]}"
[ $failed -eq 0 ] && echo "fresh-check: passed" || echo "fresh-check: FAILED"
exit $failed

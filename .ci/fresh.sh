#!/usr/bin/env bash
# The README's commands on a bare Debian 12 that has only what the README's
# apt-get lines install: the two fresh-machine commands, with no test
# skipped and none missing, and the manual page they make read with man;
# installing and removing with cmake, with and without DESTDIR, leaving the
# tree as it was; the Debian package recipe, whose program converts the
# example as the build did, and its removal; and the release script, which
# stops at once and says what to install.
. "$(dirname "$0")/lib.sh"
need mmdebstrap cmake ninja-build make g++ lowdown libgtest-dev strace groff-base sox
cmake --preset dev > /dev/null && cmake --build --preset dev > /dev/null
ctest --test-dir build/dev -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort > "$scratch/tests"
root=$scratch/fresh
on_exit='umount "$root/proc" 2> /dev/null || true'
mmdebstrap --quiet --variant=minbase bookworm "$root"
mount -t proc proc "$root/proc"
git clone -q . "$root/src"
readme() {  # a command as README.md shows it, as root: less its sudo
    grep -Fxq "    $1" README.md || { echo "README.md no longer shows: $1" >&2; exit 1; }
    echo "$1" | sed 's/sudo //g'
}
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive sh -ec "cd /src && $1"
}
in_root "$(readme 'sudo apt-get update && sudo apt-get install cmake ninja-build make g++ lowdown libgtest-dev strace groff-base man-db sox') -y -qq > /dev/null"
in_root "$(readme 'cmake --workflow --preset release && build/release/sndblok examples/duet.wav')"
in_root "man -l build/release/sndblok.1 | grep -q 'sndblok PATH.wav'"
in_root "$(readme 'cmake --workflow --preset dev') > /tmp/dev.log" || { cat "$root/tmp/dev.log"; exit 1; }
grep 'tests passed' "$root/tmp/dev.log"
if grep -E 'Skipped|Not Run' "$root/tmp/dev.log"; then echo "tests skipped on a fresh machine"; exit 1; fi
in_root "ctest --test-dir build/dev -N" | sed -n 's/^ *Test *#[0-9]*: //p' | sort | diff "$scratch/tests" - ||
    { echo "tests missing on a fresh machine"; exit 1; }
install=$(readme 'sudo cmake --install build/release --prefix /usr/local')
uninstall=$(readme 'sudo cmake -P build/release/uninstall.cmake')
in_root "find / -xdev -path /src -prune -o -print | sort > /tmp/before && $install > /dev/null && test -x /usr/local/bin/sndblok &&
         $uninstall && find / -xdev -path /src -prune -o -print | sort | diff /tmp/before - &&
         DESTDIR=/srv/stage $install > /dev/null && test -x /srv/stage/usr/local/bin/sndblok &&
         DESTDIR=/srv/stage $uninstall && test ! -e /srv/stage"
in_root "$(readme 'sudo apt-get install dpkg-dev file') -y -qq > /dev/null"
in_root "$(readme 'cmake --workflow --preset release && (cd build/release && cpack -G DEB)')"
in_root "$(readme 'sudo dpkg -i build/release/sndblok_*.deb') > /dev/null && dpkg -s sndblok | grep Depends &&
         man sndblok | grep -q 'sndblok PATH.wav'"
in_root "mkdir /tmp/run && cp examples/duet.wav /tmp/run && cd /tmp/run && sndblok duet.wav > /dev/null &&
         cmp duet_l.vsf /src/examples/duet_l.vsf && cmp duet_r.vsf /src/examples/duet_r.vsf"
# The README's way to remove the package, in its table of releases.
grep -F 'remove with `sudo dpkg -r sndblok`' README.md > /dev/null
in_root "dpkg -r sndblok > /dev/null && test ! -e /usr/bin/sndblok"
in_root "! scripts/release.sh 2> /tmp/err && test ! -e dist && cat /tmp/err &&
         grep -q 'apt-get install git g++-aarch64-linux-gnu g++-arm-linux-gnueabihf' /tmp/err"

#!/usr/bin/env bash
# The README's commands on a bare Debian 12 that has only what the README's
# apt-get lines install: the two fresh-machine commands, installing and
# removing with cmake, and the Debian package recipe; then the installed
# program converts the example as the build did.
. "$(dirname "$0")/lib.sh"
need mmdebstrap
root=$scratch/fresh
on_exit='umount "$root/proc" 2> /dev/null || true'
mmdebstrap --quiet --variant=minbase bookworm "$root"
mount -t proc proc "$root/proc"
git clone -q . "$root/src"
readme() {  # a command as README.md shows it, less its sudo
    grep -Fxq "    $1" README.md || { echo "README.md no longer shows: $1" >&2; exit 1; }
    echo "${1#sudo }"
}
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive sh -ec "cd /src && $1"
}
in_root "apt-get update -qq && $(readme 'sudo apt-get install cmake ninja-build g++ libgtest-dev') -y -qq > /dev/null"
in_root "$(readme 'cmake --workflow --preset release && build/release/sndblok examples/duet.wav')"
in_root "$(readme 'cmake --workflow --preset dev')"
in_root "$(readme 'sudo cmake --install build/release --prefix /usr/local') && test -x /usr/local/bin/sndblok"
in_root "$(readme "sudo xargs -d '\\n' rm < build/release/install_manifest.txt") && test ! -e /usr/local/bin/sndblok"
in_root "$(readme 'sudo apt-get install dpkg-dev file') -y -qq > /dev/null"
in_root "$(readme 'cmake --workflow --preset release && (cd build/release && cpack -G DEB)')"
in_root "$(readme 'sudo dpkg -i build/release/sndblok_*.deb') > /dev/null && dpkg -s sndblok | grep Depends"
in_root "mkdir /tmp/run && cp examples/duet.wav /tmp/run && cd /tmp/run && sndblok duet.wav > /dev/null &&
         cmp duet_l.vsf /src/examples/duet_l.vsf && cmp duet_r.vsf /src/examples/duet_r.vsf"

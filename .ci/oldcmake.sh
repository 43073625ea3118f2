#!/usr/bin/env bash
# The build recipes with the oldest CMake the README names, Debian 11's
# 3.18, on a bare Debian 11 made with mmdebstrap: every group of the
# firmware tests, with that CMake and Debian 11's Ninja, make, sox and
# compilers. The program is the static one of the tarballs, installed by
# this machine's CMake, since the project itself needs a newer one.
. "$(dirname "$0")/lib.sh"
need mmdebstrap cmake ninja-build g++ lowdown
cmake --preset release-static -B build/oldcmake > /dev/null && cmake --build build/oldcmake > /dev/null
root=$scratch/bullseye
on_exit='umount "$root/proc" 2> /dev/null || true'
mmdebstrap --quiet --variant=minbase --include=cmake,ninja-build,make,sox,gcc,g++ bullseye "$root"
mount -t proc proc "$root/proc"
DESTDIR="$root/stage" cmake --install build/oldcmake --prefix /usr/local > /dev/null
mkdir "$root/src" && cp -r tests "$root/src/"
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root sh -ec "cd /src && $1"
}
in_root "cmake --version" | grep -Fx "cmake version 3.18.4" > /dev/null
for group in configure build rebuild interrupt make cross; do
    in_root "STAGE=/stage bash tests/firmware_test.sh $group cmake - /src"
done
echo "the CMake package and sndblok.mk build the firmware's sounds with CMake 3.18"

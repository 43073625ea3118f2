#!/usr/bin/env bash
# Linux on other processors: the whole suite under qemu-user on 64-bit and
# 32-bit ARM and on big-endian s390x.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build make lowdown libgtest-dev groff-base man-db sox \
     g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-s390x-linux-gnu
emulators
for preset in linux-arm64 linux-armhf linux-s390x; do cmake --workflow --preset "$preset"; done

#!/usr/bin/env bash
# The README's test command: the whole suite in a debug build.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build make g++ lowdown libgtest-dev strace groff-base man-db sox
cmake --workflow --preset dev

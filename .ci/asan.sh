#!/usr/bin/env bash
# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build make g++ lowdown libgtest-dev strace groff-base man-db sox
cmake --workflow --preset asan

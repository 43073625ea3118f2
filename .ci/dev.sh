#!/usr/bin/env bash
# The README's test command: the whole suite in a debug build.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build make g++ lowdown libgtest-dev strace groff-base man-db sox
cmake --workflow --preset dev
# CONTRIBUTING's line for running one row: so anchored, Mono is the only row.
cmake --build --preset dev && ctest --test-dir build/dev -R '^Rows/CliRow.PrintsExitsAndWritesAsExpected/Mono( |$)' \
    --output-on-failure | grep -x '100% tests passed, 0 tests failed out of 1'

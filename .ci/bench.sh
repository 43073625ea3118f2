#!/usr/bin/env bash
# The benchmark on a 1 MiB input, as a smoke test: nothing here is timed.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ lowdown time
cmake --workflow --preset release
bench/run.sh build/release/sndblok 1 1 1

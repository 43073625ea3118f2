#!/usr/bin/env bash
# FUZZ_SECONDS (60) of fuzzing from the committed seeds, new inputs in the
# scratch folder; a crash fails the stage and leaves build/fuzz/crash-*.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build lowdown clang libclang-rt-14-dev
cmake --workflow --preset fuzz
build/fuzz/sndblok_fuzz -max_total_time="${FUZZ_SECONDS:-60}" -dict=tests/fuzz/sndblok.dict \
    -artifact_prefix=build/fuzz/ "$scratch" tests/fuzz/corpus

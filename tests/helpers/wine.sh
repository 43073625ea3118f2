#!/bin/sh
# wine.sh PROGRAM ARGS...: runs a test program under Wine, for CTest.
#
# Wine now and then fails to start a process at all. The test program
# makes the file named in SNDBLOK_STARTED as it starts, before any test
# runs (support.cpp; Z: is Wine's drive for /). A run that did not make it
# never ran, whatever its status: that run, and only that one, is started
# once more, saying so on standard error, and fails if it does not start
# then either. A run that made it ran, and its result stands.
out=$(mktemp) && err=$(mktemp) && mark=$(mktemp) || exit 1
trap 'rm -f "$out" "$err" "$mark"' EXIT
export SNDBLOK_STARTED="Z:$mark"
start() {
    rm -f "$mark"
    wine "$@" > "$out" 2> "$err"
    status=$?
}
start "$@"
if [ ! -e "$mark" ]; then
    cat "$err" >&2
    echo "wine.sh: Wine ended $1 with status $status before it started;" \
         "starting it once more" >&2
    start "$@"
    [ -e "$mark" ] || { status=1; echo "wine.sh: Wine did not start $1 either time" >> "$err"; }
fi
cat "$out"
cat "$err" >&2
exit "$status"

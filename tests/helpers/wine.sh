#!/bin/sh
# wine.sh PROGRAM ARGS...: runs a test program under Wine, for CTest.
#
# Wine now and then fails to start a process at all: it ends at once with
# a failure. The test program makes the file named in SNDBLOK_STARTED as
# it starts, before any test runs (support.cpp). A run that failed without
# making it never ran: that run, and only that one, is started once more,
# saying so on standard error. A run that made it ran, and its failure
# stands, whatever it printed.
out=$(mktemp) && err=$(mktemp) && mark=$(mktemp) || exit 1
trap 'rm -f "$out" "$err" "$mark"' EXIT
export SNDBLOK_STARTED="Z:$mark"
start() {
    rm -f "$mark"
    wine "$@" > "$out" 2> "$err"
}
start "$@"
status=$?
if [ "$status" -ne 0 ] && [ ! -e "$mark" ]; then
    cat "$err" >&2
    echo "wine.sh: Wine ended $1 with status $status before it started;" \
         "starting it once more" >&2
    start "$@"
    status=$?
fi
cat "$out"
cat "$err" >&2
exit "$status"

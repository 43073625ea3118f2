#!/bin/sh
# wine.sh PROGRAM ARGS...: runs a test program under Wine, for CTest.
#
# Wine now and then fails to start a process at all: it ends at once with
# a failure and nothing printed. A GoogleTest program always prints on
# standard output before it runs any test (the line saying where its main
# is from, or the list asked for), so a run that failed with nothing at all
# on standard output never ran: that run, and only that one, is started
# once more, saying so on standard error. A run that printed anything and
# failed ran, and its failure stands.
out=$(mktemp) && err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
wine "$@" > "$out" 2> "$err"
status=$?
if [ "$status" -ne 0 ] && [ ! -s "$out" ]; then
    cat "$err" >&2
    echo "wine.sh: Wine ended $1 with status $status before it printed anything;" \
         "starting it once more" >&2
    wine "$@" > "$out" 2> "$err"
    status=$?
fi
cat "$out"
cat "$err" >&2
exit "$status"

# interrupt.sh SIGNAL READY REPLACED WHO COMMAND...: starts COMMAND, which
# runs the program on in.wav, and signals the program once READY: a file
# name (the first output has bytes in it) or "fifo" (the program waits to
# open the input, a FIFO, whose writer then comes). REPLACED, when not "-",
# is an output that another file replaces just before the signal. WHO is
# "self" when COMMAND is the program, "child" when the program is its child
# (unshare passes no signal on).
. "$(dirname "$0")/lib.sh"
signal=$1 ready=$2 replaced=$3 who=$4
shift 4
"$@" > /dev/null &
program() {
    if [ "$who" = child ]; then p=$(cat /proc/$!/task/$!/children); else p=$!; fi
    p=${p% }
}
waits_for_fifo() {
    program
    [ -n "$p" ] && [ "$(cut -d' ' -f2,3 "/proc/$p/stat")" = '(sndblok) S' ]
}
if [ "$ready" = fifo ]; then
    await "the program to wait for its input FIFO" waits_for_fifo
else
    # The run's first byte, that of the count: zero until the run is done,
    # and then too for fewer than 2^24 blocks; an earlier file's is not.
    await "the first byte of $ready from the run" cmp -s -n 1 "$ready" /dev/zero
    program
fi
if [ "$replaced" != - ]; then
    printf kept > other
    mv other "$replaced"
fi
# A run that the signal cannot stop may be done by now.
kill -"$signal" "$p" 2> /dev/null
: 1<> in.wav
# The shell would name the signal that ended the job; the status says it.
wait $! 2> /dev/null

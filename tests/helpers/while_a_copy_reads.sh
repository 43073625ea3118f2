# A first copy of the program reads a.wav, kept waiting a second before its first
# read once it has its lock, while this run's output leads to a.wav.
. "$(dirname "$0")/lib.sh"
traced -o trace -P a.wav -e inject=read:delay_enter=1000000:when=1 "$1" a.wav > /dev/null 2>&1 &
await "the first copy's lock on a.wav in its trace" grep -q LOCK_SH trace
"$@"
status=$?
wait $!
exit $status

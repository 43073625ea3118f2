# A first copy of the program has in.vsf locked (strace keeps it there a second
# after its lock) when a second one is run on the same input; the first then
# finishes.
. "$(dirname "$0")/lib.sh"
traced -o /dev/null -e inject=flock:delay_exit=1000000 "$@" > /dev/null &
await "in.vsf to be created" test -e in.vsf
lock=":$(stat -c %i in.vsf) "
await "the first copy's lock on in.vsf in /proc/locks" grep -q "$lock" /proc/locks
"$@"
status=$?
wait $!
exit $status

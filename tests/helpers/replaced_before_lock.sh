# Another run replaces the output this run has just created, in the second
# that strace keeps this run waiting before its lock.
. "$(dirname "$0")/lib.sh"
traced -o /dev/null -e inject=flock:delay_enter=1000000 "$@" &
await "in.vsf to be created" test -e in.vsf
rm in.vsf
: > in.vsf
wait $!

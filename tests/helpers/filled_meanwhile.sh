# Another program fills the file that a link pointing nowhere leads to,
# just when this run has found that nothing is there.
. "$(dirname "$0")/lib.sh"
traced -o trace -P in.vsf -e inject=openat:delay_exit=1000000:when=2 "$@" &
await "EEXIST in the trace of in.vsf" grep -q EEXIST trace
head -c 5000 /dev/zero | tr '\0' x > card/in.vsf
wait $!

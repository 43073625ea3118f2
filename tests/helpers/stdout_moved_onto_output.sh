# Standard output, a file, is moved onto the output's name after the check
# at the start (strace shows it), while the program is held a second before
# it opens the output.
. "$(dirname "$0")/lib.sh"
traced -o trace -P in.vsf -e inject=openat:delay_enter=1000000:when=1 "$@" &
await "in.vsf in the trace" grep -q in.vsf trace
mv out in.vsf
wait $!

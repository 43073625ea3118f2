# Standard output, the file out, is moved onto in.vsf while the program is
# kept waiting a second at its first CALL on in.vsf: openat, as it opens it; write,
# once it writes it. strace knows a descriptor's file by its full path, a
# name as it is given. Usage: stdout_moved_onto_output.sh CALL PROGRAM...
. "$(dirname "$0")/lib.sh"
call=$1
shift
traced -o trace -P in.vsf -P "$PWD/in.vsf" -e inject="$call":delay_enter=1000000:when=1 "$@" &
await "a $call on in.vsf in the trace" grep -q "^$call(" trace
mv out in.vsf
wait $!

# Standard output, the file out, is moved onto the output NAME while the
# program is kept waiting a second at its first CALL on NAME: openat, as it
# opens it; write, once it writes it. strace knows a descriptor's file by its
# full path, a name as it is given.
# Usage: stdout_moved_onto_output.sh CALL NAME PROGRAM...
. "$(dirname "$0")/lib.sh"
call=$1 name=$2
shift 2
traced -o trace -P "$name" -P "$PWD/$name" -e inject="$call":delay_enter=1000000:when=1 "$@" &
await "a $call on $name in the trace" grep -q "^$call(" trace
mv out "$name"
wait $!

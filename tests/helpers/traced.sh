# traced.sh STRACE-OPTIONS... COMMAND...: the program under strace, with
# LeakSanitizer off, as it cannot run under ptrace.
exec env ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 strace "$@"

# traced.sh STRACE-OPTIONS... COMMAND...: the program under strace, with
# LeakSanitizer off, as it cannot run under ptrace. strace tells nothing of
# the processes it attaches or the -P names it resolves: standard error
# holds only what the program says.
exec env ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 strace --quiet=attach,personality,path-resolution "$@"

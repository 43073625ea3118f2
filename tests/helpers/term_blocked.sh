# Starts the program with SIGTERM blocked, as a parent may leave it.
exec perl -MPOSIX -e 'sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGTERM)); exec @ARGV' "$@"

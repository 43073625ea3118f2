# Sourced by the other helpers. Each is given the program's command line
# as its last arguments and ends with the program's status.

traced() { sh "$(dirname "$0")/traced.sh" "$@"; }

# await WHAT COMMAND...: runs COMMAND (its complaints unheard) every 10 ms
# until it succeeds. After 20 s the helper stops the job it started and
# fails, saying what it waited for, rather than spin until the test is
# killed.
await() {
    what=$1
    shift
    deadline=$(($(date +%s) + 20))
    until "$@" 2> /dev/null; do
        if [ "$(date +%s)" -ge "$deadline" ]; then
            echo "waited 20 s for $what" >&2
            kill "$!" 2> /dev/null
            exit 1
        fi
        sleep 0.01
    done
}

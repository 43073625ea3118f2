# Runs the program from a new folder beside the input's.
mkdir away && cd away && exec "$@"

#!/bin/sh
# The client's start-up time, for make bench: see startup_bench.py.
exec python3 "$(dirname "$0")/startup_bench.py" "$@"

#!/bin/sh
# Starts the replacement store on a free loopback port and the client against it; the store ends
# with the client. With HEADLESS=1 (or no display) the client runs under Xvfb, when it is there.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
client="$here/build/app/kestrin"
if [ ! -x "$client" ]; then
    echo "run-client: $client is not built (make build)" >&2
    exit 1
fi

headless=0
if [ "${HEADLESS:-0}" = 1 ]; then
    headless=1
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "run-client: HEADLESS=1 needs xvfb-run (tools/install-deps.sh run)" >&2
        exit 1
    fi
elif [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run-client: there is no display (DISPLAY is not set); run it on a desktop, or with HEADLESS=1 under Xvfb" >&2
    exit 1
fi

work_dir=$(mktemp -d)
cleanup() {
    [ -n "${store_pid:-}" ] && kill "$store_pid" 2>/dev/null || true
    rm -rf "$work_dir"
}
# A signal to this script ends the client the way the desktop would, and the store with it.
stop() {
    [ -n "${client_pid:-}" ] && kill -TERM "$client_pid" 2>/dev/null && wait "$client_pid" || true
    exit 143
}
trap cleanup EXIT
trap stop INT TERM
python3 "$here/tools/store/kestrin_store.py" --port 0 >"$work_dir/port" &
store_pid=$!
port=
tries=0
while [ -z "$port" ]; do
    port=$(head -n 1 "$work_dir/port" 2>/dev/null || true)
    tries=$((tries + 1))
    if [ -z "$port" ] && { [ $tries -gt 100 ] || ! kill -0 "$store_pid" 2>/dev/null; }; then
        echo "run-client: the replacement store did not start" >&2
        exit 1
    fi
    [ -n "$port" ] || sleep 0.1
done
export KESTRIN_STORE="http://127.0.0.1:$port"
echo "run-client: the store answers at $KESTRIN_STORE"

if [ $headless = 1 ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$client" "$@" &
else
    "$client" "$@" &
fi
client_pid=$!
status=0
wait "$client_pid" || status=$?
exit $status

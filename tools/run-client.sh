#!/bin/sh
# Starts the replacement store on a free loopback port and the client against it; the store ends
# with the client. With HEADLESS=1 the client runs on a private Xvfb screen of its own: once the
# store page has painted, a screenshot of it goes to build/run_headless.png, and the client keeps
# running until interrupted (Ctrl+C), or, with HEADLESS_SHOT_ONLY=1 as well, ends after the shot.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
# The client `make run` built (KESTRIN_CLIENT names another build's).
client="${KESTRIN_CLIENT:-$here/build/app/kestrin}"
if [ ! -x "$client" ]; then
    echo "run-client: $client is not built (make build)" >&2
    exit 1
fi

headless=0
if [ "${HEADLESS:-0}" = 1 ]; then
    headless=1
    for tool in Xvfb import; do
        if ! command -v $tool >/dev/null 2>&1; then
            echo "run-client: HEADLESS=1 needs $tool (tools/install-deps.sh run)" >&2
            exit 1
        fi
    done
elif [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run-client: there is no display (DISPLAY is not set); run it on a desktop, or with HEADLESS=1 under Xvfb" >&2
    exit 1
fi

work_dir=$(mktemp -d)
cleanup() {
    [ -n "${store_pid:-}" ] && kill "$store_pid" 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
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

# The store's request log: the client asked for its first page once the log names it.
store_log() {
    python3 -c "import urllib.request,sys;sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())" \
        "$KESTRIN_STORE/_control/log" 2>/dev/null || true
}

# How many colours the middle of the screen shows: an unpainted page is one flat colour, the
# store page's covers and text many.
middle_colours() {
    import -display "$DISPLAY" -window root -crop 50%x50%+320+200 +repage -format %k info: 2>/dev/null || echo 0
}

# Waits for the store page, then writes the screenshot; 0 once it is written.
headless_shot() {
    shot="$here/build/run_headless.png"
    tries=0
    while [ $tries -lt 600 ]; do
        kill -0 "$client_pid" 2>/dev/null || return 1
        if store_log | grep -q " /touch/magazine/" && [ "$(middle_colours)" -gt 16 ]; then
            import -display "$DISPLAY" -window root "png24:$shot" && echo "run-client: the client's first page: $shot"
            return 0
        fi
        tries=$((tries + 1))
        sleep 0.1
    done
    echo "run-client: the client's first page did not paint within a minute" >&2
    return 1
}

if [ $headless = 1 ]; then
    # A screen of our own: Xvfb picks a free display number and writes it once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work_dir/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    tries=0
    while ! grep -q . "$work_dir/display" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "run-client: Xvfb did not start" >&2
            exit 1
        fi
        sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$work_dir/display")"
    unset WAYLAND_DISPLAY
    echo "run-client: the client runs on the private screen $DISPLAY"
fi
"$client" "$@" &
client_pid=$!
status=0
if [ $headless = 1 ]; then
    shot_ok=0
    headless_shot || shot_ok=$?
    if [ "${HEADLESS_SHOT_ONLY:-0}" = 1 ]; then
        kill -TERM "$client_pid" 2>/dev/null || true
        wait "$client_pid" || status=$?
        [ $shot_ok = 0 ] || status=1
        exit $status
    fi
    echo "run-client: the client keeps running; Ctrl+C ends it"
fi
wait "$client_pid" || status=$?
exit $status

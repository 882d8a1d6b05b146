#!/usr/bin/env python3
"""The client's start-up time: from the start of the process to the first complete paint of its
first page, the magazine store, on a private Xvfb against the replacement store.

"First complete paint" is seen from outside the program: the store page, once it has loaded and
two animation frames have gone by (so its first frame with the catalogue is on the screen), reports
its layout to the store (GET /_control/layout), and the store logs it. The time runs from just
before the program is started to the moment that report is in the store's log (polled every 10 ms).
It includes the program's own start-up (data folders, deployment of the built-in components, the
local server's self-test), the main window and the engine's web process, and the page's loading
from the store on loopback.

Two cases, five runs each, the median printed: a fresh data root (the first start deploys the
components and copies the program) and a second start on a data root an earlier run left.
Usage: startup_bench.py [path of the client, default build/app/kestrin]
"""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
RUNS = 5
AIM_MS = 1000
LIMIT_S = 60


def start_xvfb():
    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        piece = os.read(r, 32)
        if not piece:
            raise SystemExit("startup bench: Xvfb did not start")
        number += piece
    os.close(r)
    return xvfb, ":" + number.decode().strip()


def layout_reports(store_url):
    log = urllib.request.urlopen(store_url + "/_control/log").read().decode("latin-1")
    return log.count("/_control/layout?")


def one_start(client, env, store_url):
    """Milliseconds from the start to the page's report; the client is ended after it."""
    before = layout_reports(store_url)
    t0 = time.monotonic()
    proc = subprocess.Popen([client], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while layout_reports(store_url) == before:
            if proc.poll() is not None:
                raise SystemExit("startup bench: the client ended before its first page (status %d)" % proc.returncode)
            if time.monotonic() - t0 > LIMIT_S:
                raise SystemExit("startup bench: no first page within %d s" % LIMIT_S)
            time.sleep(0.01)
        return (time.monotonic() - t0) * 1000.0
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def data_root(parent, name):
    root = os.path.join(parent, name)
    for d in ("data", "home", "run"):
        os.makedirs(os.path.join(root, d))
    os.chmod(os.path.join(root, "run"), 0o700)
    return root


def client_env(base, root, display, store_url):
    env = dict(base)
    env.pop("WAYLAND_DISPLAY", None)
    env.update({"DISPLAY": display, "KESTRIN_STORE": store_url, "XDG_DATA_HOME": os.path.join(root, "data"),
                "HOME": os.path.join(root, "home"), "XDG_RUNTIME_DIR": os.path.join(root, "run"),
                "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(root, "run", "no_bus")})
    return env


def main():
    client = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "app", "kestrin")
    if not os.access(client, os.X_OK):
        raise SystemExit("startup bench: %s is not built" % client)
    xvfb, display = start_xvfb()
    store = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "store", "kestrin_store.py"), "--port", "0",
                              "--watch-stdin"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    work = tempfile.mkdtemp(prefix="kestrin_startup_")
    try:
        store_url = "http://127.0.0.1:%d" % int(store.stdout.readline())
        fresh = [one_start(client, client_env(os.environ, data_root(work, "fresh%d" % i), display, store_url), store_url)
                 for i in range(RUNS)]
        kept = data_root(work, "kept")
        env = client_env(os.environ, kept, display, store_url)
        one_start(client, env, store_url)  # the first start of this root deploys; it is not counted
        second = [one_start(client, env, store_url) for _ in range(RUNS)]
    finally:
        store.stdin.close()
        store.wait()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    for name, runs in (("fresh data root", fresh), ("second start", second)):
        median = statistics.median(runs)
        print("start to first complete paint, %-15s median %6.0f ms of %d runs (%s); aim under %d ms: %s" %
              (name + ":", median, RUNS, " ".join("%.0f" % r for r in runs), AIM_MS,
               "met" if median < AIM_MS else "NOT met"))


if __name__ == "__main__":
    main()

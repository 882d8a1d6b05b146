#!/usr/bin/env python3
"""The client's start-up time and memory beside the web engine's own floor, on a private Xvfb
against the replacement store.

Start-up: from the start of the process to the first complete paint of its first page, the
magazine store. "First complete paint" is seen from outside the program: the store page, once it
has loaded and two animation frames have gone by (so its first frame with the catalogue is on the
screen), reports its layout to the store (GET /_control/layout), and the store logs it. The time
runs from just before the program is started to the moment that report is in the store's log
(polled every 10 ms). It includes the program's own start-up (data folders, deployment of the
built-in components, the local server's self-test), the main window and the engine's processes,
and the page's loading from the store on loopback.

The floor is the least a program can do to show that page with the same engine: one GtkWindow
with one WebKitWebView (build/tests/bench/startup_floor, set as the client sets the engine),
loading the store page as the client gets it, saved to a local file (its pictures and its report
still go to the store). It is timed the same way, to the same report.

Memory: the proportional set size (PSS) of the program and of every process it started (the
engine's web and network processes), with the store page shown, once the page has painted and
the figure has settled; the same for the floor. The PSS shares each library page among all the
processes that map it, other programs' included, so on a machine that runs other WebKit programs
it comes out lower; the private part printed beside it does not depend on them.

Two cases, RUNS runs each (default 11, STARTUP_RUNS to change), the floor and the client in
turn so that both see the same machine, medians printed: a fresh data root (the first start
deploys the components and copies the program) and a second start on a data root an earlier run
left. The memory is taken on the second starts. A start that shows no page within a minute is
listed as "none" and left out of its median.
Usage: startup_bench.py [path of the client, default build/app/kestrin [path of the floor]]
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
RUNS = int(os.environ.get("STARTUP_RUNS", "11"))
FLOOR_AIM = 1.3      # start-up: at most this many times the floor
MEMORY_AIM_MB = 200  # memory with the store page shown
PEER_MB = 300        # what the desktop readers users pick instead take idle (Electron-based)
LIMIT_S = 60
SETTLE_S = 10        # the longest the memory figure is waited on to settle
SCREEN = (1280, 800)


def start_xvfb():
    r, w = os.pipe()
    # -noreset: a server that resets when its last client leaves may leave the next one waiting
    # in its connection for ever, and here every start is the server's only client.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp",
                             "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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


def process_tree(pid):
    """pid and every process under it."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        # The name is in parentheses and may hold blanks; the parent's pid follows the state.
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    tree, todo = [], [pid]
    while todo:
        p = todo.pop()
        tree.append(p)
        todo.extend(children.get(p, []))
    return tree


def rollup_kb(pid):
    """(PSS, private) of a process in kB. The private part is the process's own, whatever else
    runs on the machine; the PSS also takes its share of every page it maps with others."""
    pss = private = 0
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    pss = int(line.split()[1])
                elif line.startswith(("Private_Clean:", "Private_Dirty:")):
                    private += int(line.split()[1])
    except OSError:
        pass
    return pss, private


def memory(pid):
    """{"program": kB, "web": kB, "network": kB, "other": kB, "private": kB, "web processes": n}
    for the tree, PSS but for "private"."""
    parts = {"program": 0, "web": 0, "network": 0, "other": 0, "private": 0, "web processes": 0}
    for p in process_tree(pid):
        kb, private = rollup_kb(p)
        parts["private"] += private
        try:
            with open("/proc/%d/comm" % p) as f:
                name = f.read().strip()
        except OSError:
            continue
        if p == pid:
            parts["program"] += kb
        elif name.startswith("WebKitWebProces"):
            parts["web"] += kb
            parts["web processes"] += 1
        elif name.startswith("WebKitNetworkPr"):
            parts["network"] += kb
        else:
            parts["other"] += kb
    return parts


def total_kb(parts):
    return parts["program"] + parts["web"] + parts["network"] + parts["other"]


def settled_memory(pid):
    """The tree's memory once its total has stayed within 1 % over a second (or after SETTLE_S)."""
    samples = []
    t0 = time.monotonic()
    while time.monotonic() - t0 < SETTLE_S:
        samples.append(memory(pid))
        last = [total_kb(s) for s in samples[-5:]]
        if len(last) == 5 and max(last) - min(last) <= max(last) / 100:
            break
        time.sleep(0.25)
    return samples[-1]


def one_start(argv, env, store_url, measure_memory=False):
    """Milliseconds from the start to the page's report (and the memory then, when asked), or
    None for a start that showed no page; the process is ended after it."""
    before = layout_reports(store_url)
    t0 = time.monotonic()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while layout_reports(store_url) == before:
            if proc.poll() is not None:
                print("startup bench: %s ended before its first page (status %d)" %
                      (os.path.basename(argv[0]), proc.returncode), file=sys.stderr)
                return None, None
            if time.monotonic() - t0 > LIMIT_S:
                print("startup bench: no first page from %s within %d s" % (os.path.basename(argv[0]), LIMIT_S),
                      file=sys.stderr)
                return None, None
            time.sleep(0.01)
        ms = (time.monotonic() - t0) * 1000.0
        return ms, settled_memory(proc.pid) if measure_memory else None
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def data_root(parent, name):
    root = os.path.join(parent, name)
    for d in ("data", "home", "run", "cache", "config"):
        os.makedirs(os.path.join(root, d))
    os.chmod(os.path.join(root, "run"), 0o700)
    return root


def client_env(base, root, display, store_url):
    env = dict(base)
    env.pop("WAYLAND_DISPLAY", None)
    env.update({"DISPLAY": display, "KESTRIN_STORE": store_url, "XDG_DATA_HOME": os.path.join(root, "data"),
                "XDG_CACHE_HOME": os.path.join(root, "cache"), "XDG_CONFIG_HOME": os.path.join(root, "config"),
                "HOME": os.path.join(root, "home"), "XDG_RUNTIME_DIR": os.path.join(root, "run"),
                "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(root, "run", "no_bus")})
    return env


def floor_page(work, store_url):
    """The client's first page as the store serves it, in a local file whose relative addresses
    still lead to the store."""
    html = urllib.request.urlopen(store_url + "/touch/magazine/?vs=1&user=&pass=&source=").read().decode("utf-8")
    head = html.find("<head>")
    if head < 0:
        raise SystemExit("startup bench: the store page has no head")
    head += len("<head>")
    html = html[:head] + '<base href="%s/">' % store_url + html[head:]
    path = os.path.join(work, "floor_page.html")
    with open(path, "w", encoding="utf-8") as f:
        f.write(html)
    return "file://" + path


def mb(kb):
    return kb / 1024.0


def main():
    client = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "app", "kestrin")
    floor = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "build", "tests", "bench", "startup_floor")
    for program in (client, floor):
        if not os.access(program, os.X_OK):
            raise SystemExit("startup bench: %s is not built" % program)
    xvfb, display = start_xvfb()
    store = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "store", "kestrin_store.py"), "--port", "0",
                              "--watch-stdin"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    work = tempfile.mkdtemp(prefix="kestrin_startup_")
    times = {"fresh": ([], []), "second": ([], [])}
    memories = ([], [])
    try:
        store_url = "http://127.0.0.1:%d" % int(store.stdout.readline())
        floor_argv = [floor, floor_page(work, store_url), str(SCREEN[0]), str(SCREEN[1])]

        def env(name):
            return client_env(os.environ, data_root(work, name), display, store_url)

        def in_turn(i, client_env_, floor_env_):
            # The order turns at each run, so neither always follows the other.
            order = ((0, [client], client_env_), (1, floor_argv, floor_env_))
            return order if i % 2 == 0 else order[::-1]

        for i in range(RUNS):
            for which, argv, e in in_turn(i, env("fresh%d" % i), env("floorfresh%d" % i)):
                times["fresh"][which].append(one_start(argv, e, store_url)[0])
        kept, floor_kept = env("kept"), env("floorkept")
        # The first start of each root deploys and fills the caches; it is not counted.
        one_start([client], kept, store_url)
        one_start(floor_argv, floor_kept, store_url)
        for i in range(RUNS):
            for which, argv, e in in_turn(i, kept, floor_kept):
                ms, mem = one_start(argv, e, store_url, measure_memory=True)
                times["second"][which].append(ms)
                if mem:
                    memories[which].append(mem)
    finally:
        store.stdin.close()
        store.wait()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)

    def listed(runs):
        return " ".join("%.0f" % r if r is not None else "none" for r in runs)

    for name, case in (("fresh data root", "fresh"), ("second start", "second")):
        runs, floor_runs = ([r for r in rs if r is not None] for rs in times[case])
        if not runs or not floor_runs:
            print("start to first complete paint, %s: no page shown (client %s; floor %s)" %
                  (name, listed(times[case][0]), listed(times[case][1])))
            continue
        median, floor_median = statistics.median(runs), statistics.median(floor_runs)
        ratio = median / floor_median
        print("start to first complete paint, %-16s client median %5.0f ms, the engine's floor %5.0f ms "
              "(%d runs each, in turn): ratio %.2f; aim at most %.1fx the floor: %s" %
              (name + ":", median, floor_median, RUNS, ratio, FLOOR_AIM, "met" if ratio <= FLOOR_AIM else "NOT met"))
        print("    client runs: %s" % listed(times[case][0]))
        print("    floor runs:  %s" % listed(times[case][1]))
    if not memories[0] or not memories[1]:
        print("memory with the store page shown: not measured (no page shown)")
        return

    def median_of(which, key):
        return statistics.median(key(m) for m in memories[which])

    client_total = median_of(0, total_kb)
    floor_total = median_of(1, total_kb)
    web_processes = max(m["web processes"] for m in memories[0])
    print("memory with the store page shown (PSS, median of %d): client %.0f MB (program %.0f, %d web process%s %.0f, "
          "network process %.0f, other %.0f; private %.0f), the engine's floor %.0f MB (private %.0f): ratio %.2f to "
          "the floor, %.2f to the Electron-based readers' %d MB; aim at most %d MB: %s" %
          (len(memories[0]), mb(client_total), mb(median_of(0, lambda m: m["program"])), web_processes,
           "" if web_processes == 1 else "es", mb(median_of(0, lambda m: m["web"])),
           mb(median_of(0, lambda m: m["network"])), mb(median_of(0, lambda m: m["other"])),
           mb(median_of(0, lambda m: m["private"])), mb(floor_total), mb(median_of(1, lambda m: m["private"])),
           client_total / floor_total, mb(client_total) / PEER_MB, PEER_MB, MEMORY_AIM_MB,
           "met" if mb(client_total) <= MEMORY_AIM_MB else "NOT met"))


if __name__ == "__main__":
    main()

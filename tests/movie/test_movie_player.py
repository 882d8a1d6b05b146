#!/usr/bin/env python3
"""The built reader movie in the player page, in headless Chromium, against a test host.

The page, Ruffle, read.swf and the store's Flash items are served from one loopback server (the
replacement store with the item folders added, so purchases reach the real store logic). The
browser runs under LANG=C and reports the language tag "C", which Intl refuses and under which
Ruffle would not start by itself. A host script, added before the page's own, stands where
the program will: it answers the movie's calls in the control's XML, as the program does. The test drives Chromium over its DevTools
pipe and looks at the screen: which page's paper colour fills it, and whether the purchase
banner shows. Screenshots are left in the build folder.

  test_movie_player.py BUILD_DIR
"""
import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tools", "store"))
import kestrin_store  # noqa: E402

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(SOURCE, "build"))
MOVIE_DIR = os.path.join(BUILD, "res", "movie")
PLAYER_DIR = os.path.join(BUILD, "app", "player")
SHOTS = os.path.join(BUILD, "tests", "movie")
WIDTH, HEIGHT = 1000, 700
WAIT = 30  # seconds any one awaited state may take at most

# Where the movie puts its buttons in a 1000 x 700 window: actions right-aligned in the top bar,
# page turning around the bottom bar's centre.
BUY = (652, 24)
CLOSE = (940, 24)
PREVIOUS = (WIDTH // 2 - 120, HEIGHT - 28)
NEXT = (WIDTH // 2 + 120, HEIGHT - 28)

FRAME_COLOURS = [(0x1E, 0x1F, 0x22), (0x2B, 0x2D, 0x31), (0x3A, 0x3C, 0x42), (0x44, 0x47, 0x4F)]
GREEN, RED = (0x2E, 0x7D, 0x32), (0xC6, 0x28, 0x28)

CTYPES = {".html": "text/html; charset=utf-8", ".js": "text/javascript", ".wasm": "application/wasm",
          ".swf": "application/x-shockwave-flash", ".jpg": "image/jpeg", ".map": "application/json"}


class Handler(kestrin_store.Handler):
    """The store, plus the player page with Ruffle at /player/, the movie at /read.swf and each
    Flash item's files at /TYPE/PID/NAME, the way the program's local server lays them out."""

    def route(self, path, q):
        if path == "/read.swf":
            return self.file(os.path.join(MOVIE_DIR, "read.swf"))
        if path.startswith("/player/"):
            rel = os.path.normpath(path[len("/player/"):])
            if rel.startswith(".."):
                return self.reply(404, b"")
            return self.file(os.path.join(PLAYER_DIR, rel))
        parts = path.strip("/").split("/")
        if len(parts) == 3:
            item = self.server.store.items.get(parts[1])
            if item and item.get("flash") and item["type"] == parts[0]:
                data = kestrin_store.flash_item_files(item).get(parts[2].encode("utf-8"))
                if data is None:
                    return self.reply(404, b"")
                return self.answer(data, CTYPES.get(os.path.splitext(parts[2])[1], "text/plain"))
        return super().route(path, q)

    def file(self, name):
        if not os.path.isfile(name):
            return self.reply(404, b"")
        with open(name, "rb") as f:
            data = f.read()
        return self.answer(data, CTYPES.get(os.path.splitext(name)[1], "application/octet-stream"))


# The test host: what the program will do with the movie's calls, written against the XML only.
HOST_JS = r"""
(function () {
    const item = %s;
    // A tag Intl refuses, as a WebKit view reports under LANG=C (Chromium says "en-US" anyway).
    Object.defineProperty(navigator, "language", { value: "C", configurable: true });
    window.hostLog = [];
    function parse(xml) {
        const inv = new DOMParser().parseFromString(xml, "text/xml").documentElement;
        const args = [];
        for (const a of inv.children)
            for (const v of a.children)
                args.push(v.textContent);
        return { name: inv.getAttribute("name"), args: args };
    }
    function esc(s) {
        return String(s).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;").replace(/"/g, "&quot;");
    }
    function invoke(name, args) {
        return '<invoke name="' + name + '" returntype="xml"><arguments>' +
               args.map(function (a) { return "<string>" + esc(a) + "</string>"; }).join("") + "</arguments></invoke>";
    }
    function callMovie(name, args) {
        const r = window.playerCallFunction(invoke(name, args));
        hostLog.push({ name: "->" + name, args: args, result: r });
        return r;
    }
    const answers = { "exist": ["1", "证明已经购买过"], "1": ["1", "购买成功"], "lack": ["0", "余额不足"],
                      "error": ["0", "购买失败"] };
    window.hostFlashCall = function (xml) {
        const call = parse(xml);
        hostLog.push({ name: call.name, args: call.args, xml: xml });
        if (item.silent)
            return "";
        switch (call.name) {
        case "C_GetOpenMag":
            callMovie("F_SetFlashVars", [btoa(item.pid), "0", item.uid, "", "", "", item.type, "0", "", "", "", "",
                                         "0"]);
            callMovie("F_OpenMag", [item.base + item.start, ""]);
            return "";
        case "C_ShiftPath":
            if (!call.args.length)
                return "";
            const rel = call.args[0];
            if (item.broken && rel.endsWith("/p" + item.broken + ".jpg"))
                return "<string>" + esc(item.base) + "missing.jpg</string>";
            return "<string>" + esc(item.base + rel.substring(rel.lastIndexOf("/") + 1)) + "</string>";
        case "C_UserPriceBuy": {
            const x = new XMLHttpRequest();
            x.open("GET", "/touch/system/index.php/index/magBuy/?vs=1&uid=" + item.uid + "&pwd=" +
                   encodeURIComponent(item.pwd) + "&type=" + item.type + "&act=client&username=&pid=" + item.pid +
                   "&source=", false);
            let status = "0", message = "网络连接出错";
            try {
                x.send();
                const a = answers[x.responseText];
                [status, message] = a ? a : ["0", x.responseText];
            } catch (e) {
            }
            callMovie("F_ReUserBuyInfo", [status, message]);
            return "";
        }
        }
        return "";
    };
})();
"""


class DevTools:
    """Chromium over --remote-debugging-pipe: JSON messages ended by NUL, on fds 3 and 4."""

    def __init__(self, args, env):
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()

        def fds():
            # Moved out of the way first: either end may itself be 3 or 4.
            a, b = os.dup(to_child_r), os.dup(from_child_w)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.proc = subprocess.Popen(args, env=env, preexec_fn=fds, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, pass_fds=(3, 4))
        os.close(to_child_r)
        os.close(from_child_w)
        self.next_id = 0
        self.replies = {}
        self.cond = threading.Condition()
        self.console = []
        self.events = []
        self.stderr = []
        threading.Thread(target=self.read, daemon=True).start()
        threading.Thread(target=self.drain, daemon=True).start()

    def drain(self):
        for line in self.proc.stderr:
            self.stderr.append(line.decode("utf-8", "replace"))

    def read(self):
        buf = b""
        while True:
            d = os.read(self.from_child, 1 << 20)
            if not d:
                break
            buf += d
            while b"\0" in buf:
                msg, buf = buf.split(b"\0", 1)
                m = json.loads(msg)
                with self.cond:
                    if "id" in m:
                        self.replies[m["id"]] = m
                    elif m.get("method") in ("Runtime.consoleAPICalled", "Runtime.exceptionThrown"):
                        p = m["params"]
                        self.console.append(" ".join(str(a.get("value", "")) for a in p.get("args", [])) or
                                            str(p.get("exceptionDetails", {}).get("exception", {}).get("description")))
                    elif "method" in m:
                        self.events.append(m["method"])
                    self.cond.notify_all()
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def send(self, method, params=None, session=None):
        with self.cond:
            self.next_id += 1
            i = self.next_id
        msg = {"id": i, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        os.write(self.to_child, json.dumps(msg).encode("utf-8") + b"\0")
        deadline = time.monotonic() + WAIT
        with self.cond:
            while i not in self.replies:
                left = deadline - time.monotonic()
                if left <= 0 or getattr(self, "closed", False):
                    raise AssertionError("no answer to %s; browser said: %s" % (method, "".join(self.stderr)[-2000:]))
                self.cond.wait(left)
            reply = self.replies.pop(i)
        if "error" in reply:
            raise AssertionError("%s: %s" % (method, reply["error"]))
        return reply["result"]

    def wait_event(self, method):
        deadline = time.monotonic() + WAIT
        with self.cond:
            while method not in self.events:
                left = deadline - time.monotonic()
                if left <= 0 or getattr(self, "closed", False):
                    raise AssertionError("no %s; browser said: %s" % (method, "".join(self.stderr)[-2000:]))
                self.cond.wait(left)

    def close(self):
        try:
            self.send("Browser.close")
        except AssertionError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_child)
        os.close(self.from_child)


def png_pixels(data):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG without interlacing."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and ctype in (2, 6) and not interlace, (depth, ctype, interlace)
            bpp = 3 if ctype == 2 else 4
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    rows = []
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(width)])
        prev = line
    return width, height, rows


def near(c, d, tolerance=14):
    return all(abs(a - b) <= tolerance for a, b in zip(c, d))


class MoviePlayerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for f in (os.path.join(MOVIE_DIR, "read.swf"), os.path.join(PLAYER_DIR, "player.html"),
                  os.path.join(PLAYER_DIR, "ruffle", "ruffle.js")):
            if not os.path.isfile(f):
                raise RuntimeError("not built: %s" % f)
        os.makedirs(SHOTS, exist_ok=True)
        cls.server = kestrin_store.Server(("127.0.0.1", 0), Handler)
        cls.server.store = kestrin_store.Store()
        cls.port = cls.server.server_address[1]
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.addClassCleanup(cls.server.server_close)
        cls.addClassCleanup(cls.server.shutdown)
        cls.profile = tempfile.mkdtemp(prefix="movie-test-")
        cls.addClassCleanup(shutil.rmtree, cls.profile, ignore_errors=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
        env["LANG"] = "C"
        env["HOME"] = cls.profile
        cls.browser = DevTools(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--user-data-dir=" + cls.profile,
             "--remote-debugging-pipe", "--window-size=%d,%d" % (WIDTH, HEIGHT), "about:blank"], env)
        cls.addClassCleanup(cls.browser.close)
        target = next(t["targetId"] for t in cls.browser.send("Target.getTargets")["targetInfos"]
                      if t["type"] == "page")
        cls.session = cls.browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for m in ("Page.enable", "Runtime.enable"):
            cls.cdp(m)
        cls.cdp("Emulation.setDeviceMetricsOverride",
                {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False})
        cls.script = None

    @classmethod
    def cdp(cls, method, params=None):
        return cls.browser.send(method, params, cls.session)

    def eval(self, expression):
        r = self.cdp("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in r:
            raise AssertionError("%s: %s" % (expression, r["exceptionDetails"]))
        return r["result"].get("value")

    def open_item(self, pid, uid="1001", silent=False, broken=0):
        """Loads the player page with the movie, its host set for the item as the program would."""
        self.server.store.reset()
        item = self.server.store.items[pid]
        host = {"pid": pid, "type": item["type"], "uid": uid, "pwd": kestrin_store.USERS.get(uid, ("",))[0],
                "base": "http://127.0.0.1:%d/%s/%s/" % (self.port, item["type"], pid),
                "start": "stream2" if int(item["price"]) else "stream", "silent": silent, "broken": broken}
        if self.script:
            self.cdp("Page.removeScriptToEvaluateOnNewDocument", {"identifier": self.script})
        type(self).script = self.cdp("Page.addScriptToEvaluateOnNewDocument",
                                     {"source": HOST_JS % json.dumps(host)})["identifier"]
        with self.browser.cond:
            self.browser.console.clear()
            self.browser.events.clear()
        self.cdp("Page.navigate", {"url": "http://127.0.0.1:%d/player/player.html?movie=/read.swf" % self.port})
        self.browser.wait_event("Page.loadEventFired")
        return item

    def log(self):
        return json.loads(self.eval("JSON.stringify(window.hostLog || [])"))

    def calls(self, name):
        return [c for c in self.log() if c["name"] == name]

    def wait_for(self, what, check):
        deadline = time.monotonic() + WAIT
        while True:
            value = check()
            if value:
                return value
            if time.monotonic() > deadline:
                self.shot("failed")
                self.fail("%s did not happen; host log %s; console %s" % (what, self.log(), self.browser.console[-5:]))
            time.sleep(0.1)

    def screen(self):
        """The window scaled to a tenth: enough to tell the flat colours apart."""
        r = self.cdp("Page.captureScreenshot", {"format": "png", "clip": {"x": 0, "y": 0, "width": WIDTH,
                                                                          "height": HEIGHT, "scale": 0.1}})
        return png_pixels(base64.b64decode(r["data"]))[2]

    def shot(self, name):
        r = self.cdp("Page.captureScreenshot", {"format": "png"})
        with open(os.path.join(SHOTS, name + ".png"), "wb") as f:
            f.write(base64.b64decode(r["data"]))

    def page_shown(self, item):
        """The page whose paper colour fills most of the screen beside the frame, or 0."""
        counts = {}
        for row in self.screen():
            for c in row:
                if not any(near(c, f, 6) for f in FRAME_COLOURS):
                    key = tuple(v // 4 * 4 for v in c)
                    counts[key] = counts.get(key, 0) + 1
        if not counts:
            return 0
        top = max(counts, key=counts.get)
        for n in range(1, item["pages"] + 1):
            if near(top, kestrin_store.flash_page_paper(item["pid"], n)):
                return n
        return 0

    def banner(self):
        """The purchase banner's colour on screen: GREEN, RED or None."""
        pixels = [c for row in self.screen() for c in row]
        for colour in (GREEN, RED):
            if sum(1 for c in pixels if near(c, colour, 20)) >= 8:
                return colour
        return None

    def click(self, at):
        x, y = at
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.cdp("Input.dispatchMouseEvent",
                     {"type": kind, "x": x, "y": y, "button": "left" if kind != "mouseMoved" else "none",
                      "clickCount": 1})

    def test_free_item_opens_turns_and_closes(self):
        item = self.open_item("f1")
        self.wait_for("the first page", lambda: self.page_shown(item) == 1)
        self.shot("free-first-page")
        log = self.log()
        names = [c["name"] for c in log]
        # Asked once for its item, then given it from inside that call.
        self.assertEqual(names[:3], ["C_GetOpenMag", "->F_SetFlashVars", "->F_OpenMag"])
        self.assertEqual(log[0]["xml"], '<invoke name="C_GetOpenMag" returntype="xml"><arguments></arguments></invoke>')
        self.assertEqual(len(log[1]["args"]), 13)
        # Both reached the movie at once, from inside its own call, and returned what it gave.
        self.assertEqual([log[1]["result"], log[2]["result"]], ["<null/>", "<null/>"])
        self.assertTrue(log[2]["args"][0].endswith("/mag/f1/stream"))
        # Every page of the list resolved through the host, in order, as the list names it.
        self.assertEqual([c["args"] for c in self.calls("C_ShiftPath")],
                         [["pages/p%d.jpg" % n] for n in range(1, item["pages"] + 1)])

        self.click(PREVIOUS)  # nothing before the first page
        self.click(NEXT)
        self.wait_for("the second page", lambda: self.page_shown(item) == 2)
        self.shot("free-second-page")
        self.click(NEXT)
        self.wait_for("the third page", lambda: self.page_shown(item) == 3)
        self.click(PREVIOUS)
        self.wait_for("the second page again", lambda: self.page_shown(item) == 2)
        self.assertEqual(len(self.calls("C_ShiftPath")), item["pages"], "pages are resolved once")

        self.assertEqual(self.calls("JS_closeWin"), [])
        self.click(CLOSE)
        self.wait_for("the close call", lambda: self.calls("JS_closeWin"))
        self.assertEqual(self.calls("JS_closeWin")[0]["args"], [])

    def test_purchase_answers_show_in_the_movie(self):
        # (user, the store's answers to two purchases in a row, the banner after each)
        cases = [("1001", ["1", "exist"], GREEN), ("1002", ["lack", "lack"], RED), ("9", ["error", "error"], RED)]
        for uid, replies, colour in cases:
            with self.subTest(uid=uid):
                item = self.open_item("f2", uid)
                self.wait_for("the first page", lambda: self.page_shown(item) == 1)
                self.assertTrue(self.calls("->F_OpenMag")[0]["args"][0].endswith("/mag/f2/stream2"))
                self.assertIsNone(self.banner())
                for n, reply in enumerate(replies, 1):
                    self.click(BUY)
                    self.wait_for("purchase %d" % n, lambda: len(self.calls("->F_ReUserBuyInfo")) == n)
                    self.wait_for("the banner", lambda: self.banner() == colour)
                    self.shot("purchase-%s-%d" % (uid, n))
                buys = [line for line in self.server.store.log if "/magBuy/" in line]
                self.assertEqual(len(buys), len(replies))
                self.assertIn("pid=f2", buys[0])
                self.assertEqual(self.calls("C_UserPriceBuy")[0]["args"], [])

    def test_page_addresses_come_only_from_the_host(self):
        # A host that answers nothing: the movie asks, and shows no page it was not given.
        item = self.open_item("f3", silent=True)
        self.wait_for("the movie's call", lambda: self.calls("C_GetOpenMag"))
        self.assertEqual(self.page_shown(item), 0)
        self.assertEqual(self.calls("C_ShiftPath"), [])

    def test_a_page_that_cannot_be_had_leaves_the_others_readable(self):
        item = self.open_item("f3", broken=2)
        self.wait_for("the first page", lambda: self.page_shown(item) == 1)
        self.click(NEXT)
        self.wait_for("the missing page asked for",
                      lambda: any("/book/f3/missing.jpg" in line for line in self.server.store.log))
        self.wait_for("no page on screen", lambda: self.page_shown(item) == 0)
        self.click(NEXT)
        self.wait_for("the third page", lambda: self.page_shown(item) == 3)

    def test_xml_translation_of_the_page(self):
        self.open_item("f1")
        self.wait_for("the first page", lambda: self.page_shown(self.server.store.items["f1"]) == 1)
        # (what the host answers, what the movie's call returns) for a call the page carries out.
        cases = [("<string>a &amp; b &lt;c&gt;</string>", "a & b <c>"), ("<number>2.5</number>", 2.5),
                 ("<true/>", True), ("<null/>", None), ("", None), ("not xml <", None)]
        for answer, value in cases:
            with self.subTest(answer=answer):
                got = self.eval("""(function () {
                    const keep = window.hostFlashCall; let seen;
                    window.hostFlashCall = function (x) { seen = x; return %s; };
                    try { const r = window.C_ShiftPath('x<y&"z"'); return [seen, r === undefined ? null : r]; }
                    finally { window.hostFlashCall = keep; }
                })()""" % json.dumps(answer))
                self.assertEqual(got[0], '<invoke name="C_ShiftPath" returntype="xml"><arguments>'
                                         '<string>x&lt;y&amp;&quot;z&quot;</string></arguments></invoke>')
                self.assertEqual(got[1], value)
        # Calls into the movie: a known callback answers, an unknown name or bad XML does not.
        for request, result in [('<invoke name="F_ReUserBuyInfo" returntype="xml"><arguments><string>1</string>'
                                 '<string>a &amp; b</string></arguments></invoke>', "<null/>"),
                                ('<invoke name="F_Nothing" returntype="xml"><arguments></arguments></invoke>', ""),
                                ("<invoke", "")]:
            with self.subTest(request=request):
                self.assertEqual(self.eval("window.playerCallFunction(%s)" % json.dumps(request)), result)


if __name__ == "__main__":
    unittest.main(verbosity=2)

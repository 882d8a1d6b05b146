#!/usr/bin/env python3
"""The replacement store web service, on loopback.

It answers what the client asks of the store: item records in the booklist format, the two
category lists, purchases, the update manifest, the catalogue and online reading pages, covers and
item packages (with Range support). For tests it also misbehaves on request.

  kestrin_store.py [--port N] [--root DIR] [--watch-stdin]

Prints the port it listens on as its first line, then serves until killed (or, with
--watch-stdin, until its standard input closes). Point the client at it with
KESTRIN_STORE=http://127.0.0.1:PORT.

Misbehaviour, for tests (query parameters of /packages/..., /blob and /files/..., or set for the
next requests with GET /_control/fault?...&count=N):
  cut=N        close the connection after N body bytes
  norange=1    answer 200 with the whole file, ignoring Range
  chunked=1    send the body chunked
  redirect=N   answer with N redirects before the file
  slow=MS      sleep MS milliseconds between pieces of 64 KiB
  badlength=N  announce N more (or, negative, fewer) bytes than are sent
  status=CODE  answer CODE with an empty body

Other test controls:
  GET  /_control/reset                 forget faults, purchases and the manifest
  POST /_control/manifest              the body becomes update.xml
  POST /_control/file?name=NAME        the body is served as /files/NAME (Range supported)
  GET  /_control/log                   the request lines received so far, one a line
"""
import argparse
import hashlib
import os
import re
import socket
import socketserver
import sys
import tempfile
import threading
import time
from urllib.parse import parse_qs, quote, unquote_to_bytes, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "packwriter"))
try:
    import kestrin_pack  # the project's package writer
except ImportError:  # pragma: no cover - the writer is part of the tree
    kestrin_pack = None

API_PATH = "/touch/api/"
BUY_PATH = "/touch/system/index.php/index/magBuy/"

CATEGORIES = {
    "mag": [("11", "时尚", [("111", "女性"), ("112", "男士")]), ("12", "财经", [("121", "商业")])],
    "book": [("21", "小说", [("211", "武侠"), ("212", "言情")]), ("22", "历史", [])],
}

# Users who may buy: uid -> (password, user name, balance).
USERS = {"1001": ("pa ss&#1", "reader", 100), "1002": ("secret", "poor", 0)}


def payload(n, seed=0):
    """Deterministic bytes of any length, fast enough for hundreds of megabytes."""
    block = hashlib.sha256(b"kestrin%d" % seed).digest() * 2048  # 64 KiB
    whole, rest = divmod(n, len(block))
    return block * whole + block[:rest]


def make_items():
    items = []
    for n in range(1, 9):
        items.append({"pid": "m%d" % n, "id": str(100 + n), "type": "mag", "sort_id": "11" if n % 2 else "12",
                      "name": "杂志第%d号" % n, "date": "2026-%02d" % n, "price": "%d" % (n % 3)})
    for n in range(1, 6):
        items.append({"pid": "b%d" % n, "id": str(200 + n), "type": "book", "sort_id": "21" if n % 2 else "22",
                      "name": "图书%d" % n, "date": "第%d版" % n, "price": "5"})
    return items


def item_package(item):
    """An item package: a resource-only executable holding the item's pages, made by the project's
    package writer; placeholder bytes when the writer cannot be used."""
    pages = {
        b"view1.html": ("<html><body><h1>%s</h1></body></html>" % item["name"]).encode("gbk"),
        b"view2.html": ("<html><body><p>%s %s</p></body></html>" % (item["name"], item["date"])).encode("gbk"),
        b"1.jpg": payload(3000, sum(item["pid"].encode())),
    }
    if kestrin_pack is not None:
        try:
            pak = kestrin_pack.build_package(sorted(pages.items()))
            items = {1000: pak, 1001: item["name"].encode("gbk"), 1002: item["pid"].encode("gbk"),
                     1003: item["type"].encode("gbk")}
            return kestrin_pack.build_executable(items)
        except Exception:  # noqa: BLE001 - fall back to plain bytes
            pass
    return b"MZ" + payload(40000, len(item["pid"]))


def xml_text(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def booklist_record(item, base):
    f = []
    f.append("<id>%s</id>" % item["id"])
    if item.get("pid") is not None:
        f.append("<pid>%s</pid>" % item["pid"])
    f.append("<sort_id>%s</sort_id>" % item["sort_id"])
    f.append("<class_id>1</class_id>")
    f.append("<brand_id>7</brand_id>")
    f.append("<feature>0</feature>")
    f.append("<name><![CDATA[%s]]></name>" % item["name"])
    f.append("<date>%s</date>" % xml_text(item["date"]))
    f.append("<isFullSwf>0</isFullSwf>")
    f.append("<price>%s</price>" % item["price"])
    f.append("<exe_size>%d</exe_size>" % item.get("size", 0))
    f.append("<load_url><![CDATA[%s]]></load_url>" % item.get("load_url", "%s/packages/%s.exe" % (base, item["pid"])))
    f.append("<pic1>%s</pic1>" % xml_text("%s/covers/%s.jpg" % (base, item["pid"])))
    f.append("<s_pic>%s</s_pic>" % xml_text("%s/covers/%s_s.jpg" % (base, item["pid"])))
    f.append("<description><![CDATA[<b>%s</b> 的简介]]></description>" % item["name"])
    f.append("<rec_content><![CDATA[推荐]]></rec_content>")
    f.append("<add_time>2026-01-01 08:00:00</add_time>")
    f.append("<type>%s</type>" % item["type"])
    return "<booklist>" + "\r\n".join(f) + "\r\n</booklist>"


def booklist(records, base):
    return ('<?xml version="1.0" encoding="utf-8"?>\r\n<api>\r\n' +
            "".join(booklist_record(r, base) for r in records) + "</api>\r\n").encode("utf-8")


def category_xml(kind):
    out = ['<?xml version="1.0" encoding="utf-8"?>', "<api>"]
    for sid, name, subs in CATEGORIES[kind]:
        out.append('<sort id="%s" sort_name="%s">' % (sid, xml_text(name)))
        for iid, iname in subs:
            out.append('<item id="%s" p_id="%s" sort_name="%s"/>' % (iid, sid, xml_text(iname)))
        out.append("</sort>")
    out.append("</api>")
    return "\r\n".join(out).encode("utf-8")


class Store:
    def __init__(self, root):
        self.root = root
        self.lock = threading.Lock()
        self.items = {i["pid"]: i for i in make_items()}
        self.packages = {}
        self.files = {}
        self.reset()

    def reset(self):
        with self.lock:
            self.faults = []  # [dict, remaining count]
            self.bought = set()
            self.balance = {uid: u[2] for uid, u in USERS.items()}
            self.manifest = None
            self.log = []

    def package(self, pid):
        with self.lock:
            if pid not in self.packages:
                self.packages[pid] = item_package(self.items[pid])
            return self.packages[pid]

    def take_fault(self):
        with self.lock:
            if not self.faults:
                return {}
            fault, left = self.faults[0]
            if left <= 1:
                self.faults.pop(0)
            else:
                self.faults[0][1] = left - 1
            return dict(fault)


class Handler(socketserver.StreamRequestHandler):
    timeout = 30

    def base(self):
        return "http://127.0.0.1:%d" % self.server.server_address[1]

    def handle(self):
        try:
            self.handle_one()
        except (ConnectionError, socket.timeout, BrokenPipeError):
            pass

    def read_head(self):
        line = self.rfile.readline(65537)
        if not line:
            return None
        headers = {}
        while True:
            h = self.rfile.readline(65537)
            if not h or h in (b"\r\n", b"\n"):
                break
            k, _, v = h.decode("latin-1").partition(":")
            headers[k.strip().lower()] = v.strip()
        return line.decode("latin-1").rstrip("\r\n"), headers

    def handle_one(self):
        head = self.read_head()
        if head is None:
            return
        line, headers = head
        parts = line.split(" ")
        if len(parts) < 2:
            return self.reply(400, b"")
        method, target = parts[0], parts[1]
        store = self.server.store
        with store.lock:
            store.log.append(line)
        body = b""
        if "content-length" in headers:
            body = self.rfile.read(int(headers["content-length"]))
        url = urlsplit(target)
        # Values are decoded as bytes and then read as UTF-8, as the client sends them.
        q = {}
        for pair in url.query.split("&"):
            if not pair:
                continue
            k, _, v = pair.partition("=")
            q[unquote_to_bytes(k).decode("utf-8", "replace")] = unquote_to_bytes(v).decode("utf-8", "replace")
        path = url.path
        self.request_path = path
        self.headers_in = headers
        if path == API_PATH:
            return self.api(q)
        if path == BUY_PATH:
            return self.buy(q)
        if path == "/touch/update.xml":
            with store.lock:
                m = store.manifest
            if m is None:
                m = b'<?xml version="1.0" encoding="utf-8"?>\r\n<files></files>\r\n'
            return self.reply(200, m, "text/xml")
        m = re.match(r"^/packages/([A-Za-z0-9_-]+)\.exe$", path)
        if m and m.group(1) in store.items:
            return self.serve_bytes(store.package(m.group(1)), q)
        m = re.match(r"^/covers/([A-Za-z0-9_-]+?)(_s)?\.jpg$", path)
        if m and m.group(1) in store.items:
            return self.reply(200, b"\xff\xd8\xff\xe0" + payload(2000, 7) + b"\xff\xd9", "image/jpeg")
        if path == "/blob":
            size = int(q.get("size", "1000"))
            return self.serve_bytes(payload(size, int(q.get("seed", "0"))), q)
        m = re.match(r"^/files/(.+)$", path)
        if m:
            with store.lock:
                data = store.files.get(unquote_to_bytes(m.group(1)).decode("utf-8"))
            if data is None:
                return self.reply(404, b"")
            return self.serve_bytes(data, q)
        if path.startswith("/_control/"):
            return self.control(path[len("/_control/"):], q, body)
        pages = {"/touch/magazine/": "mag", "/touch/book/": "book", "/enter/magazine/": "mag",
                 "/enter/velkor/": "book"}
        if path in pages:
            return self.reply(200, self.store_page(pages[path], q), "text/html; charset=utf-8")
        if path in ("/touch/read/book/", "/touch/read/mag/"):
            return self.reply(200, self.read_page(q), "text/html; charset=utf-8")
        if path == "/magazine/digi_subscription.php":
            return self.reply(200, "<html><body>订阅</body></html>".encode("utf-8"), "text/html; charset=utf-8")
        return self.reply(404, b"")

    # --- the store's own answers -------------------------------------------------------------

    def api(self, q):
        store = self.server.store
        if q.get("act") == "sortClass":
            kind = q.get("class")
            if kind not in CATEGORIES:
                return self.reply(200, b"")
            return self.reply(200, category_xml(kind), "text/xml")
        pid = q.get("pid", "")
        kind = q.get("type", "")
        # Test items named by their pid: an empty reply, a record without pid, several records,
        # and a large generated package.
        if pid.startswith("empty"):
            return self.reply(200, b"")
        if pid.startswith("nopid"):
            rec = {"id": "1", "pid": None, "type": kind, "sort_id": "11", "name": "x", "date": "d", "price": "0"}
            return self.reply(200, booklist([rec], self.base()), "text/xml")
        if pid.startswith("multi"):
            recs = [{"id": "%d" % n, "pid": "%s-other%d" % (pid, n), "type": kind, "sort_id": "11",
                     "name": "other%d" % n, "date": "d", "price": "0"} for n in (1, 2)]
            recs.insert(1, {"id": "9", "pid": pid, "type": kind, "sort_id": "11", "name": "asked",
                            "date": "d", "price": "0"})
            return self.reply(200, booklist(recs, self.base()), "text/xml")
        m = re.match(r"^blob(\d+)(?:-(.*))?$", pid)
        if m:
            size = int(m.group(1))
            extra = "&" + m.group(2).replace("~", "&") if m.group(2) else ""
            rec = {"id": "1", "pid": pid, "type": kind or "mag", "sort_id": "11", "name": "blob", "date": "%d" % size,
                   "price": "0", "size": size, "load_url": "%s/blob?size=%d%s" % (self.base(), size, extra)}
            return self.reply(200, booklist([rec], self.base()), "text/xml")
        item = store.items.get(pid)
        if item is None or (kind and item["type"] != kind):
            return self.reply(200, b"")
        rec = dict(item)
        rec["size"] = len(store.package(pid))
        return self.reply(200, booklist([rec], self.base()), "text/xml")

    def buy(self, q):
        store = self.server.store
        uid, pwd, pid = q.get("uid", ""), q.get("pwd", ""), q.get("pid", "")
        user = USERS.get(uid)
        item = store.items.get(pid)
        if user is None or user[0] != pwd or item is None or q.get("act") != "client":
            return self.reply(200, b"error", "text/plain")
        price = int(item["price"])
        with store.lock:
            if (uid, pid) in store.bought:
                answer = b"exist"
            elif store.balance[uid] < price:
                answer = b"lack"
            else:
                store.balance[uid] -= price
                store.bought.add((uid, pid))
                answer = b"1"
        return self.reply(200, answer, "text/plain")

    def store_page(self, kind, q):
        rows = []
        for item in self.server.store.items.values():
            if item["type"] != kind:
                continue
            rows.append('<li id="%s"><img src="/covers/%s.jpg"> %s %s '
                        '<a href="#" onclick="window.external.C_DownLoadFile(\'%s\',\'%s\',\'\');return false;">下载</a> '
                        '<a href="#" onclick="window.external.C_ReadFile(\'%s\',\'%s\',\'\');return false;">在线阅读</a></li>'
                        % (item["pid"], item["pid"], xml_text(item["name"]), xml_text(item["date"]),
                           kind, item["pid"], kind, item["pid"]))
        user = xml_text(q.get("user", ""))
        html = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>store</title><script>"
                "function js_ReDownLoad(){location.reload();}"
                "function js_UserLogin(){location.reload();}"
                "</script></head><body><p id=\"user\">%s</p><ul>%s</ul></body></html>" % (user, "".join(rows)))
        return html.encode("utf-8")

    def read_page(self, q):
        item = self.server.store.items.get(q.get("pid", ""))
        name = xml_text(item["name"]) if item else ""
        return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><h1>%s</h1></body></html>"
                % name).encode("utf-8")

    def control(self, what, q, body):
        store = self.server.store
        if what == "reset":
            store.reset()
        elif what == "fault":
            count = int(q.pop("count", "1"))
            with store.lock:
                store.faults.append([q, count])
        elif what == "manifest":
            with store.lock:
                store.manifest = body
        elif what == "file":
            with store.lock:
                store.files[q["name"]] = body
        elif what == "log":
            with store.lock:
                text = "\n".join(store.log) + "\n"
            return self.reply(200, text.encode("latin-1", "replace"), "text/plain")
        else:
            return self.reply(404, b"")
        return self.reply(200, b"ok", "text/plain")

    # --- transport ---------------------------------------------------------------------------

    def reply(self, status, body, ctype="application/octet-stream", extra=(), length=None):
        reason = {200: "OK", 206: "Partial Content", 302: "Found", 400: "Bad Request", 404: "Not Found",
                  416: "Range Not Satisfiable"}.get(status, "Status")
        head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n" % (
            status, reason, ctype, len(body) if length is None else length)
        for k, v in extra:
            head += "%s: %s\r\n" % (k, v)
        self.wfile.write(head.encode("latin-1") + b"\r\n" + body)

    def serve_bytes(self, data, q):
        fault = self.server.store.take_fault()
        fault.update({k: v for k, v in q.items() if k in ("cut", "norange", "chunked", "redirect", "slow",
                                                           "badlength", "status")})
        if "status" in fault:
            return self.reply(int(fault["status"]), b"")
        redirects = int(fault.get("redirect", "0"))
        if redirects > 0:
            args = dict(q)
            args["redirect"] = str(redirects - 1)
            return self.redirect(args)
        size = len(data)
        start = 0
        status = 200
        extra = []
        rng = re.match(r"^bytes=(\d+)-$", self.headers_in.get("range", ""))
        if rng and fault.get("norange") != "1":
            start = int(rng.group(1))
            if start >= size:
                return self.reply(416, b"", extra=[("Content-Range", "bytes */%d" % size)])
            status = 206
            extra.append(("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size)))
        body = memoryview(data)[start:]
        cut = int(fault["cut"]) if "cut" in fault else None
        slow = float(fault.get("slow", "0")) / 1000.0
        reason = "Partial Content" if status == 206 else "OK"
        head = "HTTP/1.1 %d %s\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n" % (status, reason)
        for k, v in extra:
            head += "%s: %s\r\n" % (k, v)
        chunked = fault.get("chunked") == "1"
        if chunked:
            head += "Transfer-Encoding: chunked\r\n"
        else:
            head += "Content-Length: %d\r\n" % (len(body) + int(fault.get("badlength", "0")))
        self.wfile.write(head.encode("latin-1") + b"\r\n")
        sent = 0
        piece = 65536
        while sent < len(body):
            n = min(piece, len(body) - sent)
            if cut is not None:
                n = min(n, cut - sent)
                if n <= 0:
                    break
            part = body[sent:sent + n]
            if chunked:
                self.wfile.write(b"%x\r\n" % n + part + b"\r\n")
            else:
                self.wfile.write(part)
            sent += n
            if slow:
                self.wfile.flush()
                time.sleep(slow)
        if cut is not None and sent >= cut:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if chunked:
            self.wfile.write(b"0\r\n\r\n")

    def redirect(self, args):
        query = "&".join("%s=%s" % (quote(k), quote(v)) for k, v in args.items())
        loc = self.request_path + ("?" + query if query else "")
        self.reply(302, b"", extra=[("Location", loc)])


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main(argv=None):
    ap = argparse.ArgumentParser(description="The replacement store web service.")
    ap.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 chooses a free one")
    ap.add_argument("--root", default=None, help="working folder (default: a temporary folder)")
    ap.add_argument("--watch-stdin", action="store_true", help="end when standard input closes")
    args = ap.parse_args(argv)
    root = args.root or tempfile.mkdtemp(prefix="kestrin_store_")
    srv = Server(("127.0.0.1", args.port), Handler)
    srv.store = Store(root)
    print(srv.server_address[1], flush=True)
    if args.watch_stdin:
        threading.Thread(target=srv.serve_forever, daemon=True).start()
        sys.stdin.read()
        srv.shutdown()
    else:
        try:
            srv.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()

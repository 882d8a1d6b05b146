#!/usr/bin/env python3
"""A raw HTTP peer for the client's tests: it answers what a stock server cannot (chunked bodies
cut short, redirect chains, odd header spellings, silence) and echoes requests byte for byte.

Prints the port it listens on (127.0.0.1, ephemeral) on its first line, then serves until killed.
"""
import re
import socket
import socketserver
import sys
import threading
import time
from urllib.parse import urlsplit, parse_qs


def payload(n):
    """Deterministic bytes, so a client's file can be checked without sending it twice:
    byte i is (i * 7 + i // 251) mod 256."""
    return bytes(((i * 7 + i // 251) & 0xFF) for i in range(n))


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        self.request.settimeout(10)
        while b"\r\n\r\n" not in data:
            piece = self.request.recv(4096)
            if not piece:
                return None
            data += piece
        return data

    def send(self, status, headers, body=b"", cut=None):
        head = "HTTP/1.1 %s\r\n" % status
        for k, v in headers:
            head += "%s: %s\r\n" % (k, v)
        raw = head.encode("latin-1") + b"\r\n" + body
        if cut is not None:
            raw = raw[: len(head) + 2 + cut]
        self.request.sendall(raw)

    def handle(self):
        req = self.read_request()
        if req is None:
            return
        line = req.split(b"\r\n", 1)[0].decode("latin-1")
        target = line.split(" ")[1] if len(line.split(" ")) > 1 else "/"
        url = urlsplit(target)
        q = {k: v[0] for k, v in parse_qs(url.query).items()}
        path = url.path
        m = re.match(r"^/redir/(\d+)$", path)
        if path == "/echo" or path.startswith("/echo/"):
            self.send("200 OK", [("Content-Type", "text/plain")], req)
        elif m:
            n = int(m.group(1))
            if n == 0:
                self.send("200 OK", [("Content-Length", "3")], b"end")
            else:
                self.send("302 Found", [("Location", "http://127.0.0.1:%d/redir/%d" % (self.server.server_address[1], n - 1))])
        elif path.startswith("/cookie/"):
            n = int(path.split("/")[2])
            self.send("302 Found", [("Set-Cookie", "c" * n), ("Location", "/echo")])
        elif path == "/nospace":
            self.request.sendall(b"HTTP/1.1 302 Found\r\nLocation:/echo/nospace\r\n\r\n")
        elif path == "/lower":
            self.request.sendall(b"HTTP/1.1 302 Found\r\nlocation: /echo/lower\r\nset-cookie: lowercookie1\r\n\r\n")
        elif path == "/contentloc":
            self.send("302 Found", [("Content-Location", "/wrong"), ("Location", "/echo/right")])
        elif path == "/relative":
            self.send("302 Found", [("Location", "echo?x=1:2@3")])
        elif path == "/okwithloc":
            self.send("200 OK", [("Location", "/echo")], b"stay")
        elif path == "/chunked":
            body = b"7;ext=1\r\nHello, \r\nA\r\n0123456789\r\n5\r\nWorld\r\n0\r\nX-Trailer: 1\r\n\r\n"
            self.send("200 OK", [("Transfer-Encoding", "chunked")], body)
        elif path == "/chunkedcut":
            self.send("200 OK", [("Transfer-Encoding", "chunked")], b"5\r\nHello\r\n5\r\nWor")
        elif path == "/chunkedbad":
            self.send("200 OK", [("Transfer-Encoding", "chunked")], b"zz\r\nHello\r\n0\r\n\r\n")
        elif path == "/chunkedbig":
            n = int(q.get("size", "100000"))
            data = payload(n)
            body = bytearray()
            for i in range(0, n, 3000):
                part = data[i:i + 3000]
                body += b"%X\r\n" % len(part) + part + b"\r\n"
            body += b"0\r\n\r\n"
            self.send("200 OK", [("Transfer-Encoding", "chunked")], bytes(body))
        elif path == "/silent":
            time.sleep(float(q.get("for", "20")))
        elif path.startswith("/status/"):
            code = path.split("/")[2]
            self.send("%s Whatever" % code, [("Content-Length", "0")])
        elif path == "/bigheader":
            self.send("200 OK", [("X-Filler", "x" * 100000)], b"body")
        elif path == "/file":
            self.serve_file(req, q)
        else:
            self.send("404 Not Found", [("Content-Length", "0")])

    def serve_file(self, req, q):
        size = int(q.get("size", "10000"))
        data = payload(size)
        rng = re.search(rb"\r\nRange:\s*bytes=(\d+)-", req, re.I)
        cut = int(q["cut"]) if "cut" in q else None
        chunked = q.get("chunked") == "1"
        if rng and q.get("norange") != "1":
            start = int(rng.group(1))
            if start >= size:
                self.send("416 Range Not Satisfiable", [("Content-Range", "bytes */%d" % size), ("Content-Length", "0")])
                return
            body = data[start:]
            self.send("206 Partial Content", [("Content-Length", str(len(body))),
                                              ("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))], body, cut)
            return
        if chunked:
            body = b"%x\r\n" % len(data) + data + b"\r\n0\r\n\r\n"
            self.send("200 OK", [("Transfer-Encoding", "chunked")], body, cut)
            return
        headers = [] if q.get("nolength") == "1" else [("Content-Length", str(size))]
        self.send("200 OK", headers, data, cut)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    srv = Server(("127.0.0.1", 0), Handler)
    print(srv.server_address[1], flush=True)
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    # Ends with its parent: a test that dies leaves no server behind.
    sys.stdin.read()
    srv.shutdown()


if __name__ == "__main__":
    main()

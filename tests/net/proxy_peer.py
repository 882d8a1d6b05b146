#!/usr/bin/env python3
"""A small proxy for the client's tunnel tests: an HTTP proxy that opens CONNECT tunnels, or a
SOCKS5 server (RFC 1928, user and password by RFC 1929), each optionally asking for credentials.

  proxy_peer.py http|socks [--user U --password P] [--status-line LINE] [--bound-type 1|3|4] --log FILE

Prints the port it listens on (127.0.0.1, ephemeral) as its first line, writes one line per
handshake to the log file, and serves until its standard input closes.
"""
import argparse
import base64
import socket
import socketserver
import sys
import threading


def log(server, text):
    with server.log_lock:
        with open(server.args.log, "a", encoding="utf-8") as f:
            f.write(text + "\n")


def recv_exact(sock, n):
    data = b""
    while len(data) < n:
        piece = sock.recv(n - len(data))
        if not piece:
            raise ConnectionError("closed")
        data += piece
    return data


def relay(a, b):
    def pump(src, dst):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
        except OSError:
            pass
        finally:
            try:
                dst.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    t = threading.Thread(target=pump, args=(b, a), daemon=True)
    t.start()
    pump(a, b)
    t.join()


class HttpProxy(socketserver.BaseRequestHandler):
    def handle(self):
        args = self.server.args
        head = b""
        while b"\r\n\r\n" not in head:
            piece = self.request.recv(1)  # byte by byte: nothing after the head is taken
            if not piece:
                return
            head += piece
        text = head.decode("latin-1")
        log(self.server, text.replace("\r\n", "|"))
        line = text.split("\r\n", 1)[0].split(" ")
        if len(line) < 3 or line[0] != "CONNECT":
            self.request.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
            return
        if args.user:
            want = "Basic " + base64.b64encode(("%s:%s" % (args.user, args.password)).encode()).decode()
            got = ""
            for h in text.split("\r\n")[1:]:
                k, _, v = h.partition(":")
                if k.strip().lower() == "proxy-authorization":
                    got = v.strip()
            if got != want:
                self.request.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                     b"Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n\r\n")
                return
        host, _, port = line[1].rpartition(":")
        target = socket.create_connection((host, int(port)), timeout=30)
        self.request.sendall(args.status_line.encode("latin-1") + b"\r\nProxy-Agent: test\r\n\r\n")
        relay(self.request, target)
        target.close()


class SocksServer(socketserver.BaseRequestHandler):
    def handle(self):
        args = self.server.args
        s = self.request
        ver, n = recv_exact(s, 2)
        methods = list(recv_exact(s, n))
        entry = "version=%d methods=%s" % (ver, ",".join(map(str, methods)))
        if args.user:
            method = 2 if 2 in methods else 0xFF
        else:
            method = 0 if 0 in methods else 0xFF
        # Each line is written before the answer, so a client that has its answer finds it.
        if method == 0xFF:
            log(self.server, entry + " refused")
            s.sendall(bytes([5, method]))
            return
        s.sendall(bytes([5, method]))
        if method == 2:
            sub, ulen = recv_exact(s, 2)
            user = recv_exact(s, ulen).decode("latin-1")
            (plen,) = recv_exact(s, 1)
            password = recv_exact(s, plen).decode("latin-1")
            entry += " sub=%d user=%s password=%s" % (sub, user, password)
            if user != args.user or password != args.password:
                log(self.server, entry + " refused")
                s.sendall(b"\x01\x01")
                return
            s.sendall(b"\x01\x00")
        ver, cmd, rsv, atyp = recv_exact(s, 4)
        if atyp == 3:
            (hl,) = recv_exact(s, 1)
            host = recv_exact(s, hl).decode("latin-1")
        elif atyp == 1:
            host = socket.inet_ntoa(recv_exact(s, 4))
        else:
            log(self.server, entry + " atyp=%d refused" % atyp)
            return
        port = int.from_bytes(recv_exact(s, 2), "big")
        entry += " connect=%d atyp=%d target=%s:%d" % (cmd, atyp, host, port)
        log(self.server, entry)
        target = socket.create_connection((host, port), timeout=30)
        bound = {1: b"\x01\x7f\x00\x00\x01", 3: b"\x03\x09localhost", 4: b"\x04" + b"\x00" * 15 + b"\x01"}
        s.sendall(b"\x05\x00\x00" + bound[args.bound_type] + (4321).to_bytes(2, "big"))
        relay(s, target)
        target.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kind", choices=("http", "socks"))
    ap.add_argument("--user", default="")
    ap.add_argument("--password", default="")
    ap.add_argument("--status-line", default="HTTP/1.1 200 Connection established")
    ap.add_argument("--bound-type", type=int, default=1, choices=(1, 3, 4))
    ap.add_argument("--log", required=True)
    args = ap.parse_args()
    srv = Server(("127.0.0.1", 0), HttpProxy if args.kind == "http" else SocksServer)
    srv.args = args
    srv.log_lock = threading.Lock()
    print(srv.server_address[1], flush=True)
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    sys.stdin.read()
    srv.shutdown()


if __name__ == "__main__":
    main()

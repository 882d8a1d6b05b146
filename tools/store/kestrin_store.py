#!/usr/bin/env python3
"""The replacement store web service, on loopback.

It answers what the client asks of the store: item records in the booklist format, the two
category lists, purchases, the update manifest, the catalogue and online reading pages, covers and
item packages (with Range support). For tests it also misbehaves on request.

  python3 tools/store/kestrin_store.py [--port N] [--watch-stdin]

Prints the port it listens on (127.0.0.1) as its first line, then serves until killed (or, with
--watch-stdin, until its standard input closes). --port 0, the default, takes a free port. Point
the client at it with KESTRIN_STORE=http://127.0.0.1:PORT.

The requests it answers (values UTF-8, percent-encoded):
  GET /touch/api/?vs=1&type=TYPE&pid=PID&source=       one booklist record, or "" when unknown
  GET /touch/api/?vs=1&act=sortClass&class=book|mag&source=   the category list
  GET /touch/system/index.php/index/magBuy/?vs=1&uid=&pwd=&type=&act=client&username=&pid=&source=
                                                       "1", "exist", "lack" or "error"
  GET /touch/update.xml                                the update manifest (empty "files" by default)
  GET /touch/magazine/ /touch/book/ /enter/magazine/ /enter/velkor/   the store pages
      ?vs=1&user=NAME&pass=PASSWORD&source=            NAME as the client keeps it (base64 with
                                                       "(", ")" and "-") or plain
  POST /touch/login/?vs=1&source=  body username=&password=   the login: JSON {"result": "ok",
      "userid", "username", "vip", "money"} or {"result": "error", "message"}; any origin may ask
  GET /touch/read/book/ /touch/read/mag/ ?vs=1&pid=PID   an item's online reading page: the
                                                       reading page of the HTML items (its head
                                                       below the client's 95-pixel reading strip)
                                                       on its own paper colour, over the item's
                                                       pages, /touch/read/pages/PID/pN.jpg
  GET /magazine/digi_subscription.php                  the subscription page
  GET /packages/PID.exe, /covers/PID.jpg, /covers/PID_s.jpg   packages and covers of the catalogue
The catalogue's other items (m1..m8, b1..b5) are read in the HTML reader (MYDATA 280 is "1"):
their packages hold view1.html and view2.html, GBK reading pages with a page turner (buttons,
arrow and page keys, a page counter) over page pictures p1.jpg... named by relative addresses,
so they come from the folder the page is served from; view2.html also says whether the item is
paid. The pages call window.external.C_Close and C_HideTool when the reader offers them.
Flash items f1 (mag, free), f2 (mag, paid) and f3 (book, paid): their packages ask for the movie
reader (MYDATA 280 is "0") and hold page pictures p1.jpg... and two start files, "stream" (opened
for a free item) and "stream2" (for a paid one). A start file is UTF-8 text, one entry a line, a
key and its value split at the first space, "#" starting a comment line: "title NAME" names the
item, each "page ADDRESS" is one page in reading order. The addresses name the pictures in a
folder ("pages/p1.jpg"); the program serves each by the part after the last "/".
Test items named by their pid: "emptyN" (empty reply), "nopidN" (a record without pid), "multiN"
(three records, the one asked in the middle), "multinotN" (two records, neither the one asked),
"blobSIZE-ARGS" (a record whose package is /blob?size=SIZE&ARGS, "~" standing for "&"),
"longcjkN" and "longasciiN" (item m1's package under a name of N Chinese or N ASCII characters).

Misbehaviour, for tests (query parameters of /packages/..., /blob and /files/..., or set for the
next answers with GET /_control/fault?...&count=N; a fault with path=PREFIX applies to the answers
on paths that start with PREFIX, any answer at all, instead of the downloads):
  cut=N        close the connection after N body bytes
  norange=1    answer 200 with the whole file, ignoring Range
  rangefrom=N  answer a Range with 206 from byte N, whatever it asked for
  chunked=1    send the body chunked
  redirect=N   answer with N redirects before the file
  slow=MS      sleep MS milliseconds between pieces of 64 KiB
  delay=MS     sleep MS milliseconds before answering
  badlength=N  announce N more (or, negative, fewer) bytes than are sent
  nolength=1   announce no length; the end of the body is the closed connection
  status=CODE  answer CODE with an empty body
  gate=KEY     send the header and the first piece, then wait until KEY is released
  piece=N      send the body in pieces of N bytes (with gate: the first piece is N bytes)

Other test controls:
  GET  /_control/reset                 forget faults, purchases and the manifest; open all gates
  GET  /_control/release?gate=KEY      open a gate (all=1: every gate)
  POST /_control/manifest              the body becomes update.xml
  POST /_control/file?name=NAME        the body is served as /files/NAME (Range supported)
  GET  /_control/log                   the request lines received so far, one a line, each
                                       followed by a tab and its Range line when it had one
  GET  /_control/layout?KEY=X,Y,W,H... what the store page reports of itself once it has painted:
                                       where its controls are, in page pixels, and who it shows as
                                       logged in (user=NAME); only logged, for tests that click
"""
import argparse
import base64
import hashlib
import json
import os
import re
import socket
import socketserver
import struct
import sys
import threading
import time
from urllib.parse import quote, unquote_to_bytes, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "packwriter"))
try:
    import kestrin_pack  # the project's package writer
except ImportError:  # pragma: no cover - the writer is part of the tree
    kestrin_pack = None

API_PATH = "/touch/api/"
BUY_PATH = "/touch/system/index.php/index/magBuy/"
DOWNLOAD_PATHS = ("/packages/", "/blob", "/files/")
FAULT_KEYS = ("cut", "norange", "rangefrom", "chunked", "redirect", "slow", "delay", "badlength", "nolength",
              "status", "gate", "piece")
GATE_WAIT = 120  # seconds a gated answer waits at most, so a test that dies leaves no thread behind

CATEGORIES = {
    "mag": [("11", "时尚", [("111", "女性"), ("112", "男士")]), ("12", "财经", [("121", "商业")])],
    "book": [("21", "小说", [("211", "武侠"), ("212", "言情")]), ("22", "历史", [])],
}

# Users who may buy: uid -> (password, user name, balance).
USERS = {"1001": ("pa ss&#1", "reader", 100), "1002": ("secret", "poor", 0), "1003": ("frozen1", "frozen", 0),
         "1004": ("读书", "读者", 20)}
VIP = {"1001"}
FROZEN = {"1003"}  # may not log in
LOGIN_PATH = "/touch/login/"
STORE_PAGE = os.path.join(HERE, "store_page.html")


def payload(n, seed=0):
    """Deterministic bytes of any length, fast enough for hundreds of megabytes."""
    block = hashlib.sha256(b"kestrin%d" % seed).digest() * 2048  # 64 KiB
    whole, rest = divmod(n, len(block))
    return block * whole + block[:rest]


def solid_jpeg(width, height, rgb):
    """A baseline JPEG of one colour: every 8x8 block holds only its DC term, so a two-table
    Huffman code with a handful of symbols encodes it whole."""
    r, g, b = rgb
    ycc = (0.299 * r + 0.587 * g + 0.114 * b,
           128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
           128 + 0.5 * r - 0.418688 * g - 0.081312 * b)
    # With a quantiser of 1 the DC term of a flat block is 8 x (value - 128).
    dcs = [int(round(8 * (min(255.0, max(0.0, v)) - 128))) for v in ycc]

    def category(v):
        return abs(v).bit_length()

    dc_symbols = sorted({0} | {category(v) for v in dcs})
    dc_codes = {sym: (i, 3) for i, sym in enumerate(dc_symbols)}  # at most 4 codes of 3 bits
    eob = (0, 2)  # the AC table's one symbol, 0x00, as the code "00"

    bits = []

    def put(value, length):
        for i in range(length - 1, -1, -1):
            bits.append((value >> i) & 1)

    blocks_x, blocks_y = (width + 7) // 8, (height + 7) // 8
    previous = [0, 0, 0]
    for _ in range(blocks_x * blocks_y):
        for c in range(3):
            diff = dcs[c] - previous[c]
            previous[c] = dcs[c]
            cat = category(diff)
            put(*dc_codes[cat])
            if cat:
                put(diff if diff > 0 else diff + (1 << cat) - 1, cat)
            put(*eob)
    while len(bits) % 8:
        bits.append(1)
    scan = bytearray()
    for i in range(0, len(bits), 8):
        byte = int("".join(map(str, bits[i:i + 8])), 2)
        scan.append(byte)
        if byte == 0xFF:
            scan.append(0)

    def segment(marker, body):
        return struct.pack(">HH", marker, len(body) + 2) + body

    def dht(table_class, lengths_symbols):
        counts = [0] * 16
        symbols = []
        for length, sym in lengths_symbols:
            counts[length - 1] += 1
            symbols.append(sym)
        return segment(0xFFC4, bytes([table_class << 4]) + bytes(counts) + bytes(symbols))

    out = bytearray(b"\xff\xd8")
    out += segment(0xFFE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    out += segment(0xFFDB, b"\x00" + b"\x01" * 64)
    out += segment(0xFFC0, struct.pack(">BHHB", 8, height, width, 3) + b"\x01\x11\x00\x02\x11\x00\x03\x11\x00")
    out += dht(0, [(3, sym) for sym in dc_symbols])
    out += dht(1, [(2, 0)])
    out += segment(0xFFDA, b"\x03\x01\x00\x02\x00\x03\x00\x00\x3f\x00")
    out += scan + b"\xff\xd9"
    return bytes(out)


def cover_for(pid, small=False):
    """Each item's cover is in a colour of its own, from its pid: a masthead band with its title
    lines, a picture (sky, sun and hills), headline bars and the item's number in the corner. The
    small cover is the colour alone."""
    h = hashlib.sha256(pid.encode("utf-8")).digest()
    rgb = (64 + h[0] % 160, 64 + h[1] % 160, 64 + h[2] % 160)
    if small:
        return solid_jpeg(60, 80, rgb)
    bx, by = 30, 40
    dark = tuple(c * 2 // 5 for c in rgb)
    light = tuple(255 - (255 - c) // 4 for c in rgb)
    digits = "".join(ch for ch in pid if ch.isdigit())[-2:] or "0"
    sun_x = 8 + h[3] % 14

    def colour_at(x, y):
        if y < 7:
            if 2 <= y <= 4 and 3 <= x < 27 - (h[4] % 6) and (x - 3) % 4 != 3:
                return light
            return dark
        if 9 <= y < 27 and 2 <= x < 28:
            if (x - sun_x) ** 2 + (y - 13) ** 2 < 5:
                return (250, 206, 80)
            hill = 21 + ((x * (3 + h[5] % 3)) % 9 - 4) ** 2 // 8
            if y >= hill:
                return (70 + 3 * x, 120 - (y - 21) * 4, 70)
            return (120 + 4 * (y - 9), 170 + 3 * (y - 9), 235)
        if y in (29, 31) and 2 <= x < 22 - (y + h[6]) % 7:
            return light
        if 33 <= y < 38:
            dx = x - (27 - len(digits) * 4 + 1)
            if 0 <= dx < len(digits) * 4:
                digit, col = divmod(dx, 4)
                if col < 3 and DIGITS[int(digits[digit])][(y - 33) * 3 + col] == "1":
                    return light
        return rgb

    return block_jpeg(bx, by, colour_at)


def make_items():
    items = []
    for n in range(1, 9):
        items.append({"pid": "m%d" % n, "id": str(100 + n), "type": "mag", "sort_id": "11" if n % 2 else "12",
                      "name": "杂志第%d号" % n, "date": "2026-%02d" % n, "price": "%d" % (n % 3)})
    for n in range(1, 6):
        items.append({"pid": "b%d" % n, "id": str(200 + n), "type": "book", "sort_id": "21" if n % 2 else "22",
                      "name": "图书%d" % n, "date": "第%d版" % n, "price": "5"})
    return items


def html_item_pages(item):
    """How many pages an HTML item has: three to six, by its pid."""
    return 3 + hashlib.sha256(item["pid"].encode("utf-8")).digest()[3] % 4


READING_PAGE = """<!DOCTYPE html>
<html><head><meta charset="gbk"><title>%(title)s</title>
<style>
html, body { margin: 0; height: 100%%; background: %(background)s; font-family: sans-serif; }
body { display: flex; flex-direction: column; }
#head { flex: none; padding: 103px 16px 6px; display: flex; align-items: center; gap: 10px; }
#head h1 { font-size: 20px; margin: 0 auto 0 0; color: #333; }
#head button { font-size: 14px; padding: 4px 12px; }
#counter { font-size: 14px; color: #333; min-width: 7em; text-align: center; }
#note { font-size: 13px; color: #7a4b00; }
#sheet { flex: 1; min-height: 0; display: flex; justify-content: center; padding: 0 0 16px; }
#page { height: 100%%; box-shadow: 0 2px 8px rgba(0, 0, 0, 0.35); background: #fff; }
</style></head>
<body>
<!-- The client's reading strip lies over the top 95 pixels of the page: the head starts below it. -->
<div id="head">
<h1>%(title)s</h1>
<span id="note">%(note)s</span>
<button id="prev" onclick="turn(-1)">上一页</button>
<span id="counter"></span>
<button id="next" onclick="turn(1)">下一页</button>
<button onclick="hideTools()">隐藏工具栏</button>
<button onclick="closeReader()">关闭</button>
</div>
<div id="sheet"><img id="page" alt=""></div>
<script>
var pages = [%(pages)s];
var current = 0;
function show(i) {
    if (i < 0 || i >= pages.length)
        return false;
    current = i;
    document.getElementById("page").src = pages[i];
    document.getElementById("counter").textContent = "第 " + (i + 1) + " / " + pages.length + " 页";
    document.getElementById("prev").disabled = i == 0;
    document.getElementById("next").disabled = i == pages.length - 1;
    return true;
}
function turn(step) {
    return show(current + step);
}
function currentPage() {
    return String(current + 1);
}
function hideTools() {
    if (window.external && window.external.C_HideTool)
        window.external.C_HideTool();
}
function closeReader() {
    if (window.external && window.external.C_Close)
        window.external.C_Close();
}
document.addEventListener("keydown", function(e) {
    if (e.key == "ArrowRight" || e.key == "PageDown" || e.key == " ")
        turn(1);
    else if (e.key == "ArrowLeft" || e.key == "PageUp")
        turn(-1);
    else if (e.key == "Home")
        show(0);
    else if (e.key == "End")
        show(pages.length - 1);
    else
        return;
    e.preventDefault();
});
show(0);
</script>
</body></html>
"""


def reading_page(item, count, priced):
    """An HTML item's reading page, in GBK: its page pictures by relative address, so they come
    from the item's own folder of whatever serves the page. view2.html, opened when the item has a
    price flag, says whether the item is paid."""
    if priced:
        note = "付费内容 · %s 元" % item["price"] if int(item["price"]) else "免费阅读"
    else:
        note = ""
    pages = ", ".join('"p%d.jpg"' % n for n in range(1, count + 1))
    return (READING_PAGE % {"title": xml_text(item["name"]), "note": note, "pages": pages,
                            "background": "#E1E1E1"}).encode("gbk")


# The online reading page's own colour, a paper tone unlike the reader's grey.
ONLINE_PAPER = "#EADFC8"


def item_page_count(item):
    return item["pages"] if item.get("flash") else html_item_pages(item)


def item_page_picture(item, n):
    """Page n (from 1) of any item, as its package holds it."""
    if item.get("flash"):
        return flash_page(item, n)
    return page_picture(item["pid"], n, columns=2, figure=True)


def online_reading_page(item):
    """The store's online reading page of an item, in GBK: the reading page of the HTML items on
    the store's paper colour, over the item's pages as the store serves them; for an unknown item,
    the same page saying so."""
    if item is None:
        values = {"title": "没有找到这份读物", "note": "", "pages": ""}
    else:
        count = item_page_count(item)
        values = {"title": xml_text(item["name"]), "note": "在线阅读",
                  "pages": ", ".join('"/touch/read/pages/%s/p%d.jpg"' % (item["pid"], n)
                                     for n in range(1, count + 1))}
    values["background"] = ONLINE_PAPER
    return (READING_PAGE % values).encode("gbk")


def html_item_files(item):
    """The files of an HTML item's package, name -> bytes: the two reading pages, the page
    pictures (two columns of text and a picture on each) and the cover."""
    count = html_item_pages(item)
    files = {b"view1.html": reading_page(item, count, False), b"view2.html": reading_page(item, count, True),
             b"1.jpg": cover_for(item["pid"])}
    for n in range(1, count + 1):
        files[b"p%d.jpg" % n] = item_page_picture(item, n)
    return files


def item_package(item):
    """An item package: a resource-only executable holding the item's pages, made by the project's
    package writer."""
    if item.get("flash"):
        return flash_item_package(item)
    pak = kestrin_pack.build_package(sorted(html_item_files(item).items()))
    category = next((name for sid, name, _ in CATEGORIES[item["type"]] if sid == item["sort_id"]), "")
    strings = {162: item["pid"], 163: item["name"], 226: item["date"], 227: "1" if int(item["price"]) else "0",
               268: category, 280: "1", 289: "kestrin store", 294: item["type"], 165: item["sort_id"],
               299: item["price"]}
    resources = {rid: text.encode("gbk") for rid, text in strings.items()}
    resources[188] = pak  # the item's pages
    return kestrin_pack.build_executable(resources)


def block_jpeg(blocks_x, blocks_y, colour_at):
    """A baseline JPEG of blocks_x x blocks_y flat 8x8 blocks, block (x, y) in colour_at(x, y):
    like solid_jpeg, each block holds only its DC term, so pictures of blocks stay small and
    decode to exactly their colours."""
    def dc_terms(rgb):
        r, g, b = rgb
        ycc = (0.299 * r + 0.587 * g + 0.114 * b,
               128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
               128 + 0.5 * r - 0.418688 * g - 0.081312 * b)
        return [int(round(8 * (min(255.0, max(0.0, v)) - 128))) for v in ycc]

    # Differences of DC terms span categories 0 to 11: twelve 4-bit codes, none of them all ones.
    dc_codes = {cat: (cat, 4) for cat in range(12)}
    bits = []

    def put(value, length):
        for i in range(length - 1, -1, -1):
            bits.append((value >> i) & 1)

    previous = [0, 0, 0]
    for y in range(blocks_y):
        for x in range(blocks_x):
            dcs = dc_terms(colour_at(x, y))
            for c in range(3):
                diff = dcs[c] - previous[c]
                previous[c] = dcs[c]
                cat = abs(diff).bit_length()
                put(*dc_codes[cat])
                if cat:
                    put(diff if diff > 0 else diff + (1 << cat) - 1, cat)
                put(0, 2)  # end of block, the AC table's one code
    while len(bits) % 8:
        bits.append(1)
    scan = bytearray()
    for i in range(0, len(bits), 8):
        byte = int("".join(map(str, bits[i:i + 8])), 2)
        scan.append(byte)
        if byte == 0xFF:
            scan.append(0)

    def segment(marker, body):
        return struct.pack(">HH", marker, len(body) + 2) + body

    out = bytearray(b"\xff\xd8")
    out += segment(0xFFE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    out += segment(0xFFDB, b"\x00" + b"\x01" * 64)
    out += segment(0xFFC0, struct.pack(">BHHB", 8, blocks_y * 8, blocks_x * 8, 3) +
                   b"\x01\x11\x00\x02\x11\x00\x03\x11\x00")
    out += segment(0xFFC4, b"\x00" + bytes([0, 0, 0, 12] + [0] * 12) + bytes(range(12)))
    out += segment(0xFFC4, b"\x10" + bytes([0, 1] + [0] * 14) + b"\x00")
    out += segment(0xFFDA, b"\x03\x01\x00\x02\x00\x03\x00\x00\x3f\x00")
    out += scan + b"\xff\xd9"
    return bytes(out)


# --- Flash items ------------------------------------------------------------------------------
# Items read by the movie; the docstring above tells their start files. The pictures are stored
# flat in the package while the lists name them in a folder: only the program's C_ShiftPath
# answer, which keeps the part after the last "/", finds them.

FLASH_PAGE_SIZE = (60, 80)  # in 8x8 blocks: 480 x 640 pixels

# 3x5 block digits for the page numbers.
DIGITS = ["111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
          "111100111001111", "111100111101111", "111001001001001", "111101111101111", "111101111001111"]


def make_flash_items():
    return [
        {"pid": "f1", "id": "301", "type": "mag", "sort_id": "11", "name": "闪读杂志1", "date": "2026-09",
         "price": "0", "flash": True, "pages": 4},
        {"pid": "f2", "id": "302", "type": "mag", "sort_id": "12", "name": "闪读杂志2", "date": "2026-10",
         "price": "2", "flash": True, "pages": 3},
        {"pid": "f3", "id": "303", "type": "book", "sort_id": "21", "name": "闪读图书", "date": "第1版",
         "price": "5", "flash": True, "pages": 5},
    ]


def flash_page_paper(pid, n):
    """The paper colour of page n (from 1) of a Flash item: light, and far from its neighbours'."""
    import colorsys
    h = hashlib.sha256(pid.encode("utf-8")).digest()[0] / 255.0
    r, g, b = colorsys.hsv_to_rgb((h + 0.29 * (n - 1)) % 1.0, 0.22, 0.97)
    return (int(r * 255), int(g * 255), int(b * 255))


def page_picture(pid, n, columns=1, figure=False):
    """Page n (from 1) of an item: a title band in the item's colour, the page number, lines of
    "text" in one or more columns and, with figure, a picture (sky, sun and hills) whose place and
    size change from page to page."""
    bx, by = FLASH_PAGE_SIZE
    band = hashlib.sha256(pid.encode("utf-8")).digest()
    band = (band[0] % 128, band[1] % 128, 64 + band[2] % 128)
    paper = flash_page_paper(pid, n)
    ink = (60, 60, 70)
    number = str(n)
    scale = 3
    width = len(number) * 4 * scale - scale
    left, top = (bx - width) // 2, 14
    gutter = 3
    column_width = (bx - 12 - gutter * (columns - 1)) // columns
    if figure:
        column = (n - 1) % columns
        fx0 = 6 + column * (column_width + gutter)
        fx1 = fx0 + column_width if columns > 1 else bx - 6
        fy0 = 36 + (n * 5) % 12
        fy1 = fy0 + 14 + (n * 3) % 8
    else:
        fx0 = fx1 = fy0 = fy1 = 0

    def picture_at(x, y):
        w, h = fx1 - fx0, fy1 - fy0
        u, v = (x - fx0) / max(1, w - 1), (y - fy0) / max(1, h - 1)
        sun_x, sun_y = 0.25 + 0.5 * ((n * 37) % 10) / 10, 0.3
        if (u - sun_x) ** 2 * w * w + (v - sun_y) ** 2 * h * h < 6.5:
            return (250, 206, 80)
        hill = 0.55 + 0.12 * ((u * (3 + n % 3)) % 1.0 - 0.5) ** 2 * 4
        if v > hill:
            return (70 + int(60 * u), 130 - int(40 * v), 70)
        return (120 + int(80 * v), 170 + int(60 * v), 235)

    def colour_at(x, y):
        if y < 8:
            return band
        dx, dy = x - left, y - top
        if 0 <= dx < width and 0 <= dy < 5 * scale:
            digit, col = divmod(dx // scale, 4)
            if col < 3 and DIGITS[int(number[digit])][(dy // scale) * 3 + col] == "1":
                return ink
            return paper
        if fx0 <= x < fx1 and fy0 <= y < fy1:
            return picture_at(x, y)
        if y < 36 or y >= by - 6 or (y - 36) % 3 != 0:
            return paper
        if columns == 1:
            return (180, 180, 188) if 6 <= x < bx - 6 - (y * 7) % 11 else paper
        column, at = divmod(x - 6, column_width + gutter)
        if 0 <= column < columns and at < column_width - (y * 7 + column * 5) % 6:
            return (180, 180, 188)
        return paper

    return block_jpeg(bx, by, colour_at)


def flash_page(item, n):
    """Page n of a Flash item: a band in the item's colour, the page number, lines of "text"."""
    return page_picture(item["pid"], n)


def flash_start_file(item, paid):
    lines = ["# %s, %s" % (item["pid"], "paid edition" if paid else "free edition"),
             "title %s%s" % (item["name"], "（付费版）" if paid else "")]
    lines += ["page pages/p%d.jpg" % n for n in range(1, item["pages"] + 1)]
    return ("\n".join(lines) + "\n").encode("utf-8")


def flash_item_files(item):
    """The files of a Flash item's package, name -> bytes."""
    files = {b"stream": flash_start_file(item, False), b"stream2": flash_start_file(item, True)}
    for n in range(1, item["pages"] + 1):
        files[b"p%d.jpg" % n] = item_page_picture(item, n)
    return files


def flash_item_package(item):
    pak = kestrin_pack.build_package(sorted(flash_item_files(item).items()))
    category = next((name for sid, name, _ in CATEGORIES[item["type"]] if sid == item["sort_id"]), "")
    strings = {162: item["pid"], 163: item["name"], 226: item["date"], 227: "1" if int(item["price"]) else "0",
               268: category, 280: "0", 289: "kestrin store", 294: item["type"], 165: item["sort_id"],
               299: item["price"]}
    resources = {rid: text.encode("gbk") for rid, text in strings.items()}
    resources[188] = pak
    return kestrin_pack.build_executable(resources)


def xml_text(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def booklist_record(item, base):
    """One record in the booklist format, its fields in the reader's order; the shelf's own
    fields (lengths, state, save path) are the client's and not sent."""
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


def find_user(name, password):
    """The uid of the user with this name and password, or None."""
    for uid, (pw, uname, _) in USERS.items():
        if uname == name and pw == password:
            return uid
    return None


def page_user_name(text):
    """The user name as a page address carries it: the client keeps it in base64 with "(", ")"
    and "-" for "+", "/" and "=", of its bytes in UTF-8 or GBK; a name that does not read back
    that way is taken as it is."""
    if text and re.match(r"^[A-Za-z0-9()]+-*$", text) and len(text) % 4 == 0:
        try:
            raw = base64.b64decode(text.replace("(", "+").replace(")", "/").replace("-", "="), validate=True)
        except ValueError:
            return text
        for codec in ("utf-8", "gbk"):
            try:
                name = raw.decode(codec)
            except UnicodeDecodeError:
                continue
            if name.isprintable():
                return name
    return text


class Store:
    def __init__(self):
        self.lock = threading.Lock()
        self.items = {i["pid"]: i for i in make_items() + make_flash_items()}
        self.packages = {}
        self.files = {}
        self.gates = {}
        self.blob_cache = (None, b"")
        self.reset()

    def reset(self):
        with self.lock:
            self.faults = []  # [dict, remaining count]
            self.bought = set()
            self.balance = {uid: u[2] for uid, u in USERS.items()}
            self.manifest = None
            self.log = []
            gates, self.gates = self.gates, {}
        for g in gates.values():
            g.set()

    def gate(self, key):
        with self.lock:
            return self.gates.setdefault(key, threading.Event())

    def release(self, key=None):
        with self.lock:
            if key is None:
                gates = list(self.gates.values())
            else:
                gates = [self.gates.setdefault(key, threading.Event())]
        for g in gates:
            g.set()

    def package(self, pid):
        with self.lock:
            if pid not in self.packages:
                self.packages[pid] = item_package(self.items[pid])
            return self.packages[pid]

    def blob(self, size, seed):
        with self.lock:
            key, data = self.blob_cache
            if key == (size, seed):
                return data
        data = payload(size, seed)
        with self.lock:
            self.blob_cache = ((size, seed), data)
        return data

    def take_fault(self, path, download):
        """The first queued fault that applies to an answer on this path: one with a path prefix
        applies where the path starts with it, one without to the downloads only."""
        with self.lock:
            for i, (fault, left) in enumerate(self.faults):
                prefix = fault.get("path")
                if (path.startswith(prefix) if prefix else download):
                    if left <= 1:
                        self.faults.pop(i)
                    else:
                        self.faults[i][1] = left - 1
                    return {k: v for k, v in fault.items() if k != "path"}
        return {}


class Handler(socketserver.StreamRequestHandler):
    timeout = 60

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
        target = parts[1]
        store = self.server.store
        with store.lock:
            store.log.append(line + ("\tRange: " + headers["range"] if "range" in headers else ""))
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
        self.query = q
        self.method = parts[0]
        self.body = body
        self.headers_in = headers
        if path.startswith("/_control/"):
            return self.control(path[len("/_control/"):], q, body)
        download = path.startswith(DOWNLOAD_PATHS)
        # The hops of a redirect chain asked for in the address leave the queued faults to the
        # answer at its end.
        if download and int(q.get("redirect", "0")) > 0:
            self.fault = {"redirect": q["redirect"]}
            return self.redirect()
        self.fault = store.take_fault(path, download)
        if download:
            self.fault.update({k: v for k, v in q.items() if k in FAULT_KEYS})
        if "delay" in self.fault:
            time.sleep(float(self.fault["delay"]) / 1000.0)
        if "status" in self.fault:
            return self.reply(int(self.fault["status"]), b"")
        if int(self.fault.get("redirect", "0")) > 0:
            return self.redirect()
        return self.route(path, q)

    def route(self, path, q):
        store = self.server.store
        if path == API_PATH:
            return self.api(q)
        if path == BUY_PATH:
            return self.buy(q)
        if path == LOGIN_PATH:
            return self.login()
        if path == "/touch/update.xml":
            with store.lock:
                m = store.manifest
            if m is None:
                m = b'<?xml version="1.0" encoding="utf-8"?>\r\n<files></files>\r\n'
            return self.answer(m, "text/xml")
        m = re.match(r"^/packages/([A-Za-z0-9_-]+)\.exe$", path)
        if m and m.group(1) in store.items:
            return self.answer(store.package(m.group(1)), ranges=True)
        m = re.match(r"^/covers/([A-Za-z0-9_-]+?)(_s)?\.jpg$", path)
        if m and m.group(1) in store.items:
            return self.answer(cover_for(m.group(1), bool(m.group(2))), "image/jpeg")
        if path == "/blob":
            return self.answer(store.blob(int(q.get("size", "1000")), int(q.get("seed", "0"))), ranges=True)
        m = re.match(r"^/files/(.+)$", path)
        if m:
            with store.lock:
                data = store.files.get(unquote_to_bytes(m.group(1)).decode("utf-8"))
            if data is None:
                return self.reply(404, b"")
            return self.answer(data, ranges=True)
        pages = {"/touch/magazine/": "mag", "/touch/book/": "book", "/enter/magazine/": "mag",
                 "/enter/velkor/": "book"}
        if path in pages:
            return self.answer(self.store_page(pages[path], q), "text/html; charset=utf-8")
        if path in ("/touch/read/book/", "/touch/read/mag/"):
            return self.answer(online_reading_page(store.items.get(q.get("pid", ""))), "text/html; charset=gbk")
        m = re.match(r"^/touch/read/pages/([A-Za-z0-9_-]+)/p(\d+)\.jpg$", path)
        if m and m.group(1) in store.items and 1 <= int(m.group(2)) <= item_page_count(store.items[m.group(1)]):
            return self.answer(item_page_picture(store.items[m.group(1)], int(m.group(2))), "image/jpeg")
        if path == "/magazine/digi_subscription.php":
            return self.answer("<html><body>订阅</body></html>".encode("utf-8"), "text/html; charset=utf-8")
        return self.reply(404, b"")

    # --- the store's own answers -------------------------------------------------------------

    def api(self, q):
        store = self.server.store
        if q.get("act") == "sortClass":
            kind = q.get("class")
            if kind not in CATEGORIES:
                return self.answer(b"", "text/xml")
            return self.answer(category_xml(kind), "text/xml")
        pid = q.get("pid", "")
        kind = q.get("type", "")
        if pid.startswith("empty"):
            return self.answer(b"", "text/xml")
        if pid.startswith("nopid"):
            rec = {"id": "1", "pid": None, "type": kind, "sort_id": "11", "name": "x", "date": "d", "price": "0"}
            return self.answer(booklist([rec], self.base()), "text/xml")
        if pid.startswith("multinot"):
            recs = [{"id": "%d" % n, "pid": "%s-other%d" % (pid, n), "type": kind, "sort_id": "11",
                     "name": "other%d" % n, "date": "d", "price": "0",
                     "load_url": "%s/blob?size=%d&seed=%d" % (self.base(), 20000 + n, n)} for n in (1, 2)]
            return self.answer(booklist(recs, self.base()), "text/xml")
        if pid.startswith("multi"):
            recs = [{"id": "%d" % n, "pid": "%s-other%d" % (pid, n), "type": kind, "sort_id": "11",
                     "name": "other%d" % n, "date": "d", "price": "0"} for n in (1, 2)]
            recs.insert(1, {"id": "9", "pid": pid, "type": kind, "sort_id": "11", "name": "asked",
                            "date": "d", "price": "0"})
            return self.answer(booklist(recs, self.base()), "text/xml")
        m = re.match(r"^long(cjk|ascii)(\d+)$", pid)
        if m:
            unit = "长名称杂志的特别纪念版" if m.group(1) == "cjk" else "A long item name "
            n = int(m.group(2))
            rec = dict(store.items["m1"], pid=pid, name=(unit * (n // len(unit) + 1))[:n], type=kind or "mag",
                       load_url="%s/packages/m1.exe" % self.base(), size=len(store.package("m1")))
            return self.answer(booklist([rec], self.base()), "text/xml")
        m = re.match(r"^blob(\d+)(?:-(.*))?$", pid)
        if m:
            size = int(m.group(1))
            extra = "&" + m.group(2).replace("~", "&") if m.group(2) else ""
            rec = {"id": "1", "pid": pid, "type": kind or "mag", "sort_id": "11", "name": "blob", "date": "%d" % size,
                   "price": "0", "size": size, "load_url": "%s/blob?size=%d%s" % (self.base(), size, extra)}
            return self.answer(booklist([rec], self.base()), "text/xml")
        item = store.items.get(pid)
        if item is None or (kind and item["type"] != kind):
            return self.answer(b"", "text/xml")
        rec = dict(item)
        rec["size"] = len(store.package(pid))
        return self.answer(booklist([rec], self.base()), "text/xml")

    def buy(self, q):
        store = self.server.store
        uid, pwd, pid = q.get("uid", ""), q.get("pwd", ""), q.get("pid", "")
        user = USERS.get(uid)
        item = store.items.get(pid)
        if user is None or user[0] != pwd or item is None or q.get("act") != "client":
            return self.answer(b"error", "text/plain")
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
        return self.answer(answer, "text/plain")

    def login(self):
        """The login the client's own login page and the store pages post. The answer may be read
        from any origin: the client's login page is a local file."""
        cors = [("Access-Control-Allow-Origin", "*")]
        if self.method == "OPTIONS":
            return self.reply(204, b"", "text/plain", cors + [("Access-Control-Allow-Methods", "POST"),
                                                              ("Access-Control-Allow-Headers", "Content-Type")])
        form = {}
        for pair in self.body.decode("latin-1").split("&"):
            k, _, v = pair.partition("=")
            form[unquote_to_bytes(k.replace("+", " ")).decode("utf-8", "replace")] = \
                unquote_to_bytes(v.replace("+", " ")).decode("utf-8", "replace")
        name, password = form.get("username", ""), form.get("password", "")
        if self.method != "POST":
            answer = {"result": "error", "message": "请求方式不正确"}
        elif not name or not password:
            answer = {"result": "error", "message": "请输入用户名和密码"}
        else:
            uid = find_user(name, password)
            if uid is None:
                answer = {"result": "error", "message": "用户名或密码错误"}
            elif uid in FROZEN:
                answer = {"result": "error", "message": "该账号已被冻结，请联系客服"}
            else:
                with self.server.store.lock:
                    money = self.server.store.balance[uid]
                answer = {"result": "ok", "userid": uid, "username": USERS[uid][1],
                          "vip": "1" if uid in VIP else "0", "money": str(money)}
        return self.reply(200, json.dumps(answer, ensure_ascii=False).encode("utf-8"),
                          "application/json; charset=utf-8", cors)

    def store_page(self, kind, q):
        """A catalogue page: the template with the items of one kind, their categories and the
        user the address names, when the name and password are a user's."""
        store = self.server.store
        mode = "enter" if self.request_path.startswith("/enter/") else "touch"
        items = [{"pid": i["pid"], "name": i["name"], "date": i["date"], "price": i["price"], "sort_id": i["sort_id"],
                  "cover": "/covers/%s.jpg" % i["pid"]} for i in store.items.values() if i["type"] == kind]
        name, password = q.get("user", ""), q.get("pass", "")
        uid = find_user(page_user_name(name), password) or find_user(name, password)
        user = None
        if uid is not None and uid not in FROZEN:
            user = {"userid": uid, "username": USERS[uid][1]}
        data = {"kind": kind, "mode": mode, "user": user, "items": items,
                "categories": [{"id": sid, "name": name} for sid, name, _ in CATEGORIES[kind]]}
        # "</" may not appear inside the script element that carries the catalogue.
        text = json.dumps(data, ensure_ascii=False).replace("</", "<\\/")
        with open(STORE_PAGE, encoding="utf-8") as f:
            html = f.read()
        return html.replace("/*CATALOGUE*/", text).encode("utf-8")

    def control(self, what, q, body):
        store = self.server.store
        if what == "reset":
            store.reset()
        elif what == "fault":
            count = int(q.pop("count", "1"))
            with store.lock:
                store.faults.append([q, count])
        elif what == "release":
            store.release(None if q.get("all") == "1" else q.get("gate", ""))
        elif what == "manifest":
            with store.lock:
                store.manifest = body
        elif what == "file":
            with store.lock:
                store.files[q["name"]] = body
        elif what == "layout":
            pass  # the request line in the log is the report
        elif what == "log":
            with store.lock:
                text = "\n".join(store.log) + "\n"
            return self.reply(200, text.encode("latin-1", "replace"), "text/plain")
        else:
            return self.reply(404, b"")
        return self.reply(200, b"ok", "text/plain")

    # --- transport ---------------------------------------------------------------------------

    def reply(self, status, body, ctype="application/octet-stream", extra=()):
        """A plain answer, untouched by faults: errors and the test controls."""
        reason = {200: "OK", 204: "No Content", 206: "Partial Content", 302: "Found", 400: "Bad Request", 404: "Not Found",
                  416: "Range Not Satisfiable"}.get(status, "Status")
        head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n" % (
            status, reason, ctype, len(body))
        for k, v in extra:
            head += "%s: %s\r\n" % (k, v)
        self.wfile.write(head.encode("latin-1") + b"\r\n" + body)

    def answer(self, data, ctype="application/octet-stream", ranges=False):
        """An answer with its body, honouring Range (where ranges is set) and the faults asked for."""
        fault = self.fault
        size = len(data)
        start = 0
        status = 200
        extra = []
        rng = re.match(r"^bytes=(\d+)-$", self.headers_in.get("range", "")) if ranges else None
        if rng and fault.get("norange") != "1":
            start = int(rng.group(1))
            if "rangefrom" in fault:
                start = int(fault["rangefrom"])
            if start >= size:
                return self.reply(416, b"", extra=[("Content-Range", "bytes */%d" % size)])
            status = 206
            extra.append(("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size)))
        body = memoryview(data)[start:]
        cut = int(fault["cut"]) if "cut" in fault else None
        slow = float(fault.get("slow", "0")) / 1000.0
        gate = self.server.store.gate(fault["gate"]) if "gate" in fault else None
        reason = "Partial Content" if status == 206 else "OK"
        head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nConnection: close\r\n" % (status, reason, ctype)
        for k, v in extra:
            head += "%s: %s\r\n" % (k, v)
        chunked = fault.get("chunked") == "1"
        if chunked:
            head += "Transfer-Encoding: chunked\r\n"
        elif fault.get("nolength") != "1":
            head += "Content-Length: %d\r\n" % (len(body) + int(fault.get("badlength", "0")))
        self.wfile.write(head.encode("latin-1") + b"\r\n")
        sent = 0
        # Large pieces when nothing asks for small ones: the benchmark measures the client.
        piece = 65536 if (slow or gate or cut is not None or chunked) else 1 << 20
        if "piece" in fault:
            piece = max(1, int(fault["piece"]))
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
            if gate is not None:
                self.wfile.flush()
                gate.wait(GATE_WAIT)
                gate = None
            if slow:
                self.wfile.flush()
                time.sleep(slow)
        if cut is not None and sent >= cut:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if chunked:
            self.wfile.write(b"0\r\n\r\n")

    def redirect(self):
        args = dict(self.query)
        args["redirect"] = str(int(self.fault["redirect"]) - 1)
        query = "&".join("%s=%s" % (quote(k), quote(v)) for k, v in args.items())
        self.reply(302, b"", extra=[("Location", self.request_path + "?" + query)])


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main(argv=None):
    ap = argparse.ArgumentParser(description="The replacement store web service.")
    ap.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 chooses a free one")
    ap.add_argument("--watch-stdin", action="store_true", help="end when standard input closes")
    args = ap.parse_args(argv)
    srv = Server(("127.0.0.1", args.port), Handler)
    srv.store = Store()
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

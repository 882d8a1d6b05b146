#!/usr/bin/env python3
"""Resource compiler: turns a resource script into a C++ source holding a RESOURCE_TABLE.

The script is UTF-8 in the spirit of a Windows .rc file:
  #define NAME value / #include "header.h"     (only the defines of a header are read)
  STRINGTABLE BEGIN 103 "text" ... END
  168 MENU BEGIN POPUP "x" BEGIN MENUITEM "y", 32771  MENUITEM SEPARATOR END END
  128 ICON "file.ico"
  100 DIALOGEX 0, 0, 186, 95 STYLE ... CAPTION "..." FONT 9, "face" BEGIN LTEXT ... CONTROL ... END
  188 MYDATA "file"                            (any other type: the file's bytes)
  162 MYDATA BEGIN "text" END                  (narrow strings in the ANSI code page, no terminator;
                                                L"..." in UTF-16; numbers as 16-bit words, 5L as 32-bit)
Paths are relative to the script's folder, then to each -I folder (generated packages live in the build
tree).
"""
import argparse
import os
import struct
import sys

ANSI = "gbk"
TYPES = {"CURSOR": 1, "BITMAP": 2, "ICON": 3, "MENU": 4, "DIALOG": 5, "STRING": 6, "RCDATA": 10,
         "GROUP_CURSOR": 12, "GROUP_ICON": 14, "VERSION": 16}
MENU_FLAGS = {"GRAYED": 0x1, "INACTIVE": 0x2, "CHECKED": 0x8, "MENUBARBREAK": 0x20, "MENUBREAK": 0x40,
              "HELP": 0x4000}
MEMORY_OPTIONS = {"DISCARDABLE", "PURE", "IMPURE", "MOVEABLE", "FIXED", "PRELOAD", "LOADONCALL"}


STYLES = {
    "WS_OVERLAPPED": 0, "WS_POPUP": 0x80000000, "WS_CHILD": 0x40000000, "WS_MINIMIZE": 0x20000000,
    "WS_VISIBLE": 0x10000000, "WS_DISABLED": 0x08000000, "WS_CLIPSIBLINGS": 0x04000000,
    "WS_CLIPCHILDREN": 0x02000000, "WS_MAXIMIZE": 0x01000000, "WS_CAPTION": 0x00C00000,
    "WS_BORDER": 0x00800000, "WS_DLGFRAME": 0x00400000, "WS_VSCROLL": 0x00200000, "WS_HSCROLL": 0x00100000,
    "WS_SYSMENU": 0x00080000, "WS_THICKFRAME": 0x00040000, "WS_GROUP": 0x00020000, "WS_TABSTOP": 0x00010000,
    "WS_MINIMIZEBOX": 0x00020000, "WS_MAXIMIZEBOX": 0x00010000,
    "WS_EX_DLGMODALFRAME": 0x1, "WS_EX_NOPARENTNOTIFY": 0x4, "WS_EX_TOPMOST": 0x8, "WS_EX_ACCEPTFILES": 0x10,
    "WS_EX_TRANSPARENT": 0x20, "WS_EX_TOOLWINDOW": 0x80, "WS_EX_WINDOWEDGE": 0x100, "WS_EX_CLIENTEDGE": 0x200,
    "WS_EX_CONTEXTHELP": 0x400, "WS_EX_CONTROLPARENT": 0x10000, "WS_EX_STATICEDGE": 0x20000,
    "WS_EX_APPWINDOW": 0x40000, "WS_EX_LAYERED": 0x80000,
    "DS_ABSALIGN": 0x1, "DS_SYSMODAL": 0x2, "DS_3DLOOK": 0x4, "DS_FIXEDSYS": 0x8, "DS_NOFAILCREATE": 0x10,
    "DS_LOCALEDIT": 0x20, "DS_SETFONT": 0x40, "DS_MODALFRAME": 0x80, "DS_NOIDLEMSG": 0x100,
    "DS_SETFOREGROUND": 0x200, "DS_CONTROL": 0x400, "DS_CENTER": 0x800, "DS_CENTERMOUSE": 0x1000,
    "DS_CONTEXTHELP": 0x2000, "DS_SHELLFONT": 0x48,
    "SS_LEFT": 0, "SS_CENTER": 1, "SS_RIGHT": 2, "SS_ICON": 3, "SS_BLACKRECT": 4, "SS_OWNERDRAW": 0xD,
    "SS_BITMAP": 0xE, "SS_NOPREFIX": 0x80, "SS_NOTIFY": 0x100, "SS_CENTERIMAGE": 0x200, "SS_SUNKEN": 0x1000,
    "BS_PUSHBUTTON": 0, "BS_DEFPUSHBUTTON": 1, "BS_CHECKBOX": 2, "BS_AUTOCHECKBOX": 3, "BS_RADIOBUTTON": 4,
    "BS_3STATE": 5, "BS_AUTO3STATE": 6, "BS_GROUPBOX": 7, "BS_AUTORADIOBUTTON": 9, "BS_OWNERDRAW": 0xB,
    "BS_ICON": 0x40, "BS_BITMAP": 0x80, "BS_MULTILINE": 0x2000, "BS_FLAT": 0x8000,
    "ES_LEFT": 0, "ES_CENTER": 1, "ES_RIGHT": 2, "ES_MULTILINE": 4, "ES_UPPERCASE": 8, "ES_LOWERCASE": 0x10,
    "ES_PASSWORD": 0x20, "ES_AUTOVSCROLL": 0x40, "ES_AUTOHSCROLL": 0x80, "ES_NOHIDESEL": 0x100,
    "ES_READONLY": 0x800, "ES_WANTRETURN": 0x1000, "ES_NUMBER": 0x2000,
    "CBS_SIMPLE": 1, "CBS_DROPDOWN": 2, "CBS_DROPDOWNLIST": 3, "CBS_OWNERDRAWFIXED": 0x10,
    "CBS_AUTOHSCROLL": 0x40, "CBS_SORT": 0x100, "CBS_HASSTRINGS": 0x200,
    "LBS_NOTIFY": 1, "LBS_SORT": 2, "LBS_MULTIPLESEL": 8, "LBS_HASSTRINGS": 0x40, "LBS_USETABSTOPS": 0x80,
    "LBS_NOINTEGRALHEIGHT": 0x100, "LBS_EXTENDEDSEL": 0x800, "LBS_STANDARD": 0xA00003,
    "IDOK": 1, "IDCANCEL": 2, "IDABORT": 3, "IDRETRY": 4, "IDIGNORE": 5, "IDYES": 6, "IDNO": 7,
    "IDC_STATIC": -1,
}
CHILD_VISIBLE = 0x50000000
# keyword: (class atom, default style, has text)
CONTROLS = {
    "LTEXT": (0x82, CHILD_VISIBLE | 0x20000 | 0, True), "RTEXT": (0x82, CHILD_VISIBLE | 0x20000 | 2, True),
    "CTEXT": (0x82, CHILD_VISIBLE | 0x20000 | 1, True),
    "PUSHBUTTON": (0x80, CHILD_VISIBLE | 0x10000 | 0, True),
    "DEFPUSHBUTTON": (0x80, CHILD_VISIBLE | 0x10000 | 1, True),
    "CHECKBOX": (0x80, CHILD_VISIBLE | 0x10000 | 2, True),
    "AUTOCHECKBOX": (0x80, CHILD_VISIBLE | 0x10000 | 3, True),
    "RADIOBUTTON": (0x80, CHILD_VISIBLE | 4, True), "AUTORADIOBUTTON": (0x80, CHILD_VISIBLE | 9, True),
    "GROUPBOX": (0x80, CHILD_VISIBLE | 7, True),
    "EDITTEXT": (0x81, CHILD_VISIBLE | 0x00800000 | 0x10000, False),
    "LISTBOX": (0x83, CHILD_VISIBLE | 0x00800000 | 1, False),
    "COMBOBOX": (0x85, CHILD_VISIBLE | 0, False),
}
CLASS_ATOMS = {"BUTTON": 0x80, "EDIT": 0x81, "STATIC": 0x82, "LISTBOX": 0x83, "SCROLLBAR": 0x84,
               "COMBOBOX": 0x85}


class RcError(Exception):
    pass


class Tok:
    def __init__(self, kind, value, line):
        self.kind, self.value, self.line = kind, value, line

    def __repr__(self):
        return "%s %r" % (self.kind, self.value)


def tokenize(text, fname):
    toks, i, line, n = [], 0, 1, len(text)
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
        elif c in " \t\r,":
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise RcError("%s:%d: unterminated comment" % (fname, line))
            line += text.count("\n", i, end)
            i = end + 2
        elif c == '"' or (c in "Ll" and i + 1 < n and text[i + 1] == '"'):
            wide = c != '"'
            i += 2 if wide else 1
            s = []
            while True:
                if i >= n or text[i] == "\n":
                    raise RcError("%s:%d: unterminated string" % (fname, line))
                ch = text[i]
                if ch == '"':
                    if i + 1 < n and text[i + 1] == '"':
                        s.append('"')
                        i += 2
                        continue
                    i += 1
                    break
                if ch == "\\" and i + 1 < n:
                    e = text[i + 1]
                    s.append({"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "0": "\0", "a": "\a"}
                             .get(e, "\\" + e))
                    i += 2
                    continue
                s.append(ch)
                i += 1
            toks.append(Tok("wstr" if wide else "str", "".join(s), line))
        elif c in "{}|()":
            toks.append(Tok("punct", c, line))
            i += 1
        else:
            j = i
            while j < n and text[j] not in " \t\r\n,{}|()\"":
                j += 1
            word = text[i:j]
            kind = "num" if word[0].isdigit() or (word[0] == "-" and len(word) > 1) else "word"
            toks.append(Tok(kind, word, line))
            i = j
    return toks


def parse_number(word, defines, fname, line):
    w = defines.get(word, word)
    long_ = w.upper().endswith("L")
    if long_:
        w = w[:-1]
    try:
        return int(w, 0), long_
    except ValueError:
        raise RcError("%s:%d: not a number: %s" % (fname, line, word))


def read_defines(path, defines, seen):
    path = os.path.abspath(path)
    if path in seen:
        return [], ""
    seen.add(path)
    deps = [path]
    with open(path, encoding="utf-8") as f:
        text = f.read()
    out = []
    for raw in text.split("\n"):
        s = raw.strip()
        if s.startswith("#"):
            parts = s[1:].split(None, 2)
            if parts and parts[0] == "define" and len(parts) == 3:
                defines[parts[1]] = parts[2].split("//")[0].strip().strip("()")
            elif parts and parts[0] == "include" and len(parts) >= 2:
                inc = parts[1].strip('"<>')
                deps += read_defines(os.path.join(os.path.dirname(path), inc), defines, seen)[0]
            out.append("")
        else:
            out.append(raw)
    return deps, "\n".join(out)


class Compiler:
    def __init__(self, script, search=()):
        self.script = os.path.abspath(script)
        self.base = os.path.dirname(self.script)
        self.search = [self.base] + [os.path.abspath(d) for d in search]
        self.defines = {}
        self.deps = []
        self.resources = []  # (type, name, bytes); type/name: int or str
        self.strings = {}
        self.next_icon = 1
        self.lang = 0

    def error(self, tok, msg):
        raise RcError("%s:%d: %s" % (self.script, tok.line if tok else 0, msg))

    def run(self):
        deps, text = read_defines(self.script, self.defines, set())
        self.deps = list(deps)
        self.toks = tokenize(text, self.script)
        self.pos = 0
        while self.pos < len(self.toks):
            self.statement()
        self.finish_strings()
        return self.resources

    def peek(self):
        return self.toks[self.pos] if self.pos < len(self.toks) else None

    def take(self):
        t = self.peek()
        if t is None:
            self.error(self.toks[-1] if self.toks else None, "unexpected end of script")
        self.pos += 1
        return t

    def is_begin(self, t):
        return t is not None and (t.value == "{" or (t.kind == "word" and t.value.upper() == "BEGIN"))

    def is_end(self, t):
        return t is not None and (t.value == "}" or (t.kind == "word" and t.value.upper() == "END"))

    def expect_begin(self):
        t = self.take()
        while t.kind == "word" and t.value.upper() in MEMORY_OPTIONS | {"LANGUAGE"}:
            t = self.take()
        if not self.is_begin(t):
            self.error(t, "BEGIN expected")

    def key(self, t):
        if t.kind == "num":
            return parse_number(t.value, self.defines, self.script, t.line)[0] & 0xFFFF
        if t.kind == "word" and t.value in self.defines:
            return parse_number(t.value, self.defines, self.script, t.line)[0] & 0xFFFF
        if t.kind in ("word", "str"):
            return t.value.upper()
        self.error(t, "resource name expected")

    def file_bytes(self, t):
        if t.kind != "str":
            self.error(t, "file name expected")
        path = os.path.join(self.base, t.value)
        for d in self.search:
            if os.path.isfile(os.path.join(d, t.value)):
                path = os.path.join(d, t.value)
                break
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            self.error(t, "cannot read %s: %s" % (path, e.strerror))
        self.deps.append(os.path.abspath(path))
        return data

    def statement(self):
        t = self.take()
        if t.kind == "word" and t.value.upper() == "STRINGTABLE":
            self.stringtable()
            return
        if t.kind == "word" and t.value.upper() == "LANGUAGE":
            primary = self.take()
            secondary = self.take()
            p = parse_number(primary.value, self.defines, self.script, primary.line)[0]
            q = parse_number(secondary.value, self.defines, self.script, secondary.line)[0]
            self.lang = ((q & 0x3F) << 10) | (p & 0x3FF)
            return
        name = self.key(t)
        tt = self.take()
        tname = tt.value.upper() if tt.kind == "word" else None
        if tname in ("DIALOG", "DIALOGEX"):
            self.add(5, name, self.dialog(tname == "DIALOGEX"))
            return
        if tname == "MENU" or tname == "MENUEX":
            if tname == "MENUEX":
                self.error(tt, "MENUEX is not supported")
            self.expect_begin()
            self.add(4, name, struct.pack("<HH", 0, 0) + self.menu_items())
            return
        if tname == "ICON":
            self.icon(name, self.file_bytes(self.take()))
            return
        rtype = TYPES.get(tname, None) if tname else None
        if rtype is None:
            rtype = self.key(tt)
        nxt = self.take()
        while nxt.kind == "word" and nxt.value.upper() in MEMORY_OPTIONS:
            nxt = self.take()
        if self.is_begin(nxt):
            self.add(rtype, name, self.raw_data())
        else:
            data = self.file_bytes(nxt)
            if rtype == 2 and data[:2] == b"BM":
                data = data[14:]  # a bitmap resource holds no file header
            self.add(rtype, name, data)

    def add(self, rtype, name, data):
        for r in self.resources:
            if r[0] == rtype and r[1] == name:
                raise RcError("%s: duplicate resource %r of type %r" % (self.script, name, rtype))
        self.resources.append((rtype, name, bytes(data), self.lang))

    def raw_data(self):
        out = bytearray()
        while True:
            t = self.take()
            if self.is_end(t):
                return bytes(out)
            if t.kind == "str":
                try:
                    out += t.value.encode(ANSI)
                except UnicodeEncodeError:
                    self.error(t, "text not in the ANSI code page")
            elif t.kind == "wstr":
                out += t.value.encode("utf-16-le")
            elif t.kind in ("num", "word"):
                v, long_ = parse_number(t.value, self.defines, self.script, t.line)
                out += struct.pack("<I" if long_ else "<H", v & (0xFFFFFFFF if long_ else 0xFFFF))
            else:
                self.error(t, "unexpected %s" % t.value)

    def value(self, t):
        if t.kind == "num" or t.value in self.defines:
            return parse_number(t.value, self.defines, self.script, t.line)[0]
        if t.kind == "word" and t.value.upper() in STYLES:
            return STYLES[t.value.upper()]
        self.error(t, "not a number: %s" % t.value)

    def starts_value(self, t):
        return t is not None and t.kind in ("num", "word") and (
            t.kind == "num" or t.value in self.defines or t.value.upper() in STYLES or t.value.upper() == "NOT")

    def expression(self, base=0):
        """A style: terms joined by "|"; "NOT x" clears the bits of x. Returns (set, cleared)."""
        value, cleared = base, 0
        while True:
            t = self.take()
            if t.kind == "word" and t.value.upper() == "NOT":
                bits = self.value(self.take())
                value &= ~bits
                cleared |= bits
            else:
                value |= self.value(t)
            nxt = self.peek()
            if nxt is not None and nxt.value == "|" and nxt.kind == "punct":
                self.take()
                continue
            return value & 0xFFFFFFFF, cleared

    def sz_or_ord(self, v):
        if v is None:
            return b"\0\0"
        if isinstance(v, int):
            return struct.pack("<HH", 0xFFFF, v & 0xFFFF)
        return v.encode("utf-16-le") + b"\0\0"

    def dialog(self, ex):
        geom = [self.value(self.take()) for _ in range(4)]
        if ex and self.starts_value(self.peek()):
            self.take()  # help id of the dialog
        style, style_given, exstyle = 0x80880000, False, 0
        caption, menu, cls, font = None, None, None, None
        while True:
            t = self.take()
            kw = t.value.upper() if t.kind == "word" else ""
            if self.is_begin(t):
                break
            if kw == "STYLE":
                style, _ = self.expression()
                style_given = True
            elif kw == "EXSTYLE":
                exstyle, _ = self.expression()
            elif kw == "CAPTION":
                caption = self.take().value
            elif kw == "MENU":
                menu = self.key(self.take())
            elif kw == "CLASS":
                c = self.take()
                cls = c.value if c.kind in ("str", "wstr") else self.value(c)
            elif kw == "FONT":
                size = self.value(self.take())
                face = self.take().value
                extra = []
                while self.starts_value(self.peek()):
                    extra.append(self.value(self.take()))
                font = (size, face, extra)
            elif kw in MEMORY_OPTIONS or kw == "LANGUAGE":
                if kw == "LANGUAGE":
                    self.take()
                    self.take()
            else:
                self.error(t, "dialog option or BEGIN expected")
        if caption is not None:
            style |= 0x00C00000
        if font is not None:
            style |= 0x40
        del style_given
        items = []
        while True:
            t = self.take()
            if self.is_end(t):
                break
            items.append(self.control(t, ex))
        out = bytearray()
        if ex:
            out += struct.pack("<HHIIIH", 1, 0xFFFF, 0, exstyle, style, len(items))
        else:
            out += struct.pack("<IIH", style, exstyle, len(items))
        out += struct.pack("<hhhh", *geom)
        out += self.sz_or_ord(menu) + self.sz_or_ord(cls) + self.sz_or_ord(caption or "")
        if font is not None:
            size, face, extra = font
            out += struct.pack("<H", size)
            if ex:
                weight = extra[0] if len(extra) > 0 else 0
                italic = extra[1] if len(extra) > 1 else 0
                charset = extra[2] if len(extra) > 2 else 1
                out += struct.pack("<HBB", weight, italic, charset)
            out += face.encode("utf-16-le") + b"\0\0"
        for item in items:
            out += b"\0" * (-len(out) % 4)
            cid, cstyle, cex, x, y, cx, cy, klass, text = item
            if ex:
                out += struct.pack("<IIIhhhhI", 0, cex, cstyle, x, y, cx, cy, cid & 0xFFFFFFFF)
            else:
                out += struct.pack("<IIhhhhH", cstyle, cex, x, y, cx, cy, cid & 0xFFFF)
            out += self.sz_or_ord(klass) + self.sz_or_ord(text) + struct.pack("<H", 0)
        return bytes(out)

    def text_or_ord(self):
        t = self.take()
        if t.kind in ("str", "wstr"):
            return t.value
        return self.value(t) if self.starts_value(t) else t.value.upper()

    def control(self, t, ex):
        kw = t.value.upper() if t.kind == "word" else ""
        if kw == "CONTROL":
            text = self.text_or_ord()
            cid = self.value(self.take())
            c = self.take()
            # Class names compare without regard to case; they are kept upper-cased as windres keeps them.
            klass = CLASS_ATOMS.get(c.value.upper(), c.value.upper()) if c.kind in ("str", "word") else self.value(c)
            style, _ = self.expression(CHILD_VISIBLE)
            geom = [self.value(self.take()) for _ in range(4)]
            cex = self.expression()[0] if self.starts_value(self.peek()) else 0
            return (cid, style, cex, *geom, klass, text)
        if kw == "ICON":
            icon = self.text_or_ord()
            cid = self.value(self.take())
            geom = [self.value(self.take()) for _ in range(2)] + [0, 0]
            style, cex = CHILD_VISIBLE | 3, 0
            if self.starts_value(self.peek()):
                # The size is ignored: an icon control takes the size of its icon.
                self.value(self.take())
                self.value(self.take())
                if self.starts_value(self.peek()):
                    style, _ = self.expression(style)
                    if self.starts_value(self.peek()):
                        cex = self.expression()[0]
            return (cid, style, cex, *geom, 0x82, icon)
        if kw not in CONTROLS:
            self.error(t, "control expected")
        klass, style, has_text = CONTROLS[kw]
        text = self.text_or_ord() if has_text else None
        cid = self.value(self.take())
        geom = [self.value(self.take()) for _ in range(4)]
        cex = 0
        if self.starts_value(self.peek()):
            # A given style replaces the group default of the text controls.
            if klass == 0x82:
                style &= ~0x20000
            style, _ = self.expression(style)
            if self.starts_value(self.peek()):
                cex = self.expression()[0]
        return (cid, style, cex, *geom, klass, "" if text is None else text)

    def stringtable(self):
        self.expect_begin()
        while True:
            t = self.take()
            if self.is_end(t):
                return
            sid = self.key(t)
            if not isinstance(sid, int):
                self.error(t, "string id expected")
            s = self.take()
            if s.kind not in ("str", "wstr"):
                self.error(s, "string expected")
            if sid in self.strings:
                self.error(t, "duplicate string id %d" % sid)
            self.strings[sid] = s.value

    def finish_strings(self):
        blocks = {}
        for sid, text in self.strings.items():
            blocks.setdefault(sid >> 4, {})[sid & 15] = text
        for b in sorted(blocks):
            data = bytearray()
            for i in range(16):
                w = blocks[b].get(i, "").encode("utf-16-le")
                data += struct.pack("<H", len(w) // 2) + w
            self.add(6, b + 1, data)

    def menu_items(self):
        items = []
        while True:
            t = self.take()
            if self.is_end(t):
                break
            kw = t.value.upper() if t.kind == "word" else ""
            if kw == "MENUITEM":
                nt = self.peek()
                if nt and nt.kind == "word" and nt.value.upper() == "SEPARATOR":
                    self.take()
                    items.append((0, 0, "", None))
                    continue
                text = self.take()
                if text.kind not in ("str", "wstr"):
                    self.error(text, "menu text expected")
                mid = self.take()
                idv = parse_number(mid.value, self.defines, self.script, mid.line)[0] & 0xFFFF
                flags = self.menu_options()
                items.append((flags, idv, text.value, None))
            elif kw == "POPUP":
                text = self.take()
                if text.kind not in ("str", "wstr"):
                    self.error(text, "menu text expected")
                flags = self.menu_options()
                self.expect_begin()
                items.append((flags | 0x10, None, text.value, self.menu_items()))
            else:
                self.error(t, "MENUITEM or POPUP expected")
        out = bytearray()
        for i, (flags, idv, text, sub) in enumerate(items):
            if i == len(items) - 1:
                flags |= 0x80
            out += struct.pack("<H", flags)
            if sub is None:
                out += struct.pack("<H", idv)
            out += text.encode("utf-16-le") + b"\0\0"
            if sub is not None:
                out += sub
        return bytes(out)

    def menu_options(self):
        flags = 0
        while True:
            t = self.peek()
            if t and t.kind == "word" and t.value.upper() in MENU_FLAGS:
                flags |= MENU_FLAGS[t.value.upper()]
                self.take()
            else:
                return flags

    def icon(self, name, data):
        if len(data) < 6:
            raise RcError("%s: icon file too short" % self.script)
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        if reserved != 0 or kind != 1 or count == 0 or len(data) < 6 + 16 * count:
            raise RcError("%s: not an icon file" % self.script)
        group = bytearray(struct.pack("<HHH", 0, 1, count))
        for i in range(count):
            w, h, colors, res, planes, bits, size, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
            if off + size > len(data):
                raise RcError("%s: icon image past the end of the file" % self.script)
            iid = self.next_icon
            self.next_icon += 1
            self.add(3, iid, data[off:off + size])
            group += struct.pack("<BBBBHHIH", w, h, colors, res, planes, bits, size, iid)
        self.add(14, name, bytes(group))


def c_string(s):
    return '"' + "".join("\\%03o" % b if b < 32 or b > 126 or b in (34, 92) else chr(b)
                         for b in s.encode(ANSI)) + '"'


def emit_cpp(resources, symbol):
    out = ["// Generated by the resource compiler. Do not edit.",
           '#include "platform/kernel/Module.h"', "", "namespace {"]
    for i, (_, _, data, _) in enumerate(resources):
        body = ",".join(str(b) for b in data) if data else "0"
        out.append("const BYTE kData%d[] = {%s};" % (i, body))
    out.append("const RESOURCE_TABLE_ENTRY kEntries[] = {")
    for i, (rtype, name, data, lang) in enumerate(resources):
        def key(k):
            return ("nullptr, %d" % k) if isinstance(k, int) else ("%s, 0" % c_string(k))
        out.append("    {%s, %s, %d, kData%d, %d}," % (key(rtype), key(name), lang, i, len(data)))
    if not resources:
        out.append("    {nullptr, 0, nullptr, 0, 0, nullptr, 0},")
    out.append("};")
    out.append("} // namespace")
    out.append("")
    out.append("extern const RESOURCE_TABLE %s;" % symbol)
    out.append("const RESOURCE_TABLE %s = {kEntries, %d};" % (symbol, len(resources)))
    return "\n".join(out) + "\n"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("script")
    ap.add_argument("-o", "--output", required=True)
    ap.add_argument("--symbol", default="g_programResourceTable")
    ap.add_argument("--depfile")
    ap.add_argument("-I", dest="search", action="append", default=[], help="another folder for data files")
    args = ap.parse_args(argv)
    try:
        comp = Compiler(args.script, args.search)
        resources = comp.run()
    except (RcError, OSError) as e:
        print("kestrin_rc: %s" % e, file=sys.stderr)
        return 1
    text = emit_cpp(resources, args.symbol)
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write(text)
    os.replace(tmp, args.output)
    if args.depfile:
        with open(args.depfile, "w", encoding="utf-8") as f:
            f.write("%s: %s\n" % (args.output.replace(" ", "\\ "),
                                  " ".join(d.replace(" ", "\\ ") for d in comp.deps)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Package writer: makes content packages and wraps them, with MYDATA items, into a Windows executable.

  kestrin_pack.py pack FOLDER -o OUT.pak
      every file directly in FOLDER becomes an entry, in byte order of the names
  kestrin_pack.py exe -o OUT.exe [--package ID=FOLDER_OR_PAK] [--file ID=FILE] [--string ID=TEXT]
      a resource-only executable whose type "MYDATA" holds the given items; strings are stored in
      the ANSI code page without a terminator
"""
import argparse
import os
import struct
import sys

ANSI = "gbk"
ENTRY_SIZE = 264
MAX_ENTRIES = 5000
LANG = 0x0804


class PackError(Exception):
    pass


# The unpacker refuses a whole package over one name a Windows file name cannot take, so the
# writer never makes one.
FORBIDDEN = set(b'\\/:*?"<>|')


def check_name(name):
    if not name or len(name) > 255 or name in (b".", b".."):
        raise PackError("unusable entry name %r" % name)
    i = 0
    while i < len(name):
        c = name[i]
        if 0x81 <= c <= 0xFE:
            if i + 1 >= len(name) or name[i + 1] < 0x40 or name[i + 1] in (0x7F, 0xFF):
                raise PackError("entry name %r is not whole GBK characters" % name)
            i += 2
            continue
        if c < 32 or c == 127 or c in FORBIDDEN:
            raise PackError("entry name %r holds a character a file name cannot take" % name)
        i += 1


def build_package(entries):
    """entries: list of (name bytes, data bytes) -> package bytes."""
    if len(entries) > MAX_ENTRIES:
        raise PackError("more than %d entries" % MAX_ENTRIES)
    seen = set()
    body, directory = bytearray(), bytearray()
    for name, data in entries:
        check_name(name)
        folded = name.lower()
        if folded in seen:
            raise PackError("two entries named %r (names compare without regard to case)" % name)
        seen.add(folded)
        directory += name.ljust(256, b"\0") + struct.pack("<II", len(body), len(data))
        body += data
    if len(body) + len(directory) + 12 > 0xFFFFFFFF:
        raise PackError("package too large")
    return bytes(body + directory + struct.pack("<IIi", len(body), len(directory), len(entries)))


def package_from_folder(folder):
    entries = []
    for fname in sorted(os.listdir(folder), key=lambda n: n.encode("utf-8")):
        path = os.path.join(folder, fname)
        if not os.path.isfile(path):
            continue
        try:
            name = fname.encode(ANSI)
        except UnicodeEncodeError:
            raise PackError("file name not in the ANSI code page: %s" % fname)
        with open(path, "rb") as f:
            entries.append((name, f.read()))
    return build_package(entries)


def align(n, a):
    return (n + a - 1) // a * a


def build_resource_section(items, rva):
    """items: dict id -> bytes, all of type "MYDATA". Returns the section's bytes."""
    ids = sorted(items)
    type_name = "MYDATA".encode("utf-16-le")
    # Layout: root, type directory, one language directory per id, data entries, the type name, data.
    root = 0
    type_dir = root + 16 + 8
    lang_dirs = type_dir + 16 + 8 * len(ids)
    data_entries = lang_dirs + (16 + 8) * len(ids)
    name_off = data_entries + 16 * len(ids)
    data_off = align(name_off + 2 + len(type_name), 8)
    out = bytearray()
    out += struct.pack("<IIHHHH", 0, 0, 4, 0, 1, 0)
    out += struct.pack("<II", 0x80000000 | name_off, 0x80000000 | type_dir)
    out += struct.pack("<IIHHHH", 0, 0, 4, 0, 0, len(ids))
    for i, rid in enumerate(ids):
        out += struct.pack("<II", rid, 0x80000000 | (lang_dirs + 24 * i))
    for i in range(len(ids)):
        out += struct.pack("<IIHHHH", 0, 0, 4, 0, 0, 1)
        out += struct.pack("<II", LANG, data_entries + 16 * i)
    blobs, pos = [], data_off
    for rid in ids:
        blobs.append(pos)
        pos = align(pos + len(items[rid]), 8)
    for i, rid in enumerate(ids):
        out += struct.pack("<IIII", rva + blobs[i], len(items[rid]), 0, 0)
    out += struct.pack("<H", len(type_name) // 2) + type_name
    for i, rid in enumerate(ids):
        out += b"\0" * (blobs[i] - len(out)) + items[rid]
    return bytes(out)


def build_executable(items):
    file_align, sect_align, rva = 0x200, 0x1000, 0x1000
    rsrc = build_resource_section(items, rva)
    raw_size = align(len(rsrc), file_align)
    image_size = rva + align(max(len(rsrc), 1), sect_align)
    pe_off = 0x80
    dos = bytearray(pe_off)
    dos[0:2] = b"MZ"
    struct.pack_into("<HHHHHHHHH", dos, 2, 0x90, 3, 0, 4, 0, 0xFFFF, 0, 0xB8, 0)
    struct.pack_into("<H", dos, 0x18, 0x40)
    struct.pack_into("<I", dos, 0x3C, pe_off)
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x0102 | 0x2000)
    dirs = [(0, 0)] * 16
    dirs[2] = (rva, len(rsrc))
    opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
                      0x10B, 2, 30, 0, raw_size, 0, 0, rva, rva,
                      0x10000000, sect_align, file_align, 4, 0, 0, 0, 4, 0, 0,
                      image_size, file_align, 0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    opt += b"".join(struct.pack("<II", a, s) for a, s in dirs)
    assert len(opt) == 224
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), rva, raw_size, file_align, 0, 0, 0, 0,
                          0x40000040)
    headers = bytes(dos) + b"PE\0\0" + coff + opt + section
    headers += b"\0" * (file_align - len(headers))
    return headers + rsrc + b"\0" * (raw_size - len(rsrc))


def parse_item(item_arg):
    rid, sep, value = item_arg.partition("=")
    if not sep or not rid.isdigit() or not 0 < int(rid) < 0x10000:
        raise PackError("expected ID=VALUE, got %r" % item_arg)
    return int(rid), value


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("pack")
    p.add_argument("folder")
    p.add_argument("-o", "--output", required=True)
    e = sub.add_parser("exe")
    e.add_argument("-o", "--output", required=True)
    e.add_argument("--package", action="append", default=[])
    e.add_argument("--file", action="append", default=[])
    e.add_argument("--string", action="append", default=[])
    args = ap.parse_args(argv)
    try:
        if args.cmd == "pack":
            data = package_from_folder(args.folder)
        else:
            items = {}

            def put(rid, blob):
                if rid in items:
                    raise PackError("MYDATA %d given twice" % rid)
                items[rid] = blob

            for item_arg in args.package:
                rid, value = parse_item(item_arg)
                if os.path.isdir(value):
                    put(rid, package_from_folder(value))
                else:
                    with open(value, "rb") as f:
                        put(rid, f.read())
            for item_arg in args.file:
                rid, value = parse_item(item_arg)
                with open(value, "rb") as f:
                    put(rid, f.read())
            for item_arg in args.string:
                rid, value = parse_item(item_arg)
                try:
                    put(rid, value.encode(ANSI))
                except UnicodeEncodeError:
                    raise PackError("text of MYDATA %d not in the ANSI code page" % rid)
            data = build_executable(items)
    except (PackError, OSError) as err:
        print("kestrin_pack: %s" % err, file=sys.stderr)
        return 1
    tmp = args.output + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())

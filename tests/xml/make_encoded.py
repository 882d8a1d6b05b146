#!/usr/bin/env python3
"""Writes one booklist-like document in several encodings with Python's codecs and iconv, for
the engine's file tests. Usage: make_encoded.py OUTDIR

For each variant NAME it writes OUTDIR/NAME.xml (the file as another tool makes it) and
OUTDIR/NAME.ansi (the text the engine should hold after loading it: the same characters in GBK).
"""
import codecs
import os
import subprocess
import sys

BODY = ("<books>\r\n"
        "<book name=\"中文书名\" price=\"9.5\" note=\"&lt;新&gt; &amp; &#x4E66;\">"
        "简介 &amp; 内容 &#20013;&#x6587; &eacute; &Delta; &lt;b&gt; &quot;q&quot; &apos;a&apos;"
        "</book>\r\n"
        "<book name=\"第二本\"><![CDATA[<原样> & ]]></book>\r\n"
        "</books>\r\n")


def declared(encoding):
    return "<?xml version=\"1.0\" encoding=\"%s\"?>\r\n" % encoding + BODY


def main():
    out = sys.argv[1]
    variants = {
        # name: (text, bytes of the file)
        "utf8_nobom": (BODY, BODY.encode("utf-8")),
        "utf8_declared": (declared("utf-8"), declared("utf-8").encode("utf-8")),
        "utf8_bom": (declared("UTF-8"), declared("UTF-8").encode("utf-8-sig")),
        "utf16le": (declared("UTF-16"), codecs.BOM_UTF16_LE + declared("UTF-16").encode("utf-16-le")),
        "utf16be": (declared("UTF-16"), codecs.BOM_UTF16_BE + declared("UTF-16").encode("utf-16-be")),
        "gb2312_python": (declared("GB2312"), declared("GB2312").encode("gb2312")),
    }
    for name, (text, data) in variants.items():
        with open(os.path.join(out, name + ".xml"), "wb") as f:
            f.write(data)
        with open(os.path.join(out, name + ".ansi"), "wb") as f:
            f.write(text.encode("gbk"))

    # GBK by iconv from a UTF-8 source that already declares GBK.
    text = declared("GBK")
    src = os.path.join(out, "gbk_source.utf8")
    with open(src, "wb") as f:
        f.write(text.encode("utf-8"))
    with open(os.path.join(out, "gbk_iconv.xml"), "wb") as f:
        subprocess.run(["iconv", "-f", "UTF-8", "-t", "GBK", src], stdout=f, check=True)
    with open(os.path.join(out, "gbk_iconv.ansi"), "wb") as f:
        f.write(text.encode("gbk"))
    # UTF-16 by iconv as well: it writes a BOM and the machine's (little-endian) order.
    text = declared("UTF-16")
    with open(src, "wb") as f:
        f.write(text.encode("utf-8"))
    with open(os.path.join(out, "utf16_iconv.xml"), "wb") as f:
        subprocess.run(["iconv", "-f", "UTF-8", "-t", "UTF-16", src], stdout=f, check=True)
    with open(os.path.join(out, "utf16_iconv.ansi"), "wb") as f:
        f.write(text.encode("gbk"))
    os.remove(src)


if __name__ == "__main__":
    main()

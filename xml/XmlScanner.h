// The scanning cursor shared by the parser, the readers, the editors and the encoding sniffer.
#pragma once

#include "platform/base/AfxAscii.h"
#include "platform/base/AfxStr.h"

#include <cstdint>
#include <cstring>

// Node kinds of one scanning step.
enum : int {
    XML_NODE_END_TAG = 0,
    XML_NODE_START_TAG = 1,
    XML_NODE_TEXT = 2,
    XML_NODE_WHITESPACE = 4,
    XML_NODE_CDATA = 8,
    XML_NODE_PI = 0x10,
    XML_NODE_COMMENT = 0x20,
    XML_NODE_DOCTYPE = 0x40,
    XML_NODE_ERROR = -1,
    XML_NODE_END_OF_TEXT = -2,
};

enum : int {
    XML_NODEFLAG_EMPTY = 0x10000, // the start tag ends in "/>"
    XML_SCAN_QUOTED = 0x8000,     // the last value scanned was quoted
    XML_SCAN_NAME_ONLY = 0x4000,  // the attribute found stands without a value
};

class CXmlScanner {
public:
    CXmlScanner(const char* text, int flags, int next = 0) : nNext(next), pText(text), nFlags(flags) {}

    int nNameStart = 0;
    int nNameEnd = -1; // inclusive
    int nNext = 0;
    const char* pText;
    int nFlags;
    int nGapStart = 0;
    int nGapLen = 0;
    void* pStream = nullptr;

    int NameLength() const { return nNameEnd - nNameStart + 1; }
};

struct XmlNodeInfo {
    int nKind = 0;
    int nStart = 0;
    int nLength = 0;
    int nNodeFlags = 0;
    CString strProblems;
};

namespace xmlscan::detail {

// Character classes of the scanning loops, so that the common characters cost one lookup. Every
// class that ends a loop holds the terminating zero, so no loop reads past the text.
enum : unsigned short {
    CC_SPACE = 1,       // blank, tab, line feed, carriage return
    CC_TEXT_STOP = 2,   // ends a text node: the terminating zero, "<", ">"
    CC_NAME_STOP = 4,   // ends a tag name: the terminating zero, a blank, "/", ">"
    CC_HIGH = 8,        // 0x80 and above: maybe a lead byte
    CC_ATTR_STOP = 16,  // ends an attribute name: the zero, a blank, "/", "=", ">", "?"
    CC_VALUE_STOP = 32, // ends an unquoted value: the zero, a blank, ">"
    CC_LT_STOP = 64,    // the zero, "<"
    CC_GT_STOP = 128,   // the zero, ">"
    CC_DQ_STOP = 256,   // the zero, a double quote
    CC_SQ_STOP = 512,   // the zero, a single quote
    CC_TAG_STOP = 1024, // what changes the state of a start tag outside values: the zero, "=", ">"
    CC_QUOTE = 2048,    // a double or single quote
};

struct CharClasses {
    unsigned short cls[256];
    constexpr CharClasses() : cls() {
        for (int c : {' ', '\t', '\n', '\r'})
            cls[c] |= CC_SPACE | CC_NAME_STOP;
        for (int c : {'\0', '<', '>'})
            cls[c] |= CC_TEXT_STOP;
        for (int c : {'\0', '/', '>'})
            cls[c] |= CC_NAME_STOP;
        for (int c = 0x80; c < 256; ++c)
            cls[c] |= CC_HIGH;
        for (int c : {'\0', ' ', '\t', '\n', '\r', '/', '=', '>', '?'})
            cls[c] |= CC_ATTR_STOP;
        for (int c : {'\0', ' ', '\t', '\n', '\r', '>'})
            cls[c] |= CC_VALUE_STOP;
        for (int c : {'\0', '<'})
            cls[c] |= CC_LT_STOP;
        for (int c : {'\0', '>'})
            cls[c] |= CC_GT_STOP;
        for (int c : {'\0', '"'})
            cls[c] |= CC_DQ_STOP;
        for (int c : {'\0', '\''})
            cls[c] |= CC_SQ_STOP;
        for (int c : {'\0', '=', '>'})
            cls[c] |= CC_TAG_STOP;
        for (int c : {'"', '\''})
            cls[c] |= CC_QUOTE;
    }
};

inline constexpr CharClasses kClasses;

// Whether p[0, n) holds the byte b; eight bytes a step, never reading outside the range.
inline bool HasByte(const char* p, size_t n, char b) {
    if (n < 8) {
        for (size_t i = 0; i < n; ++i)
            if (p[i] == b)
                return true;
        return false;
    }
    const uint64_t ones = 0x0101010101010101ull;
    const uint64_t pattern = ones * static_cast<unsigned char>(b);
    auto holds = [&](const char* q) {
        uint64_t w;
        std::memcpy(&w, q, 8);
        w ^= pattern;
        return ((w - ones) & ~w & (ones << 7)) != 0;
    };
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
        if (holds(p + i))
            return true;
    return i < n && holds(p + n - 8);
}

// A byte that may begin a tag name: an ASCII letter, "_", ":", or any byte from "a" upwards.
inline bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 'a';
}

// The first offset from p whose byte has a class in mask. mask must hold a class of the zero.
inline int SkipClear(const char* text, int p, unsigned mask) {
    const unsigned char* q = reinterpret_cast<const unsigned char*>(text) + p;
    const unsigned short* cls = kClasses.cls;
    for (;;) {
        if (cls[q[0]] & mask)
            break;
        if (cls[q[1]] & mask) {
            q += 1;
            break;
        }
        if (cls[q[2]] & mask) {
            q += 2;
            break;
        }
        if (cls[q[3]] & mask) {
            q += 3;
            break;
        }
        q += 4;
    }
    return static_cast<int>(q - reinterpret_cast<const unsigned char*>(text));
}

} // namespace xmlscan::detail

// The lead bytes of the ANSI code page, indexed by byte; made on first use, so that it is ready
// even for a document built during static initialisation.
struct XmlLeadBytes {
    bool lead[256];
    XmlLeadBytes();
};
inline const XmlLeadBytes& XmlLeads() {
    static const XmlLeadBytes table;
    return table;
}
// A lead byte of the ANSI code page.
inline bool XmlIsLeadByte(unsigned char c) {
    return XmlLeads().lead[c];
}
// Length of the character at p: 2 for a lead byte of the ANSI code page followed by a non-zero byte.
inline int XmlCharLen(const char* p) {
    return (XmlLeads().lead[static_cast<unsigned char>(p[0])] && p[1] != 0) ? 2 : 1;
}
inline bool XmlIsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One scanning step from the scanner's next offset: the node's kind, start and length, and for
// tags and processing instructions the name's place in the scanner.
int XmlScanNodeAny(CXmlScanner& sc, XmlNodeInfo& node);
inline int XmlScanNode(CXmlScanner& sc, XmlNodeInfo& node) {
    using namespace xmlscan::detail;
    // Most nodes of a document are tags "<name>", "<name/>" and "</name>" whose names hold no byte
    // that needs a closer look; they are taken here in one pass, with what XmlScanNodeAny makes of
    // them. Everything else is left to it.
    const char* t = sc.pText;
    const int start = sc.nNext;
    if (t[start] == '<') {
        const unsigned char c = static_cast<unsigned char>(t[start + 1]);
        const bool endTag = c == '/';
        if (endTag || IsNameStart(c)) {
            const int nameStart = start + (endTag ? 2 : 1);
            const int q = SkipClear(t, nameStart, CC_NAME_STOP | CC_HIGH);
            int end = 0;
            int flags = 0;
            if (t[q] == '>') {
                end = q + 1;
            } else if (t[q] == '/' && !endTag && t[q + 1] == '>') {
                end = q + 2;
                flags = XML_NODEFLAG_EMPTY;
            }
            if (end) {
                const int kind = endTag ? XML_NODE_END_TAG : XML_NODE_START_TAG;
                sc.nNameStart = nameStart;
                sc.nNameEnd = q - 1;
                sc.nNext = end;
                node.nKind = kind;
                node.nStart = start;
                node.nLength = end - start;
                node.nNodeFlags = flags;
                node.strProblems.Empty();
                return kind;
            }
        }
    }
    return XmlScanNodeAny(sc, node);
}
// Where the run of text and whitespace nodes that starts at offset p ends: the offset of the next
// "<" or of the terminating zero. Such nodes leave nothing in the index.
inline int XmlSkipText(const char* text, int p) {
    using namespace xmlscan::detail;
    const bool* lead = XmlLeads().lead;
    for (;;) {
        p = SkipClear(text, p, CC_LT_STOP | CC_HIGH);
        const unsigned char c = static_cast<unsigned char>(text[p]);
        if (c == 0 || c == '<')
            return p;
        p += (lead[c] && text[p + 1] != 0) ? 2 : 1;
    }
}
bool XmlScanName(CXmlScanner& sc);
// The last name scanned equals name over its length, and name ends there or goes on with a
// blank, "/", "=", "[" or "]".
bool XmlNameMatches(const CXmlScanner& sc, const char* name);
bool XmlNameMatches(const char* scanned, int scannedLen, const char* name, int nameLen, bool ignoreCase);
// Finds an attribute in the start tag whose name the scanner's next offset points at, never
// looking at or past limit (the end of the start tag).
bool XmlFindAttribute(CXmlScanner& sc, const char* name, int limit);

// The encoding a text declares (XML declaration or HTML meta), or "".
CString XmlSniffDeclaredEncoding(const char* text);

// Appends (or, with update, changes the first record of that name) one result record to an XML
// result log. value goes to the record's value attribute, n1 and n2 to its number attributes;
// NULL and -1 leave them out.
void XmlLogResult(CString& log, const char* record, const char* value, int n1 = -1, int n2 = -1,
                  bool update = false);

// False when the attribute search cannot find name in the start tag tag[0, length): the tag
// holds no byte an attribute of that name could begin with, or it is only "<", a name of plain
// bytes and ">" or "/>". True decides nothing; the search must run. Lookups of attributes a tag
// does not have, most of those a walk makes, end here at the cost of a byte search.
inline bool XmlMayHoldAttribute(const char* tag, int length, const char* name, int docFlags) {
    using namespace xmlscan::detail;
    // Every item the search can match is at least one byte of the tag after its "<" and begins
    // with the name's first byte, or under XDOC_IGNORE_CASE (0x8) with its other ASCII case.
    const char first = *name;
    if (first == 0)
        return false;
    const char* body = tag + 1;
    const size_t bodyLen = static_cast<size_t>(length - 1);
    if (!(docFlags & 0x8)) {
        if (!HasByte(body, bodyLen, first))
            return false;
    } else if (!HasByte(body, bodyLen, AfxAsciiToLower(first)) &&
               !HasByte(body, bodyLen, AfxAsciiToUpper(first))) {
        return false;
    }
    // The search takes the bytes up to the first attribute delimiter as the tag's name, and a
    // "/" or ">" after it ends the tag. A quote, "=", "?", blank or high byte in the way leaves
    // the decision to the search.
    const unsigned char* q = reinterpret_cast<const unsigned char*>(body);
    const unsigned char* end = reinterpret_cast<const unsigned char*>(tag) + length - 1;
    if (*end != '>')
        return true;
    if (end - 1 > q && end[-1] == '/')
        --end;
    while (q < end && !(kClasses.cls[*q] & (CC_ATTR_STOP | CC_HIGH | CC_QUOTE)))
        ++q;
    return q < end;
}

// The scanning cursor shared by the parser, the readers, the editors and the encoding sniffer.
#pragma once

#include "platform/base/AfxStr.h"

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

int XmlScanNode(CXmlScanner& sc, XmlNodeInfo& node);
// Where the run of text and whitespace nodes that starts at offset p ends: the offset of the next
// "<" or of the terminating zero. Such nodes leave nothing in the index.
int XmlSkipText(const char* text, int p);
bool XmlScanName(CXmlScanner& sc);
// The last name scanned equals name over its length, and name ends there or goes on with a
// blank, "/", "=", "[" or "]".
bool XmlNameMatches(const CXmlScanner& sc, const char* name);
bool XmlNameMatches(const char* scanned, int scannedLen, const char* name, int nameLen, bool ignoreCase);
// Finds an attribute in the start tag whose name the scanner's next offset points at, never
// looking at or past limit (the end of the start tag).
bool XmlFindAttribute(CXmlScanner& sc, const char* name, int limit);
// False when the attribute search cannot find name in the start tag tag[0, length): the tag
// holds no byte that an attribute of that name could begin with, or it is only "<", a name of
// plain bytes and ">" or "/>". True says nothing; the search must decide.
bool XmlMayHoldAttribute(const char* tag, int length, const char* name, int docFlags);
// The encoding a text declares (XML declaration or HTML meta), or "".
CString XmlSniffDeclaredEncoding(const char* text);

// Appends (or, with update, changes the first record of that name) one result record to an XML
// result log. value goes to the record's value attribute, n1 and n2 to its number attributes;
// NULL and -1 leave them out.
void XmlLogResult(CString& log, const char* record, const char* value, int n1 = -1, int n2 = -1,
                  bool update = false);

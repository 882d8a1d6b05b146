#include "xml/XmlScanner.h"

#include "xml/XmlDocument.h"

#include "platform/kernel/CodePage.h"

#include <cstring>

namespace {

inline unsigned char At(const char* t, int i) {
    return static_cast<unsigned char>(t[i]);
}

const char* KindName(int kind) {
    switch (kind) {
    case XML_NODE_START_TAG:
        return "start_tag";
    case XML_NODE_END_TAG:
        return "end_tag";
    case XML_NODE_CDATA:
        return "cdata_section";
    case XML_NODE_PI:
        return "processing_instruction";
    case XML_NODE_COMMENT:
        return "comment";
    case XML_NODE_DOCTYPE:
        return "document_type";
    default:
        return "tag";
    }
}

// Delimiters of a name taken by XmlScanName and of a tag name read for matching.
inline bool IsNameDelimiter(unsigned char c) {
    switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '!':
    case '"':
    case '\'':
    case '/':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '\\':
    case 0:
        return true;
    default:
        return false;
    }
}

} // namespace

using namespace xmlscan::detail;

namespace {

// SkipClear over single-byte characters that keeps the starts of the last two characters before
// the stop: last and beforeLast are moved on by the run passed.
inline int SkipRun(const char* t, int p, unsigned mask, int& last, int& beforeLast) {
    const int run = p;
    p = SkipClear(t, p, mask);
    if (p - run >= 2) {
        beforeLast = p - 2;
        last = p - 1;
    } else if (p > run) {
        beforeLast = last;
        last = p - 1;
    }
    return p;
}

} // namespace

XmlLeadBytes::XmlLeadBytes() {
    for (int i = 0; i < 256; ++i)
        lead[i] = IsDBCSLeadByte(static_cast<BYTE>(i)) != 0;
}

int XmlScanNodeAny(CXmlScanner& sc, XmlNodeInfo& node) {
    const char* t = sc.pText;
    const bool* lead = XmlLeads().lead;
    auto step = [&](int p) { return p + ((lead[At(t, p)] && t[p + 1] != 0) ? 2 : 1); };
    const int start = sc.nNext;
    int p = start;
    node.nStart = start;
    node.nNodeFlags = 0;
    node.strProblems.Empty();
    auto finish = [&](int kind, int end) {
        sc.nNext = end;
        node.nKind = kind;
        node.nLength = end - start;
        return kind;
    };
    auto unterminated = [&](int pendingKind) {
        XmlLogResult(node.strProblems, "unterminated_tag_syntax", KindName(pendingKind), start);
        return finish(XML_NODE_ERROR, p);
    };

    unsigned char c = At(t, p);
    if (c == 0)
        return finish(XML_NODE_END_OF_TEXT, p);

    const unsigned short* cls = kClasses.cls;
    if (c != '<') {
        // Whitespace until the first other character, which makes it text; text ends before "<"
        // or after ">".
        if (cls[c] & CC_SPACE) {
            while (cls[At(t, p)] & CC_SPACE)
                ++p;
            c = At(t, p);
            if (c == 0 || c == '<')
                return finish(XML_NODE_WHITESPACE, p);
        }
        for (;;) {
            p = SkipClear(t, p, CC_TEXT_STOP | CC_HIGH);
            c = At(t, p);
            if (!(cls[c] & CC_HIGH)) {
                if (c == '>')
                    ++p;
                break;
            }
            p = step(p);
        }
        return finish(XML_NODE_TEXT, p);
    }

    // Markup.
    int kind;
    bool syntaxError = false;
    auto fail = [&](const char* record) {
        XmlLogResult(node.strProblems, record, nullptr, start);
        syntaxError = true;
    };
    ++p;
    c = At(t, p);
    if (c == 0)
        return unterminated(XML_NODE_ERROR);
    if (IsNameStart(c)) {
        kind = XML_NODE_START_TAG;
    } else if (c == '/') {
        kind = XML_NODE_END_TAG;
        ++p;
    } else if (c == '?') {
        kind = XML_NODE_PI;
        ++p;
    } else if (c == '!') {
        ++p;
        c = At(t, p);
        kind = XML_NODE_ERROR;
        if (c == 0)
            return unterminated(XML_NODE_ERROR);
        if (c == '-') {
            ++p;
            if (At(t, p) == '-') {
                kind = XML_NODE_COMMENT;
                ++p;
            } else if (At(t, p) == 0) {
                return unterminated(XML_NODE_ERROR);
            } else {
                fail("comment_tag_syntax");
            }
        } else if (c == '[') {
            ++p;
            if (At(t, p) == 'C') {
                kind = XML_NODE_CDATA;
                ++p;
            } else if (At(t, p) == 0) {
                return unterminated(XML_NODE_ERROR);
            } else {
                fail("cdata_section_syntax");
            }
        } else if (c == 'D') {
            kind = XML_NODE_DOCTYPE;
            ++p;
        } else {
            fail("exclamation_tag_syntax");
        }
    } else {
        kind = XML_NODE_ERROR;
        fail("first_tag_syntax");
    }

    const int bodyStart = p;
    if (!syntaxError && (kind == XML_NODE_START_TAG || kind == XML_NODE_END_TAG || kind == XML_NODE_PI)) {
        int nameStart = p;
        for (;;) {
            p = SkipClear(t, p, CC_NAME_STOP | CC_HIGH);
            if (cls[At(t, p)] & CC_NAME_STOP)
                break;
            p = step(p);
        }
        sc.nNameStart = nameStart;
        sc.nNameEnd = p - 1;
    }

    if (!syntaxError && kind == XML_NODE_START_TAG) {
        enum { NONE, AFTER_EQ, QUOTED, UNQUOTED } state = NONE;
        unsigned char quote = 0;
        int prevStart = -1; // start of the previous character
        int prevPrevStart = -1;
        for (;;) {
            // Characters that change no state go by in runs; the two character starts before the
            // next one are all that is kept of them.
            if (state == NONE || state == UNQUOTED)
                p = SkipRun(t, p, (state == NONE ? CC_TAG_STOP : CC_VALUE_STOP) | CC_HIGH, prevStart,
                            prevPrevStart);
            c = At(t, p);
            if (c == 0)
                return unterminated(XML_NODE_START_TAG);
            if (state == QUOTED) {
                // Straight on to the closing quote.
                const unsigned stop = (quote == '"' ? CC_DQ_STOP : CC_SQ_STOP) | CC_HIGH;
                for (;;) {
                    const int run = p;
                    p = SkipClear(t, p, stop);
                    if (p > run)
                        prevStart = p - 1;
                    c = At(t, p);
                    if (c == quote)
                        break;
                    if (c == 0)
                        return unterminated(XML_NODE_START_TAG);
                    prevStart = p;
                    p = step(p);
                }
                state = NONE;
            } else if (c == '>') {
                if (prevStart >= 0 && prevStart == p - 1 && At(t, prevStart) == '/') {
                    bool valueSlash = false;
                    if (state == UNQUOTED) {
                        unsigned char before = prevPrevStart >= 0 ? At(t, prevPrevStart) : 0;
                        valueSlash = !(XmlIsSpace(before) || before == '"' || before == '\'');
                    }
                    if (!valueSlash)
                        node.nNodeFlags |= XML_NODEFLAG_EMPTY;
                }
                return finish(kind, p + 1);
            } else if (state == AFTER_EQ) {
                if (c == '"' || c == '\'') {
                    state = QUOTED;
                    quote = c;
                } else if (!XmlIsSpace(c)) {
                    // Even a second "=": only a quote right after the first one opens a value.
                    state = UNQUOTED;
                }
            } else if (state == UNQUOTED) {
                if (XmlIsSpace(c))
                    state = NONE;
            } else if (c == '=') {
                state = AFTER_EQ;
            }
            prevPrevStart = prevStart;
            prevStart = p;
            p = step(p);
        }
    }

    if (!syntaxError && kind == XML_NODE_DOCTYPE) {
        bool inSubset = false;
        unsigned char quote = 0;
        for (;;) {
            c = At(t, p);
            if (c == 0)
                return unterminated(XML_NODE_DOCTYPE);
            if (inSubset) {
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    inSubset = false;
                }
            } else if (c == '<') {
                // Only "<!" and "A", "E" or "N" may follow; the character that breaks that is where
                // the declaration turns into a syntax error, which then runs to ">" or before "<".
                ++p;
                if (At(t, p) == '!') {
                    ++p;
                    unsigned char d = At(t, p);
                    if (d == 'A' || d == 'E' || d == 'N') {
                        inSubset = true;
                        ++p;
                        continue;
                    }
                }
                if (At(t, p) == 0)
                    return unterminated(XML_NODE_DOCTYPE);
                fail("doctype_tag_syntax");
                kind = XML_NODE_ERROR;
                break;
            } else if (c == '>') {
                return finish(kind, p + 1);
            }
            p = step(p);
        }
    }

    if (syntaxError) {
        // Up to and including the next ">", or before the next "<".
        for (;;) {
            c = At(t, p);
            if (c == 0)
                return unterminated(XML_NODE_ERROR);
            if (c == '>')
                return finish(XML_NODE_ERROR, p + 1);
            if (c == '<' && p > start)
                return finish(XML_NODE_ERROR, p);
            p = step(p);
        }
    }

    // End tags, processing instructions, comments and CDATA sections: no quotes are tracked.
    if (kind == XML_NODE_END_TAG) {
        // The first ">" after its name.
        for (;;) {
            p = SkipClear(t, p, CC_GT_STOP | CC_HIGH);
            c = At(t, p);
            if (c == '>')
                return finish(kind, p + 1);
            if (c == 0)
                return unterminated(kind);
            p = step(p);
        }
    }
    int minTerm; // the terminator may not overlap the opening
    int termLen;
    unsigned char termChar;
    switch (kind) {
    case XML_NODE_PI:
        termLen = 2, termChar = '?', minTerm = start + 2;
        break;
    case XML_NODE_COMMENT:
        termLen = 3, termChar = '-', minTerm = start + 4;
        break;
    default: // XML_NODE_CDATA
        termLen = 3, termChar = ']', minTerm = start + 4;
        break;
    }
    int prev1 = -1, prev2 = -1; // starts of the last two single-byte characters, -1 otherwise
    p = bodyStart;              // the name may already hold the terminator's first characters
    for (;;) {
        // A run of single-byte characters other than ">" and the zero.
        p = SkipRun(t, p, CC_GT_STOP | CC_HIGH, prev1, prev2);
        c = At(t, p);
        if (c == 0)
            return unterminated(kind);
        if (c == '>') {
            bool ok = prev1 == p - 1 && At(t, prev1) == termChar && prev1 >= minTerm;
            if (ok && termLen == 3)
                ok = prev2 == p - 2 && At(t, prev2) == termChar && prev2 >= minTerm;
            if (ok)
                return finish(kind, p + 1);
        }
        int next = step(p);
        prev2 = prev1;
        prev1 = next == p + 1 ? p : -1;
        p = next;
    }
}

bool XmlScanName(CXmlScanner& sc) {
    const char* t = sc.pText;
    int p = sc.nNext;
    while (XmlIsSpace(At(t, p)))
        ++p;
    if (At(t, p) == 0) {
        sc.nNext = p;
        return false;
    }
    int s = p;
    while (!IsNameDelimiter(At(t, p)))
        p += XmlCharLen(t + p);
    if (p == s)
        p += XmlCharLen(t + p);
    sc.nNameStart = s;
    sc.nNameEnd = p - 1;
    sc.nNext = p;
    return true;
}

bool XmlNameMatches(const char* scanned, int scannedLen, const char* name, int nameLen, bool ignoreCase) {
    if (scannedLen < 0 || scannedLen > nameLen)
        return false;
    if (ignoreCase) {
        for (int i = 0; i < scannedLen; ++i)
            if (AfxAsciiToLower(scanned[i]) != AfxAsciiToLower(name[i]))
                return false;
    } else if (std::memcmp(scanned, name, static_cast<size_t>(scannedLen)) != 0) {
        return false;
    }
    if (scannedLen == nameLen)
        return true;
    char c = name[scannedLen];
    return c == ' ' || c == '/' || c == '=' || c == '[' || c == ']';
}

bool XmlNameMatches(const CXmlScanner& sc, const char* name) {
    if (!name)
        return false;
    return XmlNameMatches(sc.pText + sc.nNameStart, sc.NameLength(), name,
                          static_cast<int>(std::strlen(name)), (sc.nFlags & 0x8) != 0);
}

bool XmlFindAttribute(CXmlScanner& sc, const char* name, int limit) {
    const char* t = sc.pText;
    int p = sc.nNext;
    bool first = true;
    bool afterEq = false;
    bool matched = false;   // the wanted name was the last item
    bool matchedEq = false; // ... followed by "="
    int mStart = 0, mEnd = -1, mGap = 0, mGapLen = 0;
    int nameLen = name ? static_cast<int>(std::strlen(name)) : 0;
    const bool ignoreCase = (sc.nFlags & 0x8) != 0;
    sc.nFlags &= ~(XML_SCAN_QUOTED | XML_SCAN_NAME_ONLY);
    auto nameOnly = [&] {
        sc.nNameStart = mStart;
        sc.nNameEnd = mEnd;
        sc.nGapStart = mGap;
        sc.nGapLen = mGapLen;
        sc.nFlags |= XML_SCAN_NAME_ONLY;
        return true;
    };
    const unsigned short* cls = kClasses.cls;
    const bool* lead = XmlLeads().lead;
    // A double-byte character may not reach past the tag.
    auto next = [&](int q) {
        unsigned char d = At(t, q);
        return q + ((cls[d] & CC_HIGH) && lead[d] && q + 1 < limit && t[q + 1] != 0 ? 2 : 1);
    };
    // From q up to a byte of a class in stop, or to the limit, by characters.
    auto skip = [&](int q, unsigned stop) {
        for (;;) {
            while (q < limit && !(cls[At(t, q)] & (stop | CC_HIGH)))
                ++q;
            if (q >= limit || (cls[At(t, q)] & stop))
                return q;
            q = next(q);
        }
    };
    for (;;) {
        int gap = p;
        while (p < limit && (cls[At(t, p)] & CC_SPACE))
            ++p;
        if (p >= limit || At(t, p) == 0) {
            sc.nNext = gap;
            sc.nGapStart = gap;
            sc.nGapLen = p - gap;
            if (matched)
                return nameOnly();
            return false;
        }
        unsigned char c = At(t, p);
        if (c == '"' || c == '\'') {
            int s = p + 1;
            int q = s;
            q = skip(q, c == '"' ? CC_DQ_STOP : CC_SQ_STOP);
            if (q > limit)
                q = limit;
            p = (q < limit && At(t, q) == c) ? q + 1 : q;
            if (matched) {
                if (!matchedEq)
                    return nameOnly();
                sc.nNameStart = s;
                sc.nNameEnd = q - 1;
                sc.nGapStart = mGap;
                sc.nGapLen = mGapLen;
                sc.nNext = p;
                sc.nFlags |= XML_SCAN_QUOTED;
                return true;
            }
            afterEq = false;
            first = false;
            continue;
        }
        if (afterEq) {
            int s = p;
            int q = p;
            q = skip(q, CC_VALUE_STOP);
            if (q > limit)
                q = limit;
            p = q;
            if (matched) {
                sc.nNameStart = s;
                sc.nNameEnd = q - 1;
                sc.nGapStart = mGap;
                sc.nGapLen = mGapLen;
                sc.nNext = p;
                return true;
            }
            afterEq = false;
            first = false;
            continue;
        }
        if (c == '=') {
            ++p;
            afterEq = true;
            if (matched)
                matchedEq = true;
            first = false;
            continue;
        }
        if (c == '>' || c == '/' || c == '?') {
            sc.nNext = gap;
            sc.nGapStart = gap;
            sc.nGapLen = p - gap;
            if (matched)
                return nameOnly();
            return false;
        }
        // A name.
        int s = p;
        int q = p;
        q = skip(q, CC_ATTR_STOP);
        if (q > limit)
            q = limit;
        p = q;
        if (matched)
            return nameOnly(); // the wanted name stood alone, followed by another name
        if (!first && name && XmlNameMatches(t + s, q - s, name, nameLen, ignoreCase)) {
            matched = true;
            mStart = s;
            mEnd = q - 1;
            mGap = gap;
            mGapLen = s - gap;
        }
        first = false;
    }
}

CString XmlSniffDeclaredEncoding(const char* text) {
    if (!text)
        return CString();
    CXmlScanner sc(text, 0x8);
    XmlNodeInfo node;
    bool seenStart = false;
    for (;;) {
        int kind = XmlScanNode(sc, node);
        if (kind == XML_NODE_END_OF_TEXT || kind == XML_NODE_ERROR)
            return CString();
        if (kind == XML_NODE_PI && node.nStart == 0 && XmlNameMatches(sc, "xml")) {
            CXmlScanner a(text, 0x8, sc.nNameStart);
            // An "encoding" without a value yields its own name, as every attribute search does.
            if (!XmlFindAttribute(a, "encoding", node.nStart + node.nLength))
                return CString();
            return CString(text + a.nNameStart, a.NameLength());
        }
        if (kind == XML_NODE_END_TAG && XmlNameMatches(sc, "head") && sc.NameLength() == 4)
            return CString();
        if (kind != XML_NODE_START_TAG)
            continue;
        int tagEnd = node.nStart + node.nLength;
        if (!seenStart) {
            seenStart = true;
            if (!(sc.NameLength() == 4 && XmlNameMatches(sc, "html")))
                return CString();
            continue;
        }
        if (!(sc.NameLength() == 4 && XmlNameMatches(sc, "meta")))
            continue;
        CXmlScanner a(text, 0x8, sc.nNameStart);
        if (!XmlFindAttribute(a, "http-equiv", tagEnd) ||
            CString(text + a.nNameStart, a.NameLength()).CompareNoCase("Content-Type") != 0)
            continue;
        CXmlScanner b(text, 0x8, sc.nNameStart);
        if (!XmlFindAttribute(b, "content", tagEnd) || (b.nFlags & XML_SCAN_NAME_ONLY))
            return CString();
        CString value(text + b.nNameStart, b.NameLength());
        CXmlScanner v(value.GetString(), 0x8);
        while (XmlScanName(v)) {
            if (v.NameLength() == 7 && XmlNameMatches(v, "charset")) {
                if (!XmlScanName(v) || value[v.nNameStart] != '=')
                    return CString();
                if (!XmlScanName(v))
                    return CString();
                return CString(value.GetString() + v.nNameStart, v.NameLength());
            }
        }
        return CString();
    }
}

#include "xml/XmlDocument.h"
#include "xml/XmlIndex.h"
#include "xml/XmlScanner.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// What the tokenizer makes of a start tag standing alone: its node flags, or -1 when the text is
// not one whole start tag. The tokenizer decides a tag's end before it looks past it, so the
// tag reads the same alone as it does in its document.
int ScanWholeStartTag(const CString& tag, int docFlags, int& nameLen) {
    CXmlScanner sc(tag.GetString(), docFlags);
    XmlNodeInfo node;
    if (XmlScanNode(sc, node) != XML_NODE_START_TAG || node.nLength != tag.GetLength())
        return -1;
    nameLen = sc.NameLength();
    return node.nNodeFlags & XML_NODEFLAG_EMPTY;
}

// An element appended to the end of a text stands on its own only when the text's last node is
// complete: markup left open ("<!--", "<a") or half a double-byte character would take it in.
bool AppendsAsElement(const std::string& text, const CString& elem, int startLen, int docFlags) {
    CXmlScanner sc(text.c_str(), docFlags);
    XmlNodeInfo node;
    int last = 0;
    while (XmlScanNode(sc, node) != XML_NODE_END_OF_TEXT)
        last = node.nStart;
    // Nodes start afresh where the one before ended, so the last node decides alone.
    const std::string tail = text.substr(static_cast<size_t>(last)) + elem.str();
    const int at = static_cast<int>(text.size()) - last;
    CXmlScanner t(tail.c_str(), docFlags);
    if (at > 0 && (XmlScanNode(t, node) == XML_NODE_END_OF_TEXT || t.nNext != at))
        return false;
    return XmlScanNode(t, node) == XML_NODE_START_TAG && node.nStart == at && node.nLength == startLen;
}

} // namespace

void CXmlDocument::ReplaceText(int offset, int removed, const char* inserted, int insertedLen) {
    std::string& s = m_strXml.str();
    size_t newLen = s.size() + static_cast<size_t>(insertedLen) - static_cast<size_t>(removed);
    if (newLen > s.capacity())
        s.reserve(newLen + newLen / 2 + 128);
    s.replace(static_cast<size_t>(offset), static_cast<size_t>(removed), inserted,
              static_cast<size_t>(insertedLen));
}

int CXmlDocument::TagNameLength(int record) const {
    const char* t = m_strXml.GetString() + RecordAt(record).nOffset + 1;
    int n = 0;
    while (t[n] && !XmlIsSpace(static_cast<unsigned char>(t[n])) && t[n] != '/' && t[n] != '>')
        n += XmlCharLen(t + n);
    return n;
}

void CXmlDocument::ShiftOffsets(int record, int delta, bool skipChildren) {
    if (delta == 0)
        return;
    // Moves every descendant of elem.
    auto shiftDescendants = [&](int elem) {
        int c = RecordAt(elem).nFirstChild;
        while (c) {
            XmlElemRecord& r = RecordAt(c);
            r.nOffset += delta;
            if (r.nFirstChild) {
                c = r.nFirstChild;
                continue;
            }
            // Next in document order within elem's subtree.
            while (c != elem && !RecordAt(c).nNextSibling)
                c = RecordAt(c).nParent;
            c = (c == elem) ? 0 : RecordAt(c).nNextSibling;
        }
    };
    if (!skipChildren)
        shiftDescendants(record);
    int cur = record;
    while (cur) {
        for (int s = RecordAt(cur).nNextSibling; s; s = RecordAt(s).nNextSibling) {
            RecordAt(s).nOffset += delta;
            shiftDescendants(s);
        }
        cur = RecordAt(cur).nParent;
        RecordAt(cur).nLength += delta;
    }
}

CString CXmlDocument::MakeCData(const char* text) {
    CString result("<![CDATA[");
    if (text) {
        // By characters, as the scanner looks for the closing "]]>".
        for (const char* p = text; *p;) {
            if (p[0] == ']' && p[1] == ']' && p[2] == '>') {
                result += "]]]]><![CDATA[>";
                p += 3;
            } else if (p[1] == 0 && XmlIsLeadByte(static_cast<unsigned char>(p[0]))) {
                result.AppendChar('?'); // a lone lead byte would swallow the closing "]"
                ++p;
            } else {
                int n = XmlCharLen(p);
                result.Append(p, n);
                p += n;
            }
        }
    }
    result += "]]>";
    return result;
}

bool CXmlDocument::SetAttribute(CXmlStrArg name, int value, int flags) {
    CString text;
    text.Format("%d", value);
    return SetAttribute(name, text, flags);
}

bool CXmlDocument::AddAttribute(CXmlStrArg name, CXmlStrArg value) {
    return SetAttribute(name, value, 0);
}

bool CXmlDocument::SetAttribute(CXmlStrArg nameArg, CXmlStrArg value, int flags) {
    if ((m_nFlags & XDOC_READ_STREAM) || !m_nMain || nameArg.IsEmpty())
        return false;
    const char* name = nameArg.Get();
    XmlElemRecord& r = RecordAt(m_nMain);
    CString escaped = EscapeText(value.Get() ? value.Get() : "", flags | XNODE_ESCAPE_QUOTES);
    CXmlScanner sc(m_strXml.GetString(), m_nFlags, r.nOffset + 1);
    const int tagEnd = r.nOffset + r.nStartTagLen;
    CString insert;
    int at;
    int removed;
    if (XmlFindAttribute(sc, name, tagEnd)) {
        if (sc.nFlags & XML_SCAN_NAME_ONLY) {
            // A name standing without a value keeps its name; the value is written after it.
            at = sc.nNameEnd + 1;
            removed = 0;
            insert = "=\"" + escaped + "\"";
        } else {
            at = sc.nNameStart;
            removed = sc.NameLength();
            if (sc.nFlags & XML_SCAN_QUOTED) {
                const char* t = m_strXml.GetString();
                char quote = t[at - 1];
                --at;
                if (sc.nNameEnd + 1 < tagEnd && t[sc.nNameEnd + 1] == quote)
                    removed += 2;
                else // a quote left open inside the tag: keep the tag's closing ">"
                    removed = (tagEnd - 1) - at;
            }
            insert = "\"" + escaped + "\"";
        }
    } else {
        at = sc.nGapStart;
        removed = 0;
        // Never insert past the tag's own closing "/>", "?>" or ">".
        const char* t = m_strXml.GetString();
        int closeAt = tagEnd - 1;
        if (closeAt - 1 > r.nOffset && (t[closeAt - 1] == '/' || t[closeAt - 1] == '?') && r.IsEmptyElement())
            --closeAt;
        if (at > closeAt || at <= r.nOffset)
            at = closeAt;
        insert = " " + CString(name) + "=\"" + escaped + "\"";
    }
    // The tokenizer, which makes the index, and the attribute reader, which placed the splice, read
    // a malformed tag differently (a quote that follows no "=", an "=" that nothing follows), and
    // so may a name that is no attribute name. The changed tag must still end where it ended, as
    // empty as before and with the same name, and the reader must find the value just where it was
    // written; otherwise the edit would leave a document that means something else, so it is
    // refused and nothing changes.
    {
        const int tagStart = r.nOffset;
        const int tagLen = r.nStartTagLen;
        CString oldTag(m_strXml.GetString() + tagStart, tagLen);
        std::string newTag = oldTag.str();
        newTag.replace(static_cast<size_t>(at - tagStart), static_cast<size_t>(removed), insert.str());
        const CString changed(newTag.c_str(), static_cast<int>(newTag.size()));
        int oldNameLen = 0, newNameLen = 0;
        const int oldEmpty = ScanWholeStartTag(oldTag, m_nFlags, oldNameLen);
        const int newEmpty = ScanWholeStartTag(changed, m_nFlags, newNameLen);
        if (oldEmpty < 0 || newEmpty != oldEmpty || newNameLen != oldNameLen ||
            std::memcmp(changed.GetString(), oldTag.GetString(), static_cast<size_t>(oldNameLen) + 1) != 0)
            return false;
        // Every form of the splice ends with the value and its closing quote.
        const int valueAt = at - tagStart + insert.GetLength() - 1 - escaped.GetLength();
        CXmlScanner back(changed.GetString(), m_nFlags, 1);
        if (!XmlFindAttribute(back, name, changed.GetLength()) || (back.nFlags & XML_SCAN_NAME_ONLY) ||
            back.nNameStart != valueAt || back.NameLength() != escaped.GetLength())
            return false;
    }

    ReplaceText(at, removed, insert.GetString(), insert.GetLength());
    int delta = insert.GetLength() - removed;
    XmlElemRecord& e = RecordAt(m_nMain);
    e.nStartTagLen += delta;
    e.nLength += delta;
    ShiftOffsets(m_nMain, delta, false);
    return true;
}

void CXmlDocument::FreeDescendants(int record) {
    std::vector<int> gone;
    int c = RecordAt(record).nFirstChild;
    while (c) {
        gone.push_back(c);
        const XmlElemRecord& r = RecordAt(c);
        if (r.nFirstChild) {
            c = r.nFirstChild;
            continue;
        }
        while (c != record && !RecordAt(c).nNextSibling)
            c = RecordAt(c).nParent;
        c = (c == record) ? 0 : RecordAt(c).nNextSibling;
    }
    for (int g : gone) {
        XmlElemRecord& r = RecordAt(g);
        r = XmlElemRecord{};
        r.nFlags = XREC_FREED;
        r.nNextSibling = m_nFreeList;
        m_nFreeList = g;
    }
    RecordAt(record).nFirstChild = 0;
}

bool CXmlDocument::AddElement(CXmlStrArg nameArg, CXmlStrArg textArg, int flags) {
    if (m_nFlags & XDOC_READ_STREAM)
        return false;
    if ((flags & XNODE_UNENDED) && !textArg.IsEmpty())
        return false;
    if ((flags & XNODE_AS_CHILD) && !m_nMain)
        return false;
    if (nameArg.IsEmpty())
        return false;
    const CString name(nameArg.Get());
    const int nameLen = name.GetLength();

    // The element's own text.
    CString elem;
    int startLen, endLen, elemLen;
    if (textArg.IsEmpty()) {
        elem = "<" + name + ((flags & XNODE_UNENDED) ? ">" : (flags & XNODE_EMPTY_SPACE) ? " />" : "/>");
        startLen = elemLen = elem.GetLength();
        endLen = 0;
    } else {
        CString body = (flags & XNODE_CDATA) ? MakeCData(textArg.Get()) : EscapeText(textArg.Get(), flags);
        elem = "<" + name + ">" + body + "</" + name + ">";
        elemLen = elem.GetLength();
        startLen = nameLen + 2;
        endLen = nameLen + 3;
    }
    // The name must read back as the whole tag name, from the start tag and so from the end tag:
    // one that holds a blank, "/" or ">", starts with no name character or ends in half a
    // double-byte character would leave text that parses into other elements than the index says.
    {
        int scannedLen = 0;
        int empty = ScanWholeStartTag(CString(elem.GetString(), startLen), m_nFlags, scannedLen);
        if (empty != (endLen == 0 && !(flags & XNODE_UNENDED) ? XML_NODEFLAG_EMPTY : 0) ||
            scannedLen != nameLen)
            return false;
    }
    if (!(flags & XNODE_NO_LINEBREAK))
        elem += "\r\n";

    const bool replace = (flags & XNODE_REPLACE_CONTENT) != 0;
    int parent = (flags & XNODE_AS_CHILD) ? m_nMain : m_nParent;
    int prev = (flags & XNODE_AS_CHILD) ? m_nChild : m_nMain;
    if (replace) {
        // The whole content goes, and with it every element in it.
        FreeDescendants(parent);
        prev = 0;
    }
    XmlElemRecord& p = RecordAt(parent);
    bool before = !replace && (flags & XNODE_INSERT_BEFORE) && prev;
    int beforeElem = 0;
    if (before) {
        // Linked after the previous sibling of the element it goes in front of.
        beforeElem = prev;
        prev = (RecordAt(prev).nFlags & XREC_FIRST_CHILD) ? 0 : RecordAt(prev).nPrevSibling;
    } else if (!prev && p.nFirstChild) {
        prev = RecordAt(p.nFirstChild).nPrevSibling;
    }

    const std::string& s = m_strXml.str();
    int at;
    int removed = 0;
    int elemOffsetInInsert = 0;
    CString insert;
    bool openParent = false;
    if (before) {
        at = RecordAt(beforeElem).nOffset;
        insert = elem;
    } else if (prev) {
        at = RecordAt(prev).End();
        insert = elem;
    } else if (parent == 0) {
        at = replace ? 0 : static_cast<int>(s.size());
        removed = replace ? static_cast<int>(s.size()) : 0;
        insert = elem;
        if (!replace && !AppendsAsElement(s, elem, startLen, m_nFlags))
            return false;
    } else if (!p.IsEmptyElement()) {
        if (p.ContentLength() == 0) {
            at = p.ContentStart();
            if (!(flags & XNODE_NO_LINEBREAK)) {
                insert = "\r\n" + elem;
                elemOffsetInInsert = 2;
            } else {
                insert = elem;
            }
            openParent = true; // at the start of an empty content: no skipping
        } else if (replace) {
            at = p.ContentStart();
            removed = p.ContentLength();
            insert = elem;
        } else {
            at = p.End() - p.nEndTagLen;
            insert = elem;
        }
    } else {
        openParent = true;
        insert = (flags & XNODE_NO_LINEBREAK) ? ">" : ">\r\n";
        elemOffsetInInsert = insert.GetLength();
        insert += elem + "</" + CString(s.c_str() + p.nOffset + 1, TagNameLength(parent));
        if (p.nFlags & XREC_NOT_ENDED) {
            at = p.End() - 1; // before the final ">"
            p.nFlags &= ~XREC_NOT_ENDED;
        } else {
            // The "/" of "/>" goes. In "<p//>" every "/" of the run before ">" goes: with one left,
            // the tag would still read as empty and its new content would fall outside it.
            const int close = p.End() - 1;
            int run = close;
            for (int q = p.nOffset + 1; q < close; q += XmlCharLen(s.c_str() + q))
                if (s[static_cast<size_t>(q)] != '/')
                    run = q + XmlCharLen(s.c_str() + q);
            if (run >= close)
                run = close - 1;
            at = run;
            removed = close - run;
            p.nStartTagLen -= removed;
        }
        p.nEndTagLen = TagNameLength(parent) + 3;
    }
    if (!openParent && !(flags & (XNODE_NO_LINEBREAK | XNODE_REPLACE_CONTENT)) && !before) {
        int q = at;
        while (q < static_cast<int>(s.size()) &&
               XmlIsSpace(static_cast<unsigned char>(s[static_cast<size_t>(q)])))
            ++q;
        if (q < static_cast<int>(s.size()) && s[static_cast<size_t>(q)] == '<')
            at = q;
    }

    ReplaceText(at, removed, insert.GetString(), insert.GetLength());

    int idx = NewRecord();
    XmlElemRecord& n = RecordAt(idx);
    XmlElemRecord& par = RecordAt(parent);
    n.nOffset = at + elemOffsetInInsert;
    n.nLength = elemLen;
    n.nStartTagLen = startLen;
    n.nEndTagLen = endLen;
    n.nFirstChild = 0;
    n.nFlags = (flags & XNODE_UNENDED) ? XREC_NOT_ENDED : 0;
    n.nParent = parent;
    n.nLevel = parent ? par.nLevel + 1 : 0;
    if (prev) {
        XmlElemRecord& pr = RecordAt(prev);
        n.nNextSibling = pr.nNextSibling;
        n.nPrevSibling = prev;
        pr.nNextSibling = idx;
        if (n.nNextSibling)
            RecordAt(n.nNextSibling).nPrevSibling = idx;
        else
            RecordAt(par.nFirstChild).nPrevSibling = idx;
    } else {
        int oldFirst = par.nFirstChild;
        n.nNextSibling = oldFirst;
        n.nFlags |= XREC_FIRST_CHILD;
        if (oldFirst) {
            XmlElemRecord& of = RecordAt(oldFirst);
            n.nPrevSibling = of.nPrevSibling;
            of.nPrevSibling = idx;
            of.nFlags &= ~XREC_FIRST_CHILD;
        } else {
            n.nPrevSibling = idx;
        }
        par.nFirstChild = idx;
    }
    ShiftOffsets(idx, insert.GetLength() - removed, false);
    if (flags & XNODE_AS_CHILD)
        SetPos(m_nParent, m_nMain, idx);
    else
        SetPos(parent, idx, 0);
    return true;
}

#include "xml/XmlDocument.h"

#include "xml/XmlIndex.h"
#include "xml/XmlScanner.h"

#include "platform/base/AfxAscii.h"

#include <cstring>
#include <vector>

// The open elements of one parse. Names are kept as spans of the text, which does not change
// while the parse runs.
class CXmlTagStack {
public:
    struct Entry {
        int nRecord;
        int nNameStart;
        int nNameLen;
    };
    CXmlTagStack() {
        m_entries.reserve(8);
        m_entries.push_back({0, 0, 0});
    } // slot 0: sentinel
    int Top() const { return static_cast<int>(m_entries.size()) - 1; }
    const Entry& operator[](int i) const { return m_entries[static_cast<size_t>(i)]; }
    void Push(int record, int nameStart, int nameLen) { m_entries.push_back({record, nameStart, nameLen}); }
    void PopTo(int top) { m_entries.resize(static_cast<size_t>(top) + 1); }

private:
    std::vector<Entry> m_entries;
};

CXmlDocument::CXmlDocument() : m_pSavedMaps(new CXmlSavedPosMaps), m_pRecords(new CXmlRecordArray) {
    SetDocText(nullptr);
}

CXmlDocument::~CXmlDocument() {
    delete m_pSavedMaps;
    delete m_pRecords;
}

void CXmlDocument::SetPos(int parent, int main, int child) {
    m_nParent = parent;
    m_nMain = main;
    m_nChild = child;
    m_nNodeKind = main ? 1 : 0;
    m_nNodeStart = 0;
    m_nNodeLen = 0;
}

int CXmlDocument::NewRecord() {
    if (m_nNextFree >= m_pRecords->GetSize()) {
        int n = m_nNextFree + m_nNextFree / 2;
        if (n <= m_pRecords->GetSize())
            n = m_pRecords->GetSize() + 8;
        m_pRecords->Grow(n);
    }
    return m_nNextFree++;
}

void CXmlDocument::ReserveRecords(int n) {
    if (m_pRecords->GetSize() < n)
        m_pRecords->Grow(n);
}

bool CXmlDocument::IsWellFormed() const {
    if (m_nFlags & XDOC_WRITE_STREAM)
        return true;
    if (m_pRecords->GetSize() == 0)
        return false;
    const XmlElemRecord& doc = RecordAt(0);
    if (m_nFlags & XDOC_READ_STREAM)
        return !(doc.nFlags & XREC_BAD_FORM);
    if (doc.nFlags & XREC_BAD_FORM)
        return false;
    return doc.nFirstChild != 0 && RecordAt(doc.nFirstChild).nNextSibling == 0;
}

bool CXmlDocument::SetDocText(CXmlStrArg text) {
    if (m_nFlags & (XDOC_READ_STREAM | XDOC_WRITE_STREAM))
        return false;
    if (text.Get() == nullptr) {
        m_strXml.Empty();
        m_pRecords->Release();
    } else {
        std::string copy(text.Get()); // the text may live in this document
        m_strXml.str().swap(copy);
    }
    m_strLog.Empty();
    return ParseText();
}

bool CXmlDocument::ParseText() {
    SetPos(0, 0, 0);
    m_pSavedMaps->Release();
    m_nNextFree = 1;
    int len = m_strXml.GetLength();
    ReserveRecords(len / 64 + 8);
    m_nFreeList = 0;
    std::memset(&RecordAt(0), 0, sizeof(XmlElemRecord));
    if (len > 0) {
        CXmlScanner sc(m_strXml.GetString(), m_nFlags);
        int first = BuildElementIndex(0, sc);
        RecordAt(0).nLength = len;
        if (!first) {
            XmlLogResult(m_strLog, "no_root_element", nullptr);
        } else {
            RecordAt(0).nFirstChild = first;
            if (RecordAt(first).nNextSibling)
                XmlLogResult(m_strLog, "root_has_sibling", nullptr);
        }
    }
    SetPos(0, 0, 0);
    return IsWellFormed();
}

void CXmlDocument::CloseUnended(int lo, int parseParent, int offset2, CXmlTagStack& stack) {
    // Closing the open elements stack[lo..top] one by one, innermost first, moves each one's
    // children up to follow it. Done for the whole group at once the outcome is the same: every
    // child of every closed element ends up, in document order, as a sibling under the parent of
    // the outermost one. Doing it at once keeps deep unended nesting linear.
    int top = stack.Top();
    if (lo > top)
        return;
    RecordAt(parseParent).nFlags |= XREC_BAD_FORM;
    const char* t = m_strXml.GetString();
    for (int k = top; k >= lo; --k) {
        const CXmlTagStack::Entry& e = stack[k];
        CString name(t + e.nNameStart, e.nNameLen);
        XmlLogResult(m_strLog, "unended_start_tag", name, RecordAt(e.nRecord).nOffset, offset2);
    }
    int outer = stack[lo].nRecord;
    int target = RecordAt(outer).nParent;
    bool badData = false;
    int last = outer;
    for (int k = lo; k <= top; ++k) {
        int elem = stack[k].nRecord;
        XmlElemRecord& r = RecordAt(elem);
        if (r.nFlags & XREC_BAD_DATA) {
            badData = true;
            r.nFlags &= ~XREC_BAD_DATA;
        }
        r.nFlags |= XREC_NOT_ENDED;
        r.nEndTagLen = 0;
        r.nLength = r.nStartTagLen;
        int fc = r.nFirstChild;
        r.nFirstChild = 0;
        if (!fc) {
            last = elem;
            continue;
        }
        r.nNextSibling = fc;
        XmlElemRecord& f = RecordAt(fc);
        f.nPrevSibling = elem;
        f.nFlags &= ~XREC_FIRST_CHILD;
        for (int c = fc; c; c = RecordAt(c).nNextSibling) {
            RecordAt(c).nParent = target;
            last = c;
        }
    }
    XmlElemRecord& p = RecordAt(target);
    RecordAt(p.nFirstChild).nPrevSibling = last;
    if (badData)
        p.nFlags |= XREC_BAD_DATA;
    stack.PopTo(lo - 1);
}

int CXmlDocument::BuildElementIndex(int parent, CXmlScanner& sc) {
    CXmlTagStack stack;
    XmlNodeInfo node;
    int current = parent;
    int first = 0;
    const int baseLevel = RecordAt(parent).nLevel;
    const char* t = m_strXml.GetString();
    const bool ignoreCase = (m_nFlags & XDOC_IGNORE_CASE) != 0;
    for (;;) {
        if (t[sc.nNext] != '<' && t[sc.nNext] != 0)
            sc.nNext = XmlSkipText(t, sc.nNext);
        int kind = XmlScanNode(sc, node);
        if (kind == XML_NODE_START_TAG) {
            int idx = NewRecord();
            XmlElemRecord& r = RecordAt(idx);
            XmlElemRecord& cur = RecordAt(current);
            r.nParent = current;
            r.nNextSibling = 0;
            r.nFirstChild = 0;
            if (!cur.nFirstChild) {
                cur.nFirstChild = idx;
                r.nPrevSibling = idx;
                r.nFlags = XREC_FIRST_CHILD;
            } else {
                XmlElemRecord& fc = RecordAt(cur.nFirstChild);
                int lastChild = fc.nPrevSibling;
                RecordAt(lastChild).nNextSibling = idx;
                r.nPrevSibling = lastChild;
                fc.nPrevSibling = idx;
                r.nFlags = 0;
            }
            r.nLevel = baseLevel + stack.Top();
            r.nOffset = node.nStart;
            r.nStartTagLen = node.nLength;
            r.nLength = node.nLength;
            r.nEndTagLen = 0;
            if (!first && current == parent)
                first = idx;
            if (!(node.nNodeFlags & XML_NODEFLAG_EMPTY)) {
                stack.Push(idx, sc.nNameStart, sc.NameLength());
                current = idx;
            }
        } else if (kind == XML_NODE_END_TAG) {
            int match = 0;
            const char* endName = t + sc.nNameStart;
            const int endLen = sc.NameLength();
            for (int i = stack.Top(); i >= 1; --i) {
                const CXmlTagStack::Entry& e = stack[i];
                // Names of the same length match when their bytes do; only a longer open name
                // needs the delimiter rule.
                bool same;
                if (e.nNameLen == endLen && !ignoreCase) {
                    const char* open = t + e.nNameStart;
                    int k = 0;
                    while (k < endLen && open[k] == endName[k])
                        ++k;
                    same = k == endLen;
                } else {
                    same = XmlNameMatches(endName, endLen, t + e.nNameStart, e.nNameLen, ignoreCase);
                }
                if (same) {
                    match = i;
                    break;
                }
            }
            if (!match) {
                RecordAt(parent).nFlags |= XREC_BAD_FORM;
                RecordAt(current).nFlags |= XREC_BAD_DATA;
                CString name(t + sc.nNameStart, sc.NameLength());
                XmlLogResult(m_strLog, "lone_end_tag", name, node.nStart);
            } else {
                int m = stack[match].nRecord;
                XmlElemRecord& r = RecordAt(m);
                r.nLength = node.nStart - r.nOffset + node.nLength;
                r.nEndTagLen = node.nLength;
                if (match < stack.Top())
                    CloseUnended(match + 1, parent, node.nStart + 1, stack);
                current = RecordAt(m).nParent;
                stack.PopTo(match - 1);
            }
        } else if (kind == XML_NODE_ERROR) {
            RecordAt(parent).nFlags |= XREC_BAD_FORM;
            RecordAt(current).nFlags |= XREC_BAD_DATA;
            if (m_strLog.GetLength() < 1000)
                m_strLog += node.strProblems;
        } else if (kind == XML_NODE_END_OF_TEXT) {
            CloseUnended(1, parent, m_strXml.GetLength(), stack);
            return first;
        }
    }
}

namespace {

bool IsPathNameChar(unsigned char c) {
    switch (c) {
    case 0:
    case ' ':
    case '\t':
    case '\r':
    case '\n':
    case '/':
    case '=':
    case '[':
    case ']':
    case '@':
    case '"':
    case '\'':
    case '<':
    case '>':
        return false;
    default:
        return true;
    }
}

// Length of the name character at p, 0 when p holds none. A double-byte character counts whole:
// its trail byte may equal "@", "[" or "]".
int PathNameChar(const char* p) {
    return IsPathNameChar(static_cast<unsigned char>(*p)) ? XmlCharLen(p) : 0;
}

// Passes over a name; false when there is none at p.
bool SkipPathName(const char*& p) {
    int n = PathNameChar(p);
    if (!n)
        return false;
    do
        p += n;
    while ((n = PathNameChar(p)) != 0);
    return true;
}

// Checks the form of an element path: steps "name" or "name[predicate]" separated by "/", with
// an optional final "/@name".
bool IsValidPath(const char* p) {
    if (*p == '/')
        return false;
    for (;;) {
        if (*p == '@') {
            ++p;
            return SkipPathName(p) && *p == 0;
        }
        if (!SkipPathName(p))
            return false;
        if (*p == '[') {
            ++p;
            if (*p >= '1' && *p <= '9') {
                while (*p >= '0' && *p <= '9')
                    ++p;
            } else {
                if (*p == '@')
                    ++p;
                if (*p >= '0' && *p <= '9')
                    return false;
                if (!SkipPathName(p))
                    return false;
                if (*p == '=') {
                    ++p;
                    if (*p == '"' || *p == '\'') {
                        char q = *p++;
                        while (*p && *p != q)
                            p += XmlCharLen(p);
                        if (*p != q)
                            return false;
                        ++p;
                    } else {
                        while (*p && *p != ']')
                            p += XmlCharLen(p);
                    }
                }
            }
            if (*p != ']')
                return false;
            ++p;
        }
        if (*p == 0)
            return true;
        if (*p != '/')
            return false;
        ++p;
    }
}

} // namespace

namespace {

// The first of cand and the siblings after it whose tag name is name, or 0; 0 as well for a name
// that is no valid path. Apart from FindElement so that its walk by any name needs no frame.
[[gnu::noinline]] int FindNamedSibling(const CXmlRecordArray& records, const char* t, int cand,
                                       const char* name, bool ignoreCase) {
    if (!IsValidPath(name))
        return 0;
    int nameLen = 0;
    while (name[nameLen] && name[nameLen] != ' ' && name[nameLen] != '/' && name[nameLen] != '=' &&
           name[nameLen] != '[' && name[nameLen] != ']')
        nameLen += XmlCharLen(name + nameLen);
    for (; cand; cand = records.At(cand).nNextSibling) {
        const char* tag = t + records.At(cand).nOffset + 1;
        int len = 0;
        while (true) {
            unsigned char c = static_cast<unsigned char>(tag[len]);
            if (c == 0 || XmlIsSpace(c) || c == '!' || c == '"' || c == '\'' || c == '/' || c == ';' ||
                c == '<' || c == '=' || c == '>' || c == '?' || c == '\\')
                break;
            len += XmlCharLen(tag + len);
        }
        if (len != nameLen)
            continue;
        bool same = true;
        for (int i = 0; i < len && same; ++i) {
            char a = tag[i], b = name[i];
            if (ignoreCase) {
                a = AfxAsciiToLower(a);
                b = AfxAsciiToLower(b);
            }
            same = a == b;
        }
        if (same)
            return cand;
    }
    return 0;
}

} // namespace

bool CXmlDocument::FindElement(CXmlStrArg nameArg) {
    if ((m_nFlags & XDOC_WRITE_STREAM) || m_pRecords->GetSize() == 0)
        return false;
    int cand = m_nMain ? RecordAt(m_nMain).nNextSibling : RecordAt(m_nParent).nFirstChild;
    if (!nameArg.IsEmpty())
        cand = FindNamedSibling(*m_pRecords, m_strXml.GetString(), cand, nameArg.Get(),
                                (m_nFlags & XDOC_IGNORE_CASE) != 0);
    if (!cand)
        return false;
    SetPos(RecordAt(cand).nParent, cand, 0);
    return true;
}

bool CXmlDocument::IntoElement() {
    if (!m_nMain || m_nNodeKind != 1)
        return false;
    SetPos(m_nMain, m_nChild, 0);
    return true;
}

bool CXmlDocument::OutOfElement() {
    if (!m_nParent)
        return false;
    SetPos(RecordAt(m_nParent).nParent, m_nParent, m_nMain);
    return true;
}

void CXmlDocument::ResetLevel() {
    SetPos(m_nParent, 0, 0);
}

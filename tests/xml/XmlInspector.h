// Read-only access to a document's element index, for the engine's own tests.
#pragma once

#include "xml/XmlDocument.h"
#include "xml/XmlIndex.h"

#include <string>

class CXmlDocumentInspector {
public:
    explicit CXmlDocumentInspector(const CXmlDocument& doc) : m_doc(doc) {}
    int Count() const { return m_doc.m_nNextFree; }
    const XmlElemRecord& Rec(int i) const { return m_doc.RecordAt(i); }
    int Main() const { return m_doc.m_nMain; }
    int Parent() const { return m_doc.m_nParent; }
    int Child() const { return m_doc.m_nChild; }
    int FreeList() const { return m_doc.m_nFreeList; }

    std::string Name(int i) const {
        const char* t = m_doc.GetDocText().GetString() + Rec(i).nOffset + 1;
        std::string n;
        while (*t && *t != ' ' && *t != '\t' && *t != '\r' && *t != '\n' && *t != '/' && *t != '>')
            n += *t++;
        return n;
    }

    // The tree as text: name[offset,length,start tag,end tag] with N (not ended) and D (bad data),
    // children in parentheses; a leading "!" when the document is flagged not well formed.
    std::string Dump(bool withLevels = false) const {
        std::string s = (Rec(0).nFlags & XREC_BAD_FORM) ? "!" : "";
        DumpChildren(0, s, withLevels);
        return s;
    }

    // Checks every link of the tree; returns "" or what is wrong.
    std::string CheckLinks() const {
        std::string err;
        CheckUnder(0, err, 0);
        return err;
    }

private:
    void DumpChildren(int parent, std::string& s, bool withLevels) const {
        bool first = true;
        for (int c = Rec(parent).nFirstChild; c; c = Rec(c).nNextSibling) {
            if (!first)
                s += ' ';
            first = false;
            const XmlElemRecord& r = Rec(c);
            s += Name(c) + "[" + std::to_string(r.nOffset) + "," + std::to_string(r.nLength) + "," +
                 std::to_string(r.nStartTagLen) + "," + std::to_string(r.nEndTagLen) + "]";
            if (withLevels)
                s += "L" + std::to_string(r.nLevel);
            if (r.nFlags & XREC_NOT_ENDED)
                s += "N";
            if (r.nFlags & XREC_BAD_DATA)
                s += "D";
            if (r.nFirstChild) {
                s += "(";
                DumpChildren(c, s, withLevels);
                s += ")";
            }
        }
    }
    void CheckUnder(int parent, std::string& err, int depth) const {
        if (depth > 100000)
            return;
        int fc = Rec(parent).nFirstChild;
        if (!fc)
            return;
        int prev = 0, last = 0;
        for (int c = fc; c; c = Rec(c).nNextSibling) {
            if (Rec(c).nParent != parent)
                err += "parent of " + std::to_string(c) + "; ";
            bool isFirst = (Rec(c).nFlags & XREC_FIRST_CHILD) != 0;
            if (isFirst != (c == fc))
                err += "first-child flag of " + std::to_string(c) + "; ";
            if (c != fc && Rec(c).nPrevSibling != prev)
                err += "prev of " + std::to_string(c) + "; ";
            prev = last = c;
            CheckUnder(c, err, depth + 1);
        }
        if (Rec(fc).nPrevSibling != last)
            err += "last-child link under " + std::to_string(parent) + "; ";
    }
    const CXmlDocument& m_doc;
};

// The element index: one record per element, held in segments of 65,536 records so that
// growing the index never moves the records already handed out in other segments.
#pragma once

#include <string>
#include <vector>

// Record flags.
enum : int {
    XREC_FREED = 0x20000,
    XREC_FIRST_CHILD = 0x80000,
    XREC_NOT_ENDED = 0x100000,
    XREC_BAD_DATA = 0x200000,
    XREC_BAD_FORM = 0x800000,
};

// Every field is full width: tag lengths and depth can never spill into a neighbour.
struct XmlElemRecord {
    int nOffset;      // text offset of the element's "<"
    int nLength;      // start tag to the end of the end tag
    int nStartTagLen; // length of the start tag
    int nEndTagLen;   // length of the end tag (0 for "<a/>" and unended elements)
    int nLevel;       // depth; the root element is 0
    int nFlags;       // XREC_* bits
    int nParent;
    int nFirstChild;
    int nNextSibling;
    int nPrevSibling; // the first child's holds the last child

    int ContentStart() const { return nOffset + nStartTagLen; }
    int ContentLength() const { return nLength - nStartTagLen - nEndTagLen; }
    int End() const { return nOffset + nLength; }
    bool IsEmptyElement() const { return nStartTagLen == nLength; }
};

class CXmlRecordArray {
public:
    enum { SEGMENT_BITS = 16, SEGMENT_SIZE = 1 << SEGMENT_BITS };

    CXmlRecordArray() = default;
    ~CXmlRecordArray() { Release(); }
    CXmlRecordArray(const CXmlRecordArray&) = delete;
    CXmlRecordArray& operator=(const CXmlRecordArray&) = delete;

    int GetSize() const { return m_nSize; }
    XmlElemRecord& At(int i) const { return m_pSegments[i >> SEGMENT_BITS][i & (SEGMENT_SIZE - 1)]; }
    // Grows to n records (at most one new segment per call); never shrinks.
    void Grow(int n);
    // Releases every segment and the pointer array.
    void Release();

private:
    XmlElemRecord** m_pSegments = nullptr;
    int m_nSize = 0;
    int m_nSegCapacity = 0;
};

// Positions saved under a name so that a walk can come back to them after edits: one map per
// saved set. No caller saves positions yet; a parse empties the array, since its records are
// gone.
class CXmlSavedPosMaps {
public:
    struct Entry {
        std::string strName;
        int nParent;
        int nMain;
        int nChild;
    };
    void Release() { m_maps.clear(); }
    bool IsEmpty() const { return m_maps.empty(); }

private:
    std::vector<std::vector<Entry>> m_maps;
};

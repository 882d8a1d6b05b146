#include "xml/XmlRecords.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Left unset: every record is written whole when it is handed out (record 0 when a parse
// starts), and none beyond the last handed out is read.
XmlElemRecord* AllocRecords(int n) {
    void* p = std::malloc(static_cast<size_t>(n) * sizeof(XmlElemRecord));
    if (!p)
        throw std::bad_alloc();
    return static_cast<XmlElemRecord*>(p);
}

} // namespace

void CXmlRecordArray::Grow(int n) {
    if (n <= m_nSize)
        return;
    int oldLast = m_nSize ? (m_nSize - 1) >> SEGMENT_BITS : 0;
    int newLast = (n - 1) >> SEGMENT_BITS;
    if (newLast > oldLast + 1) {
        n = (oldLast + 2) * SEGMENT_SIZE;
        newLast = oldLast + 1;
    }
    if (newLast >= m_nSegCapacity) {
        int cap = newLast * 2 + 4;
        auto** segs =
            static_cast<XmlElemRecord**>(std::calloc(static_cast<size_t>(cap), sizeof(XmlElemRecord*)));
        if (!segs)
            throw std::bad_alloc();
        if (m_pSegments)
            std::memcpy(segs, m_pSegments, sizeof(XmlElemRecord*) * static_cast<size_t>(m_nSegCapacity));
        std::free(m_pSegments);
        m_pSegments = segs;
        m_nSegCapacity = cap;
    }
    int oldCount = m_nSize ? m_nSize - oldLast * SEGMENT_SIZE : 0; // records in the old last segment
    if (newLast != oldLast && oldCount < SEGMENT_SIZE) {
        XmlElemRecord* full = AllocRecords(SEGMENT_SIZE);
        if (oldCount)
            std::memcpy(full, m_pSegments[oldLast], sizeof(XmlElemRecord) * static_cast<size_t>(oldCount));
        std::free(m_pSegments[oldLast]);
        m_pSegments[oldLast] = full;
    }
    int newCount = n - newLast * SEGMENT_SIZE;
    XmlElemRecord* seg = AllocRecords(newCount);
    if (newLast == oldLast && oldCount) {
        std::memcpy(seg, m_pSegments[oldLast], sizeof(XmlElemRecord) * static_cast<size_t>(oldCount));
        std::free(m_pSegments[oldLast]);
    }
    m_pSegments[newLast] = seg;
    m_nSize = n;
}

void CXmlRecordArray::Release() {
    if (m_pSegments) {
        for (int i = 0; i < m_nSegCapacity; ++i)
            std::free(m_pSegments[i]);
        std::free(m_pSegments);
    }
    m_pSegments = nullptr;
    m_nSize = 0;
    m_nSegCapacity = 0;
}

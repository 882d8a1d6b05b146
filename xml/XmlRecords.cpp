#include "xml/XmlRecords.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Resizes a segment (NULL: a new one), keeping its records; realloc grows a large block in place
// or by remapping its pages rather than copying them. Records beyond those kept are left unset:
// every record is written whole when it is handed out (record 0 when a parse starts), and none
// beyond the last handed out is read.
XmlElemRecord* ResizeRecords(XmlElemRecord* segment, int n) {
    void* p = std::realloc(segment, static_cast<size_t>(n) * sizeof(XmlElemRecord));
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
    if (newLast != oldLast && oldCount < SEGMENT_SIZE)
        m_pSegments[oldLast] = ResizeRecords(m_pSegments[oldLast], SEGMENT_SIZE);
    // A segment not yet started is NULL, so this starts it or grows the last one.
    m_pSegments[newLast] = ResizeRecords(m_pSegments[newLast], n - newLast * SEGMENT_SIZE);
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

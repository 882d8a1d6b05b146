#include "skin/SkinLayout.h"

#include "foundation/AppPathInfo.h"
#include "foundation/SplitByChar.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// Leading blanks, an optional sign and the digits up to the first other character; 0 without
// digits. strtoll saturates, so an endless run of digits cannot overflow.
long long ParseSkinNumber(const CString& strText) {
    return std::strtoll(strText.GetString(), nullptr, 10);
}

int ClampInt(long long n) {
    return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

} // namespace

CSkinLayout::CSkinLayout() : m_mapItems(10) {
    m_mapItems.InitHashTable(17);
}

CSkinLayout::~CSkinLayout() {
    for (INT_PTR i = 0; i < m_arrItems.GetSize(); ++i)
        delete static_cast<CSkinItem*>(m_arrItems.GetAt(i));
    m_arrItems.RemoveAll();
}

BOOL CSkinLayout::Load(CString strFileName) {
    const CString strDir = g_AppPathInfo.GetSkinDir();
    CXmlDocument doc;
    // A missing or unreadable file leaves the document empty, which the next step reports.
    doc.Load(strDir + strFileName);
    doc.ResetLevel();
    if (!doc.FindElement("items"))
        return FALSE;
    doc.IntoElement();
    while (doc.FindElement("item")) {
        auto* pItem = new CSkinItem;
        m_arrItems.Add(pItem);
        pItem->m_strName = doc.GetAttribute("name");
        pItem->m_strImage = strDir + doc.GetAttribute("image");
        pItem->m_rcRect = ParseRect(doc.GetAttribute("rect"));
        pItem->m_rcMaxRect = ParseRect(doc.GetAttribute("max_rect"));
        pItem->m_nHeight = ClampInt(ParseSkinNumber(doc.GetAttribute("height")));
        pItem->m_nWidth = ClampInt(ParseSkinNumber(doc.GetAttribute("width")));
        m_mapItems.SetAt(pItem->m_strName, pItem);
    }
    return TRUE;
}

const CSkinItem* CSkinLayout::FindItem(const CString& strName) const {
    void* p = nullptr;
    if (!m_mapItems.Lookup(strName, p))
        return nullptr;
    return static_cast<const CSkinItem*>(p);
}

CRect CSkinLayout::GetItemRect(CString strName) const {
    const CSkinItem* p = FindItem(strName);
    return p ? p->m_rcRect : CRect();
}

CRect CSkinLayout::GetItemMaxRect(CString strName) const {
    const CSkinItem* p = FindItem(strName);
    return p ? p->m_rcMaxRect : CRect();
}

CString CSkinLayout::GetItemImage(CString strName) const {
    const CSkinItem* p = FindItem(strName);
    return p ? p->m_strImage : CString();
}

CSize CSkinLayout::GetItemSize(CString strName) const {
    const CSkinItem* p = FindItem(strName);
    return p ? CSize(p->m_nWidth, p->m_nHeight) : CSize(0, 0);
}

CRect CSkinLayout::ParseRect(CString strText) const {
    CRect rc;
    ParseRectValues(strText, &rc);
    return rc;
}

BOOL CSkinLayout::ParseRectValues(CString strText, CRect* pOut) const {
    CStringList lstPieces;
    if (SplitByChar(strText, lstPieces, ',') != 4)
        return FALSE;
    int v[4];
    POSITION pos = lstPieces.GetHeadPosition();
    for (int& n : v)
        n = ClampInt(ParseSkinNumber(lstPieces.GetNext(pos)));
    if (pOut != nullptr)
        *pOut = CRect(v[0], v[1], v[2], v[3]);
    return TRUE;
}

CRect CalcAnchoredRect(CRect rcAnchor, int width, int height, CRect container) {
    // Wide arithmetic: a container or a size near the int range must not overflow the sums.
    auto place = [](long long lead, long long trail, long long size, long long lo, long long hi, long long& a,
                    long long& b) {
        if (lead == -1) {
            a = hi - trail - size;
            b = a + size;
        } else {
            a = lo + lead;
            b = trail != -1 ? hi - trail : a + size;
        }
    };
    long long l, t, r, b;
    place(rcAnchor.left, rcAnchor.right, width, container.left, container.right, l, r);
    place(rcAnchor.top, rcAnchor.bottom, height, container.top, container.bottom, t, b);
    // Within half the int range, so the width and height its users take stay ints too.
    auto half = [](long long n) {
        return static_cast<int>(std::clamp<long long>(n, INT_MIN / 2, INT_MAX / 2));
    };
    return CRect(half(l), half(t), half(r), half(b));
}

#include "platform/gdi/AfxDC.h"
#include "platform/gdi/GdiObjects.h"

#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

enum class WrapperKind { Object, Bitmap, Font, Brush };

// The calling thread's handle maps: wrappers attached to handles, and the temporary wrappers
// FromHandle made.
struct HandleMaps {
    ~HandleMaps() {
        dead = true;
        for (auto& [key, o] : tempObjects)
            o->m_hObject = nullptr;
        for (auto& [h, dc] : tempDcs)
            dc->m_hDC = nullptr;
    }
    std::unordered_map<const void*, CGdiObject*> objects;
    std::unordered_map<const void*, CDC*> dcs;
    std::map<std::pair<const void*, WrapperKind>, std::unique_ptr<CGdiObject>> tempObjects;
    std::unordered_map<const void*, std::unique_ptr<CDC>> tempDcs;
    // Set once the thread's maps are gone, for wrappers destroyed later in the thread's exit.
    static thread_local bool dead;
};
thread_local bool HandleMaps::dead = false;

HandleMaps* Maps() {
    thread_local HandleMaps maps;
    return HandleMaps::dead ? nullptr : &maps;
}

template <class T> T* WrapperFromHandle(HGDIOBJ h, WrapperKind kind) {
    HandleMaps* m = Maps();
    if (!h || !m)
        return nullptr;
    auto it = m->objects.find(h);
    if (it != m->objects.end())
        if (auto* t = dynamic_cast<T*>(it->second))
            return t;
    auto& slot = m->tempObjects[{h, kind}];
    if (!slot) {
        slot = std::make_unique<T>();
        slot->m_hObject = h;
    }
    return static_cast<T*>(slot.get());
}

} // namespace

namespace afxgdi::detail {

void ForgetTemporaries(const void* h) {
    HandleMaps* m = Maps();
    if (!m)
        return;
    for (auto kind : {WrapperKind::Object, WrapperKind::Bitmap, WrapperKind::Font, WrapperKind::Brush}) {
        auto it = m->tempObjects.find({h, kind});
        if (it != m->tempObjects.end()) {
            it->second->m_hObject = nullptr;
            m->tempObjects.erase(it);
        }
    }
    auto dc = m->tempDcs.find(h);
    if (dc != m->tempDcs.end()) {
        dc->second->m_hDC = nullptr;
        m->tempDcs.erase(dc);
    }
    // A wrapper whose handle was deleted behind its back must not reach a later object that
    // happens to get the same handle.
    auto obj = m->objects.find(h);
    if (obj != m->objects.end()) {
        obj->second->m_hObject = nullptr;
        m->objects.erase(obj);
    }
    auto pdc = m->dcs.find(h);
    if (pdc != m->dcs.end()) {
        pdc->second->m_hDC = nullptr;
        m->dcs.erase(pdc);
    }
}

} // namespace afxgdi::detail

// ---------------------------------------------------------------------------------------
// CGdiObject and its kinds.

CGdiObject::~CGdiObject() {
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (!hObject || m_hObject)
        return FALSE;
    m_hObject = hObject;
    if (HandleMaps* m = Maps())
        m->objects[hObject] = this;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    if (h) {
        if (HandleMaps* m = Maps()) {
            auto it = m->objects.find(h);
            if (it != m->objects.end() && it->second == this)
                m->objects.erase(it);
        }
    }
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject)
        return FALSE;
    return ::DeleteObject(Detach());
}

BOOL CGdiObject::AttachNew(HGDIOBJ hObject) {
    if (Attach(hObject))
        return TRUE;
    // A wrapper that already holds an object keeps it; the new one must not be left behind.
    if (hObject)
        ::DeleteObject(hObject);
    return FALSE;
}

BOOL CGdiObject::CreateStockObject(int nIndex) {
    return Attach(::GetStockObject(nIndex));
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ hObject) {
    return WrapperFromHandle<CGdiObject>(hObject, WrapperKind::Object);
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
    return AttachNew(::CreateCompatibleBitmap(pDC ? pDC->m_hDC : nullptr, nWidth, nHeight));
}

BOOL CBitmap::CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitcount, const void* lpBits) {
    return AttachNew(::CreateBitmap(nWidth, nHeight, nPlanes, nBitcount, lpBits));
}

CBitmap* CBitmap::FromHandle(HBITMAP hBitmap) {
    return WrapperFromHandle<CBitmap>(hBitmap, WrapperKind::Bitmap);
}

BOOL CFont::CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                       BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision,
                       BYTE nClipPrecision, BYTE nQuality, BYTE nPitchAndFamily, LPCTSTR lpszFacename) {
    return AttachNew(::CreateFontA(nHeight, nWidth, nEscapement, nOrientation, nWeight, bItalic, bUnderline,
                                   cStrikeOut, nCharSet, nOutPrecision, nClipPrecision, nQuality,
                                   nPitchAndFamily, lpszFacename));
}

BOOL CFont::CreateFontIndirect(const LOGFONT* lpLogFont) {
    return AttachNew(::CreateFontIndirectA(lpLogFont));
}

CFont* CFont::FromHandle(HFONT hFont) {
    return WrapperFromHandle<CFont>(hFont, WrapperKind::Font);
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
    return AttachNew(::CreateSolidBrush(crColor));
}

CBrush* CBrush::FromHandle(HBRUSH hBrush) {
    return WrapperFromHandle<CBrush>(hBrush, WrapperKind::Brush);
}

// ---------------------------------------------------------------------------------------
// CDC.

CDC::~CDC() {
    if (m_hDC)
        ::DeleteDC(Detach());
}

BOOL CDC::Attach(HDC hDC) {
    if (!hDC || m_hDC)
        return FALSE;
    m_hDC = hDC;
    if (HandleMaps* m = Maps())
        m->dcs[hDC] = this;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    if (h) {
        if (HandleMaps* m = Maps()) {
            auto it = m->dcs.find(h);
            if (it != m->dcs.end() && it->second == this)
                m->dcs.erase(it);
        }
    }
    m_hDC = nullptr;
    return h;
}

CDC* CDC::FromHandle(HDC hDC) {
    HandleMaps* m = Maps();
    if (!hDC || !m)
        return nullptr;
    auto it = m->dcs.find(hDC);
    if (it != m->dcs.end())
        return it->second;
    auto& slot = m->tempDcs[hDC];
    if (!slot) {
        slot = std::make_unique<CDC>();
        slot->m_hDC = hDC;
    }
    return slot.get();
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    HDC hdc = ::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr);
    if (Attach(hdc))
        return TRUE;
    // A CDC that already holds a DC keeps it; the new one must not be left behind.
    if (hdc)
        ::DeleteDC(hdc);
    return FALSE;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC)
        return FALSE;
    return ::DeleteDC(Detach());
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject) {
    return CGdiObject::FromHandle(::SelectObject(m_hDC, pObject ? pObject->m_hObject : nullptr));
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    return CBitmap::FromHandle(
        static_cast<HBITMAP>(::SelectObject(m_hDC, pBitmap ? pBitmap->m_hObject : nullptr)));
}

CFont* CDC::SelectObject(CFont* pFont) {
    return CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, pFont ? pFont->m_hObject : nullptr)));
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
    return CBrush::FromHandle(
        static_cast<HBRUSH>(::SelectObject(m_hDC, pBrush ? pBrush->m_hObject : nullptr)));
}

CGdiObject* CDC::SelectStockObject(int nIndex) {
    return CGdiObject::FromHandle(::SelectObject(m_hDC, ::GetStockObject(nIndex)));
}

CFont* CDC::GetCurrentFont() const {
    return CFont::FromHandle(static_cast<HFONT>(::GetCurrentObject(m_hDC, OBJ_FONT)));
}

CBitmap* CDC::GetCurrentBitmap() const {
    return CBitmap::FromHandle(static_cast<HBITMAP>(::GetCurrentObject(m_hDC, OBJ_BITMAP)));
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF clr) {
    if (!lpRect)
        return;
    FillSolidRect(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top, clr);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF clr) {
    ::SetBkColor(m_hDC, clr);
    if (cx <= 0 || cy <= 0)
        return;
    HBRUSH brush = ::CreateSolidBrush(clr);
    RECT rc{x, y, x + cx, y + cy};
    ::FillRect(m_hDC, &rc, brush);
    ::DeleteObject(brush);
}

void CDC::FillRect(LPCRECT lpRect, CBrush* pBrush) {
    ::FillRect(m_hDC, lpRect, pBrush ? static_cast<HBRUSH>(pBrush->m_hObject) : nullptr);
}

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop) {
    return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc, dwRop);
}

BOOL CDC::StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, int nSrcWidth,
                     int nSrcHeight, DWORD dwRop) {
    return ::StretchBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc, nSrcWidth,
                        nSrcHeight, dwRop);
}

BOOL CDC::PatBlt(int x, int y, int nWidth, int nHeight, DWORD dwRop) {
    return ::PatBlt(m_hDC, x, y, nWidth, nHeight, dwRop);
}

CSize CDC::GetTextExtent(LPCTSTR lpszString, int nCount) const {
    SIZE size{0, 0};
    ::GetTextExtentPoint32A(m_hDC, lpszString, nCount, &size);
    return CSize(size);
}

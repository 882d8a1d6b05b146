// The Win32 drawing calls (GDI) over cairo image surfaces, their handle types, and the few calls
// the window kernel makes into the drawing layer.
//
// The drawing layer sits below the window kernel: platform/user includes this header, never the
// other way round. Every window owns a backing surface made here (an opaque cairo image surface,
// zero-filled); BeginPaint and GetDC hand out DCs that draw into that surface at the window's
// origin, clipped to what may be painted. All of it is toolkit-free and runs with no display.
// Objects are used from the thread that made them, as GDI objects are in the program; the handle
// table behind them is shared under one lock, and the stock objects serve every thread.
#pragma once

#include "platform/base/Win32Types.h"

typedef struct _cairo_surface cairo_surface_t;

struct HDC__;
using HDC = HDC__*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HFONT__;
using HFONT = HFONT__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HPEN__;
using HPEN = HPEN__*;
struct HRGN__;
using HRGN = HRGN__*;
struct HICON__;
using HICON = HICON__*;
using HCURSOR = HICON;
// Any of the object handles above converts to this, as in the C headers.
using HGDIOBJ = void*;

namespace afxgdi {

// A window's backing pixels: a CAIRO_FORMAT_RGB24 image surface of cx by cy pixels (at least
// 1 by 1), every pixel 0. The caller owns the reference (cairo_surface_destroy).
cairo_surface_t* CreateBackingSurface(int cx, int cy);
// A DC that draws into s: logical point (0,0) is the surface's pixel (origin.x, origin.y), and
// nothing outside clip (surface pixels; the whole surface when null) is touched. The DC holds a
// reference to s until it is released.
HDC CreateDCForSurface(cairo_surface_t* s, POINT origin, const RECT* clip);
// Ends a DC made by CreateDCForSurface; FALSE for any other handle.
BOOL ReleaseDCForSurface(HDC hdc);
// An icon from the bytes of an .ico or .png file: the entry nearest cx by cy (0,0: the file's
// first entry at its own size). Null when the bytes do not decode.
HICON CreateIconFromFileBytes(const void* data, size_t size, int cx, int cy);

} // namespace afxgdi

// ---------------------------------------------------------------------------------------
// Win32 GDI over cairo image surfaces. Every drawing surface is CAIRO_FORMAT_RGB24; pixel
// operations (blits, fills, GetPixel) are exact and done by hand, text goes through pango.
// Coordinates are logical pixels; a DC maps them to its surface by its origin and touches nothing
// outside its clip.

#define RGB(r, g, b)                                                                                         \
    (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) |           \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(rgb) (LOBYTE(rgb))
#define GetGValue(rgb) (LOBYTE((static_cast<WORD>(rgb)) >> 8))
#define GetBValue(rgb) (LOBYTE((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFFu

// Raster operations.
#define SRCCOPY 0x00CC0020u
#define SRCPAINT 0x00EE0086u
#define SRCAND 0x008800C6u
#define SRCINVERT 0x00660046u
#define NOTSRCCOPY 0x00330008u
#define DSTINVERT 0x00550009u
#define PATCOPY 0x00F00021u
#define BLACKNESS 0x00000042u
#define WHITENESS 0x00FF0062u

// Background modes.
#define TRANSPARENT 1
#define OPAQUE 2

// Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

// GetObjectType answers.
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

// Font weights, character sets, qualities and pitches.
#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define FW_HEAVY 900
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define GB2312_CHARSET 134
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define ANTIALIASED_QUALITY 4
#define CLEARTYPE_QUALITY 5
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_ROMAN 0x10
#define FF_SWISS 0x20
#define FF_MODERN 0x30
#define LF_FACESIZE 32

// DrawText formats.
#define DT_TOP 0x00000000u
#define DT_LEFT 0x00000000u
#define DT_CENTER 0x00000001u
#define DT_RIGHT 0x00000002u
#define DT_VCENTER 0x00000004u
#define DT_BOTTOM 0x00000008u
#define DT_SINGLELINE 0x00000020u
#define DT_NOCLIP 0x00000100u
#define DT_CALCRECT 0x00000400u
#define DT_NOPREFIX 0x00000800u
#define DT_END_ELLIPSIS 0x00008000u

// DrawIconEx flags.
#define DI_MASK 0x0001u
#define DI_IMAGE 0x0002u
#define DI_NORMAL 0x0003u
#define DI_DEFAULTSIZE 0x0008u

struct LOGFONTA {
    LONG lfHeight; // < 0: character (em) height in pixels; > 0: cell height; 0: the default
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE]; // ANSI code page
};
using LOGFONT = LOGFONTA;
using LPLOGFONTA = LOGFONTA*;
using LPLOGFONT = LOGFONTA*;

struct TEXTMETRICA {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    BYTE tmFirstChar;
    BYTE tmLastChar;
    BYTE tmDefaultChar;
    BYTE tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};
using TEXTMETRIC = TEXTMETRICA;
using LPTEXTMETRICA = TEXTMETRICA*;
using LPTEXTMETRIC = TEXTMETRICA*;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};
using LPBITMAP = BITMAP*;

// DCs. A memory DC starts with a 1 by 1 stock bitmap selected, as on Windows.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
// A selected object may be deleted: its handle dies at once, its pixels when the DC lets go.
// Stock objects are never deleted (TRUE, nothing happens).
BOOL DeleteObject(HGDIOBJ h);
HGDIOBJ GetStockObject(int i);
DWORD GetObjectType(HGDIOBJ h);
int GetObjectA(HGDIOBJ h, int c, LPVOID pv);
inline int GetObject(HGDIOBJ h, int c, LPVOID pv) {
    return GetObjectA(h, c, pv);
}

// Bitmaps: opaque 32-bit, black at creation. A size of 0 gives the 1 by 1 stock bitmap.
HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// Only 32 bits per pixel in one plane (0x00RRGGBB words, top-down); lpBits may be null (black).
HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits);

// Pixels. Sizes of 0 or less draw nothing. A destination pixel changes only when it lies in the
// destination's clip and, for BitBlt and StretchBlt, its source pixel lies in the source DC's
// surface area (its clip for a window DC).
BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                int wSrc, int hSrc, DWORD rop);
BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);
int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);

HBRUSH CreateSolidBrush(COLORREF color);

// Text state.
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);

// Fonts. A face name that no installed family carries is drawn in an installed CJK font.
HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision,
                  DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName);
HFONT CreateFontIndirectA(const LOGFONTA* lplf);
inline HFONT CreateFont(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight,
                        DWORD bItalic, DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet,
                        DWORD iOutPrecision, DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily,
                        LPCSTR pszFaceName) {
    return CreateFontA(cHeight, cWidth, cEscapement, cOrientation, cWeight, bItalic, bUnderline, bStrikeOut,
                       iCharSet, iOutPrecision, iClipPrecision, iQuality, iPitchAndFamily, pszFaceName);
}
inline HFONT CreateFontIndirect(const LOGFONTA* lplf) {
    return CreateFontIndirectA(lplf);
}

// Text in the ANSI code page; c = -1 means zero-terminated.
BOOL GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm);
BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, SIZE* psizl);
// Without DT_SINGLELINE, line feeds start new lines. DT_END_ELLIPSIS ends a single line that does
// not fit with "..."; DT_CALCRECT only measures, setting the rectangle's right and bottom; "&x"
// underlines x unless DT_NOPREFIX. Returns the text height (with DT_VCENTER or DT_BOTTOM the
// offset from the rectangle's top to the text's bottom), 0 on failure.
int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);
inline BOOL GetTextMetrics(HDC hdc, LPTEXTMETRICA lptm) {
    return GetTextMetricsA(hdc, lptm);
}
inline BOOL GetTextExtentPoint32(HDC hdc, LPCSTR lpString, int c, SIZE* psizl) {
    return GetTextExtentPoint32A(hdc, lpString, c, psizl);
}
inline int DrawText(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    return DrawTextA(hdc, lpchText, cchText, lprc, format);
}

// Icons (made by afxgdi::CreateIconFromFileBytes). Drawn with their alpha over the DC, scaled to
// cx by cy (0: the icon's own size).
BOOL DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth, int cyWidth, UINT istepIfAniCur,
                HBRUSH hbrFlickerFreeDraw, UINT diFlags);
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
BOOL DestroyIcon(HICON hIcon);

// Handle types of the drawing layer, and the few calls the window kernel makes into it.
//
// The drawing layer sits below the window kernel: platform/user includes this header, never the
// other way round. Every window owns a backing surface made here (an opaque cairo image surface,
// zero-filled); BeginPaint and GetDC hand out DCs that draw into that surface at the window's
// origin, clipped to what may be painted. All of it is toolkit-free and runs with no display.
// Objects are used from the thread that made them, as GDI objects are in the program.
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

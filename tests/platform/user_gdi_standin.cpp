// The few drawing-layer calls the window kernel makes, for builds without the drawing layer:
// surfaces as the layer makes them, and DCs that only hold their surface. Tests of the kernel
// draw on a window's surface directly, so they need no more.
#include "platform/gdi/WinGdi.h"

#include <cairo.h>

struct HDC__ {
    cairo_surface_t* surface;
};

namespace afxgdi {

cairo_surface_t* CreateBackingSurface(int cx, int cy) {
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx < 1 ? 1 : cx, cy < 1 ? 1 : cy);
}

HDC CreateDCForSurface(cairo_surface_t* s, POINT, const RECT*) {
    return new HDC__{cairo_surface_reference(s)};
}

BOOL ReleaseDCForSurface(HDC hdc) {
    if (!hdc)
        return FALSE;
    cairo_surface_destroy(hdc->surface);
    delete hdc;
    return TRUE;
}

HICON CreateIconFromFileBytes(const void*, size_t, int, int) {
    return nullptr;
}

} // namespace afxgdi

// Fonts and text over pango. Text arrives in the ANSI code page and is laid out as UTF-8; a
// line's top is its cell top, and its baseline sits tmAscent below, so measuring and drawing
// agree with the metrics the dialogs are laid out by.
#include "platform/gdi/GdiObjects.h"
#include "platform/kernel/CodePage.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace afxgdi::detail;

namespace {

// Fonts are shared between threads (the stock ones always are): their lazy parts are made
// under this lock.
std::mutex g_fontMutex;

// Installed in Debian by fonts-wqy-zenhei (see tools/install-deps.sh); the others are tried
// on machines that carry them instead.
const char* const kCjkFamilies[] = {"WenQuanYi Zen Hei", "Noto Sans CJK SC", "Noto Sans SC",
                                    "Droid Sans Fallback"};

// One pango context per thread: pango's font maps are per thread.
struct ThreadText {
    ThreadText() {
        PangoFontMap* map = pango_cairo_font_map_get_default();
        ctx = pango_font_map_create_context(map);
        cairo_font_options_t* o = cairo_font_options_create();
        // Grey antialiasing: sub-pixel colour fringes would make text colours depend on the
        // surface's channel order.
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
        pango_cairo_context_set_font_options(ctx, o);
        cairo_font_options_destroy(o);
        PangoFontFamily** families = nullptr;
        int n = 0;
        pango_font_map_list_families(map, &families, &n);
        for (int i = 0; i < n; ++i)
            installed.push_back(Fold(pango_font_family_get_name(families[i])));
        g_free(families);
    }
    ~ThreadText() { g_object_unref(ctx); }
    ThreadText(const ThreadText&) = delete;
    ThreadText& operator=(const ThreadText&) = delete;

    static std::string Fold(const char* s) {
        std::string r(s ? s : "");
        for (char& c : r)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return r;
    }
    bool Installed(const std::string& family) const {
        return !family.empty() &&
               std::find(installed.begin(), installed.end(), Fold(family.c_str())) != installed.end();
    }

    PangoContext* ctx = nullptr;
    std::vector<std::string> installed;
};

ThreadText& Text() {
    thread_local ThreadText t;
    return t;
}

std::string ResolveFamily(const LOGFONTA& lf) {
    ThreadText& t = Text();
    char face[LF_FACESIZE + 1] = {};
    std::memcpy(face, lf.lfFaceName, LF_FACESIZE);
    std::string family = AfxAnsiToUtf8(std::string(face));
    if (t.Installed(family))
        return family;
    for (const char* f : kCjkFamilies)
        if (t.Installed(f))
            return f;
    return "Sans";
}

PangoFontDescription* NewDescription(const std::string& family, const LOGFONTA& lf, int em) {
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, family.c_str());
    pango_font_description_set_absolute_size(d, static_cast<double>(em) * PANGO_SCALE);
    int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::clamp<int>(lf.lfWeight, 100, 1000);
    pango_font_description_set_weight(d, static_cast<PangoWeight>(weight));
    pango_font_description_set_style(d, lf.lfItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

void CellMetrics(PangoFontDescription* d, int& ascent, int& descent) {
    PangoFontMetrics* m = pango_context_get_metrics(Text().ctx, d, nullptr);
    ascent = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(m));
    descent = PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(m));
    pango_font_metrics_unref(m);
}

int PixelWidth(PangoFontDescription* d, const char* utf8) {
    PangoLayout* l = pango_layout_new(Text().ctx);
    pango_layout_set_font_description(l, d);
    pango_layout_set_text(l, utf8, -1);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    g_object_unref(l);
    return logical.width;
}

// Makes the font's description and metrics when they are not made yet.
void Prepare(HFONT__* f) {
    std::lock_guard<std::mutex> lock(g_fontMutex);
    if (f->haveMetrics)
        return;
    std::string family = ResolveFamily(f->lf);
    // A negative height is the em height; a positive one the whole cell, found by measuring the
    // cell at that em height and scaling.
    // Heights beyond any screen are held to kMaxEm, so no size arithmetic can overflow.
    constexpr int64_t kMaxEm = 4096;
    const int64_t height = std::clamp<int64_t>(f->lf.lfHeight, -kMaxEm, kMaxEm);
    int em = static_cast<int>(height < 0 ? -height : height == 0 ? 12 : height);
    PangoFontDescription* d = NewDescription(family, f->lf, em);
    int ascent = 0, descent = 0;
    CellMetrics(d, ascent, descent);
    if (height > 0 && ascent + descent > 0 && ascent + descent != height) {
        em = static_cast<int>(
            std::clamp<int64_t>(std::llround(double(em) * double(height) / (ascent + descent)), 1, kMaxEm));
        pango_font_description_free(d);
        d = NewDescription(family, f->lf, em);
        CellMetrics(d, ascent, descent);
    }
    f->desc = d;
    f->emHeight = em;
    f->ascent = ascent;
    f->descent = descent;
    f->aveCharWidth = PixelWidth(d, "x");
    f->maxCharWidth = std::max({PixelWidth(d, "W"), PixelWidth(d, "M"), PixelWidth(d, "\xE4\xB8\xAD")});
    f->haveMetrics = true;
}

// A layout of one font, underlined from byte `ulStart` for `ulLen` bytes when ulLen > 0.
PangoLayout* NewLayout(HFONT__* f, const std::string& utf8, size_t ulStart = 0, size_t ulLen = 0) {
    PangoLayout* l = pango_layout_new(Text().ctx);
    pango_layout_set_font_description(l, f->desc);
    pango_layout_set_text(l, utf8.data(), static_cast<int>(utf8.size()));
    PangoAttrList* attrs = pango_attr_list_new();
    if (f->lf.lfUnderline)
        pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (f->lf.lfStrikeOut)
        pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    if (ulLen > 0) {
        PangoAttribute* a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
        a->start_index = static_cast<guint>(ulStart);
        a->end_index = static_cast<guint>(ulStart + ulLen);
        pango_attr_list_insert(attrs, a);
    }
    pango_layout_set_attributes(l, attrs);
    pango_attr_list_unref(attrs);
    return l;
}

int LayoutWidth(PangoLayout* l) {
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    return logical.width;
}

std::string ToUtf8(LPCSTR s, int c) {
    if (!s)
        return std::string();
    size_t n = c < 0 ? std::strlen(s) : static_cast<size_t>(c);
    return AfxAnsiToUtf8(std::string(s, n));
}

size_t Utf8CharLen(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    return std::min(n, s.size() - i);
}

// "&x" underlines x and "&&" is one "&", as in menu and button texts.
std::string StripPrefix(const std::string& s, size_t& ulStart, size_t& ulLen) {
    std::string out;
    ulLen = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        ++i;
        if (s[i] != '&' && ulLen == 0) {
            ulStart = out.size();
            ulLen = Utf8CharLen(s, i);
        }
        out += s[i];
    }
    return out;
}

// The longest start of the line `s` (whole characters) that fits `width` with "..." after it.
std::string Ellipsize(HFONT__* f, const std::string& s, int width) {
    std::vector<size_t> cuts;
    for (size_t i = 0; i < s.size(); i += Utf8CharLen(s, i))
        cuts.push_back(i);
    auto fits = [&](size_t k) {
        PangoLayout* l = NewLayout(f, s.substr(0, cuts[k]) + "...");
        pango_layout_set_single_paragraph_mode(l, TRUE);
        bool ok = LayoutWidth(l) <= width;
        g_object_unref(l);
        return ok;
    };
    size_t lo = 0, hi = cuts.size(); // cuts[lo] always taken; answer in [0, hi)
    while (hi - lo > 1) {
        size_t mid = (lo + hi) / 2;
        if (fits(mid))
            lo = mid;
        else
            hi = mid;
    }
    return s.substr(0, cuts.empty() ? 0 : cuts[lo]) + "...";
}

void SetSource(cairo_t* cr, COLORREF c) {
    cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

} // namespace

HFONT__::~HFONT__() {
    if (desc)
        pango_font_description_free(desc);
}

HFONT CreateFontIndirectA(const LOGFONTA* lplf) {
    if (!lplf)
        return nullptr;
    auto* f = new HFONT__();
    f->lf = *lplf;
    f->lf.lfFaceName[LF_FACESIZE - 1] = 0;
    return Register(f);
}

HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision,
                  DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName) {
    LOGFONTA lf{};
    lf.lfHeight = cHeight;
    lf.lfWidth = cWidth;
    lf.lfEscapement = cEscapement;
    lf.lfOrientation = cOrientation;
    lf.lfWeight = cWeight;
    lf.lfItalic = static_cast<BYTE>(bItalic != 0);
    lf.lfUnderline = static_cast<BYTE>(bUnderline != 0);
    lf.lfStrikeOut = static_cast<BYTE>(bStrikeOut != 0);
    lf.lfCharSet = static_cast<BYTE>(iCharSet);
    lf.lfOutPrecision = static_cast<BYTE>(iOutPrecision);
    lf.lfClipPrecision = static_cast<BYTE>(iClipPrecision);
    lf.lfQuality = static_cast<BYTE>(iQuality);
    lf.lfPitchAndFamily = static_cast<BYTE>(iPitchAndFamily);
    if (pszFaceName)
        std::strncpy(lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirectA(&lf);
}

BOOL GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm) {
    HDC__* dc = AsDc(hdc);
    if (!dc || !lptm)
        return FALSE;
    HFONT__* f = CurrentFont(dc);
    Prepare(f);
    TEXTMETRICA tm{};
    tm.tmAscent = f->ascent;
    tm.tmDescent = f->descent;
    tm.tmHeight = f->ascent + f->descent;
    tm.tmInternalLeading = std::max(0, tm.tmHeight - f->emHeight);
    tm.tmAveCharWidth = f->aveCharWidth;
    tm.tmMaxCharWidth = f->maxCharWidth;
    tm.tmWeight = f->lf.lfWeight <= 0 ? FW_NORMAL : f->lf.lfWeight;
    tm.tmDigitizedAspectX = 96;
    tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = 0x20;
    tm.tmLastChar = 0xFF;
    tm.tmDefaultChar = '?';
    tm.tmBreakChar = ' ';
    tm.tmItalic = f->lf.lfItalic;
    tm.tmUnderlined = f->lf.lfUnderline;
    tm.tmStruckOut = f->lf.lfStrikeOut;
    // In TEXTMETRIC the low bit set means a variable pitch (the opposite of LOGFONT's names).
    tm.tmPitchAndFamily = static_cast<BYTE>(((f->lf.lfPitchAndFamily & 3) == FIXED_PITCH ? 0 : 1) |
                                            (f->lf.lfPitchAndFamily & 0xF0));
    tm.tmCharSet = f->lf.lfCharSet;
    *lptm = tm;
    return TRUE;
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, SIZE* psizl) {
    HDC__* dc = AsDc(hdc);
    if (!dc || !psizl || (!lpString && c != 0))
        return FALSE;
    HFONT__* f = CurrentFont(dc);
    Prepare(f);
    PangoLayout* l = NewLayout(f, ToUtf8(lpString, c));
    psizl->cx = LayoutWidth(l);
    psizl->cy = f->ascent + f->descent;
    g_object_unref(l);
    return TRUE;
}

int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    HDC__* dc = AsDc(hdc);
    if (!dc || !lprc || (!lpchText && cchText != 0))
        return 0;
    HFONT__* f = CurrentFont(dc);
    Prepare(f);
    std::string text = ToUtf8(lpchText, cchText);
    size_t ulStart = 0, ulLen = 0;
    if (!(format & DT_NOPREFIX))
        text = StripPrefix(text, ulStart, ulLen);
    const bool single = format & DT_SINGLELINE;
    const int rw = lprc->right - lprc->left;
    if ((format & DT_END_ELLIPSIS) && single) {
        PangoLayout* probe = NewLayout(f, text);
        pango_layout_set_single_paragraph_mode(probe, TRUE);
        bool tooWide = LayoutWidth(probe) > rw;
        g_object_unref(probe);
        if (tooWide) {
            text = Ellipsize(f, text, rw);
            if (ulStart + ulLen > text.size() - 3)
                ulLen = 0;
        }
    }
    PangoLayout* l = NewLayout(f, text, ulStart, ulLen);
    if (single)
        pango_layout_set_single_paragraph_mode(l, TRUE);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    const int cell = f->ascent + f->descent;
    const int w = logical.width;
    const int h = single ? cell : std::max(cell, logical.height);

    if (format & DT_CALCRECT) {
        lprc->right = lprc->left + w;
        lprc->bottom = lprc->top + h;
        g_object_unref(l);
        return h;
    }

    int x = lprc->left;
    if (format & DT_CENTER)
        x = lprc->left + (rw - w) / 2;
    else if (format & DT_RIGHT)
        x = lprc->right - w;
    int y = lprc->top;
    if (single && (format & DT_VCENTER))
        y = (lprc->top + lprc->bottom - h) / 2;
    else if (single && (format & DT_BOTTOM))
        y = lprc->bottom - h;

    Target t;
    if (GetTarget(hdc, t)) {
        cairo_t* cr = cairo_create(t.surface);
        cairo_rectangle(cr, t.clip.left, t.clip.top, t.clip.right - t.clip.left, t.clip.bottom - t.clip.top);
        cairo_clip(cr);
        cairo_translate(cr, t.origin.x, t.origin.y);
        if (!(format & DT_NOCLIP)) {
            cairo_rectangle(cr, lprc->left, lprc->top, rw, lprc->bottom - lprc->top);
            cairo_clip(cr);
        }
        if (dc->bkMode == OPAQUE) {
            SetSource(cr, dc->bkColor);
            cairo_rectangle(cr, x, y, w, h);
            cairo_fill(cr);
        }
        SetSource(cr, dc->textColor);
        // The layout's own first baseline goes to the cell's baseline.
        double baseline = pango_layout_get_baseline(l) / double(PANGO_SCALE);
        cairo_move_to(cr, x, y + f->ascent - baseline);
        pango_cairo_show_layout(cr, l);
        cairo_destroy(cr);
        cairo_surface_flush(t.surface);
    }
    g_object_unref(l);
    if (single && (format & (DT_VCENTER | DT_BOTTOM)))
        return y + h - lprc->top;
    return h;
}

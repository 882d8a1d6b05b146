// skingen: makes the pictures of the built-in skin package from their table (res/skin/pictures.txt).
//
//   skingen TABLE OUTDIR [--sheet SHEET.png]
//
// Every picture is opaque: each button is painted on the very rows of the surface it sits on, so
// nothing is blended when the program composites it and repeated redraws cannot darken an edge.
// The output is byte-for-byte the same for the same table: fixed font options, no time or
// colour-management chunks, and a PNG writer of our own (IHDR, IDAT, IEND only).
#include "tools/skingen/Png.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Rgb {
    double r, g, b;
};

Rgb Hex(unsigned v) {
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// One look (active or inactive) of a palette.
struct Look {
    Rgb border;  // the outermost line of the frame
    Rgb top;     // the caption band's gradient, from its first row ...
    Rgb bottom;  // ... to row kBandRows - 1 and below
    Rgb sep;     // the line between the caption band and the content
    Rgb inner;   // the frame's inner line beside the content
    Rgb ink;     // glyphs and labels
    Rgb accent;  // the checked tab's mark
    Rgb hot;     // the close button under the pointer
    Rgb content; // the unused middle of an edge picture
};

struct Palette {
    Look look[2];
};

// The gradient runs over the tallest caption band, so a shorter band is the top of the same one
// and a tool bar beside it matches row for row.
constexpr int kBandRows = 111;

const std::map<std::string, Palette>& Palettes() {
    static const std::map<std::string, Palette> p = {
        {"blue",
         {{{Hex(0x1A4B9C), Hex(0x3079E0), Hex(0x2259BC), Hex(0x1A4B9C), Hex(0x2A66C8), Hex(0xFFFFFF),
            Hex(0xFFFFFF), Hex(0xE5484D), Hex(0xF3F5F8)},
           {Hex(0x6A7A91), Hex(0x94A3B8), Hex(0x7D8CA2), Hex(0x6A7A91), Hex(0x8695AA), Hex(0xF4F6FA),
            Hex(0xE9EDF3), Hex(0xC9575B), Hex(0xF3F5F8)}}}},
        {"enter",
         {{{Hex(0x17191D), Hex(0x3B4049), Hex(0x272A30), Hex(0x17191D), Hex(0x30343B), Hex(0xF5F5F5),
            Hex(0xF5A33B), Hex(0xE5484D), Hex(0xF3F5F8)},
           {Hex(0x45484E), Hex(0x6A6E75), Hex(0x575A60), Hex(0x45484E), Hex(0x5E6167), Hex(0xE6E7E9),
            Hex(0xC9A77E), Hex(0xB8585B), Hex(0xF3F5F8)}}}},
        // The tool strip is a child window and always shows its inactive look: both are lively.
        {"reader",
         {{{Hex(0x1C1F24), Hex(0x434851), Hex(0x2C3036), Hex(0x1C1F24), Hex(0x363A41), Hex(0xF5F5F5),
            Hex(0x5AA0FF), Hex(0xE5484D), Hex(0xF3F5F8)},
           {Hex(0x1C1F24), Hex(0x434851), Hex(0x2C3036), Hex(0x1C1F24), Hex(0x363A41), Hex(0xF5F5F5),
            Hex(0x5AA0FF), Hex(0xE5484D), Hex(0xF3F5F8)}}}},
    };
    return p;
}

struct Entry {
    std::string file, kind;
    std::map<std::string, std::string> kv;
    int Int(const std::string& k) const {
        auto it = kv.find(k);
        if (it == kv.end())
            throw std::runtime_error(file + ": no " + k);
        return std::stoi(it->second);
    }
    std::string Str(const std::string& k, const std::string& def = "") const {
        auto it = kv.find(k);
        return it == kv.end() ? def : it->second;
    }
};

std::vector<Entry> ReadTable(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::vector<Entry> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        std::istringstream words(line);
        Entry e;
        if (!(words >> e.file >> e.kind))
            continue;
        std::string w;
        while (words >> w) {
            size_t eq = w.find('=');
            if (eq == std::string::npos)
                throw std::runtime_error(e.file + ": expected key=value, got " + w);
            e.kv[w.substr(0, eq)] = w.substr(eq + 1);
        }
        out.push_back(e);
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Surfaces: what colour a row of a caption band or a tool bar background has.

// Rounded to whole bytes, so that a row painted by cairo and one set pixel by pixel are the same.
Rgb Quantised(Rgb c) {
    auto q = [](double v) { return std::round(std::clamp(v, 0.0, 1.0) * 255.0) / 255.0; };
    return {q(c.r), q(c.g), q(c.b)};
}

Rgb BandRow(const Look& lk, int y, int rows) {
    if (y <= 0)
        return Quantised(lk.border);
    if (y == rows - 1)
        return Quantised(lk.sep);
    return Quantised(Mix(lk.top, lk.bottom, std::min(1.0, double(y) / (kBandRows - 1))));
}

struct Surface {
    const Palette* pal;
    int rows; // the band's height: the edge's top thickness, or the tool bar's half height
};

class Skin {
public:
    explicit Skin(std::vector<Entry> table) : m_table(std::move(table)) {
        for (const Entry& e : m_table)
            m_byFile[e.file] = &e;
    }
    const std::vector<Entry>& Table() const { return m_table; }
    Surface SurfaceOf(const std::string& file) const {
        auto it = m_byFile.find(file);
        if (it == m_byFile.end())
            throw std::runtime_error("no surface " + file);
        const Entry& e = *it->second;
        const Palette& pal = PaletteOf(e);
        if (e.kind == "edge")
            return {&pal, e.Int("et")};
        if (e.kind == "toolbg")
            return {&pal, e.Int("h") / 2};
        throw std::runtime_error(file + " is no surface");
    }
    static const Palette& PaletteOf(const Entry& e) {
        auto it = Palettes().find(e.Str("palette"));
        if (it == Palettes().end())
            throw std::runtime_error(e.file + ": unknown palette");
        return it->second;
    }

private:
    std::vector<Entry> m_table;
    std::map<std::string, const Entry*> m_byFile;
};

// ---------------------------------------------------------------------------------------
// Drawing helpers over cairo.

void SetRgb(cairo_t* cr, Rgb c, double a = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// Rows [y0, y0 + h) of a surface, painted over the cell (0, 0, w, h).
void PaintSurfaceRows(cairo_t* cr, const Surface& s, int look, int y0, int w, int h) {
    for (int y = 0; y < h; ++y) {
        SetRgb(cr, BandRow(s.pal->look[look], y0 + y, s.rows));
        cairo_rectangle(cr, 0, y, w, 1);
        cairo_fill(cr);
    }
}

PangoLayout* MakeLayout(cairo_t* cr, const std::string& text, double px, bool bold) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), fo);
    cairo_font_options_destroy(fo);
    pango_layout_context_changed(layout);
    PangoFontDescription* fd = pango_font_description_from_string("WenQuanYi Zen Hei");
    pango_font_description_set_absolute_size(fd, px * PANGO_SCALE);
    pango_font_description_set_weight(fd, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, fd);
    pango_font_description_free(fd);
    pango_layout_set_text(layout, text.c_str(), -1);
    return layout;
}

// Text centred on (cx, cy) by its ink.
void CentredText(cairo_t* cr, const std::string& text, double px, bool bold, double cx, double cy) {
    PangoLayout* layout = MakeLayout(cr, text, px, bold);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    cairo_move_to(cr, std::round(cx - ink.x - ink.width / 2.0), std::round(cy - ink.y - ink.height / 2.0));
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

// Text with its ink's left edge at x, centred on cy.
double LeftText(cairo_t* cr, const std::string& text, double px, bool bold, double x, double cy) {
    PangoLayout* layout = MakeLayout(cr, text, px, bold);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    cairo_move_to(cr, std::round(x - ink.x), std::round(cy - ink.y - ink.height / 2.0));
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return ink.width;
}

// Caption glyphs, centred on (cx, cy), s across.
void CaptionGlyph(cairo_t* cr, const std::string& glyph, double cx, double cy, double s, double lw) {
    cairo_set_line_width(cr, lw);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const double h = s / 2;
    if (glyph == "close") {
        cairo_move_to(cr, cx - h, cy - h);
        cairo_line_to(cr, cx + h, cy + h);
        cairo_move_to(cr, cx + h, cy - h);
        cairo_line_to(cr, cx - h, cy + h);
        cairo_stroke(cr);
    } else if (glyph == "max") {
        RoundRect(cr, cx - h, cy - h, s, s, lw);
        cairo_stroke(cr);
    } else if (glyph == "min") {
        cairo_move_to(cr, cx - h, cy + 0.5);
        cairo_line_to(cr, cx + h, cy + 0.5);
        cairo_stroke(cr);
    } else if (glyph == "menu") {
        // Three bars: the settings menu where a gear would be too small to read.
        for (double dy : {-h * 0.8, 0.0, h * 0.8}) {
            cairo_move_to(cr, cx - h, cy + dy + 0.5);
            cairo_line_to(cr, cx + h, cy + dy + 0.5);
        }
        cairo_stroke(cr);
    } else if (glyph == "set") {
        // A gear: a ring and eight teeth.
        const double ring = s * 0.30;
        cairo_set_line_width(cr, s * 0.17);
        cairo_arc(cr, cx, cy, ring, 0, 2 * M_PI);
        cairo_stroke(cr);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        cairo_set_line_width(cr, s * 0.16);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            cairo_move_to(cr, cx + std::cos(a) * ring, cy + std::sin(a) * ring);
            cairo_line_to(cr, cx + std::cos(a) * s * 0.5, cy + std::sin(a) * s * 0.5);
        }
        cairo_stroke(cr);
    } else {
        throw std::runtime_error("unknown glyph " + glyph);
    }
}

// Tab glyphs, s high, centred on (cx, cy).
void TabGlyph(cairo_t* cr, const std::string& glyph, double cx, double cy, double s) {
    const double lw = std::max(1.5, s / 14);
    cairo_set_line_width(cr, lw);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const double w = s * 0.78, x = cx - w / 2, y = cy - s / 2;
    if (glyph == "mag") {
        // A magazine cover: a page, a masthead and lines of text.
        RoundRect(cr, x, y, w, s, lw * 1.2);
        cairo_stroke(cr);
        cairo_rectangle(cr, x + w * 0.2, y + s * 0.17, w * 0.6, s * 0.17);
        cairo_fill(cr);
        for (double t : {0.52, 0.66, 0.80}) {
            cairo_move_to(cr, x + w * 0.22, y + s * t);
            cairo_line_to(cr, x + w * (t > 0.7 ? 0.58 : 0.78), y + s * t);
        }
        cairo_stroke(cr);
    } else if (glyph == "book") {
        // A closed book: cover, spine and a bookmark ribbon.
        RoundRect(cr, x, y, w, s, lw * 1.2);
        cairo_stroke(cr);
        cairo_move_to(cr, x + w * 0.24, y + lw);
        cairo_line_to(cr, x + w * 0.24, y + s - lw);
        cairo_stroke(cr);
        cairo_move_to(cr, x + w * 0.52, y);
        cairo_line_to(cr, x + w * 0.52, y + s * 0.42);
        cairo_line_to(cr, x + w * 0.62, y + s * 0.33);
        cairo_line_to(cr, x + w * 0.72, y + s * 0.42);
        cairo_line_to(cr, x + w * 0.72, y);
        cairo_close_path(cr);
        cairo_fill(cr);
    } else if (glyph == "shelf") {
        // Two books standing on a shelf and a third leaning on them.
        const double base = y + s * 0.92, bw = s * 0.9, bx = cx - bw / 2;
        cairo_move_to(cr, bx - s * 0.05, base);
        cairo_line_to(cr, bx + bw + s * 0.05, base);
        cairo_stroke(cr);
        RoundRect(cr, bx + 0.02 * bw, base - lw - 0.80 * s, 0.22 * bw, 0.80 * s, lw * 0.8);
        cairo_stroke(cr);
        RoundRect(cr, bx + 0.30 * bw, base - lw - 0.64 * s, 0.20 * bw, 0.64 * s, lw * 0.8);
        cairo_stroke(cr);
        cairo_save(cr);
        cairo_translate(cr, bx + 0.56 * bw, base - lw);
        cairo_rotate(cr, 0.38);
        RoundRect(cr, 0, -0.74 * s, 0.21 * bw, 0.74 * s, lw * 0.8);
        cairo_restore(cr);
        cairo_stroke(cr);
    } else if (glyph == "read") {
        // An open book.
        const double half = s * 0.55, top = y + s * 0.18, bot = y + s * 0.9;
        for (int side : {-1, 1}) {
            cairo_move_to(cr, cx, top + s * 0.08);
            cairo_curve_to(cr, cx + side * half * 0.4, top - s * 0.06, cx + side * half * 0.8, top - s * 0.02,
                           cx + side * half, top);
            cairo_line_to(cr, cx + side * half, bot - s * 0.06);
            cairo_curve_to(cr, cx + side * half * 0.8, bot - s * 0.08, cx + side * half * 0.4, bot - s * 0.12,
                           cx, bot);
        }
        cairo_stroke(cr);
        cairo_move_to(cr, cx, top + s * 0.08);
        cairo_line_to(cr, cx, bot);
        cairo_stroke(cr);
    } else {
        throw std::runtime_error("unknown glyph " + glyph);
    }
}

// The product's mark: a rounded square holding an open book.
void Mark(cairo_t* cr, const Look& lk, double x, double y, double s) {
    SetRgb(cr, lk.ink);
    RoundRect(cr, x, y, s, s, s * 0.24);
    cairo_fill(cr);
    SetRgb(cr, lk.bottom);
    TabGlyph(cr, "read", x + s / 2, y + s * 0.52, s * 0.6);
}

const char kProductName[] = "墨舟匣";

// ---------------------------------------------------------------------------------------
// The pictures.

using Cell = void (*)(cairo_t*, const Skin&, const Entry&, int look, int frame);

// Frames of buttons, icons and tabs: the surface's rows first, then the frame's own drawing.
void DrawButtonCell(cairo_t* cr, const Skin& skin, const Entry& e, int look, int frame) {
    const int fw = e.Int("fw"), fh = e.Int("fh");
    const Surface s = skin.SurfaceOf(e.Str("on"));
    const Look& lk = s.pal->look[look];
    PaintSurfaceRows(cr, s, look, e.Int("y"), fw, fh);
    const std::string glyph = e.Str("glyph");
    const bool round = e.Str("shape") == "round";
    const bool close = glyph == "close";
    // Frame 1 hover, 2 pressed; 3 is the selected state, shown dimmed.
    if (frame == 1 || frame == 2) {
        const Rgb back = close ? (frame == 1 ? lk.hot : Mix(lk.hot, Hex(0x000000), 0.18)) : lk.ink;
        const double alpha = close ? 1.0 : (frame == 1 ? 0.16 : 0.28);
        SetRgb(cr, back, alpha);
        if (round) {
            const double d = std::min(fw, fh) * 0.62;
            cairo_arc(cr, fw / 2.0, fh / 2.0, d / 2, 0, 2 * M_PI);
        } else {
            cairo_rectangle(cr, 0, 1, fw, fh - 1); // below the frame's top line
        }
        cairo_fill(cr);
    }
    const double glyphSize = round ? std::min(fw, fh) * (glyph == "set" ? 0.28 : 0.22) : 10.0;
    const double lw = round ? std::max(1.6, std::min(fw, fh) / 34.0) : 1.3;
    SetRgb(cr, lk.ink, frame == 3 ? 0.4 : (frame == 0 ? 0.88 : 1.0));
    CaptionGlyph(cr, glyph, fw / 2.0, fh / 2.0 + (round ? 0 : 0.5), glyphSize, lw);
}

void DrawIconCell(cairo_t* cr, const Skin& skin, const Entry& e, int look, int /*frame*/) {
    const int fw = e.Int("fw"), fh = e.Int("fh");
    const Surface s = skin.SurfaceOf(e.Str("on"));
    const Look& lk = s.pal->look[look];
    PaintSurfaceRows(cr, s, look, e.Int("y"), fw, fh);
    if (e.Str("layout") == "column") {
        // Mark above the name, within the first 80 columns: a tool bar anchored to the right may
        // cover the rest on a narrow screen.
        const double m = 46;
        Mark(cr, lk, (80 - m) / 2, 18, m);
        SetRgb(cr, lk.ink);
        CentredText(cr, kProductName, 16, true, 40, 18 + m + 17);
    } else {
        // Mark and name within the first 85 columns, for the same reason.
        const double m = 28;
        Mark(cr, lk, 6, (fh - m) / 2, m);
        SetRgb(cr, lk.ink);
        LeftText(cr, kProductName, 14, true, 6 + m + 7, fh / 2.0);
    }
}

void DrawTabCell(cairo_t* cr, const Skin& skin, const Entry& e, int look, int frame) {
    const int fw = e.Int("fw"), fh = e.Int("fh");
    const Surface s = skin.SurfaceOf(e.Str("on"));
    const Look& lk = s.pal->look[look];
    const int y0 = e.Int("y");
    PaintSurfaceRows(cr, s, look, y0, fw, fh);
    // The band's first and last rows are lines of the frame: nothing is drawn over them.
    const double top = y0 == 0 ? 1 : 0, bottom = fh - ((y0 + fh == s.rows) ? 1 : 0);
    const bool big = fh > 105;
    const double inset = big ? 14 : 6;
    if (frame == 1 || frame == 2) {
        SetRgb(cr, lk.ink, frame == 1 ? 0.10 : 0.17);
        RoundRect(cr, inset, top + inset * 0.7, fw - 2 * inset, bottom - top - inset * 1.4, big ? 12 : 8);
        cairo_fill(cr);
    }
    const double alpha = frame == 3 ? 0.45 : (frame == 0 ? 0.82 : 1.0);
    SetRgb(cr, lk.ink, alpha);
    if (fh < 60) {
        // A tab of a narrow caption band: the mark beside the label, both centred in the tab.
        const double glyph = 16, label = 13, cy = (top + bottom) / 2 - 1;
        TabGlyph(cr, e.Str("glyph"), fw / 2.0 - 16, cy, glyph);
        CentredText(cr, e.Str("label"), label, frame == 2, fw / 2.0 + 11, cy);
    } else {
        const double glyph = big ? 30 : 26;
        const double label = big ? 18 : 14;
        const double gy = big ? 40 : 36, ly = big ? 76 : 68;
        TabGlyph(cr, e.Str("glyph"), fw / 2.0, gy, glyph);
        CentredText(cr, e.Str("label"), label, frame == 2, fw / 2.0, ly);
    }
    if (frame == 2) {
        // The checked tab's mark along its foot.
        const double mw = big ? 44 : 30, mh = big ? 4 : 3;
        SetRgb(cr, lk.accent);
        RoundRect(cr, (fw - mw) / 2, bottom - (big ? 10 : 7) - mh, mw, mh, mh / 2);
        cairo_fill(cr);
    }
}

// A picture of frames: four across, the active look above the inactive one.
Image FramedPicture(const Skin& skin, const Entry& e, Cell cell) {
    const int fw = e.Int("fw"), fh = e.Int("fh");
    Image out(4 * fw, 2 * fh);
    for (int look = 0; look < 2; ++look)
        for (int frame = 0; frame < 4; ++frame) {
            cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, fw, fh);
            cairo_t* cr = cairo_create(surf);
            cell(cr, skin, e, look, frame);
            cairo_destroy(cr);
            cairo_surface_flush(surf);
            out.Blit(surf, frame * fw, look * fh);
            cairo_surface_destroy(surf);
        }
    return out;
}

// An edge picture: per look, a caption band (uniform along each row), side strips (uniform down
// each column), a bottom strip, and 2-pixel corners.
Image EdgePicture(const Entry& e) {
    const int w = e.Int("w"), h2 = e.Int("h"), h = h2 / 2;
    const int el = e.Int("el"), et = e.Int("et"), er = e.Int("er"), eb = e.Int("eb");
    const Palette& pal = Skin::PaletteOf(e);
    Image out(w, h2);
    for (int look = 0; look < 2; ++look) {
        const Look& lk = pal.look[look];
        const int y0 = look * h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                Rgb c = lk.content;
                const bool side = x < el || x >= w - er;
                const bool outer = x == 0 || x == w - 1 || y == 0 || y == h - 1;
                if (y >= h - eb)
                    c = outer ? lk.border : lk.inner;
                else if (y < et)
                    c = (x == 0 || x == w - 1) ? lk.border : BandRow(lk, y, et);
                else if (side)
                    c = outer ? lk.border : lk.inner;
                out.Set(x, y0 + y, c.r, c.g, c.b);
            }
    }
    return out;
}

// A tool bar background: the caption band's rows, the same across.
Image ToolBgPicture(const Entry& e) {
    const int w = e.Int("w"), h2 = e.Int("h"), h = h2 / 2;
    const Palette& pal = Skin::PaletteOf(e);
    Image out(w, h2);
    for (int look = 0; look < 2; ++look)
        for (int y = 0; y < h; ++y) {
            const Rgb c = BandRow(pal.look[look], y, h);
            for (int x = 0; x < w; ++x)
                out.Set(x, look * h + y, c.r, c.g, c.b);
        }
    return out;
}

Image MakePicture(const Skin& skin, const Entry& e) {
    if (e.kind == "edge")
        return EdgePicture(e);
    if (e.kind == "toolbg")
        return ToolBgPicture(e);
    if (e.kind == "button")
        return FramedPicture(skin, e, DrawButtonCell);
    if (e.kind == "icon")
        return FramedPicture(skin, e, DrawIconCell);
    if (e.kind == "tab")
        return FramedPicture(skin, e, DrawTabCell);
    throw std::runtime_error(e.file + ": unknown kind " + e.kind);
}

} // namespace

// The contact sheet lives in its own file; it only reads the pictures made here.
void WriteContactSheet(const std::vector<std::pair<std::string, Image>>& pictures, const std::string& path);

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--sheet")) {
        std::fprintf(stderr, "usage: skingen TABLE OUTDIR [--sheet SHEET.png]\n");
        return 2;
    }
    try {
        Skin skin(ReadTable(argv[1]));
        std::vector<std::pair<std::string, Image>> pictures;
        for (const Entry& e : skin.Table()) {
            Image img = MakePicture(skin, e);
            img.WritePng(std::string(argv[2]) + "/" + e.file);
            pictures.emplace_back(e.file, std::move(img));
        }
        if (argc == 5)
            WriteContactSheet(pictures, argv[4]);
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "skingen: %s\n", ex.what());
        return 1;
    }
    return 0;
}

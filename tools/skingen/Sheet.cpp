// The contact sheet: every picture at its own size under its file name, and above them previews of
// the frames the program builds from them (main window active and inactive, the "enter" mode, the
// reading tool strip), to judge the look at a glance. The previews place the pieces as the skin
// files do; they are a picture for people and nothing reads them.
#include "tools/skingen/Png.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pictures = std::map<std::string, cairo_surface_t*>;

cairo_surface_t* Get(const Pictures& p, const std::string& name) {
    auto it = p.find(name);
    if (it == p.end())
        throw std::runtime_error("sheet: no picture " + name);
    return it->second;
}

// Source (sx, sy, sw, sh) of a picture into (dx, dy, dw, dh), nearest neighbour.
void Piece(cairo_t* cr, cairo_surface_t* img, double sx, double sy, double sw, double sh, double dx,
           double dy, double dw, double dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    cairo_set_source_surface(cr, img, -sx, -sy);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

// A window frame of size w x h at (x, y) from a nine-slice edge picture.
void Frame(cairo_t* cr, cairo_surface_t* edge, int el, int et, int er, int eb, int look, int x, int y, int w,
           int h) {
    const int W = cairo_image_surface_get_width(edge), hh = cairo_image_surface_get_height(edge) / 2;
    const int y0 = look * hh;
    Piece(cr, edge, 0, y0, el, et, x, y, el, et);
    Piece(cr, edge, el, y0, W - el - er, et, x + el, y, w - el - er, et);
    Piece(cr, edge, W - er, y0, er, et, x + w - er, y, er, et);
    Piece(cr, edge, 0, y0 + hh - eb, el, eb, x, y + h - eb, el, eb);
    Piece(cr, edge, el, y0 + hh - eb, W - el - er, eb, x + el, y + h - eb, w - el - er, eb);
    Piece(cr, edge, W - er, y0 + hh - eb, er, eb, x + w - er, y + h - eb, er, eb);
    Piece(cr, edge, 0, y0 + et, el, hh - et - eb, x, y + et, el, h - et - eb);
    Piece(cr, edge, W - er, y0 + et, er, hh - et - eb, x + w - er, y + et, er, h - et - eb);
    // The content: a page would be here.
    cairo_set_source_rgb(cr, 0.96, 0.97, 0.98);
    cairo_rectangle(cr, x + el, y + et, w - el - er, h - et - eb);
    cairo_fill(cr);
}

// Frame `frame` of a four-frame button picture at (x, y), in the given look.
void Button(cairo_t* cr, cairo_surface_t* img, int frame, int look, int x, int y) {
    const int fw = cairo_image_surface_get_width(img) / 4, fh = cairo_image_surface_get_height(img) / 2;
    Piece(cr, img, frame * fw, look * fh, fw, fh, x, y, fw, fh);
}

int FrameWidth(cairo_t*, cairo_surface_t* img) {
    return cairo_image_surface_get_width(img) / 4;
}

void Caption(cairo_t* cr, const std::string& text, double x, double y) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* fd = pango_font_description_from_string("WenQuanYi Zen Hei");
    pango_font_description_set_absolute_size(fd, 13 * PANGO_SCALE);
    pango_layout_set_font_description(layout, fd);
    pango_font_description_free(fd);
    pango_layout_set_text(layout, text.c_str(), -1);
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

// The main window with WinSkin3.xml and ToolBar3.xml: the magazine tab checked, the pointer over
// the book tab and the close button.
void MainPreview(cairo_t* cr, const Pictures& p, int look, int x, int y, int w, int h) {
    Frame(cr, Get(p, "win_edge3.png"), 2, 111, 2, 2, look, x, y, w, h);
    Button(cr, Get(p, "ico3.png"), 0, look, x + 20, y);
    Button(cr, Get(p, "win_close3.png"), look == 0 ? 1 : 0, look, x + w - 8 - 76, y + 20);
    Button(cr, Get(p, "win_set4.png"), 0, look, x + w - 84 - 76, y + 20);
    const int tx = x + w - 168 - 751;
    Piece(cr, Get(p, "tool_bg3.PNG"), 0, look * 111, 64, 111, tx, y, 751, 111);
    Button(cr, Get(p, "webmag3.png"), 2, look, tx, y);
    Button(cr, Get(p, "webbook3.png"), look == 0 ? 1 : 0, look, tx + 230, y);
    Button(cr, Get(p, "myBook3.png"), 0, look, tx + 460, y);
}

// The main window after the switch to the "enter" mode (WinSkin.xml, ToolBar.xml).
void EnterPreview(cairo_t* cr, const Pictures& p, const std::string& suffix, int x, int y, int w, int h) {
    Frame(cr, Get(p, "win_edge" + suffix + ".png"), 2, 54, 2, 2, 0, x, y, w, h);
    Button(cr, Get(p, "ico" + suffix + ".png"), 0, 0, x + 20, y);
    const char* names[] = {"win_close", "win_max", "win_min", "win_set"};
    const int right[] = {8, 42, 76, 110};
    for (int i = 0; i < 4; ++i) {
        cairo_surface_t* b = Get(p, std::string(names[i]) + suffix + ".png");
        Button(cr, b, i == 0 ? 1 : 0, 0, x + w - right[i] - FrameWidth(cr, b), y);
    }
    const int tx = x + w - 168 - 751;
    Piece(cr, Get(p, "tool_bg" + suffix + ".PNG"), 0, 0, 64, 111, tx, y, 751, 111);
    const char* tabs[] = {"webmag", "webbook", "myBook", "read"};
    const int left[] = {0, 85, 170, 283};
    for (int i = 0; i < 4; ++i)
        Button(cr, Get(p, std::string(tabs[i]) + suffix + ".png"), i == 3 ? 2 : (i == 1 ? 1 : 0), 0,
               tx + left[i], y + 11);
}

// The reading window's tool strip (WinSkin4.xml): a child window, so always the inactive look.
void StripPreview(cairo_t* cr, const Pictures& p, int x, int y, int w) {
    Frame(cr, Get(p, "win_edge_a.png"), 2, 95, 2, 2, 1, x, y, w, 97);
    Button(cr, Get(p, "win_close_a.png"), 0, 1, x + 10, y + 30);
    Button(cr, Get(p, "win_close_a.png"), 1, 1, x + 80, y + 30);
}

} // namespace

void WriteContactSheet(const std::vector<std::pair<std::string, Image>>& pictures, const std::string& path) {
    Pictures p;
    for (const auto& [name, img] : pictures)
        p[name] = img.ToSurface();

    const int W = 1220, pad = 24;
    // Pictures flow in rows under the previews.
    struct Place {
        const std::string* name;
        int x, y;
    };
    std::vector<Place> places;
    int x = pad, y = pad + 4 * (300 + pad) + 60, rowH = 0;
    for (const auto& [name, img] : pictures) {
        if (x + img.Width() > W - pad) {
            x = pad;
            y += rowH + 30;
            rowH = 0;
        }
        places.push_back({&name, x, y});
        x += img.Width() + pad;
        rowH = std::max(rowH, img.Height());
    }
    const int H = y + rowH + 40;

    cairo_surface_t* sheet = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
    cairo_t* cr = cairo_create(sheet);
    cairo_set_source_rgb(cr, 0.80, 0.81, 0.83);
    cairo_paint(cr);
    int py = pad;
    MainPreview(cr, p, 0, pad, py, 1024, 300);
    Caption(cr, "WinSkin3 + ToolBar3, active", 1024 + 2 * pad, py);
    py += 300 + pad;
    MainPreview(cr, p, 1, pad, py, 1024, 300);
    Caption(cr, "inactive", 1024 + 2 * pad, py);
    py += 300 + pad;
    EnterPreview(cr, p, "", pad, py, 1024, 300);
    Caption(cr, "WinSkin + ToolBar", 1024 + 2 * pad, py);
    py += 300 + pad;
    EnterPreview(cr, p, "2", pad, py, 1024, 200);
    Caption(cr, "WinSkin2 + ToolBar2", 1024 + 2 * pad, py);
    StripPreview(cr, p, pad, py + 200 + 10, 700);
    Caption(cr, "WinSkin4 tool strip", 700 + 2 * pad, py + 210);
    for (const Place& pl : places) {
        cairo_surface_t* img = Get(p, *pl.name);
        cairo_set_source_surface(cr, img, pl.x, pl.y);
        cairo_paint(cr);
        Caption(cr, *pl.name, pl.x, pl.y + cairo_image_surface_get_height(img) + 4);
    }
    cairo_destroy(cr);
    cairo_surface_write_to_png(sheet, path.c_str());
    cairo_surface_destroy(sheet);
    for (auto& [name, s] : p)
        cairo_surface_destroy(s);
}

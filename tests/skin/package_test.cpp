// The built-in skin package, unpacked from the program's own resource MYDATA 151 into a skin
// folder and read the way the program reads it: every file, rectangle and picture size that the
// frame, the tool bar and the main layout rely on, and the properties the pictures need to be
// drawn right (no colour chunks, strips uniform along their stretch, buttons that blend in).
#include "contentserver/PackUnpacker.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/Module.h"
#include "skin/SkinInfo.h"
#include "tests/skin/PngRead.h"
#include "tests/skin/SkinFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kSkinFiles[] = {"WinSkin.xml",   "WinSkin2.xml", "WinSkin3.xml", "WinSkin4.xml",
                                  "MainSkin3.xml", "ToolBar.xml",  "ToolBar2.xml", "ToolBar3.xml",
                                  "MainSkin.xml",  "TabBar.xml",   "ToolBar4.xml"};

bool IsUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

class BuiltInSkin : public ::testing::Test {
protected:
    void SetUp() override {
        HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(151), "MYDATA");
        ASSERT_NE(res, nullptr) << "the program carries no skin package";
        const DWORD size = SizeofResource(nullptr, res);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
        ASSERT_NE(data, nullptr);
        m_package.assign(data, data + size);
        CPackUnpacker unpacker;
        ASSERT_TRUE(unpacker.Unpack(m_package.data(), size, m_skin.Win()));
    }

    // A picture by the full path a skin getter answers, opened as the program opens it.
    PngFile Png(const CString& winPath) const {
        std::string linux;
        EXPECT_TRUE(AfxMapPath(winPath, linux)) << winPath.GetString();
        return ReadPng(ReadFileBytes(linux));
    }
    PngFile PngNamed(const std::string& name) const { return ReadPng(ReadFileBytes(m_skin.File(name))); }

    // The file name an image path of the skin folder ends in.
    std::string NameOf(const CString& image) const {
        std::string s = image.GetString(), dir = m_skin.Win().GetString();
        return s.compare(0, dir.size(), dir) == 0 ? s.substr(dir.size()) : s;
    }

    SkinFolder m_skin;
    std::vector<BYTE> m_package;
};

TEST_F(BuiltInSkin, HoldsTheSkinFilesAndEveryPictureTheyNameUnderItsExactName) {
    std::set<std::string> named;
    for (const char* file : kSkinFiles) {
        ASSERT_TRUE(fs::is_regular_file(m_skin.File(file))) << file;
        struct ItemLister : CSkinInfo {
            using CSkinLayout::m_arrItems;
        } skin;
        ASSERT_TRUE(skin.Load(file)) << file;
        const auto& items = skin.m_arrItems;
        for (INT_PTR i = 0; i < items.GetSize(); ++i) {
            const std::string name = NameOf(static_cast<const CSkinItem*>(items.GetAt(i))->m_strImage);
            if (!name.empty())
                named.insert(name);
        }
    }
    std::set<std::string> onDisk;
    for (const auto& e : fs::directory_iterator(m_skin.Linux()))
        onDisk.insert(e.path().filename().string());
    for (const std::string& name : named)
        EXPECT_TRUE(onDisk.count(name)) << name << " is named but not in the package under that exact name";
    for (const std::string& name : onDisk) {
        const bool isSkinFile = std::count(std::begin(kSkinFiles), std::end(kSkinFiles), name) == 1;
        EXPECT_TRUE(isSkinFile || named.count(name)) << name << " is in the package but nothing names it";
    }
}

TEST_F(BuiltInSkin, SkinFilesAreUtf8WithABomAndTheShippedDeclaration) {
    const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\"encoding=\"UTF-8\"?>";
    for (const char* file : kSkinFiles) {
        const std::string bytes = ReadFileBytes(m_skin.File(file));
        EXPECT_EQ(bytes.compare(0, head.size(), head), 0) << file;
        EXPECT_EQ(bytes.find("<items>"), bytes.find('<', head.size()))
            << file << ": the top element is items";
        EXPECT_TRUE(IsUtf8(bytes.substr(3))) << file;
    }
}

// One item of a shipped skin file and the picture it names (empty: the item has no image).
struct ShippedItem {
    const char* file;
    const char* item;
    CRect rect, maxRect;
    const char* image;
    int width, height;
};

const ShippedItem kItems[] = {
    {"WinSkin.xml", "edge", {2, 54, 2, 2}, {2, 0, 2, 2}, "win_edge.png", 300, 178},
    {"WinSkin.xml", "icon", {20, 0, -1, -1}, {}, "ico.png", 604, 96},
    {"WinSkin.xml", "close", {-1, 0, 8, -1}, {}, "win_close.png", 136, 52},
    {"WinSkin.xml", "max", {-1, 0, 42, -1}, {}, "win_max.png", 136, 52},
    {"WinSkin.xml", "min", {-1, 0, 76, -1}, {}, "win_min.png", 136, 52},
    {"WinSkin.xml", "set", {-1, 0, 110, -1}, {}, "win_set.png", 136, 52},
    {"WinSkin2.xml", "edge", {2, 54, 2, 2}, {2, 0, 2, 2}, "win_edge2.png", 300, 178},
    {"WinSkin2.xml", "icon", {20, 0, -1, -1}, {}, "ico2.png", 604, 96},
    {"WinSkin2.xml", "close", {-1, 0, 8, -1}, {}, "win_close2.png", 136, 52},
    {"WinSkin2.xml", "max", {-1, 0, 42, -1}, {}, "win_max2.png", 136, 52},
    {"WinSkin2.xml", "min", {-1, 0, 76, -1}, {}, "win_min2.png", 136, 52},
    {"WinSkin2.xml", "set", {-1, 0, 110, -1}, {}, "win_set2.png", 136, 52},
    {"WinSkin3.xml", "edge", {2, 111, 2, 2}, {2, 0, 2, 2}, "win_edge3.png", 477, 456},
    {"WinSkin3.xml", "icon", {20, 0, -1, -1}, {}, "ico3.png", 824, 222},
    {"WinSkin3.xml", "close", {-1, 20, 8, -1}, {}, "win_close3.png", 304, 150},
    {"WinSkin3.xml", "set", {-1, 20, 84, -1}, {}, "win_set4.png", 304, 150},
    {"WinSkin4.xml", "edge", {2, 95, 2, 2}, {2, 0, 2, 2}, "win_edge_a.png", 244, 190},
    {"WinSkin4.xml", "close", {10, 30, -1, -1}, {}, "win_close_a.png", 204, 102},
    {"MainSkin3.xml", "HtmlView", {2, 111, 2, 2}, {2, 111, 2, 2}, "", 0, 0},
    {"MainSkin3.xml", "ToolBar", {236, 0, 168, -1}, {236, 0, 168, -1}, "", 0, 0},
    {"MainSkin.xml", "HtmlView", {2, 54, 2, 2}, {2, 54, 2, 2}, "", 0, 0},
    {"MainSkin.xml", "ToolBar", {181, 0, 150, -1}, {181, 0, 150, -1}, "", 0, 0},
    // The start tool bar: frames of 130, 130 and 136 x 111 side by side at its right end.
    {"ToolBar3.xml", "bg", {}, {}, "tool_bg3.PNG", -1, 222},
    {"ToolBar3.xml", "home", {-1, 0, 266, -1}, {}, "webmag3.png", 520, 222},
    {"ToolBar3.xml", "make_book", {-1, 0, 136, -1}, {}, "webbook3.png", 520, 222},
    {"ToolBar3.xml", "my_book", {-1, 0, 0, -1}, {}, "myBook3.png", 544, 222},
    {"ToolBar.xml", "bg", {}, {}, "tool_bg.PNG", -1, 108},
    {"ToolBar.xml", "home", {0, 11, -1, -1}, {}, "webmag.png", -1, -1},
    {"ToolBar.xml", "make_book", {85, 11, -1, -1}, {}, "webbook.png", -1, -1},
    {"ToolBar.xml", "my_book", {170, 11, -1, -1}, {}, "myBook.png", -1, -1},
    {"ToolBar.xml", "read", {283, 11, -1, -1}, {}, "read.png", -1, -1},
    {"ToolBar2.xml", "bg", {}, {}, "tool_bg2.PNG", -1, 108},
    {"ToolBar2.xml", "home", {0, 11, -1, -1}, {}, "webmag2.png", -1, -1},
    {"ToolBar2.xml", "make_book", {85, 11, -1, -1}, {}, "webbook2.png", -1, -1},
    {"ToolBar2.xml", "my_book", {170, 11, -1, -1}, {}, "myBook2.png", -1, -1},
    {"ToolBar2.xml", "read", {283, 11, -1, -1}, {}, "read2.png", -1, -1},
};

class BuiltInSkinItem : public BuiltInSkin, public ::testing::WithParamInterface<ShippedItem> {};

TEST_P(BuiltInSkinItem, HasItsRectanglesAndPicture) {
    const ShippedItem& s = GetParam();
    CSkinInfo skin;
    ASSERT_TRUE(skin.Load(s.file));
    EXPECT_EQ(skin.GetItemRect(s.item), s.rect);
    EXPECT_EQ(skin.GetItemMaxRect(s.item), s.maxRect);
    const CString image = skin.GetItemImage(s.item);
    EXPECT_EQ(image, m_skin.Win() + s.image);
    if (*s.image == 0)
        return;
    const PngFile png = Png(image);
    ASSERT_TRUE(png.ok) << s.image << ": " << png.error;
    if (s.width >= 0) {
        EXPECT_EQ(png.width, static_cast<uint32_t>(s.width)) << s.image;
    }
    if (s.height >= 0) {
        EXPECT_EQ(png.height, static_cast<uint32_t>(s.height)) << s.image;
    }
}

INSTANTIATE_TEST_SUITE_P(Items, BuiltInSkinItem, ::testing::ValuesIn(kItems),
                         [](const ::testing::TestParamInfo<ShippedItem>& info) {
                             std::string n = std::string(info.param.file) + "_" + info.param.item;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

TEST_F(BuiltInSkin, NamesNoItemItsUsersMustFindAbsent) {
    const struct {
        const char* file;
        std::vector<const char*> absent;
    } cases[] = {
        {"WinSkin3.xml", {"max", "min"}},
        {"WinSkin4.xml", {"icon", "max", "min", "set"}},
        {"ToolBar3.xml", {"read", "login", "outlog", "username"}},
        {"ToolBar.xml", {"login", "outlog", "username"}},
        {"ToolBar2.xml", {"login", "outlog", "username"}},
    };
    for (const auto& c : cases) {
        CSkinInfo skin;
        ASSERT_TRUE(skin.Load(c.file));
        for (const char* item : c.absent) {
            EXPECT_EQ(skin.GetItemImage(item), "") << c.file << " " << item;
            EXPECT_EQ(skin.GetItemRect(item), CRect()) << c.file << " " << item;
        }
    }
}

TEST_F(BuiltInSkin, PicturesCarryNoColourManagementAndDecode) {
    int pictures = 0;
    for (const auto& e : fs::directory_iterator(m_skin.Linux())) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext != ".png")
            continue;
        ++pictures;
        const std::string name = e.path().filename().string();
        const PngFile png = ReadPng(ReadFileBytes(e.path()));
        ASSERT_TRUE(png.ok) << name << ": " << png.error;
        for (const char* chunk : {"gAMA", "iCCP", "sRGB", "cHRM"})
            EXPECT_EQ(std::count(png.chunks.begin(), png.chunks.end(), chunk), 0) << name << " has " << chunk;
        EXPECT_EQ(png.bitDepth, 8) << name;
        EXPECT_FALSE(png.rgba.empty()) << name << ": not 8-bit RGB(A) without interlacing";
        EXPECT_EQ(png.height % 2, 0u) << name << ": two looks of equal height";
    }
    EXPECT_GT(pictures, 0);
}

struct WindowSkin {
    const char* skin;
    const char* toolBar;  // the tool bar skin shown with it
    int toolBarRowsAlike; // rows of the tool bar background that continue the caption band
};

const WindowSkin kWindowSkins[] = {
    {"WinSkin3.xml", "ToolBar3.xml", 111},
    {"WinSkin.xml", "ToolBar.xml", 53},
    {"WinSkin2.xml", "ToolBar2.xml", 53},
    {"WinSkin4.xml", nullptr, 0},
};

TEST_F(BuiltInSkin, EdgeStripsAreUniformAlongTheirStretch) {
    for (const WindowSkin& w : kWindowSkins) {
        CSkinInfo skin;
        ASSERT_TRUE(skin.Load(w.skin));
        const CRect e = skin.GetEdgeRect();
        const PngFile png = Png(skin.GetEdgeImage());
        ASSERT_FALSE(png.rgba.empty()) << w.skin;
        const int W = static_cast<int>(png.width), h = static_cast<int>(png.height) / 2;
        for (int look = 0; look < 2; ++look) {
            const int y0 = look * h;
            // The caption band and the bottom strip stretch sideways between the corners.
            auto rowUniform = [&](int y) {
                for (int x = e.left + 1; x < W - e.right; ++x)
                    if (png.Pixel(x, y0 + y) != png.Pixel(e.left, y0 + y))
                        return false;
                return true;
            };
            for (int y = 0; y < e.top; ++y)
                EXPECT_TRUE(rowUniform(y)) << w.skin << " look " << look << " caption row " << y;
            for (int y = h - e.bottom; y < h; ++y)
                EXPECT_TRUE(rowUniform(y)) << w.skin << " look " << look << " bottom row " << y;
            // The side strips stretch downwards (none in WinSkin4, whose band fills the half).
            for (int x : {0, static_cast<int>(e.left) - 1, W - static_cast<int>(e.right), W - 1})
                for (int y = e.top + 1; y < h - e.bottom; ++y)
                    EXPECT_EQ(png.Pixel(x, y0 + y), png.Pixel(x, y0 + e.top))
                        << w.skin << " look " << look << " side column " << x << " row " << y;
        }
    }
}

TEST_F(BuiltInSkin, ToolBarBackgroundsAreUniformAcrossAndContinueTheCaption) {
    for (const WindowSkin& w : kWindowSkins) {
        if (w.toolBar == nullptr)
            continue;
        CSkinInfo frame, bar;
        ASSERT_TRUE(frame.Load(w.skin));
        ASSERT_TRUE(bar.Load(w.toolBar));
        const PngFile edge = Png(frame.GetEdgeImage()), bg = Png(bar.GetBgImage());
        ASSERT_FALSE(edge.rgba.empty());
        ASSERT_FALSE(bg.rgba.empty());
        const int half = static_cast<int>(bg.height) / 2, edgeHalf = static_cast<int>(edge.height) / 2;
        const int el = frame.GetEdgeRect().left;
        for (uint32_t y = 0; y < bg.height; ++y)
            for (uint32_t x = 1; x < bg.width; ++x)
                ASSERT_EQ(bg.Pixel(x, y), bg.Pixel(0, y)) << w.toolBar << " row " << y << " column " << x;
        // The tool bar lies at the top of the caption band: its rows are the band's rows.
        for (int look = 0; look < 2; ++look)
            for (int y = 0; y < w.toolBarRowsAlike; ++y)
                EXPECT_EQ(bg.Pixel(0, look * half + y), edge.Pixel(el, look * edgeHalf + y))
                    << w.toolBar << " look " << look << " row " << y;
    }
}

// Every button picture: four frames of equal width across, two looks down; opaque or clear at the
// frame edges the program composites; and painted on the very rows it sits on, so no box shows
// around a button on the caption band or the tool bar.
TEST_F(BuiltInSkin, ButtonsAreWholeFramesThatBlendIntoWhatTheySitOn) {
    struct Surface {
        const char* skin;
        std::vector<const char*> buttons;
    };
    const Surface surfaces[] = {
        {"WinSkin.xml", {"icon", "close", "max", "min", "set"}},
        {"WinSkin2.xml", {"icon", "close", "max", "min", "set"}},
        {"WinSkin3.xml", {"icon", "close", "set"}},
        {"WinSkin4.xml", {"close"}},
        {"ToolBar3.xml", {"home", "make_book", "my_book"}},
        {"ToolBar.xml", {"home", "make_book", "my_book", "read"}},
        {"ToolBar2.xml", {"home", "make_book", "my_book", "read"}},
    };
    for (const Surface& s : surfaces) {
        CSkinInfo skin;
        ASSERT_TRUE(skin.Load(s.skin));
        const bool isToolBar = skin.GetEdgeImage().IsEmpty();
        const PngFile under = Png(isToolBar ? skin.GetBgImage() : skin.GetEdgeImage());
        ASSERT_FALSE(under.rgba.empty()) << s.skin;
        const int underHalf = static_cast<int>(under.height) / 2;
        const int underX = isToolBar ? 0 : skin.GetEdgeRect().left;
        for (const char* item : s.buttons) {
            const PngFile png = Png(skin.GetItemImage(item));
            ASSERT_FALSE(png.rgba.empty()) << s.skin << " " << item;
            EXPECT_EQ(png.width % 4, 0u) << s.skin << " " << item;
            const uint32_t fw = png.width / 4, fh = png.height / 2;
            for (uint32_t y = 0; y < png.height; ++y)
                for (uint32_t x = 0; x < png.width; ++x) {
                    const bool frameEdge = x % fw == 0 || x % fw == fw - 1 || y % fh == 0 || y % fh == fh - 1;
                    const uint8_t a = png.At(x, y)[3];
                    if (frameEdge) {
                        ASSERT_TRUE(a == 0 || a == 255)
                            << s.skin << " " << item << " (" << x << "," << y << ")";
                    }
                }
            const int top = skin.GetItemRect(item).top;
            ASSERT_LE(top + static_cast<int>(fh), underHalf) << s.skin << " " << item;
            for (int look = 0; look < 2; ++look)
                for (uint32_t y = 0; y < fh; ++y)
                    EXPECT_EQ(png.Pixel(0, look * fh + y), under.Pixel(underX, look * underHalf + top + y))
                        << s.skin << " " << item << " look " << look << " row " << y;
        }
    }
}

// The caption band of each window skin with its layout and tool bar, at the smallest size the
// skin allows and on a wide screen: the tool bar lies between the logo and the caption buttons
// and within the band, its tabs side by side inside it, and the views start where the band ends,
// so no part of the band is left to show what an earlier skin painted there.
TEST_F(BuiltInSkin, TheCaptionBandHoldsLogoTabsAndButtonsApartAtEverySizeTheSkinAllows) {
    struct Set {
        const char* window;
        const char* layout;
        const char* toolBar;
    };
    for (const Set& set : {Set{"WinSkin3.xml", "MainSkin3.xml", "ToolBar3.xml"},
                           Set{"WinSkin.xml", "MainSkin.xml", "ToolBar.xml"},
                           Set{"WinSkin2.xml", "MainSkin.xml", "ToolBar2.xml"}}) {
        CSkinInfo win, layout, bar;
        ASSERT_TRUE(win.Load(set.window));
        ASSERT_TRUE(layout.Load(set.layout));
        ASSERT_TRUE(bar.Load(set.toolBar));
        const CSize least = win.GetEdgeMinSize();
        ASSERT_GE(least.cx, 500) << set.window << " names its smallest size";
        const int band = win.GetEdgeRect().top;
        const int barHeight = static_cast<int>(Png(bar.GetBgImage()).height / 2);
        auto frameOf = [&](const CString& image) {
            const PngFile png = Png(image);
            return CSize(static_cast<int>(png.width / 4), static_cast<int>(png.height / 2));
        };
        for (int width : {static_cast<int>(least.cx), 1920}) {
            SCOPED_TRACE(std::string(set.window) + " at " + std::to_string(width));
            const CRect client(0, 0, width, std::max<int>(least.cy, 600));
            const CSize logoSize = frameOf(win.GetIconImage());
            const CRect logoSpec = win.GetIconRect();
            const CRect logo(logoSpec.left, logoSpec.top, logoSpec.left + logoSize.cx,
                             logoSpec.top + logoSize.cy);
            const CRect toolBar = CalcAnchoredRect(layout.GetToolBarRect(), 751, barHeight, client);
            EXPECT_GE(toolBar.left, logo.right) << "the tool bar covers the logo";
            EXPECT_LE(toolBar.bottom, band) << "the tool bar reaches below the caption band";
            for (const char* button : {"close", "max", "min", "set"}) {
                if (win.GetItemImage(button).IsEmpty())
                    continue;
                const CSize size = frameOf(win.GetItemImage(button));
                const CRect r = CalcAnchoredRect(win.GetItemRect(button), size.cx, size.cy, client);
                EXPECT_GE(r.left, toolBar.right) << "the tool bar covers the " << button << " button";
            }
            int right = 0;
            for (const char* tab : {"home", "make_book", "my_book", "read"}) {
                if (bar.GetItemImage(tab).IsEmpty())
                    continue;
                const CSize size = frameOf(bar.GetItemImage(tab));
                const CRect r = CalcAnchoredRect(bar.GetItemRect(tab), size.cx, size.cy,
                                                 CRect(0, 0, toolBar.Width(), toolBar.Height()));
                EXPECT_GE(r.left, right) << tab << " overlaps the tab before it or leaves the tool bar";
                EXPECT_LE(r.right, toolBar.Width()) << tab << " is cut off by the tool bar's end";
                EXPECT_GE(r.top, 0) << tab;
                EXPECT_LE(r.bottom, toolBar.Height()) << tab;
                right = r.right;
            }
            EXPECT_EQ(CalcAnchoredRect(layout.GetHtmlViewRect(), 0, 0, client).top, band)
                << "the views do not start where the caption band ends";
        }
    }
}

} // namespace

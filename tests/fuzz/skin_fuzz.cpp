// Any bytes as a skin layout file of a skin folder (skins also arrive through the update check),
// read as the skinned surfaces read them. Every image path must lie inside the skin folder, and
// anchored placement must not overflow whatever it gets, nor give a rectangle whose width or
// height is no int.
#include "foundation/AppPathInfo.h"
#include "skin/SkinInfo.h"
#include "tests/support/TestFiles.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct Folder {
    Folder() : tmp("kestrin_skinfuzz_") {
        std::filesystem::create_directories(tmp.sub("ExeFiles/skin_1"));
        WriteFileBytes(tmp.sub("ExeFiles/Version.ini"), "[Version]\r\nskin=1\r\n");
        g_AppPathInfo.m_strExeFilesDir = WinPath(tmp.sub("ExeFiles"));
        dir = g_AppPathInfo.GetSkinDir();
    }
    TempDir tmp;
    CString dir;
};

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

void CheckPlaced(const CRect& rc) {
    for (long long d :
         {static_cast<long long>(rc.right) - rc.left, static_cast<long long>(rc.bottom) - rc.top})
        Check(d >= INT_MIN && d <= INT_MAX, "a placed rectangle whose width or height is no int");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Folder folder;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    WriteFileBytes(folder.tmp.sub("ExeFiles/skin_1/s.xml"), bytes);

    struct Reader : CSkinInfo {
        using CSkinLayout::m_arrItems;
    } skin;
    const BOOL loaded = skin.Load("s.xml");
    Check(loaded || skin.m_arrItems.GetSize() == 0, "items added without a top-level items element");
    const CRect containers[] = {CRect(0, 0, 1000, 600), CRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX),
                                CRect(5, 5, 0, 0)};
    for (INT_PTR i = 0; i < skin.m_arrItems.GetSize(); ++i) {
        const auto* item = static_cast<const CSkinItem*>(skin.m_arrItems.GetAt(i));
        Check(item->m_strImage.Find(folder.dir) == 0, "an image path outside the skin folder");
        Check(skin.GetItemImage(item->m_strName) == skin.GetItemImage(item->m_strName), "lookups disagree");
        for (const CRect& c : containers) {
            CheckPlaced(CalcAnchoredRect(item->m_rcRect, item->m_nWidth, item->m_nHeight, c));
            CheckPlaced(CalcAnchoredRect(item->m_rcMaxRect, INT_MAX, INT_MIN, c));
        }
    }
    // The getters of every fixed item, present or not.
    skin.GetEdgeRect();
    skin.GetEdgeMaxRect();
    skin.GetToolBarRect();
    skin.GetHtmlViewMaxRect();
    skin.GetCloseImage();
    skin.GetBgImage();

    // The rectangle text rule on the raw bytes too, up to the first zero.
    CRect out(7, 7, 7, 7);
    if (!skin.ParseRectValues(bytes.c_str(), &out))
        Check(out == CRect(7, 7, 7, 7), "a refused rectangle text changed the output");
    return 0;
}

// The program's own resource table and a test table, read through the module calls.
#include "platform/base/AfxStr.h"
#include "platform/kernel/Module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern const RESOURCE_TABLE g_moduleTestTable;

namespace {

std::string Bytes(HMODULE h, LPCSTR name, LPCSTR type) {
    HRSRC r = FindResourceA(h, name, type);
    if (!r)
        return "<missing>";
    HGLOBAL g = LoadResource(h, r);
    const char* p = static_cast<const char*>(LockResource(g));
    return std::string(p, SizeofResource(h, r));
}

HMODULE TestModule() {
    static HMODULE h = AfxModuleFromResourceTable(&g_moduleTestTable);
    return h;
}

TEST(ModuleOwnResources, StringTableEntriesComeBackInTheAnsiCodePage) {
    char buf[256];
    int n = LoadStringA(nullptr, 103, buf, sizeof buf);
    EXPECT_STREQ(buf, "Windows \xCC\xD7\xBD\xD3\xD7\xD6\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1\xA3");
    EXPECT_EQ(n, static_cast<int>(strlen(buf)));

    CString s;
    EXPECT_TRUE(s.LoadString(101));
    EXPECT_STREQ(s, "\xB9\xD8\xD3\xDA HtmlVelkors(&A)...");
    EXPECT_FALSE(s.LoadString(102)); // same block, no text
    EXPECT_STREQ(s, "");
    EXPECT_FALSE(s.LoadString(9999)); // no block at all
}

TEST(ModuleOwnResources, ProgramHandleAndNullNameTheSameTable) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self, AfxGetResourceHandle());
    EXPECT_EQ(self, AfxGetInstanceHandle());
    EXPECT_EQ(Bytes(self, MAKEINTRESOURCEA(166), "MYDATA"), "0");
    EXPECT_EQ(Bytes(nullptr, MAKEINTRESOURCEA(166), "mydata"), "0");
    EXPECT_TRUE(FreeLibrary(self)); // never frees the program
    EXPECT_EQ(Bytes(self, MAKEINTRESOURCEA(166), "MYDATA"), "0");
}

TEST(ModuleOwnResources, TrayMenuIsAStandardMenuTemplate) {
    std::string menu = Bytes(nullptr, MAKEINTRESOURCEA(168), RT_MENU);
    // header, POPUP|END "main", item 32771, END item 32772
    std::u16string expect;
    auto w = [&](char16_t c) { expect.push_back(c); };
    w(0), w(0), w(0x90);
    for (char16_t c : std::u16string(u"main"))
        w(c);
    w(0), w(0), w(32771);
    for (char16_t c : std::u16string(u"打开主界面"))
        w(c);
    w(0), w(0x80), w(32772);
    for (char16_t c : std::u16string(u"退出"))
        w(c);
    w(0);
    ASSERT_EQ(menu.size(), expect.size() * 2);
    EXPECT_EQ(memcmp(menu.data(), expect.data(), menu.size()), 0); // little-endian host
}

TEST(ModuleTable, ItemsFromFilesAndInlineDataReadBackByteForByte) {
    const std::string blob("\x00\x01\x02\xfe\xffraw\x00tail", 13);
    struct Case {
        LPCSTR name;
        LPCSTR type;
        std::string expect;
    } cases[] = {
        {MAKEINTRESOURCEA(188), "MYDATA", blob},
        {"#188", "MyData", blob},
        {MAKEINTRESOURCEA(162), "MYDATA", "42"},
        {MAKEINTRESOURCEA(163), "MYDATA", "\xD4\xD3\xD6\xBE\xC3\xFB"},
        {MAKEINTRESOURCEA(300), "MYDATA", std::string("AB\x07\x00\x00\x00", 6)},
        {"skinpage", "MYTYPE", blob},
        {"SkinPage", "#10", "<missing>"},
        {MAKEINTRESOURCEA(5), RT_RCDATA, std::string("w\0", 2)},
        {MAKEINTRESOURCEA(5), "RCDATA", "<missing>"}, // a named type is not the standard one
        {MAKEINTRESOURCEA(189), "MYDATA", "<missing>"},
        {MAKEINTRESOURCEA(188), "OTHER", "<missing>"},
        {"#", "MYDATA", "<missing>"},
        {"#99999", "MYDATA", "<missing>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Bytes(TestModule(), c.name, c.type), c.expect)
            << (IS_INTRESOURCE(c.name) ? std::to_string(reinterpret_cast<uintptr_t>(c.name)) : c.name);
}

TEST(ModuleTable, StringsAcrossBlocksAndCutsThatKeepCharactersWhole) {
    struct Case {
        UINT id;
        int room;
        const char* expect;
    } cases[] = {
        {1, 64, "first"},
        {17, 64, "block two"},
        {65535, 64, "last id"},
        {40, 64, "\xD6\xD0\xCE\xC4\xD7\xD6\xB7\xFB\xB4\xAE"},
        {40, 4, "\xD6\xD0"}, // room for three bytes: the second character would be cut
        {40, 5, "\xD6\xD0\xCE\xC4"},
        {1, 3, "fi"},
        {1, 1, ""},
        {0, 64, ""}, // a gap in a present block
        {2, 64, ""},
        {500, 64, ""},     // no block
        {0x10001, 64, ""}, // string ids have 16 bits: larger ones name no string
        {0xFFFFF, 64, ""},
        {0x100011, 64, ""}, // would wrap onto id 17
        {0xFFFFFFFF, 64, ""},
    };
    for (const Case& c : cases) {
        char buf[64];
        memset(buf, 'Z', sizeof buf);
        int n = LoadStringA(TestModule(), c.id, buf, c.room);
        EXPECT_STREQ(buf, c.expect) << c.id << " in " << c.room;
        EXPECT_EQ(n, static_cast<int>(strlen(c.expect)));
    }
    // A string that holds a zero character is copied whole; the count includes the zero.
    char zero[32];
    EXPECT_EQ(LoadStringA(TestModule(), 41, zero, sizeof zero), 12);
    EXPECT_EQ(std::string(zero, 13), std::string("before\0after", 13));

    char buf[4] = "abc";
    EXPECT_EQ(LoadStringA(TestModule(), 1, buf, 0), 0);
    EXPECT_STREQ(buf, "abc"); // no room: nothing written
}

TEST(ModuleTable, HandlesThatAreNotModulesFindNothing) {
    int notAModule = 0;
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(&notAModule), MAKEINTRESOURCEA(188), "MYDATA"),
              nullptr);
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&notAModule)));
    EXPECT_EQ(LoadResource(TestModule(), nullptr), nullptr);
    EXPECT_EQ(SizeofResource(TestModule(), nullptr), 0u);
}

} // namespace

namespace {

TEST(ModuleOwnResources, ProgramPathIsInTheProgramsWindowsForm) {
    char buf[1024];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    ASSERT_GT(n, 0u);
    std::string path(buf, n);
    EXPECT_EQ(path.find('/'), std::string::npos) << path;
    EXPECT_EQ(path.substr(path.rfind('\\') + 1), "platform_tests");
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), buf, sizeof buf), n);

    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u); // cut, as Windows cuts
    EXPECT_EQ(std::string(small), path.substr(0, 4));
    EXPECT_EQ(GetModuleFileNameA(AfxModuleFromResourceTable(&g_moduleTestTable), buf, sizeof buf), 0u);
}

} // namespace

// Other executables read for their resources: files made by the mingw-w64 resource compiler and
// linker, files made by our package writer, and damaged copies of them.
#include "platform/kernel/Module.h"
#include "platform/kernel/PeReader.h"
#include "platform/kernel/WinError.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern const RESOURCE_TABLE g_moduleTestTable;
extern const RESOURCE_TABLE g_moduleDialogTable;

namespace {

const std::string kBlob("\x00\x01\x02\xfe\xff\x80\x81MZPE\x00\x00tail", 16);
const std::string kName("\xD4\xD3\xD6\xBE\xC3\xFB"); // GBK

std::string WinPath(std::string p) {
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

int Shell(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

class PeFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/module_pe_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        s_dir = tmpl;
        WriteFile(s_dir + "/blob.bin", kBlob);
        // The rc text is GBK, as the resource compiler's code page says.
        WriteFile(s_dir + "/item.rc", "188 MYDATA \"blob.bin\"\n"
                                      "162 MYDATA { \"77\" }\n"
                                      "163 MYDATA { \"" +
                                          kName +
                                          "\" }\n"
                                          "STRINGTABLE { 103 \"" +
                                          kName + "\" }\n");
        std::string rc = "cd " + s_dir +
                         " && i686-w64-mingw32-windres --preprocessor=cat -c 936 item.rc -O coff -o item.res"
                         " && i686-w64-mingw32-ld -e 0 -s -o item.exe item.res";
        ASSERT_EQ(Shell(rc), 0) << rc;
        s_mingw = s_dir + "/item.exe";

        ASSERT_EQ(mkdir((s_dir + "/pages").c_str(), 0755), 0);
        WriteFile(s_dir + "/pages/view1.html", "<html>one</html>");
        WriteFile(s_dir + "/pages/a.css", "");
        std::string pack =
            std::string(KESTRIN_PYTHON " ") + PROJECT_SOURCE_DIR +
            "/tools/packwriter/kestrin_pack.py exe -o " + s_dir + "/ours.exe --package 188=" + s_dir +
            "/pages --string 162=77 --string 163=\xE6\x9D\x82\xE5\xBF\x97\xE5\x90\x8D --file 152=" + s_dir +
            "/blob.bin";
        ASSERT_EQ(Shell(pack), 0) << pack;
        s_ours = s_dir + "/ours.exe";
    }
    static void TearDownTestSuite() { Shell("rm -rf " + s_dir); }

    static std::string Resource(HMODULE h, int id, LPCSTR type = "MYDATA") {
        HRSRC r = FindResourceA(h, MAKEINTRESOURCEA(id), type);
        if (!r)
            return "<missing>";
        return std::string(static_cast<const char*>(LockResource(LoadResource(h, r))), SizeofResource(h, r));
    }

    static std::string s_dir, s_mingw, s_ours;
};
std::string PeFiles::s_dir, PeFiles::s_mingw, PeFiles::s_ours;

TEST_F(PeFiles, MingwExecutableGivesExactlyTheBytesPutIn) {
    HMODULE h = LoadLibraryA(WinPath(s_mingw).c_str());
    ASSERT_NE(h, nullptr) << GetLastError();
    EXPECT_EQ(Resource(h, 188), kBlob);
    EXPECT_EQ(Resource(h, 188, "mydata"), kBlob);
    EXPECT_EQ(Resource(h, 162), "77");
    EXPECT_EQ(Resource(h, 163), kName);
    EXPECT_EQ(Resource(h, 164), "<missing>");
    char buf[64];
    EXPECT_EQ(LoadStringA(h, 103, buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf), kName);
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_FALSE(FreeLibrary(h)); // already gone
    EXPECT_EQ(FindResourceA(h, MAKEINTRESOURCEA(188), "MYDATA"), nullptr);
}

TEST_F(PeFiles, PathsInAnyCaseAndBothLoadFlags) {
    std::string upper = s_dir + "/ITEM.EXE";
    HMODULE h = LoadLibraryExA(WinPath(upper).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Resource(h, 162), "77");
    FreeLibrary(h);
    h = LoadLibraryExA(WinPath(s_mingw).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(h, nullptr);
    FreeLibrary(h);
}

TEST_F(PeFiles, MissingFilesFoldersAndDrivePathsDoNotLoad) {
    EXPECT_EQ(LoadLibraryA(WinPath(s_dir + "/none.exe").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA(WinPath(s_dir).c_str()), nullptr);
    EXPECT_EQ(LoadLibraryA("p:\\umexmemfile\\x.exe"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(LoadLibraryA(WinPath(s_dir + "/blob.bin").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(PeFiles, PackageWriterOutputLoadsAndIsWellFormed) {
    HMODULE h = LoadLibraryA(WinPath(s_ours).c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Resource(h, 162), "77");
    EXPECT_EQ(Resource(h, 163), kName);
    EXPECT_EQ(Resource(h, 152), kBlob);
    std::string pak = Resource(h, 188);
    FreeLibrary(h);

    // Two entries in byte order of their names, back to back, then the directory and the trailer.
    ASSERT_EQ(pak.size(), 16 + 2 * 264 + 12u);
    auto u32 = [&](size_t off) {
        uint32_t v;
        memcpy(&v, pak.data() + off, 4);
        return v;
    };
    size_t trailer = pak.size() - 12;
    EXPECT_EQ(u32(trailer), 16u);
    EXPECT_EQ(u32(trailer + 4), 2 * 264u);
    EXPECT_EQ(u32(trailer + 8), 2u);
    EXPECT_STREQ(pak.data() + 16, "a.css");
    EXPECT_EQ(u32(16 + 256), 0u);
    EXPECT_EQ(u32(16 + 260), 0u);
    EXPECT_STREQ(pak.data() + 16 + 264, "view1.html");
    EXPECT_EQ(u32(16 + 264 + 256), 0u);
    EXPECT_EQ(u32(16 + 264 + 260), 16u);
    EXPECT_EQ(pak.substr(0, 16), "<html>one</html>");

    std::string dump = s_dir + "/dump.txt";
    ASSERT_EQ(std::system(("i686-w64-mingw32-objdump -x " + s_ours + " >" + dump + " 2>&1").c_str()), 0);
    std::string text = ReadFile(dump);
    EXPECT_NE(text.find("pei-i386"), std::string::npos);
    EXPECT_NE(text.find(".rsrc"), std::string::npos);
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;
}

TEST_F(PeFiles, IconsCompileAsTheMingwResourceCompilerCompilesThem) {
    std::string rc = "cd " + s_dir + " && cp " + TEST_SOURCE_DIR +
                     "/module_test.ico icon.ico"
                     " && echo '128 ICON \"icon.ico\"' >icon.rc"
                     " && i686-w64-mingw32-windres --preprocessor=cat icon.rc -O coff -o icon.res"
                     " && i686-w64-mingw32-ld -e 0 -s -o icon.exe icon.res";
    ASSERT_EQ(Shell(rc), 0) << rc;
    HMODULE theirs = LoadLibraryA(WinPath(s_dir + "/icon.exe").c_str());
    ASSERT_NE(theirs, nullptr);
    HMODULE ours = AfxModuleFromResourceTable(&g_moduleTestTable);
    std::string group = Resource(ours, 128, RT_GROUP_ICON);
    EXPECT_EQ(group.size(), 6 + 2 * 14u);
    EXPECT_EQ(group, Resource(theirs, 128, RT_GROUP_ICON));
    EXPECT_EQ(Resource(ours, 1, RT_ICON), Resource(theirs, 1, RT_ICON));
    EXPECT_EQ(Resource(ours, 2, RT_ICON), Resource(theirs, 2, RT_ICON));
    EXPECT_NE(Resource(ours, 2, RT_ICON), "<missing>");
    FreeLibrary(theirs);
}

// module_dialog.rc holds numbers only, so the mingw resource compiler reads it unpreprocessed.
TEST_F(PeFiles, DialogTemplatesCompileAsTheMingwResourceCompilerCompilesThem) {
    std::string rc = "cd " + s_dir + " && cp " + TEST_SOURCE_DIR + "/module_dialog.rc dialog.rc" +
                     " && i686-w64-mingw32-windres --preprocessor=cat dialog.rc -O coff -o dialog.res"
                     " && i686-w64-mingw32-ld -e 0 -s -o dialog.exe dialog.res";
    ASSERT_EQ(Shell(rc), 0) << rc;
    HMODULE theirs = LoadLibraryA(WinPath(s_dir + "/dialog.exe").c_str());
    ASSERT_NE(theirs, nullptr);
    HMODULE ours = AfxModuleFromResourceTable(&g_moduleDialogTable);
    for (int id : {100, 101}) {
        std::string mine = Resource(ours, id, RT_DIALOG);
        EXPECT_NE(mine, "<missing>");
        EXPECT_EQ(mine, Resource(theirs, id, RT_DIALOG)) << id;
    }
    FreeLibrary(theirs);
}

TEST_F(PeFiles, PackageWriterRefusesWhatReadersCannotTellApart) {
    std::string dup = s_dir + "/dup";
    ASSERT_EQ(mkdir(dup.c_str(), 0755), 0);
    WriteFile(dup + "/Page.html", "1");
    WriteFile(dup + "/page.HTML", "2");
    std::string tool =
        std::string(KESTRIN_PYTHON " ") + PROJECT_SOURCE_DIR + "/tools/packwriter/kestrin_pack.py";
    EXPECT_NE(Shell(tool + " pack " + dup + " -o " + s_dir + "/dup.pak"), 0);
    EXPECT_NE(Shell(tool + " exe -o " + s_dir + "/x.exe --string 162=a --string 162=b"), 0);
    EXPECT_NE(Shell(tool + " exe -o " + s_dir + "/x.exe --string 0=a"), 0);
}

// Offsets inside a file, found the way a loader finds them.
struct Layout {
    size_t root = 0;        // resource root
    size_t lastSection = 0; // section header of the last section
    size_t firstData = 0;   // first resource data entry
};

uint32_t U32(const std::vector<uint8_t>& b, size_t off) {
    uint32_t v;
    memcpy(&v, b.data() + off, 4);
    return v;
}
void Put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
    memcpy(b.data() + off, &v, 4);
}

Layout Find(const std::vector<uint8_t>& b) {
    Layout l;
    size_t pe = U32(b, 0x3C);
    size_t nSec = b[pe + 6] | (b[pe + 7] << 8);
    size_t optSize = b[pe + 20] | (b[pe + 21] << 8);
    size_t opt = pe + 24;
    uint32_t rva = U32(b, opt + 96 + 16);
    size_t sec = opt + optSize;
    for (size_t i = 0; i < nSec; ++i) {
        size_t s = sec + 40 * i;
        if (rva >= U32(b, s + 12) && rva < U32(b, s + 12) + U32(b, s + 16))
            l.root = U32(b, s + 20) + (rva - U32(b, s + 12));
    }
    l.lastSection = sec + 40 * (nSec - 1);
    size_t typeDir = l.root + (U32(b, l.root + 20) & 0x7FFFFFFF);
    size_t nameDir = l.root + (U32(b, typeDir + 20) & 0x7FFFFFFF);
    l.firstData = l.root + U32(b, nameDir + 20);
    return l;
}

TEST_F(PeFiles, DamagedFilesAreRefusedWithoutReadingOutsideThem) {
    for (const std::string& base : {s_mingw, s_ours}) {
        std::string s = ReadFile(base);
        const std::vector<uint8_t> good(s.begin(), s.end());
        Layout l = Find(good);
        size_t pe = U32(good, 0x3C);
        struct Case {
            const char* what;
            void (*damage)(std::vector<uint8_t>&, const Layout&, size_t pe);
        } cases[] = {
            {"empty", [](std::vector<uint8_t>& b, const Layout&, size_t) { b.clear(); }},
            {"cut DOS header", [](std::vector<uint8_t>& b, const Layout&, size_t) { b.resize(40); }},
            {"cut PE header", [](std::vector<uint8_t>& b, const Layout&, size_t p) { b.resize(p + 10); }},
            {"PE offset past the end",
             [](std::vector<uint8_t>& b, const Layout&, size_t) { Put32(b, 0x3C, 0xFFFFFFF0); }},
            {"cut optional header",
             [](std::vector<uint8_t>& b, const Layout&, size_t p) { b.resize(p + 24 + 60); }},
            {"cut section table",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { b.resize(l.lastSection + 20); }},
            {"section past the end",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) {
                 Put32(b, l.lastSection + 20, static_cast<uint32_t>(b.size()) + 0x1000);
             }},
            {"section size past the end", [](std::vector<uint8_t>& b, const Layout& l,
                                             size_t) { Put32(b, l.lastSection + 16, 0xFFFFFE00); }},
            {"resource directory loop",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { Put32(b, l.root + 20, 0x80000000); }},
            {"directory entries past the section", [](std::vector<uint8_t>& b, const Layout& l,
                                                      size_t) { b[l.root + 14] = b[l.root + 15] = 0xFF; }},
            {"subdirectory past the end",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { Put32(b, l.root + 20, 0xFFFFFFF0); }},
            {"name past the end",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { Put32(b, l.root + 16, 0xFFFFFFF0); }},
            {"data offset past the end",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { Put32(b, l.firstData, 0x7FFFFF00); }},
            {"data size past the end",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { Put32(b, l.firstData + 4, 0xFFFFFFF0); }},
            {"data entry past the end",
             [](std::vector<uint8_t>& b, const Layout& l, size_t) { b.resize(l.firstData + 8); }},
        };
        (void)pe;
        for (const Case& c : cases) {
            std::vector<uint8_t> bad = good;
            c.damage(bad, l, U32(good, 0x3C));
            std::vector<PeResource> out;
            std::string err;
            // An exact-size heap copy, so the address sanitizer sees any read past the end.
            std::unique_ptr<uint8_t[]> exact(new uint8_t[bad.size() + (bad.empty() ? 1 : 0)]);
            if (!bad.empty())
                memcpy(exact.get(), bad.data(), bad.size());
            EXPECT_FALSE(PeReadResources(exact.get(), bad.size(), out, &err)) << base << ": " << c.what;
            EXPECT_TRUE(out.empty());
            EXPECT_FALSE(err.empty()) << c.what;

            std::string path = s_dir + "/bad.exe";
            WriteFile(path, std::string(bad.begin(), bad.end()));
            EXPECT_EQ(LoadLibraryA(WinPath(path).c_str()), nullptr) << c.what;
        }
        std::vector<PeResource> out;
        EXPECT_TRUE(PeReadResources(good.data(), good.size(), out)) << base;
        EXPECT_FALSE(out.empty());
    }
}

} // namespace

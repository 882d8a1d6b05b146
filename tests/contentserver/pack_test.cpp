#include "contentserver/PackUnpacker.h"

#include "tests/contentserver/ContentServerFixture.h"

#include <functional>

using namespace cstest;

namespace {

BYTE* Bytes(std::string& s) {
    return reinterpret_cast<BYTE*>(s.data());
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<Entry> NumberedEntries(int n) {
    std::vector<Entry> v;
    for (int i = 0; i < n; ++i)
        v.push_back({"f" + std::to_string(i) + ".png", std::string(static_cast<size_t>(i % 3), 'x')});
    return v;
}

} // namespace

// The format's own rules: how the count, the directory-size field, failures in the middle and
// the caller's folder text decide what is written.
struct UnpackCase {
    const char* label;
    std::function<std::string()> package;
    std::function<void(const TempDir&)> prepare; // files present before the unpack
    bool folderWithoutSeparator;
    BOOL expected;
    std::function<void(const TempDir&)> check;
};

TEST(PackUnpacker, FormatRulesTable) {
    const std::vector<Entry> five = {
        {"a.html", "AAAA"}, {"b.css", "BB"}, {"c.js", "C"}, {"d.xml", "DDDDDD"}, {"e.png", "E"}};
    const std::vector<UnpackCase> cases = {
        {"count 0, trailer only", [] { return BuildPackage({}); }, nullptr, false, TRUE,
         [](const TempDir& d) { EXPECT_TRUE(ListFolder(d.sub("out")).empty()); }},
        {"count 5000 is accepted", [] { return BuildPackage(NumberedEntries(5000)); }, nullptr, false, TRUE,
         [](const TempDir& d) {
             EXPECT_EQ(ListFolder(d.sub("out")).size(), 5000u);
             EXPECT_EQ(ReadFileBytes(d.sub("out/f4999.png")), "x");
         }},
        {"count 5001 writes nothing", [] { return BuildPackage(NumberedEntries(5001)); }, nullptr, false,
         FALSE, [](const TempDir& d) { EXPECT_TRUE(ListFolder(d.sub("out")).empty()); }},
        {"count -1 writes nothing", [five] { return BuildPackage(five, -1); }, nullptr, false, FALSE,
         [](const TempDir& d) { EXPECT_TRUE(ListFolder(d.sub("out")).empty()); }},
        {"directory size field is not read", [five] { return BuildPackage(five, INT64_MIN, 7); }, nullptr,
         false, TRUE,
         [](const TempDir& d) {
             EXPECT_EQ(ListFolder(d.sub("out")).size(), 5u);
             EXPECT_EQ(ReadFileBytes(d.sub("out/d.xml")), "DDDDDD");
         }},
        {"third of five cannot be written", [five] { return BuildPackage(five); },
         [](const TempDir& d) { fs::create_directory(d.sub("out/c.js")); }, false, FALSE,
         [](const TempDir& d) {
             EXPECT_EQ(ReadFileBytes(d.sub("out/a.html")), "AAAA");
             EXPECT_EQ(ReadFileBytes(d.sub("out/b.css")), "BB");
             EXPECT_FALSE(fs::exists(d.sub("out/d.xml")));
             EXPECT_FALSE(fs::exists(d.sub("out/e.png")));
         }},
        {"existing file is truncated",
         [] {
             return BuildPackage({{"a.html", "new"}});
         },
         [](const TempDir& d) { WriteFileBytes(d.sub("out/a.html"), std::string(5000, 'o')); }, false, TRUE,
         [](const TempDir& d) { EXPECT_EQ(ReadFileBytes(d.sub("out/a.html")), "new"); }},
        {"empty entry gives an empty file",
         [] {
             return BuildPackage({{"z.db", ""}});
         },
         nullptr, false, TRUE,
         [](const TempDir& d) {
             ASSERT_TRUE(fs::exists(d.sub("out/z.db")));
             EXPECT_EQ(fs::file_size(d.sub("out/z.db")), 0u);
         }},
        {"folder without trailing separator",
         [] {
             return BuildPackage({{"a.html", "x"}});
         },
         nullptr, true, TRUE,
         [](const TempDir& d) {
             EXPECT_EQ(ReadFileBytes(d.sub("outa.html")), "x");
             EXPECT_TRUE(ListFolder(d.sub("out")).empty());
         }},
    };
    for (const UnpackCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        fs::create_directory(dir.sub("out"));
        if (c.prepare)
            c.prepare(dir);
        std::string pkg = c.package();
        CString folder = (dir.win() + "out" + (c.folderWithoutSeparator ? "" : "\\")).c_str();
        CPackUnpacker unpacker;
        EXPECT_EQ(unpacker.Unpack(Bytes(pkg), static_cast<DWORD>(pkg.size()), folder), c.expected);
        c.check(dir);
    }
}

// Damaged packages and unsafe names: the whole package is refused and nothing is written, not
// even the well-formed entries that come first.
TEST(PackUnpacker, DamagedPackagesWriteNothing) {
    const std::vector<Entry> good = {{"first.html", "0123456789"}, {"second.css", "abc"}};
    struct Damage {
        const char* label;
        std::function<std::string()> make;
        bool nameOnly = false;
    };
    auto withName = [good](const std::string& name) {
        std::vector<Entry> v = good;
        v.push_back({name, "evil"});
        return BuildPackage(v);
    };
    const std::vector<Damage> damages = {
        {"empty", [] { return std::string(); }},
        {"shorter than the trailer", [good] { return BuildPackage(good).substr(0, 11); }},
        {"trailer of another package's tail",
         [good] {
             std::string p = BuildPackage(good);
             return p.substr(p.size() - 20);
         }},
        {"directory past the end",
         [good] {
             std::string p = BuildPackage(good);
             SetU32(p, p.size() - 12, static_cast<uint32_t>(p.size()));
             return p;
         }},
        {"directory offset wraps 32 bits",
         [good] {
             std::string p = BuildPackage(good);
             SetU32(p, p.size() - 12, 0xFFFFFF00u);
             return p;
         }},
        {"entry past the end",
         [good] {
             std::string p = BuildPackage(good);
             SetU32(p, RecordOffset(p, 1) + 260, static_cast<uint32_t>(p.size()));
             return p;
         }},
        {"entry offset plus size wraps 32 bits",
         [good] {
             std::string p = BuildPackage(good);
             SetU32(p, RecordOffset(p, 1) + 256, 0xFFFFFFF0u);
             SetU32(p, RecordOffset(p, 1) + 260, 0x20u);
             return p;
         }},
        {"name without a zero byte",
         [good] {
             std::string p = BuildPackage(good);
             for (size_t i = 0; i < 256; ++i)
                 p[RecordOffset(p, 1) + i] = 'n';
             return p;
         }},
        {"parent folder", [withName] { return withName("..\\evil.html"); }, true},
        {"dot dot alone", [withName] { return withName(".."); }, true},
        {"folder part with backslash", [withName] { return withName("sub\\evil.html"); }, true},
        {"folder part with slash", [withName] { return withName("../evil.html"); }, true},
        {"drive", [withName] { return withName("c:evil.html"); }, true},
        {"wildcard", [withName] { return withName("a*b.html"); }, true},
        {"control character", [withName] { return withName("a\x01z.html"); }, true},
        {"empty name", [withName] { return withName(""); }, true},
        {"cut double-byte character", [withName] { return withName("a\xD5"); }, true},
        {"lead byte swallowing a slash", [withName] { return withName("\x81/evil.html"); }, true},
        {"byte outside the code page", [withName] { return withName("\xFF.html"); }, true},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.label);
        TempDir dir;
        fs::create_directory(dir.sub("out"));
        fs::create_directory(dir.sub("out/sub"));
        std::string pkg = d.make();
        std::string padded = pkg + std::string(2, '\0'); // the reader's padding, never part of the package
        CPackUnpacker unpacker;
        EXPECT_FALSE(
            unpacker.Unpack(Bytes(padded), static_cast<DWORD>(pkg.size()), (dir.win() + "out\\").c_str()));
        EXPECT_EQ(ListFolder(dir.sub("out")), std::vector<std::string>{"sub"});
        EXPECT_TRUE(ListFolder(dir.sub("out/sub")).empty());
        EXPECT_FALSE(fs::exists(dir.sub("evil.html")));
        // Geometry faults fail the directory read itself; unsafe names pass it and fail later.
        std::vector<PackDirEntry> entries;
        EXPECT_EQ(PackReadDirectory(Bytes(padded), static_cast<DWORD>(pkg.size()), entries),
                  d.nameOnly ? TRUE : FALSE);
    }
}

// A GBK name whose trail byte is 0x5C is one character, not a folder separator.
TEST(PackUnpacker, GbkNameWithBackslashTrailByteIsWritten) {
    TempDir dir;
    const std::string name = "\xD5\x5C.html"; // one GBK character, then the extension
    std::string pkg = BuildPackage({{name, "gbk"}});
    CPackUnpacker unpacker;
    ASSERT_TRUE(unpacker.Unpack(Bytes(pkg), static_cast<DWORD>(pkg.size()), dir.win().c_str()));
    std::string utf8 = AfxAnsiToUtf8(name);
    EXPECT_EQ(ReadFileBytes(dir.sub(utf8)), "gbk");
}

TEST(PackUnpacker, UnpackFileReadsThePackageFromDisk) {
    TempDir dir;
    fs::create_directory(dir.sub("out"));
    WriteFileBytes(dir.sub("skin.pak"),
                   BuildPackage({{"WinSkin3.xml", "<skin/>"}, {"bg.png", std::string(3000, '\x89')}}));
    CPackUnpacker unpacker;
    EXPECT_TRUE(unpacker.UnpackFile((dir.win() + "skin.pak").c_str(), (dir.win() + "out\\").c_str()));
    EXPECT_EQ(ReadFileBytes(dir.sub("out/WinSkin3.xml")), "<skin/>");
    EXPECT_EQ(ReadFileBytes(dir.sub("out/bg.png")), std::string(3000, '\x89'));
    EXPECT_FALSE(unpacker.UnpackFile((dir.win() + "missing.pak").c_str(), (dir.win() + "out\\").c_str()));
}

// A write that the device refuses (here at the final flush) is a failed write, not a success.
TEST(PackUnpacker, ShortWriteOrFailedCloseFails) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::string data(100000, 'q');
    CPackUnpacker unpacker;
    EXPECT_FALSE(unpacker.WriteEntry("\\dev\\full", Bytes(data), 0, static_cast<DWORD>(data.size())));
    EXPECT_FALSE(unpacker.WriteEntry("\\dev\\full", Bytes(data), 0, 10));
}

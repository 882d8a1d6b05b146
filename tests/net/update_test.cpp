// The update check against the replacement store: update.xml, component files made by the
// package writer, the Update and ExeFiles folders and Version.ini, all real.
#include "net/UpdateCheck.h"

#include "foundation/AppPathInfo.h"
#include "foundation/CommonFunc.h"
#include "net/DownLoadManager.h"

#include "tests/net/StorePeer.h"
#include "tests/support/Components.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace components;

namespace {

// A package as the format lays it out, names taken as given (the package writer refuses bad ones).
std::string RawPackage(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string body, dir;
    for (auto& [name, data] : entries) {
        std::string rec(264, '\0');
        rec.replace(0, name.size(), name);
        uint32_t off = static_cast<uint32_t>(body.size()), size = static_cast<uint32_t>(data.size());
        std::memcpy(&rec[256], &off, 4);
        std::memcpy(&rec[260], &size, 4);
        dir += rec;
        body += data;
    }
    uint32_t trailer[3] = {static_cast<uint32_t>(body.size()), static_cast<uint32_t>(dir.size()),
                           static_cast<uint32_t>(entries.size())};
    return body + dir + std::string(reinterpret_cast<const char*>(trailer), 12);
}

// The same program for another processor.
std::string ForeignProgram() {
    std::string p = Program();
    p[18] = static_cast<char>(p[18] == 0x28 ? 0x3E : 0x28); // e_machine: x86-64 and ARM swap
    p[19] = 0;
    return p;
}

class Updates : public WithStore<> {
protected:
    void SetUp() override {
        setenv("KESTRIN_STORE", Base().c_str(), 1);
        // A parameterized test's name holds "/": one folder per test, not a folder in a folder.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        m_dir = fs::temp_directory_path() / ("upd_" + std::to_string(getpid()) + "_" + name);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "ExeFiles");
        fs::create_directories(m_dir / "Update");
        fs::create_directories(m_dir / "src");
        m_savedExe = g_AppPathInfo.m_strExeFilesDir;
        m_savedUpdate = g_AppPathInfo.m_strUpdateDir;
        g_AppPathInfo.m_strExeFilesDir = WinPath(m_dir / "ExeFiles");
        g_AppPathInfo.m_strUpdateDir = WinPath(m_dir / "Update");
        Curl("/_control/reset");
        g_DownLoadManager.Reopen();
    }
    void TearDown() override {
        Curl("/_control/release?all=1");
        g_AppPathInfo.m_strExeFilesDir = m_savedExe;
        g_AppPathInfo.m_strUpdateDir = m_savedUpdate;
        fs::remove_all(m_dir);
    }
    static std::string Curl(const std::string& pathAndQuery, const fs::path& post = fs::path()) {
        std::string cmd = "curl -s ";
        if (!post.empty())
            cmd += "--data-binary @'" + post.string() + "' ";
        cmd += "'" + Base() + pathAndQuery + "'";
        return RunCommand(cmd);
    }
    // A component package made by the package writer from the given files; served as /files/NAME.
    void ServePackage(const std::string& name, const std::map<std::string, std::string>& files) {
        fs::path folder = m_dir / "src" / name;
        fs::create_directories(folder);
        for (auto& [file, data] : files)
            WriteFileBytes(folder / file, data);
        fs::path pak = m_dir / "src" / (name + ".pak");
        ASSERT_EQ(0, std::system(("python3 '" + std::string(PROJECT_SOURCE_DIR) +
                                  "/tools/packwriter/kestrin_pack.py' pack '" + folder.string() + "' -o '" +
                                  pak.string() + "'")
                                     .c_str()));
        Curl("/_control/file?name=" + name, pak);
    }
    void ServeBytes(const std::string& name, const std::string& data) {
        fs::path f = m_dir / "src" / (name + ".bin");
        WriteFileBytes(f, data);
        Curl("/_control/file?name=" + name, f);
    }
    void SetManifest(const std::string& files) {
        fs::path f = m_dir / "src" / "update.xml";
        WriteFileBytes(f,
                       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<files>\r\n" + files + "</files>\r\n");
        Curl("/_control/manifest", f);
    }
    std::string Entry(const std::string& name, const std::string& type, const std::string& version,
                      const std::string& file) {
        return "<file file_name=\"" + name + "\" file_type=\"" + type + "\" version=\"" + version +
               "\" url=\"" + Base() + "/files/" + file + "\" mode=\"0\"/>\r\n";
    }
    static int Version(const char* name) { return g_CommonFunc.GetComponentVersion(name); }
    fs::path Exe(const std::string& rel) const { return m_dir / "ExeFiles" / rel; }
    // The entries of the ExeFiles folder, Version.ini aside.
    std::vector<std::string> Installed() const {
        std::vector<std::string> out;
        for (auto& e : fs::recursive_directory_iterator(m_dir / "ExeFiles"))
            if (e.path().filename() != "Version.ini")
                out.push_back(fs::relative(e.path(), m_dir / "ExeFiles").string());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path m_dir;
    CString m_savedExe, m_savedUpdate;
};

TEST_F(Updates, OnlyNewerComponentsAreInstalledAndRecorded) {
    g_CommonFunc.SetComponentVersion("skin", 5);
    g_CommonFunc.SetComponentVersion("data", 8);
    g_CommonFunc.SetComponentVersion("kestrin.exe", 3);
    ServePackage("skin.7", WholeSkin({{"back.bmp", std::string(3000, '\x42')}}));
    ServePackage("data.8", WholePages());
    ServeBytes("kestrin.exe.2", Program());
    ServeBytes("read.swf.4", Fws("reader movie"));
    SetManifest(Entry("skin", "1", "7", "skin.7") + Entry("data", "1", "8", "data.8") +
                Entry("kestrin.exe", "0", "2", "kestrin.exe.2") + Entry("read.swf", "0", "4", "read.swf.4") +
                // Names of no component of the program are not updates at all.
                Entry("evil", "0", "99", "read.swf.4") + Entry("..\\..\\x", "0", "99", "read.swf.4"));
    UpdateThreadProc(nullptr);

    EXPECT_EQ(7, Version("skin"));
    EXPECT_EQ(8, Version("data"));
    EXPECT_EQ(3, Version("kestrin.exe"));
    EXPECT_EQ(4, Version("read.swf"));
    EXPECT_EQ(0, Version("evil"));
    std::vector<std::string> want = {"4", "4/read.swf", "skin_7"};
    for (auto& [file, data] : WholeSkin({{"back.bmp", ""}}))
        want.push_back("skin_7/" + file);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, Installed());
    EXPECT_EQ("<items name=\"WinSkin3.xml\"/>", ReadFileBytes(Exe("skin_7/WinSkin3.xml")));
    EXPECT_EQ(std::string(3000, '\x42'), ReadFileBytes(Exe("skin_7/back.bmp")));
    EXPECT_EQ(Fws("reader movie"), ReadFileBytes(Exe("4/read.swf")));
    // The folders the program looks in are the new ones.
    EXPECT_EQ(g_AppPathInfo.m_strExeFilesDir + "\\skin_7\\", g_AppPathInfo.GetSkinDir());
    EXPECT_TRUE(g_CommonFunc.FileExists(g_AppPathInfo.GetReadSwfPath()));
    // Only the newer two were fetched; the downloads stay in the Update folder.
    std::string log = Curl("/_control/log");
    EXPECT_NE(std::string::npos, log.find("GET /touch/update.xml "));
    EXPECT_NE(std::string::npos, log.find("GET /files/skin.7 "));
    EXPECT_NE(std::string::npos, log.find("GET /files/read.swf.4 "));
    EXPECT_EQ(std::string::npos, log.find("GET /files/data.8"));
    EXPECT_EQ(std::string::npos, log.find("GET /files/kestrin.exe.2"));
    EXPECT_EQ(log.find("GET /files/read.swf.4"), log.rfind("GET /files/read.swf.4"));
    EXPECT_TRUE(fs::exists(m_dir / "Update" / "skin.7"));
    EXPECT_TRUE(fs::exists(m_dir / "Update" / "read.swf.4"));

    // A second pass finds nothing newer and fetches nothing but the manifest.
    Curl("/_control/reset");
    SetManifest(Entry("skin", "1", "7", "skin.7") + Entry("read.swf", "0", "4", "read.swf.4"));
    UpdateThreadProc(nullptr);
    EXPECT_EQ(std::string::npos, Curl("/_control/log").find("GET /files/"));
}

TEST_F(Updates, ManifestEntries) {
    CUpdateInfoList list;
    EXPECT_TRUE(
        ParseUpdateXml("<files><file file_name=\"skin\" file_type=\"1\" version=\"12abc\" url=\"u1\" "
                       "mode=\"m\"/><other/><file file_name=\"data\" version=\"x\"/>"
                       "<file file_name=\"read.swf\" version=\"-3\"/><file file_name=\"SKIN\" "
                       "version=\"5\"/><file file_name=\"kestrin.exe\" version=\"99999999999\"/></files>",
                       list));
    ASSERT_EQ(4, list.GetSize());
    EXPECT_EQ(CString("skin"), list[0]->file_name);
    EXPECT_EQ(CString("1"), list[0]->file_type);
    EXPECT_EQ(12, list[0]->version);
    EXPECT_EQ(CString("u1"), list[0]->url);
    EXPECT_EQ(CString("m"), list[0]->mode);
    EXPECT_EQ(UPDATE_STATE_LISTED, list[0]->state);
    EXPECT_EQ(0, list[1]->version);
    EXPECT_EQ(0, list[2]->version);
    EXPECT_EQ(INT_MAX, list[3]->version);
    FreeUpdates(list);
    EXPECT_FALSE(ParseUpdateXml("<api><file file_name=\"skin\" version=\"1\"/></api>", list));
    EXPECT_FALSE(ParseUpdateXml("<files></files>", list));
    EXPECT_FALSE(ParseUpdateXml("<files><file file_name=\"other\" version=\"1\"/></files>", list));
    EXPECT_FALSE(ParseUpdateXml("", list));
    EXPECT_EQ(0, list.GetSize());
}

struct CutCase {
    const char* name;
    const char* query; // on the second entry's address
    int attempts;      // requests made for it
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class CutUpdates : public Updates, public ::testing::WithParamInterface<CutCase> {};

TEST_P(CutUpdates, NothingIsInstalled) {
    const CutCase& c = GetParam();
    g_CommonFunc.SetComponentVersion("skin", 1);
    ServePackage("skin.2", {{"a.txt", "skin two"}});
    ServePackage("data.3", {{"b.txt", std::string(200000, 'd')}});
    ServeBytes("read.swf.4", "FWS");
    SetManifest(Entry("skin", "1", "2", "skin.2") + Entry("data", "1", "3", std::string("data.3") + c.query) +
                Entry("read.swf", "0", "4", "read.swf.4"));
    UpdateThreadProc(nullptr);
    std::string log = Curl("/_control/log");
    size_t tries = 0;
    for (size_t p = log.find("GET /files/data.3"); p != std::string::npos;
         p = log.find("GET /files/data.3", p + 1))
        ++tries;
    EXPECT_EQ(static_cast<size_t>(c.attempts), tries);
    // The first was downloaded, the third never tried, and none installed.
    EXPECT_NE(std::string::npos, log.find("GET /files/skin.2"));
    EXPECT_EQ(std::string::npos, log.find("GET /files/read.swf.4"));
    EXPECT_TRUE(Installed().empty());
    EXPECT_EQ(1, Version("skin"));
    EXPECT_EQ(0, Version("data"));
    EXPECT_EQ(0, Version("read.swf"));
}

INSTANTIATE_TEST_SUITE_P(Downloads, CutUpdates,
                         ::testing::Values(CutCase{"CutWithItsLength", "?cut=100000", UPDATE_MAX_ATTEMPTS},
                                           CutCase{"CutWithoutALength", "?cut=100000&nolength=1",
                                                   UPDATE_MAX_ATTEMPTS},
                                           CutCase{"NoLengthAtAll", "?nolength=1", UPDATE_MAX_ATTEMPTS},
                                           CutCase{"Chunked", "?chunked=1", UPDATE_MAX_ATTEMPTS},
                                           CutCase{"Missing", "?status=404", UPDATE_MAX_ATTEMPTS}));

TEST_F(Updates, ADownloadCutOnceIsTriedAgainAndInstalled) {
    ServePackage("data.3", WholePages({{"b.txt", std::string(200000, 'd')}}));
    SetManifest(Entry("data", "1", "3", "data.3"));
    Curl("/_control/fault?path=/files/data.3&cut=70000&count=2");
    UpdateThreadProc(nullptr);
    EXPECT_EQ(3, Version("data"));
    EXPECT_EQ(std::string(200000, 'd'), ReadFileBytes(Exe("data_3/b.txt")));
}

TEST_F(Updates, APackageIsInstalledOnlyWhenItChecksOut) {
    ServeBytes("skin.7", "not a package at all");
    fs::create_directories(m_dir / "outside");
    auto pages = WholePages({{"..\\..\\outside\\evil.txt", "bad"}});
    ServeBytes("data.9",
               RawPackage(std::vector<std::pair<std::string, std::string>>(pages.begin(), pages.end())));
    ServeBytes("read.swf.4", Fws(""));
    SetManifest(Entry("skin", "1", "7", "skin.7") + Entry("data", "1", "9", "data.9") +
                Entry("read.swf", "0", "4", "read.swf.4"));
    UpdateThreadProc(nullptr);
    EXPECT_EQ(0, Version("skin"));
    EXPECT_EQ(0, Version("data"));
    // The other entries are still installed.
    EXPECT_EQ(4, Version("read.swf"));
    std::vector<std::string> want = {"4", "4/read.swf"};
    EXPECT_EQ(want, Installed());
    EXPECT_TRUE(fs::is_empty(m_dir / "outside"));
}

TEST_F(Updates, AComponentOfTheWrongKindOrAnUnknownKindInstallsNothing) {
    ServeBytes("skin.7", "a plain file named skin");
    ServeBytes("read.swf.4", Fws(""));
    SetManifest(Entry("skin", "0", "7", "skin.7") + Entry("read.swf", "2", "4", "read.swf.4"));
    UpdateThreadProc(nullptr);
    EXPECT_EQ(0, Version("skin"));
    EXPECT_EQ(0, Version("read.swf"));
    EXPECT_TRUE(Installed().empty());
    // Both were downloaded all the same, and what did not install is not kept.
    std::string log = Curl("/_control/log");
    EXPECT_NE(std::string::npos, log.find("GET /files/skin.7"));
    EXPECT_NE(std::string::npos, log.find("GET /files/read.swf.4"));
    EXPECT_TRUE(fs::is_empty(m_dir / "Update"));
}

TEST_F(Updates, ARecordedVersionIsNeverLowered) {
    g_CommonFunc.SetComponentVersion("skin", 5);
    ServePackage("skin.7", WholeSkin());
    ServeBytes("kestrin.exe.6", Program());
    SetManifest(Entry("skin", "1", "7", "skin.7") + Entry("kestrin.exe", "0", "6", "kestrin.exe.6"));
    CUpdateInfoList list;
    ASSERT_TRUE(ParseUpdateXml(GetUpdateXml(), list));
    ASSERT_TRUE(SelectUpdates(list));
    ASSERT_TRUE(DownloadUpdates(list));
    for (CUpdateInfo* info : list)
        EXPECT_EQ(UPDATE_STATE_DOWNLOADED, info->state) << info->file_name;
    // Meanwhile another writer (the first start's copy) records newer builds.
    g_CommonFunc.SetComponentVersion("skin", 9);
    g_CommonFunc.SetComponentVersion("kestrin.exe", 8);
    // A program copy of that version is already in place from an earlier run: it is kept.
    fs::create_directories(Exe("6"));
    WriteFileBytes(Exe("6/kestrin.exe"), "#!/bin/sh\nexit 0\n");
    chmod(Exe("6/kestrin.exe").c_str(), 0755);
    EXPECT_TRUE(InstallUpdates(list));
    FreeUpdates(list);
    EXPECT_EQ(9, Version("skin"));
    EXPECT_EQ(8, Version("kestrin.exe"));
    EXPECT_EQ("#!/bin/sh\nexit 0\n", ReadFileBytes(Exe("6/kestrin.exe")));

    RecordComponentVersion("data", 4);
    RecordComponentVersion("data", 3);
    EXPECT_EQ(4, Version("data"));
}

TEST_F(Updates, AFirstStartRecordsAPlainComponentAlreadyInPlace) {
    ServeBytes("kestrin.exe.6", Program());
    SetManifest(Entry("kestrin.exe", "0", "6", "kestrin.exe.6"));
    fs::create_directories(Exe("6"));
    WriteFileBytes(Exe("6/kestrin.exe"), "#!/bin/sh\nexit 0\n");
    chmod(Exe("6/kestrin.exe").c_str(), 0755);
    UpdateThreadProc(nullptr);
    EXPECT_EQ(6, Version("kestrin.exe"));
    EXPECT_EQ("#!/bin/sh\nexit 0\n", ReadFileBytes(Exe("6/kestrin.exe")));
}

TEST_F(Updates, NoManifestChangesNothing) {
    for (const char* fault : {"status=404", "cut=10"}) {
        Curl("/_control/reset");
        Curl(std::string("/_control/fault?path=/touch/update.xml&count=1&") + fault);
        ServeBytes("read.swf.4", "FWS");
        SetManifest(Entry("read.swf", "0", "4", "read.swf.4"));
        UpdateThreadProc(nullptr);
        EXPECT_EQ(0, Version("read.swf")) << fault;
        EXPECT_EQ(std::string::npos, Curl("/_control/log").find("GET /files/")) << fault;
    }
}

TEST_F(Updates, ExitStopsTheUpdateAndWaitsForIt) {
    ServePackage("data.3", WholePages({{"b.txt", std::string(300000, 'd')}}));
    SetManifest(Entry("data", "1", "3", "data.3?gate=upd"));
    EXPECT_TRUE(StartUpdateThread());
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Curl("/_control/log").find("GET /files/data.3") == std::string::npos &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(1, g_DownLoadManager.GetWorkerCount());
    EXPECT_TRUE(g_DownLoadManager.Shutdown(60000));
    EXPECT_EQ(0, g_DownLoadManager.GetWorkerCount());
    EXPECT_EQ(0, Version("data"));
    EXPECT_TRUE(Installed().empty());
    // A stopped update tries no more.
    std::string log = Curl("/_control/log");
    EXPECT_EQ(log.find("GET /files/data.3"), log.rfind("GET /files/data.3"));
    // And none starts once the program is on its way out.
    EXPECT_TRUE(StartUpdateThread());
    EXPECT_EQ(0, g_DownLoadManager.GetWorkerCount());
    g_DownLoadManager.Reopen();
}

// A component that is not whole for its kind is neither installed nor recorded, and its download
// does not stay: the program would otherwise look for it there from the next start on.
struct BadComponent {
    const char* name;
    const char* component;
    const char* type;
    std::function<std::string()> bytes;                        // served as the download, or
    std::function<std::map<std::string, std::string>()> files; // packed by the package writer
};

void PrintTo(const BadComponent& c, std::ostream* os) {
    *os << c.name;
}

class BadComponents : public Updates, public ::testing::WithParamInterface<BadComponent> {};

TEST_P(BadComponents, AreNotInstalledRecordedOrKept) {
    const BadComponent& c = GetParam();
    const std::string file = std::string(c.component) + ".9";
    if (c.files)
        ServePackage(file, c.files());
    else
        ServeBytes(file, c.bytes());
    SetManifest(Entry(c.component, c.type, "9", file));
    UpdateThreadProc(nullptr);
    EXPECT_NE(std::string::npos, Curl("/_control/log").find("GET /files/" + file)) << "it was fetched";
    EXPECT_EQ(0, Version(c.component));
    EXPECT_TRUE(Installed().empty()) << Installed().front();
    EXPECT_TRUE(fs::is_empty(m_dir / "Update"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadComponents,
    ::testing::Values(BadComponent{"PagesWithoutThePages", "data", "1", nullptr,
                                   [] {
                                       return std::map<std::string, std::string>{{"x.txt", "x"}};
                                   }},
                      BadComponent{"PagesWithoutTheSettingsPage", "data", "1", nullptr,
                                   [] {
                                       auto f = WholePages();
                                       f.erase("Setting.html");
                                       return f;
                                   }},
                      BadComponent{"PagesWithAnEmptyShelf", "data", "1", nullptr,
                                   [] {
                                       auto f = WholePages();
                                       f["Bookshelf2.html"] = "";
                                       return f;
                                   }},
                      BadComponent{"SkinWithoutTheMainWindowsSkin", "skin", "1", nullptr,
                                   [] {
                                       auto f = WholeSkin();
                                       f.erase("WinSkin3.xml");
                                       return f;
                                   }},
                      BadComponent{"MovieOfSevenGarbageBytes", "read.swf", "0",
                                   [] { return std::string("garbage"); }, nullptr},
                      BadComponent{"MovieShorterThanItsHeaderSays", "read.swf", "0",
                                   [] { return Fws("pages", 100); }, nullptr},
                      BadComponent{"CompressedMovieCutShort", "read.swf", "0",
                                   [] { return Cws(std::string(5000, 'm') + "end", 4); }, nullptr},
                      BadComponent{"ProgramThatIsText", "kestrin.exe", "0",
                                   [] { return std::string("MZ not a program"); }, nullptr},
                      BadComponent{"ProgramForAnotherProcessor", "kestrin.exe", "0",
                                   [] { return ForeignProgram(); }, nullptr},
                      BadComponent{"ProgramCutShort", "kestrin.exe", "0",
                                   [] { return Program().substr(0, 100); }, nullptr}));

TEST_F(Updates, WholeComponentsAreInstalledExecutableAndInPlaceOfAnEarlierFolder) {
    // A folder of that version from an earlier attempt, and a movie compressed as the build's is.
    fs::create_directories(Exe("data_9"));
    WriteFileBytes(Exe("data_9/x.txt"), "left over");
    ServePackage("data.9", WholePages({{"shelf.css", "a {}"}}));
    const std::string movie = Cws(std::string(5000, 'm') + "end");
    ServeBytes("read.swf.9", movie);
    ServeBytes("kestrin.exe.9", Program());
    SetManifest(Entry("data", "1", "9", "data.9") + Entry("read.swf", "0", "9", "read.swf.9") +
                Entry("kestrin.exe", "0", "9", "kestrin.exe.9"));
    UpdateThreadProc(nullptr);
    for (const char* c : {"data", "read.swf", "kestrin.exe"})
        EXPECT_EQ(9, Version(c)) << c;
    std::vector<std::string> want = {"9", "9/kestrin.exe", "9/read.swf", "data_9"};
    for (auto& [file, data] : WholePages({{"shelf.css", ""}}))
        want.push_back("data_9/" + file);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, Installed()) << "nothing of the earlier folder, no temporary name";
    EXPECT_EQ(movie, ReadFileBytes(Exe("9/read.swf")));
    EXPECT_EQ(Program(), ReadFileBytes(Exe("9/kestrin.exe")));
    EXPECT_EQ(0, access(Exe("9/kestrin.exe").c_str(), X_OK)) << "the copy can be started";
    EXPECT_TRUE(IsComponentWhole("kestrin.exe", WinPath(Exe("9/kestrin.exe"))));
    EXPECT_TRUE(IsComponentWhole("data", g_AppPathInfo.GetPageDir()));
    EXPECT_TRUE(IsComponentWhole("read.swf", g_AppPathInfo.GetReadSwfPath()));
}

} // namespace

#include "platform/kernel/Kernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class KernelProfile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kernel_profile_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_ini = AfxUnmapPath(m_dir) + "\\Version.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void Put(const std::string& data) { std::ofstream(m_dir + "/Version.ini", std::ios::binary) << data; }
    std::string Get() {
        std::ifstream f(m_dir + "/Version.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    std::string Read(const char* section, const char* key, const char* def = "dflt", DWORD size = 100) {
        std::vector<char> buf(size + 1, '#');
        DWORD n = GetPrivateProfileStringA(section, key, def, buf.data(), size, m_ini.c_str());
        EXPECT_EQ(n, std::strlen(buf.data()));
        return buf.data();
    }
    std::string m_dir, m_ini;
};

TEST_F(KernelProfile, MissingFileSectionOrKeyGivesDefault) {
    EXPECT_EQ(Read("Version", "skin"), "dflt");
    EXPECT_EQ(Read("Version", "skin", nullptr), "");
    EXPECT_EQ(GetPrivateProfileIntA("Version", "skin", 7, m_ini.c_str()), 7u);
    Put("[Other]\r\nskin=1\r\n[Version]\r\ndata=3\r\n");
    EXPECT_EQ(Read("Version", "skin"), "dflt");
    EXPECT_EQ(Read("Nothing", "data"), "dflt");
    EXPECT_EQ(Read("Version", "data"), "3");
    EXPECT_EQ(GetPrivateProfileIntA("Version", "data", 7, m_ini.c_str()), 3u);
}

TEST_F(KernelProfile, ValuesAreTrimmedAndUnquoted) {
    Put("[S]\n"
        "plain=abc\n"
        "  spaced  =   two words  \t\n"
        "dq=\"  quoted  \"\n"
        "sq='single'\n"
        "half=\"open\n"
        "empty=\n"
        "eq=a=b\n"
        "mixed=\"a'\n"
        "int= -12xyz\n"
        "hex=0x1F\n"
        "word=abc\n");
    struct {
        const char* key;
        const char* value;
    } cases[] = {
        {"plain", "abc"},   {"spaced", "two words"}, {"dq", "  quoted  "}, {"sq", "single"},
        {"half", "\"open"}, {"empty", ""},           {"eq", "a=b"},        {"mixed", "\"a'"},
    };
    for (auto& c : cases)
        EXPECT_EQ(Read("S", c.key), c.value) << c.key;
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("S", "int", 5, m_ini.c_str())), -12);
    EXPECT_EQ(GetPrivateProfileIntA("S", "hex", 5, m_ini.c_str()), 31u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "word", 5, m_ini.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "empty", 5, m_ini.c_str()), 0u);
}

TEST_F(KernelProfile, NamesIgnoreCaseAndFirstOccurrenceWins) {
    Put("[version]\r\nKestrin.EXE=2005\r\nkestrin.exe=1\r\n[VERSION]\r\nskin=9\r\n");
    EXPECT_EQ(Read("Version", "kestrin.exe"), "2005");
    EXPECT_EQ(Read("VeRsIoN", "SKIN"), "9");
}

TEST_F(KernelProfile, ValueIsCutToTheBufferWithoutSplittingACharacter) {
    Put("[S]\r\nk=abcdef\r\ng=\xD6\xD0\xCE\xC4\xD6\xD0\r\n");
    EXPECT_EQ(Read("S", "k", "", 4), "abc");
    EXPECT_EQ(Read("S", "g", "", 4), "\xD6\xD0"); // 3 bytes of room hold one character and a half
    EXPECT_EQ(Read("S", "g", "", 5), "\xD6\xD0\xCE\xC4");
    char one[1] = {'x'};
    EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", one, 1, m_ini.c_str()), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(KernelProfile, FreshFileHasExactBytes) {
    ASSERT_TRUE(WritePrivateProfileStringA("Version", "skin", "2005", m_ini.c_str()));
    EXPECT_EQ(Get(), "[Version]\r\nskin=2005\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Version", "data", "3", m_ini.c_str()));
    EXPECT_EQ(Get(), "[Version]\r\nskin=2005\r\ndata=3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Log", "x", "1", m_ini.c_str()));
    EXPECT_EQ(Get(), "[Version]\r\nskin=2005\r\ndata=3\r\n[Log]\r\nx=1\r\n");
    EXPECT_EQ(Read("Version", "skin"), "2005");
}

TEST_F(KernelProfile, ReplacementInPlaceKeepsOtherLinesAndComments) {
    Put("; written by hand\n"
        "[Version]\n"
        "kestrin.exe = 2001\n"
        "; the skin\n"
        "SKIN=1\n"
        "\n"
        "[Other]\n"
        "a=b"); // no line end at the end of the file
    ASSERT_TRUE(WritePrivateProfileStringA("version", "skin", "2005", m_ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Version", "read.swf", "7", m_ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Other", "c", "d", m_ini.c_str()));
    EXPECT_EQ(Get(), "; written by hand\n"
                     "[Version]\n"
                     "kestrin.exe = 2001\n"
                     "; the skin\n"
                     "skin=2005\r\n"
                     "read.swf=7\r\n"
                     "\n"
                     "[Other]\n"
                     "a=b\r\n"
                     "c=d\r\n");
}

TEST_F(KernelProfile, NullValueDeletesKeyAndNullKeyDeletesSection) {
    Put("[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("A", "x", nullptr, m_ini.c_str()));
    EXPECT_EQ(Get(), "[A]\r\ny=2\r\n[B]\r\nz=3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("A", nullptr, nullptr, m_ini.c_str()));
    EXPECT_EQ(Get(), "[B]\r\nz=3\r\n");

    char list[64];
    Put("[A]\r\nx=1\r\ny=2\r\n[B]\r\n");
    DWORD n = GetPrivateProfileStringA("A", nullptr, "", list, sizeof list, m_ini.c_str());
    EXPECT_EQ(std::string(list, n + 1), std::string("x\0y\0\0", 5));
    n = GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, m_ini.c_str());
    EXPECT_EQ(std::string(list, n + 1), std::string("A\0B\0\0", 5));
}

TEST_F(KernelProfile, WriteFailsWhenTheFolderIsMissing) {
    std::string ini = AfxUnmapPath(m_dir) + "\\nofolder\\Version.ini";
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("Version", "skin", "1", ini.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(WritePrivateProfileStringA("Version", "skin", "1", "C:\\Version.ini"));
}

TEST_F(KernelProfile, ConcurrentWritersLoseNoKey) {
    constexpr int kThreads = 8, kRounds = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::string key = "key" + std::to_string(t);
            for (int i = 1; i <= kRounds; ++i) {
                std::string value = std::to_string(i);
                ASSERT_TRUE(WritePrivateProfileStringA("Version", key.c_str(), value.c_str(), m_ini.c_str()));
            }
        });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(Read("Version", ("key" + std::to_string(t)).c_str()), std::to_string(kRounds)) << t;
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

} // namespace

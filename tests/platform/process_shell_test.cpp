// Starting programs and handing files and addresses to the desktop's handler.
#include "platform/kernel/Process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string WinPath(std::string p) {
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

// Waits (bounded) for a file the started program writes when it is done.
std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream f(path);
        if (f) {
            std::stringstream ss;
            ss << f.rdbuf();
            std::string s = ss.str();
            if (s.size() >= 4 && s.compare(s.size() - 4, 4, "END\n") == 0)
                return s.substr(0, s.size() - 4);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "<timeout>";
}

class ShellExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/process_shell_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        // Writes its working folder and each argument on a line of its own.
        m_recorder = m_dir + "/recorder";
        std::ofstream(m_recorder)
            << "#!/bin/sh\nout=\"" << m_dir << "/out.txt\"\n"
            << "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo END; } >\"$out.tmp\"\n"
            << "mv \"$out.tmp\" \"$out\"\n";
        chmod(m_recorder.c_str(), 0755);
        AfxSetDesktopOpener(m_recorder.c_str());
    }
    void TearDown() override {
        AfxSetDesktopOpener(nullptr);
        std::system(("rm -rf " + m_dir).c_str());
    }
    static bool Ok(HINSTANCE h) { return reinterpret_cast<intptr_t>(h) > 32; }
    static intptr_t Code(HINSTANCE h) { return reinterpret_cast<intptr_t>(h); }

    std::string m_dir, m_recorder;
};

TEST_F(ShellExecuteTest, ExecutableStartsWithItsParametersSplitAsOnWindows) {
    HINSTANCE h =
        ShellExecuteA(nullptr, "open", WinPath(m_recorder).c_str(),
                      "-p \\home\\u\\a.exe \"two words\" x\\\"y", WinPath(m_dir).c_str(), SW_SHOWNORMAL);
    ASSERT_TRUE(Ok(h)) << Code(h);
    EXPECT_EQ(WaitForFile(m_dir + "/out.txt"), m_dir + "\n-p\n\\home\\u\\a.exe\ntwo words\nx\"y\n");
}

TEST_F(ShellExecuteTest, NoParametersAndANullVerbStillStart) {
    ASSERT_TRUE(
        Ok(ShellExecuteA(nullptr, nullptr, WinPath(m_recorder).c_str(), nullptr, nullptr, SW_SHOWNORMAL)));
    std::string out = WaitForFile(m_dir + "/out.txt");
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out; // the working folder alone
}

TEST_F(ShellExecuteTest, AddressesAndDocumentsGoToTheDesktopHandler) {
    ASSERT_TRUE(Ok(ShellExecuteA(nullptr, "open", "http://127.0.0.1:9/magazine/digi_subscription.php?a=1&b=2",
                                 nullptr, nullptr, SW_SHOWNORMAL)));
    std::string out = WaitForFile(m_dir + "/out.txt");
    EXPECT_NE(out.find("\nhttp://127.0.0.1:9/magazine/digi_subscription.php?a=1&b=2\n"), std::string::npos)
        << out;
    unlink((m_dir + "/out.txt").c_str());

    std::string doc = m_dir + "/Read Me.txt";
    std::ofstream(doc) << "x";
    ASSERT_TRUE(Ok(ShellExecuteA(nullptr, "open", WinPath(m_dir + "/read me.TXT").c_str(), nullptr, nullptr,
                                 SW_SHOWNORMAL)));
    out = WaitForFile(m_dir + "/out.txt");
    EXPECT_NE(out.find("\n" + doc + "\n"), std::string::npos) << out;
}

TEST_F(ShellExecuteTest, FileManagerSelectOpensTheFolderThatHoldsTheFile) {
    std::string file = m_dir + "/item.exe.temp";
    std::ofstream(file) << "x";
    // A GBK name whose character D5 5C ends in the byte of "\\": it is no separator.
    std::ofstream(m_dir + "/\xE8\xAA\xA0.temp") << "x";
    for (std::string params : {"/select," + WinPath(file), "/select,\"" + WinPath(file) + "\"",
                               "/select," + WinPath(m_dir) + "\\\xD5\x5C.temp"}) {
        ASSERT_TRUE(
            Ok(ShellExecuteA(nullptr, "open", "explorer.exe", params.c_str(), nullptr, SW_SHOWNORMAL)));
        std::string out = WaitForFile(m_dir + "/out.txt");
        EXPECT_NE(out.find("\n" + m_dir + "\n"), std::string::npos) << params << ": " << out;
        unlink((m_dir + "/out.txt").c_str());
    }
}

TEST_F(ShellExecuteTest, FailuresReportCodesAtOrBelow32) {
    struct Case {
        const char* verb;
        std::string file;
        intptr_t code;
    } cases[] = {
        {"open", WinPath(m_dir + "/missing.exe"), SE_ERR_FNF},
        {"open", "c:\\windows\\notepad.exe", SE_ERR_FNF},
        {"open", "", SE_ERR_FNF},
        {"TaskbarPin", WinPath(m_recorder), SE_ERR_NOASSOC},
        {"open", "explorer.exe", SE_ERR_FNF}, // no parameters: nothing to show
    };
    for (const Case& c : cases)
        EXPECT_EQ(Code(ShellExecuteA(nullptr, c.verb, c.file.c_str(), nullptr, nullptr, SW_SHOWNORMAL)),
                  c.code)
            << c.verb << " " << c.file;
    AfxSetDesktopOpener((m_dir + "/no-such-opener").c_str());
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "http://127.0.0.1/", nullptr, nullptr, SW_SHOWNORMAL)),
              SE_ERR_NOASSOC);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", WinPath(m_recorder).c_str(), nullptr,
                                 WinPath(m_dir + "/no-folder").c_str(), SW_SHOWNORMAL)),
              SE_ERR_PNF);
}

} // namespace

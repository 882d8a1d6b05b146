#include "platform/shell/FolderPicker.h"
#include "platform/shell/ShellApi.h"

#include "platform/kernel/Process.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace afxshell;

namespace {

const char kTitle[] = "\xD0\xDE\xB8\xC4\xBD\xD3\xCA\xD5\xC2\xB7\xBE\xB6"; // the program's title in GBK

class BrowseTest : public ::testing::Test {
protected:
    void SetUp() override { SetFolderPicker(&m_picker); }
    void TearDown() override { SetFolderPicker(nullptr); }

    // The program's way of asking: no owner, no root, a display-name buffer, an edit box.
    PIDLIST_ABSOLUTE Ask(char (&display)[MAX_PATH]) {
        BROWSEINFOA bi;
        std::memset(&bi, 0, sizeof bi);
        std::memset(display, 'X', MAX_PATH);
        bi.pszDisplayName = display;
        bi.lpszTitle = kTitle;
        bi.ulFlags = BIF_EDITBOX;
        return SHBrowseForFolderA(&bi);
    }

    HeadlessFolderPicker m_picker;
};

TEST_F(BrowseTest, ChosenFolderComesBackInWindowsFormWithItsName) {
    struct Case {
        const char* name;
        std::string answer; // Linux path, UTF-8
        std::string path;   // what SHGetPathFromIDListA gives, ANSI
        std::string display;
    };
    const Case cases[] = {
        {"plain", "/home/u/Magazines", "\\home\\u\\Magazines", "Magazines"},
        {"chinese name", "/home/u/\xE4\xB8\x8B\xE8\xBD\xBD", "\\home\\u\\\xCF\xC2\xD4\xD8",
         "\xCF\xC2\xD4\xD8"},
        {"trailing slash dropped", "/media/disk/", "\\media\\disk", "disk"},
        {"the root keeps its one separator", "/", "\\", "\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_picker.Script(c.answer);
        char display[MAX_PATH];
        PIDLIST_ABSOLUTE pidl = Ask(display);
        ASSERT_NE(pidl, nullptr);
        EXPECT_EQ(std::string(display), c.display);
        char path[MAX_PATH];
        std::memset(path, 'X', sizeof path);
        ASSERT_TRUE(SHGetPathFromIDListA(pidl, path));
        EXPECT_EQ(std::string(path), c.path);
        CoTaskMemFree(pidl);
    }
    auto questions = m_picker.Questions();
    ASSERT_EQ(questions.size(), std::size(cases));
    EXPECT_EQ(questions[0].title, kTitle);
    EXPECT_EQ(questions[0].flags, BIF_EDITBOX);
    EXPECT_EQ(questions[0].hOwner, nullptr);
}

TEST_F(BrowseTest, CancelOrNoPickerGivesNoList) {
    char display[MAX_PATH];
    m_picker.Script(std::nullopt);
    EXPECT_EQ(Ask(display), nullptr);
    EXPECT_EQ(Ask(display), nullptr); // no answer scripted: cancelled as well
    EXPECT_EQ(m_picker.Questions().size(), 2u);

    SetFolderPicker(nullptr);
    EXPECT_EQ(Ask(display), nullptr);
    EXPECT_EQ(m_picker.Questions().size(), 2u);
}

TEST_F(BrowseTest, FolderTheProgramCannotWriteDownIsRefusedNotGarbled) {
    struct Case {
        const char* name;
        std::string answer;
        std::string display;
    };
    const Case cases[] = {
        {"outside the ANSI code page", "/home/u/\xF0\x9F\x98\x80", ""},
        {"longer than MAX_PATH", "/home/" + std::string(300, 'd'), std::string(MAX_PATH - 1, 'd')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_picker.Script(c.answer);
        char display[MAX_PATH];
        PIDLIST_ABSOLUTE pidl = Ask(display);
        ASSERT_NE(pidl, nullptr);
        EXPECT_EQ(std::string(display), c.display);
        char path[MAX_PATH];
        std::memset(path, 'X', sizeof path);
        EXPECT_FALSE(SHGetPathFromIDListA(pidl, path));
        EXPECT_EQ(path[0], '\0');
        ILFree(pidl);
    }
    char path[MAX_PATH] = "X";
    EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
    EXPECT_EQ(path[0], '\0');
}

TEST(TaskbarVerbs, PinAndUnpinAreRecordedAndNothingElseHappens) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string shortcut = dir.sub("kestrin.lnk");
    WriteFileBytes(shortcut, "shortcut");
    std::string winShortcut = AfxUnmapPath(shortcut);
    size_t before = AfxTaskbarVerbRequests().size();

    auto code = [](HINSTANCE h) { return reinterpret_cast<intptr_t>(h); };
    EXPECT_GT(code(ShellExecuteA(nullptr, "TaskbarPin", winShortcut.c_str(), nullptr, nullptr, SW_HIDE)), 32);
    EXPECT_EQ(code(ShellExecuteA(nullptr, "TaskbarunPin", (dir.win() + "missing.lnk").c_str(), nullptr,
                                 nullptr, SW_HIDE)),
              SE_ERR_FNF);
    EXPECT_EQ(code(ShellExecuteA(nullptr, "print", winShortcut.c_str(), nullptr, nullptr, SW_HIDE)),
              SE_ERR_NOASSOC);

    auto requests = AfxTaskbarVerbRequests();
    ASSERT_EQ(requests.size(), before + 2);
    EXPECT_EQ(requests[before].verb, "TaskbarPin");
    EXPECT_EQ(requests[before].file, winShortcut);
    EXPECT_EQ(requests[before + 1].verb, "TaskbarunPin");
    EXPECT_EQ(requests[before + 1].file, dir.win() + "missing.lnk");
    EXPECT_EQ(ReadFileBytes(shortcut), "shortcut");
}

} // namespace

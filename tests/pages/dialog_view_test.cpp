// The login and settings dialogs and their views on the headless browser control: the modal run
// on their template with a new view each time, the login update and its close, the user mode,
// and the settings page's fill, folder checks and adapter requests.
#include "pages/LoginDlg.h"
#include "pages/SetDlg.h"
#include "platform/kernel/ShellFolders.h"
#include "platform/shell/FolderPicker.h"
#include "platform/shell/ShellApi.h"
#include "tests/pages/ViewsFixture.h"
#include "tests/support/ScopedEnv.h"

#include <filesystem>

namespace {

using viewtest::ViewsTest;
namespace fs = std::filesystem;

// Plays the page once the dialog has shown it: runs the test's steps inside the modal loop.
template <class Dlg> class PlayedDialog : public Dlg {
public:
    std::function<void(Dlg&)> play;
    HWND viewWindow = nullptr;
    BOOL OnInitDialog() override {
        Dlg::OnInitDialog();
        viewWindow = this->m_wndView.GetSafeHwnd();
        if (play)
            play(*this);
        return TRUE;
    }
};

class Dialogs : public ViewsTest {
protected:
    void SetUp() override {
        ViewsTest::SetUp();
        setenv("KESTRIN_STORE", "http://127.0.0.1:8099", 1);
        CLoginHtmlView login;
        DefinePage(login.GetLoginUrl(), {});
        DefinePage(login.GetPageUrl("Setting.html"), {"js_setFileVal", "SetCheck", "AddWIDI"});
        g_AppPathInfo.SetConfig("auto_start", "0");
        g_AppPathInfo.SetConfig("taskbar", "0");
    }
    void TearDown() override {
        unsetenv("KESTRIN_STORE");
        ViewsTest::TearDown();
    }
    CString Call(const char* method, std::vector<CString> args) {
        CString r;
        EXPECT_TRUE(fakes.back()->CallExternal(method, args, &r)) << method;
        return r;
    }
};

TEST_F(Dialogs, LoginPageAddressNamesTheStore) {
    CLoginHtmlView v;
    std::string url = v.GetLoginUrl().str();
    EXPECT_NE(url.find("login.html?store=http%3A%2F%2F127.0.0.1%3A8099"), std::string::npos) << url;
}

TEST_F(Dialogs, LoginOkUpdatesReportsAndEndsTheDialogEachRunWithANewView) {
    PlayedDialog<CLoginDlg> dlg;
    std::vector<std::string> results;
    dlg.play = [&](CLoginDlg&) {
        EXPECT_EQ(fakes.back()->LocationUrl(), CLoginHtmlView().GetLoginUrl());
        CString r;
        fakes.back()->CallExternal("C_LoginOK", {"42", "", "pw", "0", "0", "1"}, &r);
        results.push_back(r.str());
        fakes.back()->CallExternal("C_LoginOK", {"42", "name", "pw", "1", "7", "1"}, &r);
        results.push_back(r.str());
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(results, (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(g_UserInfo.userid, "42");
    EXPECT_TRUE(fs::exists(dir.sub("Data/user.xml")));
    EXPECT_EQ(Codes(), (std::vector<WPARAM>{EVT_USER_LOGIN}));
    HWND first = dlg.viewWindow;
    dlg.play = [&](CLoginDlg&) { fakes.back()->CallExternal("C_ExperienceRead", {""}); };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(fakes.size(), 2u) << "a second run makes a new view and browser";
    EXPECT_FALSE(::IsWindow(first));
}

TEST_F(Dialogs, LoginWithoutAMainWindowStillUpdatesAndCloses) {
    g_pMainDlg.Clear();
    PlayedDialog<CLoginDlg> dlg;
    dlg.play = [&](CLoginDlg&) { fakes.back()->CallExternal("C_LoginOK", {"42", "n", "pw", "", "", "0"}); };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(g_UserInfo.userid, "42");
    EXPECT_FALSE(fs::exists(dir.sub("Data/user.xml"))) << "autologin 0 saves nothing";
}

TEST_F(Dialogs, LoginModeCallsAndTheSavedMode) {
    PlayedDialog<CLoginDlg> dlg;
    std::vector<std::string> results;
    dlg.play = [&](CLoginDlg& d) {
        g_nUserMode = 1;
        CString r;
        fakes.back()->CallExternal("C_GetLoginMode", {""}, &r);
        results.push_back(r.str());
        results.push_back(std::to_string(g_nUserMode));
        fakes.back()->CallExternal("C_SetUserMode", {"enter"}, &r);
        results.push_back(r.str());
        fakes.back()->CallExternal("C_LoginOK", {"42", "n", "pw", "", "", "1"});
        // Enter is taken by the page, never by the dialog.
        d.OnOK();
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(results, (std::vector<std::string>{"0", "0", "1"}));
    EXPECT_EQ(g_nUserMode, 1);
    EXPECT_NE(ReadFileBytes(dir.sub("Data/user.xml")).find("<client_mode>1</client_mode>"),
              std::string::npos);
}

TEST_F(Dialogs, SettingsFillThePageWithOrWithoutAnAdapterList) {
    g_AppPathInfo.SetConfig("taskbar", "yes");
    CStringArray adapters;
    adapters.Add("TV");
    adapters.Add("Projector");
    for (CStringArray* list : {&adapters, static_cast<CStringArray*>(nullptr)}) {
        calls.clear();
        PlayedDialog<CSetDlg> dlg;
        dlg.SetWidiList(list);
        dlg.play = [&](CSetDlg&) {
            fakes.back()->CallExternal("C_SetConfig", {});
            fakes.back()->CallExternal("C_Close", {});
        };
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        // The page shows the folder as a Linux user writes it.
        std::vector<std::string> want = {"js_setFileVal(" + dir.sub("Down") + "/)", "SetCheck(0|0)"};
        if (list) {
            want.push_back("AddWIDI(TV)");
            want.push_back("AddWIDI(Projector)");
        }
        EXPECT_EQ(calls, want);
    }
}

TEST_F(Dialogs, SettingsStoreAWritableFolderWithItsSeparatorAndKeepTheOldOneOtherwise) {
    CSetHtmlView* view = Open<CSetHtmlView>("Setting.html");
    CString old = g_AppPathInfo.GetDownloadFolder();
    fs::create_directories(dir.sub("ro"));
    fs::permissions(dir.sub("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    const bool rootCanWrite = access(dir.sub("ro").c_str(), W_OK) == 0;
    // The page gives folders in the Linux form; the program keeps its own form, in config.xml too.
    ScopedEnv env;
    env.Set("HOME", dir.sub("home"));
    const std::string home = AfxUnmapPath(AfxGetHomeFolder()) + "\\";
    fs::create_directories(AfxGetHomeFolder() + "/KestrinDown");
    const struct {
        std::string folder, stored;
        bool taken;
    } cases[] = {
        {"", "", false},                                       // would be the current directory
        {"Down", "", false},                                   // relative: no folder of its own
        {dir.sub("ro"), dir.win() + "ro\\", rootCanWrite},     // not writable
        {dir.sub("New"), dir.win() + "New\\", true},           // made, no separator given
        {dir.sub("Other") + "/", dir.win() + "Other\\", true}, //
        {dir.win() + "Win\\", dir.win() + "Win\\", true},      // the program's form still reads
        {"~/KestrinDown", home + "KestrinDown\\", true},       // the home folder as in a shell
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        screen.ScriptMessageBoxAnswer(IDOK);
        size_t boxes = screen.MessageBoxes().size();
        EXPECT_EQ(Call("C_Settings", {"0", "0", CString(c.folder)}), "1");
        if (c.taken) {
            const std::string& want = c.stored;
            EXPECT_EQ(g_AppPathInfo.GetDownloadFolder().str(), want);
            EXPECT_EQ(g_AppPathInfo.GetConfig("down_save").str(), want);
            EXPECT_EQ(screen.MessageBoxes().size(), boxes);
        } else {
            EXPECT_EQ(g_AppPathInfo.GetDownloadFolder(), old) << "'" << c.folder << "'";
            ASSERT_EQ(screen.MessageBoxes().size(), boxes + 1);
            EXPECT_EQ(screen.MessageBoxes().back().caption, AfxUtf8ToAnsi("提示"));
        }
        old = g_AppPathInfo.GetDownloadFolder();
    }
    EXPECT_TRUE(fs::is_directory(dir.sub("New")));
    EXPECT_TRUE(AfxTaskbarVerbRequests().empty()) << "unchanged flags touch no shortcut";
    fs::permissions(dir.sub("ro"), fs::perms::owner_all);
    (void)view;
}

// The folder question opens on the folder the downloads go to now, and the page shows the
// chosen one in the Linux form.
TEST_F(Dialogs, BrowsingOpensOnTheDownloadFolderAndShowsTheChoiceAsALinuxPath) {
    afxshell::HeadlessFolderPicker picker;
    afxshell::IFolderPicker* previous = afxshell::SetFolderPicker(&picker);
    fs::create_directories(dir.sub("Down"));
    fs::create_directories(dir.sub("Picked"));
    g_AppPathInfo.SetDownloadFolder(CString(dir.win().c_str()) + "Down\\");
    Open<CSetHtmlView>("Setting.html");
    picker.Script(dir.sub("Picked"));
    calls.clear();
    EXPECT_EQ(Call("C_browseFile", {}), "1");
    ASSERT_EQ(picker.Questions().size(), 1u);
    EXPECT_EQ(picker.Questions()[0].start, dir.sub("Down"));
    EXPECT_EQ(calls, std::vector<std::string>{"js_setFileVal(" + dir.sub("Picked") + "/)"});
    afxshell::SetFolderPicker(previous);
}

TEST_F(Dialogs, AdapterRequestsGoToTheMainWindow) {
    std::vector<std::string> names;
    testwin::Recorder& r = rec;
    r.SetAnswer([&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m != WM_WIDI_CONNECT)
            return std::nullopt;
        names.push_back(reinterpret_cast<CString*>(l)->str());
        return 0;
    });
    CWnd owner;
    owner.Attach(main);
    PlayedDialog<CSetDlg> dlg;
    dlg.m_pParentWnd = &owner;
    dlg.play = [&](CSetDlg&) {
        fakes.back()->CallExternal("C_ConnectWIDI", {""});
        fakes.back()->CallExternal("C_ConnectWIDI", {"TV"});
        fakes.back()->CallExternal("C_DisconnectedWIDI", {});
        fakes.back()->CallExternal("C_Close", {});
    };
    dlg.DoModal();
    owner.Detach();
    EXPECT_EQ(names, (std::vector<std::string>{"TV", ""}));
}

} // namespace

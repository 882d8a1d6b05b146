// Dialogs from templates and their modal loops, message boxes, menus, icons and metrics.
#include "platform/kernel/CodePage.h"
#include "platform/kernel/Module.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/user/User.h"
#include "res/resource.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern const RESOURCE_TABLE g_userDialogTable;

namespace {

constexpr int kAsk = 300;
constexpr int kNoFont = 301;
constexpr int kMenu = 400;
constexpr UINT WM_TEST_WORKER = WM_USER + 5;
constexpr UINT WM_TEST_FINISH = WM_USER + 6;

HMODULE TestModule() {
    return AfxModuleFromResourceTable(&g_userDialogTable);
}

std::string Gbk(const char* utf8) {
    WCHAR w[256];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w, 256);
    char out[512];
    WideCharToMultiByte(CP_ACP, 0, w, n, out, sizeof out, nullptr, nullptr);
    return out;
}

RECT RectOf(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    return r;
}

// The dialog procedure of the tests: commands end the dialog with their id, WM_TEST_FINISH with
// its wParam; the dialog's handle is kept for the test.
struct AskState {
    HWND dlg = nullptr;
    std::vector<UINT> commands;
    std::function<void(HWND)> onInit;
};
AskState* g_ask = nullptr;

INT_PTR AskProc(HWND h, UINT m, WPARAM w, LPARAM) {
    switch (m) {
    case WM_INITDIALOG:
        g_ask->dlg = h;
        if (g_ask->onInit)
            g_ask->onInit(h);
        return TRUE;
    case WM_COMMAND:
        g_ask->commands.push_back(LOWORD(w));
        EndDialog(h, LOWORD(w));
        return TRUE;
    case WM_TEST_FINISH:
        EndDialog(h, static_cast<INT_PTR>(w));
        return TRUE;
    default:
        return FALSE;
    }
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        g_ask = &ask;
    }
    void TearDown() override {
        g_ask = nullptr;
        screen.SetPumping(true);
    }
    afxuser::CHeadlessScreen screen;
    AskState ask;
};

TEST_F(DialogTest, TemplatesAreLaidOutInDialogUnitsOfTheirFont) {
    HWND dlg = CreateDialogParamA(TestModule(), MAKEINTRESOURCEA(kAsk), nullptr, &AskProc, 0);
    ASSERT_NE(dlg, nullptr);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr) << "WM_GETFONT answers the template's font";
    LOGFONTA lf{};
    ASSERT_EQ(GetObjectA(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
    EXPECT_EQ(lf.lfHeight, -16) << "12 points at 96 dots per inch";
    EXPECT_STREQ(lf.lfFaceName, "Sans");

    // The base units are the font's average width and height.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm{};
    SIZE sz{};
    GetTextMetricsA(dc, &tm);
    GetTextExtentPoint32A(dc, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &sz);
    SelectObject(dc, old);
    DeleteDC(dc);
    int bx = (sz.cx / 26 + 1) / 2, by = tm.tmHeight;
    ASSERT_GT(bx, 3);
    auto px = [](int dlu, int base, int div) { return (dlu * base + div / 2) / div; };
    RECT r = RectOf(dlg);
    EXPECT_EQ(r.left, px(10, bx, 4));
    EXPECT_EQ(r.top, px(20, by, 8));
    // The template has a caption: the band drawn for it comes on top of the template's size.
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    ASSERT_GT(caption, 0);
    EXPECT_EQ(r.right - r.left, px(200, bx, 4));
    EXPECT_EQ(r.bottom - r.top, px(100, by, 8) + caption);
    RECT ok = RectOf(GetDlgItem(dlg, IDOK));
    EXPECT_EQ(ok.left - r.left, px(10, bx, 4));
    EXPECT_EQ(ok.top - r.top, px(70, by, 8) + caption);
    RECT mapped{10, 70, 60, 84};
    MapDialogRect(dlg, &mapped);
    EXPECT_EQ(mapped.right - mapped.left, ok.right - ok.left);
    EXPECT_EQ(SendMessageA(GetDlgItem(dlg, IDOK), WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
    EXPECT_EQ(GetDlgItem(dlg, 1006), nullptr) << "a control of an unknown class is left out";
    EXPECT_TRUE(IsWindowVisible(dlg)) << "WS_VISIBLE shows it after WM_INITDIALOG";
    EXPECT_EQ(GetClassLongA(dlg, GCL_STYLE) & CS_DBLCLKS, static_cast<DWORD>(CS_DBLCLKS));
    DestroyWindow(dlg);

    HWND plain = CreateDialogParamA(TestModule(), MAKEINTRESOURCEA(kNoFont), nullptr, &AskProc, 0);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(plain, WM_GETFONT, 0, 0)),
              GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_FALSE(IsWindowVisible(plain));
    DestroyWindow(plain);
}

TEST_F(DialogTest, EnterEscAndAClickEndTheModalLoop) {
    // Where the Apply button will be: the same template, made once without a loop.
    HWND probe = CreateDialogParamA(TestModule(), MAKEINTRESOURCEA(kAsk), nullptr, &AskProc, 0);
    RECT apply = RectOf(GetDlgItem(probe, 1005));
    DestroyWindow(probe);

    struct Case {
        const char* what;
        std::function<void()> input;
        INT_PTR result;
    };
    const Case cases[] = {
        {"Enter", [&] { screen.Key(VK_RETURN); }, IDOK},
        {"Esc", [&] { screen.Key(VK_ESCAPE); }, IDCANCEL},
        {"click", [&] { screen.Click(apply.left + 3, apply.top + 3); }, 1005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        screen.SetPumping(false); // the input waits in the queue for the dialog's loop
        c.input();
        ask.commands.clear();
        EXPECT_EQ(DialogBoxParamA(TestModule(), MAKEINTRESOURCEA(kAsk), nullptr, &AskProc, 0), c.result);
        EXPECT_EQ(ask.commands, std::vector<UINT>{static_cast<UINT>(c.result)});
        EXPECT_FALSE(IsWindow(ask.dlg));
    }
}

std::atomic<bool> g_ownerDisabledDuringSend{false};

LRESULT OwnerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_TEST_WORKER) {
        g_ownerDisabledDuringSend = !IsWindowEnabled(h);
        return static_cast<LRESULT>(w * 2 + (GetCurrentThreadId() == static_cast<DWORD>(l) ? 1 : 0));
    }
    return DefWindowProcA(h, m, w, l);
}

// The program's about box, run modally over an owner that a worker thread sends to meanwhile.
TEST_F(DialogTest, AWorkersSendToTheOwnerIsServedInsideTheModalLoop) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &OwnerProc;
    wc.lpszClassName = "DialogOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, "DialogOwner", "", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    const DWORD uiThread = GetCurrentThreadId();
    std::atomic<LRESULT> answer{0};
    std::thread worker;
    ask.onInit = [&](HWND dlg) {
        worker = std::thread([&, dlg] {
            answer = SendMessageA(owner, WM_TEST_WORKER, 20, static_cast<LPARAM>(uiThread));
            SendMessageA(dlg, WM_TEST_FINISH, 42, 0);
        });
    };
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, &AskProc, 0), 42);
    worker.join();
    EXPECT_EQ(answer.load(), 41) << "the owner answered on its own thread while the dialog ran";
    EXPECT_TRUE(g_ownerDisabledDuringSend) << "the owner is disabled while the dialog runs";
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(GetActiveWindow(), owner);
    DestroyWindow(owner);
}

// The program's own main-window and about-box templates through CDialog.
class MainLikeDialog : public CDialog {
public:
    MainLikeDialog() : CDialog(IDD_HTMLVELKORS_DIALOG) {}
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        initRect = CRect();
        GetWindowRect(&initRect);
        style = GetStyle();
        exStyle = GetExStyle();
        font = GetFont() ? static_cast<HFONT>(GetFont()->m_hObject) : nullptr;
        PostMessage(WM_TEST_FINISH);
        return TRUE;
    }
    LRESULT OnAbout(WPARAM, LPARAM) {
        // Nested: the about box runs its own loop inside this handler.
        screen->SetPumping(false);
        screen->Key(VK_RETURN);
        CDialog about(IDD_ABOUTBOX, this);
        aboutResult = about.DoModal();
        screen->Key(VK_ESCAPE);
        return 0;
    }
    void OnCancel() override {
        cancelled = true;
        CDialog::OnCancel();
    }
    afxuser::CHeadlessScreen* screen = nullptr;
    CRect initRect;
    DWORD style = 0, exStyle = 0;
    HFONT font = nullptr;
    INT_PTR aboutResult = 0;
    bool cancelled = false;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MainLikeDialog, CDialog)
ON_MESSAGE(WM_TEST_FINISH, OnAbout)
END_MESSAGE_MAP()

TEST_F(DialogTest, DoModalRunsTheProgramsTemplatesWithNestedLoopsAndDialogKeys) {
    MainLikeDialog dlg;
    dlg.screen = &screen;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.aboutResult, IDOK) << "Enter ended the about box with OnOK";
    EXPECT_TRUE(dlg.cancelled) << "Esc reached the virtual OnCancel";
    EXPECT_EQ(dlg.style & (WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS),
              static_cast<DWORD>(WS_POPUP | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS))
        << "shown only after WM_INITDIALOG";
    EXPECT_EQ(dlg.exStyle & WS_EX_APPWINDOW, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_NE(dlg.font, nullptr);
    EXPECT_GT(dlg.initRect.Width(), 626);
    EXPECT_EQ(dlg.m_hWnd, nullptr);

    // A dialog's SC_CLOSE is a Cancel; a window that goes without EndDialog ends the loop too
    // (as the main window destroys itself on SC_CLOSE).
    struct Closing : CDialog {
        explicit Closing(bool destroy) : CDialog(IDD_HTMLVELKORS_DIALOG), m_destroy(destroy) {}
        BOOL OnInitDialog() override {
            PostMessage(WM_SYSCOMMAND, SC_CLOSE);
            return TRUE;
        }
        BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
            if (m_destroy && message == WM_SYSCOMMAND && wParam == SC_CLOSE) {
                DestroyWindow();
                return TRUE;
            }
            return CDialog::OnWndMsg(message, wParam, lParam, pResult);
        }
        bool m_destroy;
    };
    Closing cancelling(false), destroying(true);
    EXPECT_EQ(cancelling.DoModal(), IDCANCEL);
    EXPECT_EQ(destroying.DoModal(), -1);
}

// The program's templates give no position, as a dialog editor leaves them: the framework
// centres a modal dialog over its owner once it has initialised, within the work area, unless the
// dialog placed itself there.
TEST_F(DialogTest, AModalDialogOpensCentredOverItsOwnerUnlessItPlacedItself) {
    struct Placed : CDialog {
        explicit Placed(UINT id, CWnd* owner) : CDialog(id, owner) {}
        BOOL OnInitDialog() override {
            CDialog::OnInitDialog();
            if (init)
                init(*this);
            PostMessage(WM_COMMAND, IDCANCEL);
            return TRUE;
        }
        void OnCancel() override {
            GetWindowRect(&at);
            CDialog::OnCancel();
        }
        std::function<void(CDialog&)> init;
        CRect at;
    };
    // The login dialog's own sizing, as its initialisation makes it.
    auto loginSize = [](CDialog& d) { d.SetWindowPos(nullptr, 0, 0, 492, 433, SWP_NOMOVE | SWP_NOZORDER); };
    struct Case {
        const char* what;
        UINT id;
        RECT owner;
        bool ownerShown;
        std::function<void(CDialog&)> init;
        POINT topLeft; // {-1, -1}: centred over the owner, whatever the template's size
    };
    const Case cases[] = {
        {"resized by its initialisation",
         IDD_LOGIN_DIALOG,
         {100, 80, 700, 480},
         true,
         loginSize,
         {100 + (600 - 492) / 2, 80 + (400 - 433) / 2}},
        {"the template's size", IDD_ABOUTBOX, {100, 80, 700, 480}, true, nullptr, {-1, -1}},
        {"moved by its initialisation",
         IDD_LOGIN_DIALOG,
         {100, 80, 700, 480},
         true,
         [](CDialog& d) { d.SetWindowPos(nullptr, 10, 12, 0, 0, SWP_NOSIZE | SWP_NOZORDER); },
         {10, 12}},
        {"over a hidden owner: the work area",
         IDD_LOGIN_DIALOG,
         {100, 80, 700, 480},
         false,
         loginSize,
         {(1024 - 492) / 2, (728 - 433) / 2}},
        {"kept inside the work area",
         IDD_LOGIN_DIALOG,
         {800, 600, 1000, 720},
         true,
         loginSize,
         {1024 - 492, 728 - 433}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CWnd owner;
        ASSERT_TRUE(owner.CreateEx(0, nullptr, "", WS_POPUP | (c.ownerShown ? WS_VISIBLE : 0), c.owner.left,
                                   c.owner.top, c.owner.right - c.owner.left, c.owner.bottom - c.owner.top,
                                   nullptr, 0));
        Placed dlg(c.id, &owner);
        dlg.init = c.init;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        if (c.topLeft.x == -1) {
            // Halves rounded down: the two middles are at most one pixel apart.
            EXPECT_LE(std::abs((dlg.at.left + dlg.at.right) - (c.owner.left + c.owner.right)), 1) << "across";
            EXPECT_LE(std::abs((dlg.at.top + dlg.at.bottom) - (c.owner.top + c.owner.bottom)), 1) << "down";
        } else {
            EXPECT_EQ(dlg.at.TopLeft(), CPoint(c.topLeft.x, c.topLeft.y));
        }
        owner.DestroyWindow();
    }
}

TEST_F(DialogTest, MessageBoxesTakeScriptedAnswersAndAreRecorded) {
    screen.ScriptMessageBoxAnswer(IDNO);
    EXPECT_EQ(AfxMessageBox("Remove it?", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "plain", nullptr, MB_OKCANCEL), IDCANCEL) << "unscripted: the safe answer";
    std::string text = Gbk("Windows 套接字初始化失败。");
    EXPECT_EQ(AfxMessageBox(IDP_SOCKETS_INIT_FAILED), IDOK);
    ASSERT_EQ(screen.MessageBoxes().size(), 3u);
    EXPECT_EQ(screen.MessageBoxes()[0].text, "Remove it?");
    EXPECT_EQ(screen.MessageBoxes()[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(screen.MessageBoxes()[0].caption, "platform_tests") << "the program's name";
    EXPECT_EQ(screen.MessageBoxes()[1].caption, "Error");
    EXPECT_EQ(screen.MessageBoxes()[2].text, text);
}

TEST_F(DialogTest, MenusFromResourcesAndTheChoiceReachingTheOwner) {
    HMENU menu = LoadMenuA(TestModule(), MAKEINTRESOURCEA(kMenu));
    ASSERT_NE(menu, nullptr);
    HMENU sub = GetSubMenu(menu, 0);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(GetMenuItemCount(sub), 4);
    EXPECT_EQ(GetMenuItemID(sub, 0), 32771u);
    EXPECT_NE(GetMenuState(sub, 1, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(GetMenuItemID(GetSubMenu(sub, 2), 0), 32790u);
    EXPECT_EQ(GetMenuItemID(sub, 3), 32772u);
    ASSERT_TRUE(SetMenuDefaultItem(sub, 0, TRUE));
    EXPECT_EQ(GetMenuDefaultItem(sub, FALSE, 0), 32771u);
    EXPECT_NE(GetMenuState(sub, 0, MF_BYPOSITION) & MF_DEFAULT, 0u);

    std::vector<UINT> commands;
    struct Owner : CWnd {
        std::vector<UINT>* seen = nullptr;
        BOOL OnCommand(WPARAM w, LPARAM) override {
            seen->push_back(LOWORD(w));
            return TRUE;
        }
    } owner;
    owner.seen = &commands;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, 0));
    screen.ScriptMenuChoice(32772);
    ASSERT_TRUE(TrackPopupMenu(sub, 0, 100, 200, 0, owner, nullptr));
    EXPECT_TRUE(commands.empty()) << "the command is posted, after the menu is gone";
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(commands, std::vector<UINT>{32772});
    ASSERT_EQ(screen.Menus().size(), 1u);
    EXPECT_EQ(screen.Menus()[0].menu, sub);
    EXPECT_EQ(screen.Menus()[0].at.y, 200);
    EXPECT_TRUE(TrackPopupMenu(sub, 0, 0, 0, 0, owner, nullptr)) << "nothing chosen";
    afxuser::CHeadlessScreen::Pump();
    EXPECT_EQ(commands.size(), 1u);
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(IsMenu(sub)) << "sub-menus go with their menu";

    // The program's tray menu, its text in the ANSI code page.
    HMENU tray = LoadMenuA(nullptr, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(tray, nullptr);
    char text[64];
    GetMenuStringA(GetSubMenu(tray, 0), ID_TRAY_SHOW, text, sizeof text, MF_BYCOMMAND);
    EXPECT_EQ(std::string(text), Gbk("打开主界面"));
    DestroyMenu(tray);
    owner.DestroyWindow();
}

TEST_F(DialogTest, IconsFromTheResourcesAndFromFiles) {
    HICON res = LoadIconA(TestModule(), MAKEINTRESOURCEA(128));
    ASSERT_NE(res, nullptr);
    std::string path = std::string(TEST_SOURCE_DIR) + "/user_test.ico";
    for (char& c : path)
        if (c == '/')
            c = '\\';
    HICON file = static_cast<HICON>(LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    ASSERT_NE(file, nullptr);
    // Both draw the icon's own red; a missing file and an empty name give no icon.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(dc, 32, 16);
    HGDIOBJ old = SelectObject(dc, bmp);
    EXPECT_TRUE(DrawIconEx(dc, 0, 0, res, 16, 16, 0, nullptr, DI_NORMAL));
    EXPECT_TRUE(DrawIconEx(dc, 16, 0, file, 16, 16, 0, nullptr, DI_NORMAL));
    EXPECT_EQ(GetPixel(dc, 8, 8), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 24, 8), RGB(255, 0, 0));
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    EXPECT_EQ(LoadImageA(nullptr, "", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    EXPECT_EQ(LoadImageA(nullptr, "\\no\\such.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
    DestroyIcon(res);
    DestroyIcon(file);
}

TEST(Metrics, TheHeadlessScreenIs1024By768WithATaskBarUnlessATestSaysOtherwise) {
    afxuser::CHeadlessScreen screen;
    screen.Install();
    RECT work{};
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(work.bottom, 728);
    screen.SetScreen(SIZE{640, 480}, RECT{0, 30, 640, 480});
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(work.top, 30);
}

} // namespace

// Pictures of the program's skinned windows as the headless screen shows them, written into
// the build folder for a person to look at: the main frame with its tool bar, active and
// inactive, and the reading window's tool strip. The test also checks the few pixels that tell
// the two looks apart.
#include "skin/MyToolBar.h"
#include "skin/SkinDlg.h"
#include "skin/SkinInfo.h"
#include "tests/skin/SkinTestKit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Frame : public CSkinDlg {
public:
    explicit Frame(UINT id) : CSkinDlg(id, nullptr) {}
    ~Frame() override {
        if (m_hWnd)
            DestroyWindow();
    }
    void OnSkinClose() override {}
};

std::string Out(const char* name) {
    return std::string(PROJECT_BINARY_DIR) + "/" + name;
}

using Screenshots = skintest::BuiltInPackage;

TEST_F(Screenshots, MainFrameWithToolBarActiveAndInactiveAndTheToolStrip) {
    Frame main(102);
    main.LoadSkin("WinSkin3.xml");
    ASSERT_TRUE(
        main.CreateEx(0, nullptr, "main", WS_POPUP | WS_VISIBLE | WS_SYSMENU, 0, 0, 1024, 728, nullptr, 0));
    main.SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    CRect client;
    main.GetClientRect(&client);
    CSkinInfo layout;
    layout.Load("MainSkin3.xml");
    CMyToolBar bar;
    ASSERT_TRUE(bar.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                           CalcAnchoredRect(layout.GetToolBarRect(), 751, 111, client), &main, 13908));
    bar.LoadSkin("ToolBar3.xml");
    bar.SelectHome();
    ::SetActiveWindow(main.m_hWnd);
    afxuser::CHeadlessScreen::Pump();
    ASSERT_TRUE(screen.WriteScreenPng(Out("skin-main-active.png")));
    const DWORD activeCaption = screen.ScreenPixel(600, 40),
                activeTab = screen.ScreenPixel(1024 - 168 - 396 + 65, 50);

    skintest::CommandSink other;
    ::MoveWindow(other.m_hWnd, -50, -50, 4, 4, TRUE); // activated, yet off the picture
    ::ShowWindow(other.m_hWnd, SW_SHOW);
    ::SetActiveWindow(other.m_hWnd);
    afxuser::CHeadlessScreen::Pump();
    ASSERT_TRUE(screen.WriteScreenPng(Out("skin-main-inactive.png")));
    EXPECT_NE(screen.ScreenPixel(600, 40), activeCaption) << "the caption band changed look";
    EXPECT_NE(screen.ScreenPixel(1024 - 168 - 396 + 65, 50), activeTab) << "and so did the tool bar";

    Frame strip(169);
    strip.SetCustomHitTest(FALSE);
    strip.LoadSkin("WinSkin4.xml");
    ASSERT_TRUE(
        strip.CreateEx(0, nullptr, "strip", WS_CHILD | WS_VISIBLE, 100, 200, 824, 97, main.m_hWnd, 0));
    afxuser::CHeadlessScreen::Pump();
    ASSERT_TRUE(screen.WriteWindowPng(strip.m_hWnd, Out("skin-toolstrip.png")));
}

} // namespace

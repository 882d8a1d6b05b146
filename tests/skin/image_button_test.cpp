// The windowless image button: its states and kinds as a table of gestures with the pixels each
// leaves, clean redraws, the second picture at the offset, placement by the picture, and a click
// whose handler runs a modal loop of its own.
#include "skin/ImageButton.h"
#include "skin/SkinLayout.h"
#include "tests/skin/SkinTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

using skintest::Canvas;
using skintest::FrameColorref;

constexpr int kFw = 10, kFh = 8;
const CRect kPlace(20, 4, 30, 12);
const CPoint kInside(25, 8), kOutside(80, 30);

// A button of the test picture on a canvas whose clean background is grey, with its second
// picture 16 rows below the first.
class ImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        skin.Put("b.png", skintest::ButtonPicture(kFw, kFh));
        btn.Load(skin.Win() + "b.png", &sink, 500);
        btn.SetDC(&target.dc, &back.dc, CRect(0, 16, 0, 0));
        btn.MoveTo(kPlace, TRUE);
    }
    // The frame and row the pixels at the button (row 0) and its twin (row 1) show.
    void ExpectShows(int frame, const std::string& why) {
        EXPECT_EQ(target.At(kInside.x, kInside.y), FrameColorref(frame, 0)) << why;
        EXPECT_EQ(target.At(kInside.x, kInside.y + 16), FrameColorref(frame, 1)) << why;
    }

    afxuser::CHeadlessScreen screen;
    SkinFolder skin;
    skintest::CommandSink sink;
    Canvas target{100, 40, RGB(0, 0, 0)};
    Canvas back{100, 40, RGB(128, 128, 128)};
    CImageButton btn;
};

TEST_F(ImageButtonTest, PlacementTakesOneFrameOfThePictureAndDrawsBothRows) {
    CImageButton fresh;
    fresh.Load(skin.Win() + "b.png", &sink, 1);
    EXPECT_EQ(fresh.GetFrameWidth(), kFw);
    EXPECT_EQ(fresh.GetFrameHeight(), kFh);
    ExpectShows(0, "placed");
    EXPECT_EQ(target.At(kPlace.left - 1, kPlace.top), RGB(0, 0, 0)) << "nothing outside the rectangle";
    // Once placed, the rectangle is the frame size even when another picture comes.
    skin.Put("big.png", skintest::ButtonPicture(30, 20));
    btn.Load(skin.Win() + "big.png", &sink, 500);
    EXPECT_EQ(btn.GetFrameWidth(), kFw);
    EXPECT_EQ(btn.GetImageFrameWidth(), 30);
    EXPECT_EQ(btn.GetImageFrameHeight(), 20);
}

TEST_F(ImageButtonTest, WithoutPictureOrDcItIsInert) {
    CImageButton none;
    none.Load("", &sink, 7);
    none.SetDC(&target.dc, &back.dc, CRect());
    EXPECT_EQ(none.MoveTo(kPlace, TRUE), CRect());
    EXPECT_EQ(none.GetRect(), CRect()) << "not even stored";
    EXPECT_EQ(none.OnLButtonDown(0, kInside), CRect());
    EXPECT_EQ(none.OnLButtonUp(0, kInside), CRect());
    EXPECT_FALSE(none.HitTest(kInside));

    CImageButton noDc;
    noDc.Load(skin.Win() + "b.png", &sink, 7);
    EXPECT_EQ(noDc.MoveTo(kPlace, TRUE), CRect());
    EXPECT_TRUE(sink.commands.empty());
}

TEST_F(ImageButtonTest, APictureBeyondTheSizeLimitLoadsAsAnEmptyOne) {
    const struct {
        int w, h;
        int frameWidth;
    } cases[] = {{8192, 2, 2048}, {8196, 2, 0}, {4, 8194, 0}};
    for (const auto& c : cases) {
        skin.Put(
            "wide.png",
            pngfixture::Png(c.w, c.h, std::vector<uint32_t>(static_cast<size_t>(c.w) * c.h, 0xFF102030u)));
        CImageButton b;
        b.Load(skin.Win() + "wide.png", &sink, 1);
        EXPECT_EQ(b.GetImageFrameWidth(), c.frameWidth) << c.w << " x " << c.h;
    }
}

TEST_F(ImageButtonTest, AMissingPictureGivesAnEmptyButtonThatTakesNoClick) {
    CImageButton missing;
    missing.Load(skin.Win() + "nothing-here.png", &sink, 7);
    missing.SetDC(&target.dc, &back.dc, CRect());
    EXPECT_EQ(missing.GetFrameWidth(), 0);
    missing.MoveTo(CalcAnchoredRect(CRect(0, 0, -1, -1), missing.GetFrameWidth(), missing.GetFrameHeight(),
                                    CRect(0, 0, 100, 40)),
                   TRUE);
    missing.OnLButtonDown(0, CPoint(0, 0));
    missing.OnLButtonUp(0, CPoint(0, 0));
    EXPECT_TRUE(sink.commands.empty());
}

// A gesture, and what the button shows and has fired after it.
enum class Op { Move, Leave, Down, Up, Check, Uncheck };
struct Step {
    Op op;
    CPoint at;
    int frame;
    std::vector<UINT> fired;
};
struct StateCase {
    const char* name;
    int kind;
    int state;
    std::vector<Step> steps;
};

class StateTable : public ImageButtonTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StateTable, FramesAndClicksFollowTheGestures) {
    const StateCase& c = GetParam();
    btn.SetKind(c.kind);
    btn.SetState(c.state, FALSE);
    int i = 0;
    for (const Step& s : c.steps) {
        switch (s.op) {
        case Op::Move:
            btn.OnMouseMove(0, s.at);
            break;
        case Op::Leave:
            btn.OnMouseLeave(0, 0);
            break;
        case Op::Down:
            btn.OnLButtonDown(MK_LBUTTON, s.at);
            break;
        case Op::Up:
            btn.OnLButtonUp(0, s.at);
            break;
        case Op::Check:
            btn.SetChecked(TRUE);
            break;
        case Op::Uncheck:
            btn.SetChecked(FALSE);
            break;
        }
        const std::string why = std::string(c.name) + ", step " + std::to_string(i++);
        EXPECT_EQ(btn.GetFrame(), s.frame) << why;
        EXPECT_EQ(sink.commands, s.fired) << why;
        if (c.state != IMGBTN_STATE_HIDDEN)
            ExpectShows(s.frame, why);
        else
            EXPECT_EQ(target.At(kInside.x, kInside.y), RGB(128, 128, 128)) << why << ": background";
    }
}

const CPoint in = kInside, out = kOutside;
INSTANTIATE_TEST_SUITE_P(
    Gestures, StateTable,
    ::testing::Values(
        StateCase{
            "push click",
            IMGBTN_KIND_PUSH,
            IMGBTN_STATE_NORMAL,
            {{Op::Move, in, 1, {}}, {Op::Down, in, 2, {}}, {Op::Up, in, 0, {500}}, {Op::Move, in, 1, {500}}}},
        StateCase{"push released outside",
                  IMGBTN_KIND_PUSH,
                  IMGBTN_STATE_NORMAL,
                  {{Op::Down, in, 2, {}},
                   {Op::Move, out, 0, {}},
                   {Op::Move, in, 2, {}},
                   {Op::Move, out, 0, {}},
                   {Op::Up, out, 0, {}}}},
        StateCase{"radio",
                  IMGBTN_KIND_RADIO,
                  IMGBTN_STATE_NORMAL,
                  {{Op::Move, in, 1, {}},
                   {Op::Down, in, 2, {500}},
                   {Op::Up, in, 2, {500}},
                   {Op::Down, in, 2, {500}},
                   {Op::Leave, out, 2, {500}},
                   {Op::Uncheck, out, 0, {500}},
                   {Op::Move, in, 1, {500}},
                   {Op::Move, out, 0, {500}}}},
        StateCase{"toggle",
                  IMGBTN_KIND_TOGGLE,
                  IMGBTN_STATE_NORMAL,
                  {{Op::Down, in, 2, {500}}, {Op::Up, in, 2, {500}}, {Op::Down, in, 1, {500, 500}}}},
        StateCase{
            "disabled follows the pointer and never fires",
            IMGBTN_KIND_PUSH,
            IMGBTN_STATE_DISABLED,
            {{Op::Move, in, 1, {}}, {Op::Down, in, 1, {}}, {Op::Up, in, 1, {}}, {Op::Move, out, 0, {}}}},
        StateCase{"selected shows frame 3 and ignores the mouse",
                  IMGBTN_KIND_RADIO,
                  IMGBTN_STATE_SELECTED,
                  {{Op::Move, in, 3, {}}, {Op::Down, in, 3, {}}, {Op::Leave, out, 3, {}}}},
        StateCase{"hidden is not drawn and ignores the mouse",
                  IMGBTN_KIND_PUSH,
                  IMGBTN_STATE_HIDDEN,
                  {{Op::Move, in, 0, {}}, {Op::Down, in, 0, {}}, {Op::Up, in, 0, {}}}}),
    [](const ::testing::TestParamInfo<StateCase>& info) {
        std::string n;
        for (const char* p = info.param.name; *p; ++p)
            n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return n;
    });

TEST_F(ImageButtonTest, HiddenButtonGivesBackItsBackgroundAndShowsItsFrameAgain) {
    btn.OnMouseMove(0, kInside);
    btn.Hide(FALSE);
    EXPECT_FALSE(btn.HitTest(kInside));
    EXPECT_EQ(target.At(kInside.x, kInside.y), RGB(128, 128, 128));
    EXPECT_EQ(target.At(kInside.x, kInside.y + 16), RGB(128, 128, 128)) << "the twin is erased too";
    EXPECT_EQ(btn.OnMouseMove(0, kInside), CRect());
    btn.Show(FALSE);
    ExpectShows(1, "shown with the frame it had");
}

TEST_F(ImageButtonTest, MovingErasesTheOldPlaceAndReportsBoth) {
    const CRect moved(50, 4, 60, 12);
    EXPECT_EQ(btn.MoveTo(moved, TRUE), CRect(20, 4, 60, 12));
    EXPECT_EQ(target.At(25, 8), RGB(128, 128, 128));
    EXPECT_EQ(target.At(25, 24), RGB(128, 128, 128));
    EXPECT_EQ(target.At(55, 8), FrameColorref(0, 0));
    EXPECT_EQ(btn.MoveTo(moved, TRUE), CRect()) << "the same place changes nothing";
    EXPECT_EQ(btn.MoveTo(CRect(0, 0, 10, 8), FALSE), CRect()) << "no redraw asked";
}

TEST_F(ImageButtonTest, WithoutOffsetThereIsOnePictureOnly) {
    Canvas t(100, 40), b(100, 40, RGB(128, 128, 128));
    CImageButton one;
    one.Load(skin.Win() + "b.png", &sink, 1);
    one.SetDC(&t.dc, &b.dc, CRect());
    one.MoveTo(kPlace, TRUE);
    EXPECT_EQ(t.At(kInside.x, kInside.y), FrameColorref(0, 0));
    EXPECT_EQ(t.At(kInside.x, kInside.y + 16), RGB(0, 0, 0));
}

TEST_F(ImageButtonTest, RedrawingInPlaceDoesNotDarkenHalfTransparentPixels) {
    skin.Put("soft.png", skintest::ButtonPicture(kFw, kFh, true));
    Canvas t(100, 40), b(100, 40, RGB(0, 0, 0));
    CImageButton soft;
    soft.Load(skin.Win() + "soft.png", &sink, 1);
    soft.SetDC(&t.dc, &b.dc, CRect(0, 16, 0, 0));
    soft.MoveTo(kPlace, TRUE);
    const COLORREF first = t.At(kPlace.left, kPlace.top);
    for (int k = 0; k < 5; ++k)
        soft.Invalidate();
    EXPECT_EQ(t.At(kPlace.left, kPlace.top), first) << "white at half alpha over black, drawn once";
    EXPECT_EQ(t.At(kPlace.left, kPlace.top + 16), first);
}

// Counts how often the picture is drawn.
class CountingButton : public CImageButton {
public:
    void Draw() override {
        ++draws;
        CImageButton::Draw();
    }
    int draws = 0;
};

TEST_F(ImageButtonTest, TenHoverTogglesDrawOnceEachWay) {
    CountingButton c;
    c.Load(skin.Win() + "b.png", &sink, 1);
    c.SetDC(&target.dc, &back.dc, CRect(0, 16, 0, 0));
    c.MoveTo(kPlace, TRUE);
    c.draws = 0;
    for (int k = 0; k < 10; ++k) {
        c.OnMouseMove(0, kInside);
        c.OnMouseMove(0, CPoint(kInside.x + 1, kInside.y)); // still over it: nothing to draw
        c.OnMouseMove(0, kOutside);
        c.OnMouseMove(0, CPoint(kOutside.x + 1, kOutside.y));
    }
    EXPECT_EQ(c.draws, 20);
}

TEST_F(ImageButtonTest, ASetStateWithRedrawRepaintsTheParent) {
    btn.SetState(IMGBTN_STATE_SELECTED, TRUE);
    EXPECT_EQ(btn.GetFrame(), 3);
    ExpectShows(3, "selected");
    btn.SetState(IMGBTN_STATE_NORMAL, TRUE);
    ExpectShows(0, "back to normal");
}

// A window hosting two push buttons the way the tool bar does: it forwards the mouse, captures
// on a press and shows its memory picture when erased.
class Host : public CWnd {
public:
    Host() { CreateEx(0, nullptr, "host", WS_POPUP | WS_VISIBLE, 100, 100, 100, 40, nullptr, 0); }
    ~Host() override {
        if (m_hWnd)
            DestroyWindow();
    }
    BOOL OnCommand(WPARAM wParam, LPARAM) override {
        fired.push_back(LOWORD(wParam));
        if (onCommand)
            onCommand(LOWORD(wParam));
        return TRUE;
    }
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
        const CPoint p(GET_X_LPARAM(l), GET_Y_LPARAM(l));
        switch (m) {
        case WM_LBUTTONDOWN:
            ::SetCapture(m_hWnd);
            for (CImageButton* b : buttons)
                b->OnLButtonDown(static_cast<UINT>(w), p);
            return 0;
        case WM_LBUTTONUP:
            ::ReleaseCapture();
            for (CImageButton* b : buttons)
                b->OnLButtonUp(static_cast<UINT>(w), p);
            ++releases;
            return 0;
        case WM_MOUSEMOVE:
            for (CImageButton* b : buttons)
                b->OnMouseMove(static_cast<UINT>(w), p);
            return 0;
        default:
            return CWnd::WindowProc(m, w, l);
        }
    }
    std::vector<CImageButton*> buttons;
    std::vector<UINT> fired;
    std::function<void(UINT)> onCommand;
    int releases = 0;
};

TEST_F(ImageButtonTest, AClickWhoseHandlerRunsAModalLoopKeepsBothButtonsSound) {
    Host host;
    CImageButton a, b;
    a.Load(skin.Win() + "b.png", &host, 1);
    b.Load(skin.Win() + "b.png", &host, 2);
    a.SetDC(&target.dc, &back.dc, CRect(0, 16, 0, 0));
    b.SetDC(&target.dc, &back.dc, CRect(0, 16, 0, 0));
    a.MoveTo(CRect(0, 0, kFw, kFh), TRUE);
    b.MoveTo(CRect(50, 0, 50 + kFw, kFh), TRUE);
    host.buttons = {&a, &b};
    std::vector<std::string> events;
    host.onCommand = [&](UINT id) {
        events.push_back("fired " + std::to_string(id));
        if (id != 1)
            return;
        // The first button's handler opens a modal loop, as a dialog would, and serves the
        // pointer's later events inside it, until the second button's click ends it.
        events.push_back("modal begins");
        MSG msg;
        while (std::find(host.fired.begin(), host.fired.end(), 2u) == host.fired.end() &&
               ::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessage(&msg);
        }
        events.push_back("modal ends");
    };
    screen.SetPumping(false);
    screen.Click(105, 104);
    screen.Click(155, 104);
    afxuser::CHeadlessScreen::Pump();
    screen.SetPumping(true);
    EXPECT_EQ(events, (std::vector<std::string>{"fired 1", "modal begins", "fired 2", "modal ends"}));
    EXPECT_EQ(host.releases, 2);
    EXPECT_FALSE(a.IsChecked());
    EXPECT_FALSE(b.IsChecked());
    EXPECT_EQ(a.GetFrame(), 0);
    EXPECT_EQ(b.GetFrame(), 0);
    EXPECT_EQ(target.At(5, 4), FrameColorref(0, 0));
    EXPECT_EQ(target.At(55, 4), FrameColorref(0, 0));
}

TEST_F(ImageButtonTest, AClickToAWindowThatIsGoneSendsNothing) {
    CImageButton lonely;
    {
        skintest::CommandSink gone;
        lonely.Load(skin.Win() + "b.png", &gone, 9);
        gone.DestroyWindow();
        lonely.SetDC(&target.dc, &back.dc, CRect());
        lonely.MoveTo(kPlace, TRUE);
        lonely.OnLButtonDown(0, kInside);
        lonely.OnLButtonUp(0, kInside);
        EXPECT_TRUE(gone.commands.empty());
    }
}

} // namespace

// The headless presenter: a screen of its own in memory, for tests and for runs with no display.
//
// It composes the visible top-level windows in z-order from their backing surfaces, writes the
// screen or any one window to PNG, and drives the windows as a person would: pointer moves,
// presses, releases, double clicks and keys at screen coordinates go through the kernel's own
// routing. Message boxes and popup menus take scripted answers, and every message box is
// recorded. Used from the user-interface thread only. Installing one makes it the presenter
// until it is destroyed (or another is installed).
#pragma once

#include "platform/user/Presenter.h"

#include <deque>
#include <string>
#include <vector>

namespace afxuser {

class CHeadlessScreen : public IPresenter {
public:
    struct MessageBoxCall {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    struct MenuCall {
        HMENU menu;
        POINT at;
        HWND owner;
    };

    explicit CHeadlessScreen(SIZE screen = SIZE{1024, 768}, RECT workArea = RECT{0, 0, 1024, 728});
    ~CHeadlessScreen() override;

    // Makes this the kernel's presenter; the destructor puts the earlier one back.
    void Install();
    void SetScreen(SIZE screen, RECT workArea);

    // Input. Each call queues the event on the calling thread and then serves the queue until
    // nothing is pending, so handlers have run when it returns (a handler that opens a modal
    // loop serves the rest of the queue inside it). With pumping off, events only queue.
    void SetPumping(bool on) { m_pump = on; }
    void MoveTo(int x, int y);
    void Press(int x, int y, bool right = false);
    void Release(int x, int y, bool right = false);
    void Click(int x, int y, bool right = false);
    void DoubleClick(int x, int y);
    void Drag(int x0, int y0, int x1, int y1);
    void KeyDown(UINT vk);
    void KeyUp(UINT vk);
    void Key(UINT vk);
    // Serves the calling thread's queue until nothing is pending.
    static void Pump();

    // Answers for the next message boxes and menus, in order. Without one, a message box answers
    // its default button (IDOK, or IDCANCEL for one with a Cancel button) and a menu chooses
    // nothing.
    void ScriptMessageBoxAnswer(int answer) { m_boxAnswers.push_back(answer); }
    void ScriptMenuChoice(UINT command) { m_menuChoices.push_back(command); }
    const std::vector<MessageBoxCall>& MessageBoxes() const { return m_boxes; }
    const std::vector<MenuCall>& Menus() const { return m_menus; }
    HCURSOR Cursor() const { return m_cursor; }

    // Pixels. The screen is black where no window is. Colours are 0x00RRGGBB.
    cairo_surface_t* RenderScreen() const; // new image surface; the caller destroys it
    cairo_surface_t* RenderWindow(HWND hWnd) const;
    DWORD ScreenPixel(int x, int y) const;
    bool WriteScreenPng(const std::string& path) const;
    bool WriteWindowPng(HWND hWnd, const std::string& path) const;

    // IPresenter
    SIZE ScreenSize() override { return m_screen; }
    RECT WorkArea() override { return m_work; }
    void WindowCreated(HWND) override {}
    void WindowDestroyed(HWND) override {}
    void WindowShown(HWND, bool) override {}
    void WindowMoved(HWND, const RECT&) override {}
    void WindowRaised(HWND) override {}
    void WindowDamaged(HWND, const RECT&) override {}
    void CursorChanged(HCURSOR hCursor) override { m_cursor = hCursor; }
    int AskMessageBox(HWND hOwner, LPCSTR text, LPCSTR caption, UINT type) override;
    UINT ChooseFromMenu(HMENU hMenu, UINT flags, POINT at, HWND hOwner) override;

private:
    void Send(UINT message, int x, int y);

    SIZE m_screen;
    RECT m_work;
    bool m_pump = true;
    bool m_installed = false;
    IPresenter* m_previous = nullptr;
    HCURSOR m_cursor = nullptr;
    std::deque<int> m_boxAnswers;
    std::deque<UINT> m_menuChoices;
    std::vector<MessageBoxCall> m_boxes;
    std::vector<MenuCall> m_menus;
};

} // namespace afxuser

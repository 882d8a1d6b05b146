// A program state of its own for each page-view test: a data folder with the shelf, class, user
// and config files, an empty shelf and user record, the normal user mode, and a main window on
// the test's thread that writes down the application events and answers them as the hub does
// (0). Views get the headless browser control; each control shows the pages the test registered
// for it, and every script function of those pages writes its call into one log.
#pragma once

#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "library/UserInfo.h"
#include "net/AppMessages.h"
#include "pages/VorHtmlView.h"
#include "platform/user/HeadlessScreen.h"
#include "platform/web/FakeBrowser.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/DataRoot.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace viewtest {

struct Event {
    WPARAM code = 0;
    LPARAM lParam = 0;
    std::string p1, p2, p3; // the CMsgInfo's fields, copied during the call
};

class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.Install();
        UseTestDataRoot(dir);

        main = rec.Make(WS_POPUP, RECT{0, 0, 100, 100});
        rec.SetAnswer([this](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
            if (m != WM_APP_EVENT)
                return std::nullopt;
            Event e;
            e.code = w;
            e.lParam = l;
            if (l && (w == EVT_DOWNLOAD_FILE || w == EVT_READ_ONLINE || w == EVT_GO_SHELF)) {
                auto* info = reinterpret_cast<CMsgInfo*>(l);
                e.p1 = info->m_strParam1.str();
                e.p2 = info->m_strParam2.str();
                e.p3 = info->m_strParam3.str();
            }
            events.push_back(e);
            return 0;
        });
        g_pMainDlg.Set(main);

        CVorHtmlView::SetBrowserFactory([this](HWND) {
            auto b = std::make_unique<afxweb::CFakeBrowser>();
            for (auto& [url, functions] : pages)
                b->AddPage(CString(url), PageOf(functions));
            fakes.push_back(b.get());
            return b;
        });
    }
    void TearDown() override {
        CloseHost();
        g_pMainDlg.Clear();
        CVorHtmlView::SetBrowserFactory([](HWND) { return std::unique_ptr<afxweb::IBrowserControl>(); });
        if (::IsWindow(main))
            DestroyWindow(main);
    }

    // A page at the URL that defines these script functions; each call is logged as
    // "Name(a|b)", and answers "".
    void DefinePage(const CString& url, std::vector<std::string> functions) { pages[url.str()] = functions; }

    afxweb::CFakeBrowser::Page PageOf(const std::vector<std::string>& functions) {
        afxweb::CFakeBrowser::Page page;
        for (const std::string& name : functions)
            page[name] = [this, name](afxweb::CFakeBrowser&, const std::vector<CString>& args) {
                std::string line = name + "(";
                for (size_t i = 0; i < args.size(); ++i)
                    line += (i ? "|" : "") + args[i].str();
                calls.push_back(line + ")");
                return CString();
            };
        return page;
    }

    // Puts a record on a shelf list, as the download manager leaves it.
    CMagInfo* AddItem(const char* kind, const char* pid, const char* sortId, int down, LONGLONG downlen = 0,
                      LONGLONG filelen = 100) {
        auto* item = new CMagInfo;
        item->pid = pid;
        item->sort_id = sortId;
        item->down = down;
        item->downlen = downlen;
        item->filelen = filelen;
        item->pic1 = CString("p") + pid;
        item->name = "Name";
        item->date = "2012-11";
        item->type = std::string(kind).rfind("book", 0) == 0 ? "book" : "mag";
        item->savepath = CString(dir.win() + "Down\\") + pid + ".zip";
        g_MagShelf.Add(item, kind, FALSE);
        return item;
    }

    // A view of the class in a host window of its own, shown at the page folder's page.
    template <class View> View* Open(const char* page) {
        host = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 600, 400});
        hostWnd.Attach(host);
        auto view = std::make_unique<View>();
        EXPECT_TRUE(view->Create(CRect(0, 0, 600, 400), &hostWnd, 0x3600));
        view->Navigate2((view->GetPageFolder() + page).GetString());
        views.push_back(std::move(view));
        return static_cast<View*>(views.back().get());
    }
    void CloseHost() {
        for (auto& v : views)
            if (::IsWindow(v->GetSafeHwnd()))
                v->DestroyWindow();
        views.clear();
        hostWnd.Detach();
        if (::IsWindow(host))
            DestroyWindow(host);
    }

    std::vector<WPARAM> Codes() const {
        std::vector<WPARAM> c;
        for (auto& e : events)
            c.push_back(e.code);
        return c;
    }

    afxuser::CHeadlessScreen screen;
    testwin::Recorder rec;
    TempDir dir{"kestrin_views_"};
    HWND main = nullptr;
    HWND host = nullptr;
    CWnd hostWnd;
    std::vector<Event> events;
    std::map<std::string, std::vector<std::string>> pages;
    std::vector<afxweb::CFakeBrowser*> fakes;
    std::vector<std::unique_ptr<CVorHtmlView>> views;
    std::vector<std::string> calls;
};

} // namespace viewtest

// A shelf item of about 50 MB read in the HTML reading window: from the shelf page's
// C_LocalRead to its first page picture loaded and painted (two animation frames after the
// picture's load), through the local server, under a private Xvfb. Five reads, each with the
// memory files emptied first; prints the median beside the aim of 300 ms; asserts nothing.
#include "app/HtmlVelkorsDlg.h"
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "foundation/AppPathInfo.h"
#include "library/MagShelf.h"
#include "net/AppMessages.h"
#include "platform/gtk/GtkPresenter.h"
#include "platform/shell/TrayHost.h"
#include "platform/web/WebKitBrowser.h"
#include "tests/gtk/GtkDisplay.h"
#include "res/resource.h"
#include "tests/support/DataRoot.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReads = 5;
constexpr size_t kFillerBytes = 50u << 20;

class BenchDlg : public CHtmlVelkorsDlg {
protected:
    void StartCategoryLists() override {}
    void StartUpdates() override {}
};

template <class Cond> bool Until(Cond&& cond, std::chrono::seconds bound) {
    const auto deadline = Clock::now() + bound;
    guint tick = g_timeout_add(
        1, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = cond();
    while (!held && Clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        held = cond();
    }
    g_source_remove(tick);
    return held;
}

CString Eval(CVorHtmlView& view, const char* expr) {
    afxweb::IBrowserControl* b = view.GetBrowser();
    CString r;
    if (!b || !b->HasDocument() || !b->InvokeScript("eval", {CString(expr)}, &r))
        return CString();
    return r;
}

// The reading page of the store's items, with the store's own page pictures, and a filler
// that makes the package as large as a real magazine.
std::string MakeItem(TempDir& dir) {
    namespace fs = std::filesystem;
    const std::string pages = dir.sub("item_pages");
    fs::create_directories(pages);
    std::string cmd = "python3 -c \"import sys; sys.path.insert(0, '" + std::string(PROJECT_SOURCE_DIR) +
                      "/tools/store'); import kestrin_store as k; item = k.make_items()[0]; "
                      "[open('" +
                      pages +
                      "/' + n.decode(), 'wb').write(d) for n, d in k.html_item_files(item).items()]; open('" +
                      pages + "/fill.bin', 'wb').write(k.payload(" + std::to_string(kFillerBytes) + "))\"";
    int status = -1;
    RunCommand(cmd + " 2>&1", &status);
    const std::string out = dir.sub("big.exe");
    RunCommand("python3 '" + std::string(PROJECT_SOURCE_DIR) + "/tools/packwriter/kestrin_pack.py' exe -o '" +
                   out + "' --package 188='" + pages +
                   "' --string 162=big1 --string 294=mag --string 280=1 --string 227=0 2>&1",
               &status);
    return status == 0 ? dir.win() + "big.exe" : std::string();
}

} // namespace

int main() {
    if (!gtkscreen::OpenDisplay()) {
        std::printf("reader_bench: no display, skipped\n");
        return 0;
    }
    afxgtk::CGtkPresenter presenter;
    presenter.Install();
    afxshell::HeadlessTrayHost tray;
    afxshell::SetTrayHost(&tray);
    setenv("KESTRIN_STORE", "http://127.0.0.1:9", 1);
    TempDir dir{"kestrin_reader_bench_"};
    UseTestDataRoot(dir);
    CVorHtmlView::SetBrowserFactory(
        [](HWND h) -> std::unique_ptr<afxweb::IBrowserControl> { return afxweb::CreateWebKitBrowser(h); });
    g_nServerPort = PeerProcess::FreePort();

    const std::string package = MakeItem(dir);
    if (package.empty()) {
        std::printf("reader_bench: the item package could not be made, skipped\n");
        return 0;
    }
    auto* item = new CMagInfo;
    item->pid = "big1";
    item->type = "mag";
    item->name = "Big";
    item->down = DOWN_STATE_DONE;
    item->savepath = CString(package);
    g_MagShelf.Add(item, "mag", FALSE);

    std::vector<double> ms;
    {
        BenchDlg dlg;
        if (!dlg.Create(IDD_HTMLVELKORS_DIALOG) || !dlg.m_pHtmlDlg->m_view.GetBrowser()) {
            std::printf("reader_bench: no main window or no engine, skipped\n");
            return 0;
        }
        CVorHtmlView& page = dlg.m_pHtmlDlg->m_view;
        for (int i = 0; i < kReads; ++i) {
            g_MyMemFile.RemoveAll();
            page.Navigate2("about:blank");
            dlg.SendMessage(WM_TOOLBAR_CLICK, ID_TB_MY_BOOK);
            Until(
                [&] {
                    return !page.GetBrowser()->HasDocument() || Eval(page, "location.href") == "about:blank";
                },
                std::chrono::seconds(10));
            const auto start = Clock::now();
            dlg.m_shelfView.C_LocalRead("mag", "big1");
            const bool painted = Until(
                [&] {
                    return Eval(page, "(function(){var i=document.getElementById('page');"
                                      "if(!i||!i.complete||!i.naturalWidth)return '';"
                                      "if(!window.__shown){window.__shown=1;requestAnimationFrame(function(){"
                                      "requestAnimationFrame(function(){window.__shown=2;});});}"
                                      "return window.__shown==2?'1':'';})()") == "1";
                },
                std::chrono::seconds(30));
            if (painted)
                ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        dlg.DestroyWindow();
    }
    g_pMainDlg.Clear();
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("reader_bench: the first page was never painted\n");
        return 0;
    }
    std::printf("%-52s median %7.1f ms  (aim 300 ms; %zu of %d reads, fastest %.1f, slowest %.1f)\n",
                "C_LocalRead of a 50 MB item to its first page painted", ms[ms.size() / 2], ms.size(), kReads,
                ms.front(), ms.back());
    return 0;
}

// The shelf page's view on the headless browser control: the category list, the record text and
// its filters, the page user id, the shelf selection, the notifications' gate, and the item
// actions with their checks (types and ids, download states, which file a delete may remove).
#include "net/DownLoadManager.h"
#include "pages/MyBooksHtmlView.h"
#include "platform/kernel/Process.h"
#include "tests/pages/ViewsFixture.h"
#include "tests/support/WaitFor.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using viewtest::ViewsTest;
namespace fs = std::filesystem;

const std::vector<std::string> kShelfFunctions = {"AddCategoryItem", "ClearCategoryItem", "ClearBookShelf",
                                                  "InitBooksData",   "InitUID",           "SelBook",
                                                  "SelMag",          "CategoryItemClick", "ShowProgress",
                                                  "js_StopDownload", "js_DownloadFailed", "js_ShelfShown"};

class ShelfView : public ViewsTest {
protected:
    void SetUp() override {
        ViewsTest::SetUp();
        DefinePage(PageUrl("Bookshelf2.html"), kShelfFunctions);
        view = Open<CMyBooksHtmlView>("Bookshelf2.html");
        calls.clear();
    }
    CString PageUrl(const char* name) {
        CMyBooksHtmlView v;
        return v.GetPageUrl(name);
    }
    CString Call(const char* method, std::vector<CString> args) {
        CString r;
        EXPECT_TRUE(fakes.back()->CallExternal(method, args, &r)) << method;
        return r;
    }
    void WriteClasses(const char* file, const std::string& utf8) {
        std::ofstream(dir.sub("Data/") + file, std::ios::binary) << utf8;
    }
    CMyBooksHtmlView* view = nullptr;
};

std::string Gbk(const char* utf8) {
    return AfxUtf8ToAnsi(utf8);
}

TEST_F(ShelfView, OffersItsMethodsInOrderAndLacksTheStorePagesFunctions) {
    EXPECT_EQ(view->GetDispatchNames(),
              (std::vector<CString>{"C_InitClassList", "C_Load", "C_Go_Shelf", "C_GoShelf", "C_LoadBookShelf",
                                    "C_LocalRead", "C_ReadFile", "C_UserLogin", "C_ShowLogin", "C_OpenFolder",
                                    "C_DeleteFile", "C_StartDownLoad", "C_StopDownLoad", "C_DownLoadFile",
                                    "ReErrorHtml", "MyClose"}));
}

TEST_F(ShelfView, CategoryListOffersRecentReadsAndOnlyCategoriesOnTheShelf) {
    WriteClasses("MagClass.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><api>"
                                 "<sort id=\"3\" sort_name=\"旅游\"/>"
                                 "<sort id=\"13\" sort_name=\"财经\"/>"
                                 "<sort id=\"7\" sort_name=\"时尚\"/></api>");
    AddItem("mag", "a1", "13", DOWN_STATE_DONE);
    AddItem("mag", "a2", "7", DOWN_STATE_DONE);
    EXPECT_EQ(Call("C_InitClassList", {"mag"}), "1");
    EXPECT_TRUE(view->m_bLoaded);
    EXPECT_EQ(view->m_strType, "mag");
    EXPECT_EQ(calls, (std::vector<std::string>{"AddCategoryItem(new_read|" + Gbk("最近阅读") + ")",
                                               "AddCategoryItem(id_13|" + Gbk("财经") + ")",
                                               "AddCategoryItem(id_7|" + Gbk("时尚") + ")"}))
        << "category 3 has no item: 13 on the shelf must not offer it";
}

TEST_F(ShelfView, AMissingCategoryFileGivesOnlyRecentReadsAndStillLoadsThePage) {
    EXPECT_EQ(Call("C_InitClassList", {"book"}), "0");
    EXPECT_TRUE(view->m_bLoaded);
    EXPECT_EQ(view->m_strType, "book");
    EXPECT_EQ(calls, (std::vector<std::string>{"AddCategoryItem(new_read|" + Gbk("最近阅读") + ")"}));
}

TEST_F(ShelfView, RecordFormatIsSixFieldsWithAPercentOf64Bits) {
    CMagInfo item;
    item.pic1 = "p";
    item.pid = "9";
    item.down = 1;
    item.name = "N, with comma";
    item.date = "2012-11";
    item.filelen = 4LL * 1024 * 1024 * 1024;
    item.downlen = item.filelen / 4;
    EXPECT_EQ(CMyBooksHtmlView::FormatRecord(item), "p,9,1,25,N, with comma 2012-11,9");
    item.filelen = 0;
    EXPECT_EQ(CMyBooksHtmlView::FormatRecord(item), "p,9,1,0,N, with comma 2012-11,9");
}

TEST_F(ShelfView, ListingTable) {
    // The shelf used by every row: two magazines (7 and 12) and one recent read.
    auto fill = [&] {
        AddItem("mag", "11", "7", DOWN_STATE_DONE, 100, 100);
        AddItem("mag", "12", "12", DOWN_STATE_WAITING, 0, 0);
        AddItem("mag_read", "11", "7", DOWN_STATE_DONE, 100, 100);
    };
    struct Case {
        const char* type;
        const char* category;
        bool filled;
        const char* result;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"mag", "new_read", true, "1", {"ClearBookShelf()", "InitBooksData(p11,11,2,100,Name 2012-11,11)"}},
        {"mag", "id_7", true, "1", {"ClearBookShelf()", "InitBooksData(p11,11,2,100,Name 2012-11,11)"}},
        {"mag", "id_12", true, "1", {"ClearBookShelf()", "InitBooksData(p12,12,0,0,Name 2012-11,12)"}},
        {"mag",
         "",
         true,
         "1",
         {"ClearBookShelf()", "InitBooksData(p11,11,2,100,Name 2012-11,11;p12,12,0,0,Name 2012-11,12)"}},
        {"mag", "7", true, "0", {}},                       // not "id_<n>": nothing listed, nothing cleared
        {"mag", "id_7_x", true, "0", {}},                  //
        {"mag", "id_99", true, "1", {"ClearBookShelf()"}}, // all filtered
        {"book", "", true, "0", {"ClearBookShelf()"}},     // an empty list
        {"book", "new_read", true, "0", {"ClearBookShelf()"}},
        {"other", "", true, "0", {}}, // names no list
    };
    fill();
    for (const auto& c : cases) {
        calls.clear();
        EXPECT_EQ(Call("C_LoadBookShelf", {c.type, c.category}), c.result) << c.type << "/" << c.category;
        EXPECT_EQ(calls, c.calls) << c.type << "/" << c.category;
    }
    // The waiting record was listed as stopped and stays stopped in memory.
    EXPECT_EQ(g_MagShelf.Find("mag", "12")->down, DOWN_STATE_STOPPED);
}

TEST_F(ShelfView, TwoRecordsGiveTheExactText) {
    CMagInfo* a = AddItem("book", "11", "5", DOWN_STATE_DONE, 100, 100);
    CMagInfo* b = AddItem("book", "12", "5", DOWN_STATE_STOPPED, 40, 100);
    a->pic1 = "p1";
    b->pic1 = "p2";
    b->name = "Other";
    b->date = "2012-10";
    EXPECT_EQ(Call("C_LoadBookShelf", {"book", ""}), "1");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], "InitBooksData(p1,11,2,100,Name 2012-11,11;p2,12,0,40,Other 2012-10,12)");
}

TEST_F(ShelfView, PageUserId) {
    struct Case {
        int mode;
        const char* id;
        const char* want;
    };
    const Case cases[] = {{0, "42", "42"}, {0, "3068152", "-1"}, {1, "42", "-1"}, {0, "-1", "-1"}};
    for (const auto& c : cases) {
        g_nUserMode = c.mode;
        EXPECT_EQ(CMyBooksHtmlView::PageUserId(c.id), c.want) << c.mode << "/" << c.id;
    }
}

TEST_F(ShelfView, LoadPassesTheStoredUserAndAsksForAPendingSelection) {
    EXPECT_EQ(Call("C_Load", {""}), "1");
    EXPECT_TRUE(calls.empty()) << "no user: no InitUID";
    g_UserInfo.userid = "3068152";
    EXPECT_EQ(Call("C_Load", {""}), "1");
    EXPECT_EQ(calls, (std::vector<std::string>{"InitUID(-1)"}));
    calls.clear();
    g_UserInfo.userid = "42";
    view->SelectShelf("book", "5"); // before the page has loaded: nothing clicked, kept
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Call("C_Load", {""}), "0");
    EXPECT_EQ(Call("C_Go_Shelf", {""}), "1");
    EXPECT_EQ(calls, (std::vector<std::string>{"InitUID(42)", "SelBook()", "CategoryItemClick(id_5)"}));
    calls.clear();
    EXPECT_EQ(Call("C_Go_Shelf", {""}), "1");
    EXPECT_EQ(calls, (std::vector<std::string>{"SelBook()"}))
        << "the category was clicked once; the type stays";
}

TEST_F(ShelfView, SelectionOnALoadedPage) {
    Call("C_InitClassList", {"mag"});
    calls.clear();
    view->SelectShelf("book", "5");
    EXPECT_EQ(calls, (std::vector<std::string>{"SelBook()", "CategoryItemClick(id_5)"}));
    EXPECT_EQ(view->m_strRequestedType, "");
    EXPECT_EQ(view->m_strPendingCategory, "");
    calls.clear();
    view->SelectShelf("mag", "9");
    EXPECT_EQ(calls, (std::vector<std::string>{"CategoryItemClick(id_9)"})) << "same type: only the click";
    EXPECT_EQ(view->m_strRequestedType, "mag") << "kept: only the immediate switch clears it";
}

TEST_F(ShelfView, NotificationsReachOnlyALoadedPageOfTheirType) {
    view->NotifyProgress("11", "mag", "40");
    view->NotifyUserId("42");
    view->ChangeShelfType("mag");
    EXPECT_TRUE(calls.empty()) << "not loaded yet";
    Call("C_InitClassList", {"mag"});
    calls.clear();
    view->NotifyProgress("11", "book", "40");
    view->NotifyDownloadStopped("book", "11");
    view->ChangeShelfType("book");
    EXPECT_TRUE(calls.empty()) << "the page shows magazines";
    view->NotifyProgress("11", "mag", "40");
    view->NotifyDownloadStopped("mag", "11");
    view->NotifyDownloadStarted("mag", "11"); // the page has no such function
    view->NotifyReDownLoad("2", "7", "11");   // nor this one
    view->NotifyUserId("3068152");
    view->ChangeShelfType("mag");
    EXPECT_EQ(calls, (std::vector<std::string>{"ShowProgress(11|mag|40)", "js_StopDownload(mag|11)",
                                               "InitUID(-1)", "ClearCategoryItem()",
                                               "AddCategoryItem(new_read|" + Gbk("最近阅读") + ")"}));
}

TEST_F(ShelfView, AFailedDownloadIsToldAndListedAsFailedAndAStopAsAStop) {
    Call("C_InitClassList", {"mag"});
    CMagInfo* failed = AddItem("mag", "21", "7", DOWN_STATE_LOADING, 40, 100);
    CMagInfo* stopped = AddItem("mag", "22", "7", DOWN_STATE_LOADING, 10, 100);
    {
        CSingleLock lock(&g_csDownLoadState, TRUE);
        g_nDownLoadCount = 2;
    }
    // The two transfers end as the download workers end them.
    CDownLoadManager::OnDownLoadDone(failed, failed->savepath, MYHTTP_ERR_CONNECT, FALSE);
    CDownLoadManager::OnDownLoadDone(stopped, stopped->savepath, MYHTTP_ERR_CONNECT, TRUE);
    EXPECT_EQ(g_DownLoadManager.GetRunningCount(), 0);
    calls.clear();
    view->NotifyDownloadFailed("mag", "21");
    view->NotifyDownloadFailed("book", "21"); // the page shows magazines
    EXPECT_EQ(Call("C_LoadBookShelf", {"mag", ""}), "1");
    EXPECT_EQ(calls, (std::vector<std::string>{"js_DownloadFailed(mag|21)", "ClearBookShelf()",
                                               "InitBooksData(p21,21,0,40,Name 2012-11,21;p22,22,0,10,Name "
                                               "2012-11,22)",
                                               "js_DownloadFailed(mag|21)"}));
    // A page without a word for failures hears of a stop.
    fakes.back()->AddPage(PageUrl("Bookshelf.html"), PageOf({"js_StopDownload"}));
    view->Navigate2(PageUrl("Bookshelf.html").GetString());
    calls.clear();
    view->NotifyDownloadFailed("mag", "21");
    EXPECT_EQ(calls, (std::vector<std::string>{"js_StopDownload(mag|21)"}));
}

TEST_F(ShelfView, PageCallsBecomeEvents) {
    CMagInfo* item = AddItem("mag", "11", "7", DOWN_STATE_DONE);
    EXPECT_EQ(Call("C_GoShelf", {"book", "5"}), "1");
    EXPECT_EQ(Call("C_LocalRead", {"mag", "11"}), "1");
    EXPECT_EQ(Call("C_LocalRead", {"mag", "99"}), "1");
    EXPECT_EQ(Call("C_ReadFile", {"mag", "11", "x"}), "1");
    EXPECT_EQ(Call("C_ReadFile", {"mag", "99", "x"}), "1");
    EXPECT_EQ(Call("C_DownLoadFile", {"book", "77", "t"}), "1");
    ASSERT_EQ(Codes(), (std::vector<WPARAM>{EVT_GO_SHELF, EVT_READ_LOCAL, EVT_READ_LOCAL, EVT_READ_ONLINE,
                                            EVT_DOWNLOAD_FILE}));
    EXPECT_EQ(events[0].p2, "5");
    EXPECT_EQ(events[0].p3, "book");
    EXPECT_EQ(events[1].lParam, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(events[3].p1 + events[3].p2 + events[3].p3, "x99mag");
    EXPECT_EQ(events[4].p1 + events[4].p2 + events[4].p3, "t77book");
}

TEST_F(ShelfView, ItemTextsThatCouldNameAnotherFileAreRefused) {
    AddItem("mag", "11", "7", DOWN_STATE_DONE);
    const std::vector<std::pair<CString, CString>> bad = {
        {"mag", "../11"}, {"mag", "a/b"}, {"mag", "a\\b"},
        {"mag", ""},      {"m.g", "11"},  {"mag", CString(std::string(65, 'a'))}};
    for (const auto& [type, pid] : bad) {
        for (const char* m : {"C_LocalRead", "C_OpenFolder", "C_StartDownLoad", "C_StopDownLoad"})
            EXPECT_EQ(Call(m, {type, pid}), "0") << m << " " << type << "/" << pid;
        EXPECT_EQ(Call("C_ReadFile", {type, pid, ""}), "0");
        EXPECT_EQ(Call("C_DownLoadFile", {type, pid, ""}), "0");
        EXPECT_EQ(Call("C_DeleteFile", {type, "", pid}), "0");
    }
    EXPECT_TRUE(events.empty());
    EXPECT_NE(g_MagShelf.Find("mag", "11"), nullptr);
    EXPECT_EQ(Call("C_LocalRead", {"mag", "A-z_09"}), "1") << "letters, digits, _ and - pass";
}

TEST_F(ShelfView, StartActsOnlyOnAStoppedOrWaitingItem) {
    // No store: a started download fails at once and leaves the item stopped; what matters is
    // whether the manager was asked, which shows as the item leaving its state.
    for (int state : {DOWN_STATE_LOADING, DOWN_STATE_DONE}) {
        CMagInfo* item = AddItem("mag", state == 1 ? "L" : "D", "7", state);
        EXPECT_EQ(Call("C_StartDownLoad", {"mag", item->pid}), "1");
        EXPECT_EQ(item->down, state) << "state " << state << " must not get a second transfer";
        EXPECT_EQ(g_DownLoadManager.GetRunningCount(), 0);
    }
}

TEST_F(ShelfView, DeleteRemovesOnlyTheRecordsOwnFileInTheDownloadFolder) {
    WriteFileBytes(dir.sub("Down/a.zip"), "pkg");
    WriteFileBytes(dir.sub("Down/a.zip.temp"), "part");
    WriteFileBytes(dir.sub("outside.zip"), "keep");
    fs::create_directories(dir.sub("Down/folder.zip"));
    fs::create_symlink(dir.sub("outside.zip"), dir.sub("Down/link.zip"));

    struct Case {
        const char* pid;
        std::string savepath;
        const char* survivor; // the file that must still exist afterwards, or ""
    };
    const Case cases[] = {
        {"a", dir.win() + "Down\\a.zip", ""},
        {"b", dir.win() + "outside.zip", "outside.zip"},
        {"c", dir.win() + "Down\\..\\outside.zip", "outside.zip"},
        {"d", dir.win() + "Down\\folder.zip", "Down/folder.zip"},
        {"e", dir.win() + "Down\\link.zip", "Down/link.zip"},
    };
    for (const auto& c : cases)
        AddItem("mag", c.pid, "7", DOWN_STATE_DONE)->savepath = CString(c.savepath);
    for (const auto& c : cases) {
        EXPECT_EQ(Call("C_DeleteFile", {"mag", "id_7", c.pid}), "1");
        EXPECT_EQ(g_MagShelf.Find("mag", c.pid), nullptr) << "the record goes in any case";
        EXPECT_TRUE(fs::exists(fs::symlink_status(dir.sub(c.survivor)))) << c.pid;
    }
    // The partial file goes with its package: nothing could resume it once the record is gone.
    EXPECT_FALSE(fs::exists(dir.sub("Down/a.zip")));
    EXPECT_FALSE(fs::exists(dir.sub("Down/a.zip.temp")));
    EXPECT_EQ(ReadFileBytes(dir.sub("outside.zip")), "keep");
}

TEST_F(ShelfView, DeletingARecentReadKeepsThePackage) {
    WriteFileBytes(dir.sub("Down/r.zip"), "pkg");
    AddItem("mag", "r", "7", DOWN_STATE_DONE);
    AddItem("mag_read", "r", "7", DOWN_STATE_DONE);
    EXPECT_EQ(Call("C_DeleteFile", {"mag", "new_read", "r"}), "1");
    EXPECT_EQ(g_MagShelf.Find("mag_read", "r"), nullptr);
    EXPECT_NE(g_MagShelf.Find("mag", "r"), nullptr);
    EXPECT_TRUE(fs::exists(dir.sub("Down/r.zip")));
    EXPECT_EQ(Call("C_DeleteFile", {"mag", "", "missing"}), "1");
}

TEST_F(ShelfView, LoginFromTheShelfUpdatesTheRecordAndReports) {
    EXPECT_EQ(Call("C_UserLogin", {"", "n", "p", "", "", "1"}), "0");
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(g_UserInfo.userid.IsEmpty());
    EXPECT_EQ(Call("C_UserLogin", {"42", "name", "pw", "1", "9", "1"}), "1");
    EXPECT_EQ(Codes(), (std::vector<WPARAM>{EVT_USER_LOGIN}));
    EXPECT_EQ(g_UserInfo.userid, "42");
    EXPECT_NE(g_UserInfo.username, "name") << "kept in the alternative Base64 form";
    EXPECT_TRUE(fs::exists(dir.sub("Data/user.xml")));
}

TEST_F(ShelfView, OpenFolderHandsTheFoldersPathToTheFileManagerAsOneArgument) {
    // A folder name a shell would take apart; the opener writes down the arguments it got.
    std::string odd = dir.sub("Down/a b;$(touch x)");
    fs::create_directories(odd);
    std::string opener = dir.sub("opener.sh");
    WriteFileBytes(opener, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out.tmp\"\n"
                           "mv \"$0.out.tmp\" \"$0.out\"\n");
    chmod(opener.c_str(), 0755);
    AfxSetDesktopOpener(opener.c_str());
    CMagInfo* item = AddItem("mag", "11", "7", DOWN_STATE_LOADING);
    item->savepath = CString(AfxUnmapPath(odd + "/pkg.zip"));
    EXPECT_EQ(Call("C_OpenFolder", {"mag", "11"}), "1");
    bool opened = testwait::WaitFor([&] { return fs::exists(opener + ".out"); });
    AfxSetDesktopOpener(nullptr);
    ASSERT_TRUE(opened);
    EXPECT_EQ(ReadFileBytes(opener + ".out"), "[" + odd + "]");
    EXPECT_FALSE(fs::exists(dir.sub("Down/x"))) << "no shell ran the name";
    EXPECT_FALSE(fs::exists("x"));
}

} // namespace

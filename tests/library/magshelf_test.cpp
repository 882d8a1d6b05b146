// The shelf store over real files in a fresh Data folder.
#include "tests/library/LibraryFixture.h"
#include "library/MagShelf.h"

#include "tests/foundation/FoundationTestUtil.h"

#include <string>

namespace {

CMagInfo* Make(const char* pid, const char* type, const char* sort_id = "", int down = DOWN_STATE_DONE) {
    auto* p = new CMagInfo;
    p->id = pid;
    p->pid = pid;
    p->type = type;
    p->sort_id = sort_id;
    p->down = down;
    return p;
}

std::string Pids(CMagShelf& shelf, const char* kind) {
    CMagInfoList list;
    shelf.GetList(kind, list);
    std::string s;
    for (CMagInfo* p : list)
        s += std::string(p->pid) + " ";
    return s;
}

std::string ItemReply(const char* pid, const char* sort_id = "1") {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n<booklist><id>") + pid +
           "</id>\r\n<pid>" + pid + "</pid>\r\n<sort_id>" + sort_id + "</sort_id>\r\n</booklist></api>\r\n";
}

} // namespace

using MagShelfTest = DataFolderTest;

TEST_F(MagShelfTest, FirstStartGivesEmptyListsAndWritesNothing) {
    CMagShelf shelf;
    shelf.LoadAll();
    for (const char* kind : {"mag", "book", "mag_read", "book_read"}) {
        CMagInfoList list;
        EXPECT_TRUE(shelf.GetList(kind, list));
        EXPECT_EQ(list.GetSize(), 0);
    }
    EXPECT_EQ(FileCount(), 0);
}

TEST_F(MagShelfTest, UnknownKindsAreIgnored) {
    CMagShelf shelf;
    CMagInfo item;
    item.pid = "x";
    for (const char* kind : {"all", "MAG", "", "books"}) {
        SCOPED_TRACE(kind);
        CMagInfoList list;
        EXPECT_FALSE(shelf.GetList(kind, list));
        EXPECT_EQ(shelf.Find(kind, "x"), nullptr);
        EXPECT_FALSE(shelf.Add(&item, kind, TRUE));
        EXPECT_TRUE(shelf.Remove(kind, "x"));
        EXPECT_EQ(shelf.AddFromXml(ItemReply("x").c_str(), kind), nullptr);
        EXPECT_EQ(shelf.GetSortIdList(kind), "");
        if (std::string(kind) != "all")
            shelf.Save(kind);
    }
    EXPECT_EQ(FileCount(), 0);
}

TEST_F(MagShelfTest, SaveAllAndLoadAllKeepEachListInItsFile) {
    {
        CMagShelf shelf;
        EXPECT_TRUE(shelf.Add(Make("m1", "mag"), "mag", FALSE));
        EXPECT_TRUE(shelf.Add(Make("m2", "mag", "", DOWN_STATE_LOADING), "mag", FALSE));
        EXPECT_TRUE(shelf.Add(Make("b1", "book"), "book", FALSE));
        EXPECT_TRUE(shelf.Add(Make("r1", "mag"), "mag_read", FALSE));
        EXPECT_TRUE(shelf.Add(Make("r2", "book"), "book_read", FALSE));
        shelf.Save("all");
    }
    EXPECT_NE(ReadFile("MagShelf.xml").find("<pid>m2</pid>"), std::string::npos);
    EXPECT_NE(ReadFile("BookShelf.xml").find("<pid>b1</pid>"), std::string::npos);
    EXPECT_NE(ReadFile("MagNewRead.xml").find("<pid>r1</pid>"), std::string::npos);
    EXPECT_NE(ReadFile("BookNewRead.xml").find("<pid>r2</pid>"), std::string::npos);

    CMagShelf shelf;
    shelf.LoadAll();
    EXPECT_EQ(Pids(shelf, "mag"), "m1 m2 ");
    EXPECT_EQ(Pids(shelf, "book"), "b1 ");
    EXPECT_EQ(Pids(shelf, "mag_read"), "r1 ");
    EXPECT_EQ(Pids(shelf, "book_read"), "r2 ");
    EXPECT_EQ(shelf.Find("mag", "m2")->down, DOWN_STATE_WAITING);
    EXPECT_EQ(shelf.Find("mag", "m1")->down, DOWN_STATE_DONE);
}

TEST_F(MagShelfTest, RecentReadsKeepTheTenNewestInOrder) {
    CMagShelf shelf;
    std::vector<CMagInfo*> items;
    for (int i = 1; i <= 11; ++i) {
        items.push_back(Make(("b" + std::to_string(i)).c_str(), "book"));
        EXPECT_TRUE(shelf.AddRecentRead(items.back()));
    }
    EXPECT_EQ(Pids(shelf, "book_read"), "b11 b10 b9 b8 b7 b6 b5 b4 b3 b2 ");
    // Reading the third again moves it to the front without a duplicate, as the same object.
    EXPECT_TRUE(shelf.AddRecentRead(items[8]));
    EXPECT_EQ(Pids(shelf, "book_read"), "b9 b11 b10 b8 b7 b6 b5 b4 b3 b2 ");
    EXPECT_EQ(shelf.Find("book_read", "b9"), items[8]);
    EXPECT_EQ(Pids(shelf, "mag_read"), "");

    CMagShelf reloaded;
    reloaded.LoadAll();
    EXPECT_EQ(Pids(reloaded, "book_read"), "b9 b11 b10 b8 b7 b6 b5 b4 b3 b2 ");
}

TEST_F(MagShelfTest, RecentReadOfAnotherTypeChangesNothing) {
    CMagShelf shelf;
    CMagInfo item;
    item.pid = "x";
    item.type = "video";
    EXPECT_TRUE(shelf.AddRecentRead(&item));
    EXPECT_EQ(Pids(shelf, "book_read") + Pids(shelf, "mag_read"), "");
    EXPECT_EQ(FileCount(), 0);
}

TEST_F(MagShelfTest, RemoveFromShelfAlsoRemovesTheRecentRead) {
    CMagShelf shelf;
    CMagInfo* a = Make("a", "book");
    shelf.Add(a, "book", TRUE);
    shelf.Add(Make("b", "book"), "book", FALSE);
    shelf.AddRecentRead(a);

    // Recent list only: the shelf keeps it.
    EXPECT_TRUE(shelf.Remove("book_read", "a"));
    EXPECT_EQ(Pids(shelf, "book"), "a b ");
    EXPECT_EQ(Pids(shelf, "book_read"), "");
    shelf.AddRecentRead(a);

    // After a restart the two files hold separate records; removing from the shelf takes both.
    CMagShelf restarted;
    restarted.LoadAll();
    EXPECT_NE(restarted.Find("book", "a"), restarted.Find("book_read", "a"));
    EXPECT_TRUE(restarted.Remove("book", "a"));
    EXPECT_EQ(Pids(restarted, "book"), "b ");
    EXPECT_EQ(Pids(restarted, "book_read"), "");
    EXPECT_EQ(ReadFile("BookShelf.xml").find("<pid>a</pid>"), std::string::npos);
    EXPECT_EQ(ReadFile("BookNewRead.xml").find("<pid>a</pid>"), std::string::npos);
    // A pid that is not listed still rewrites the files.
    std::filesystem::remove(PathOf("MagShelf.xml"));
    EXPECT_TRUE(restarted.Remove("mag", "nobody"));
    EXPECT_TRUE(Exists("MagShelf.xml"));
    EXPECT_TRUE(Exists("MagNewRead.xml"));
}

TEST_F(MagShelfTest, AddRefusesAListedPidAndDoesNotSave) {
    CMagShelf shelf;
    EXPECT_TRUE(shelf.Add(Make("a", "mag"), "mag", TRUE));
    std::filesystem::remove(PathOf("MagShelf.xml"));
    CMagInfo dup;
    dup.pid = "a";
    EXPECT_FALSE(shelf.Add(&dup, "mag", TRUE));
    EXPECT_FALSE(Exists("MagShelf.xml"));
    EXPECT_TRUE(shelf.Add(Make("b", "mag"), "mag", TRUE));
    EXPECT_TRUE(shelf.Add(Make("c", "mag"), "mag", FALSE));
    EXPECT_EQ(Pids(shelf, "mag"), "b a c ");
    EXPECT_TRUE(shelf.Exists("mag", "c"));
    EXPECT_FALSE(shelf.Exists("book", "c"));
}

// Whole entries are compared: a shelf holding only category 13 does not offer category 3.
TEST_F(MagShelfTest, SortIdListComparesWholeEntries) {
    struct Case {
        std::vector<const char*> ids;
        const char* expected;
    };
    const Case cases[] = {
        {{"5", "7", "5"}, "5,7,"}, {{"13", "3"}, "13,3,"}, {{"3", "13", "3", "13"}, "3,13,"},
        {{"13"}, "13,"},           {{"", "4", ""}, "4,"},  {{}, ""},
    };
    for (const Case& c : cases) {
        CMagShelf shelf;
        int n = 0;
        for (const char* id : c.ids)
            shelf.Add(Make(("p" + std::to_string(n++)).c_str(), "book", id), "book", FALSE);
        EXPECT_EQ(shelf.GetSortIdList("book"), c.expected);
        EXPECT_EQ(shelf.GetSortIdList("mag"), "");
    }
    EXPECT_TRUE(CMagShelf::SortIdListHas("13,", "13"));
    EXPECT_FALSE(CMagShelf::SortIdListHas("13,", "3"));
    EXPECT_FALSE(CMagShelf::SortIdListHas("13,", "1"));
    EXPECT_TRUE(CMagShelf::SortIdListHas("5,13,3,", "3"));
    EXPECT_FALSE(CMagShelf::SortIdListHas("5,", ""));
}

TEST_F(MagShelfTest, FirstWaitingPrefersMagazines) {
    CMagShelf shelf;
    EXPECT_EQ(shelf.FindFirstWaiting(), nullptr);
    shelf.Add(Make("b1", "book", "", DOWN_STATE_WAITING), "book", FALSE);
    EXPECT_EQ(shelf.FindFirstWaiting()->pid, "b1");
    shelf.Add(Make("m1", "mag", "", DOWN_STATE_DONE), "mag", FALSE);
    shelf.Add(Make("m2", "mag", "", DOWN_STATE_WAITING), "mag", FALSE);
    shelf.Add(Make("m3", "mag", "", DOWN_STATE_WAITING), "mag", FALSE);
    shelf.Add(Make("r1", "mag", "", DOWN_STATE_WAITING), "mag_read", TRUE);
    EXPECT_EQ(shelf.FindFirstWaiting()->pid, "m2");
}

TEST_F(MagShelfTest, AddFromXmlMergesTheItemReply) {
    CMagShelf shelf;
    shelf.Add(Make("old", "book"), "book", FALSE);
    CMagInfo* p = shelf.AddFromXml(ItemReply("new").c_str(), "book");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->down, DOWN_STATE_WAITING);
    EXPECT_EQ(Pids(shelf, "book"), "new old ");
    EXPECT_NE(ReadFile("BookShelf.xml").find("<pid>new</pid>"), std::string::npos);

    // A pid already on the shelf: NULL, nothing saved.
    std::filesystem::remove(PathOf("BookShelf.xml"));
    EXPECT_EQ(shelf.AddFromXml(ItemReply("new").c_str(), "book"), nullptr);
    EXPECT_EQ(shelf.AddFromXml("", "book"), nullptr);
    EXPECT_FALSE(Exists("BookShelf.xml"));

    // Into a recent list: trimmed to ten.
    for (int i = 0; i < 12; ++i)
        EXPECT_NE(shelf.AddFromXml(ItemReply(("r" + std::to_string(i)).c_str()).c_str(), "mag_read"),
                  nullptr);
    EXPECT_EQ(Pids(shelf, "mag_read"), "r11 r10 r9 r8 r7 r6 r5 r4 r3 r2 ");
}

TEST_F(MagShelfTest, LoadedFileWithMoreThanTenRecentReadsKeepsThemUntilAnAddition) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n";
    for (int i = 0; i < 12; ++i)
        text += "<booklist><pid>r" + std::to_string(i) + "</pid>\r\n<type>mag</type>\r\n</booklist>";
    text += "</api>\r\n";
    WriteFile("MagNewRead.xml", text);
    CMagShelf shelf;
    shelf.LoadAll();
    CMagInfoList list;
    shelf.GetList("mag_read", list);
    EXPECT_EQ(list.GetSize(), 12);
    shelf.AddRecentRead(list[11]);
    EXPECT_EQ(Pids(shelf, "mag_read"), "r11 r0 r1 r2 r3 r4 r5 r6 r7 r8 ");
}

// A listing works on a snapshot: later changes to the store do not move it.
TEST_F(MagShelfTest, GetListHandsOutASnapshot) {
    CMagShelf shelf;
    shelf.Add(Make("a", "mag"), "mag", FALSE);
    CMagInfoList snapshot;
    ASSERT_TRUE(shelf.GetList("mag", snapshot));
    CMagInfo* a = snapshot[0];
    shelf.Remove("mag", "a");
    shelf.Add(Make("b", "mag"), "mag", FALSE);
    ASSERT_EQ(snapshot.GetSize(), 1);
    EXPECT_EQ(snapshot[0], a);
    EXPECT_EQ(a->pid, "a"); // removed records stay alive
    EXPECT_EQ(Pids(shelf, "mag"), "b ");
}

// A crash while a list is saved keeps the previous shelf file or the new one, whole: the store
// writes through the atomic whole-file write. A child process adds a record (which saves the
// shelf) over and over, and is killed while one of its saves is under way.
TEST_F(MagShelfTest, KillDuringSaveKeepsAWholeShelf) {
    const int kStart = 3000;
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n";
    for (int i = 0; i < kStart; ++i)
        text += "<booklist><pid>p" + std::to_string(i) + "</pid>\r\n<description><![CDATA[" +
                std::string(1000, 'd') + "]]></description>\r\n<down>2</down>\r\n</booklist>";
    text += "</api>\r\n";
    WriteFile("MagShelf.xml", text);

    for (int extraUs : {0, 0, 50, 200, 1000, 3000}) {
        SCOPED_TRACE(extraUs);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CMagShelf child;
            child.LoadAll();
            for (int n = 0;; ++n)
                child.Add(Make(("new" + std::to_string(n)).c_str(), "mag"), "mag", FALSE);
        }
        ASSERT_TRUE(
            ftest::KillWhenWriteSeen(pid, PathOf("MagShelf.xml"), std::chrono::microseconds(extraUs)));

        const std::string now = ReadFile("MagShelf.xml");
        ASSERT_GE(now.size(), 8u);
        EXPECT_EQ(now.substr(now.size() - 8), "</api>\r\n") << now.size() << " bytes";
        CMagShelf reloaded;
        reloaded.LoadAll();
        CMagInfoList list;
        reloaded.GetList("mag", list);
        size_t records = 0;
        for (size_t at = now.find("<booklist>"); at != std::string::npos; at = now.find("<booklist>", at + 1))
            ++records;
        EXPECT_EQ(static_cast<size_t>(list.GetSize()), records);
        EXPECT_GE(list.GetSize(), kStart);
        ASSERT_GT(list.GetSize(), 0);
        EXPECT_EQ(list[0]->pid, "p0");
        EXPECT_EQ(list[kStart - 1]->description, std::string(1000, 'd'));
    }
}

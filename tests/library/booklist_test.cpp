// The booklist text: the writer's exact bytes, the reader's rules, and values that must survive.
#include "library/MagShelf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n";

CMagInfo* MakeFull(const std::string& tag) {
    auto* p = new CMagInfo;
    p->id = ("id-" + tag).c_str();
    p->pid = ("pid-" + tag).c_str();
    p->sort_id = "13";
    p->class_id = "c7";
    p->brand_id = "b9";
    p->feature = "feat";
    p->name = ("Name " + tag).c_str();
    p->date = "2012-11";
    p->isFullSwf = "1";
    p->price = "3.50";
    p->exe_size = "12.5M";
    p->load_url = "http://store.example/get?x=1";
    p->pic1 = "http://store.example/p1.jpg";
    p->s_pic = "http://store.example/s.jpg";
    p->description = "A description";
    p->rec_content = "Recommended";
    p->add_time = "2012-11-05 10:00:00";
    p->filelen = 4096;
    p->downlen = 1024;
    p->down = DOWN_STATE_DONE;
    p->type = "book";
    p->savepath = "\\home\\u\\Downloads\\Name 2012-11[pid].exe";
    return p;
}

void ExpectSameRecord(const CMagInfo& a, const CMagInfo& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.pid, b.pid);
    EXPECT_EQ(a.sort_id, b.sort_id);
    EXPECT_EQ(a.class_id, b.class_id);
    EXPECT_EQ(a.brand_id, b.brand_id);
    EXPECT_EQ(a.feature, b.feature);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.date, b.date);
    EXPECT_EQ(a.isFullSwf, b.isFullSwf);
    EXPECT_EQ(a.price, b.price);
    EXPECT_EQ(a.exe_size, b.exe_size);
    EXPECT_EQ(a.load_url, b.load_url);
    EXPECT_EQ(a.pic1, b.pic1);
    EXPECT_EQ(a.s_pic, b.s_pic);
    EXPECT_EQ(a.description, b.description);
    EXPECT_EQ(a.rec_content, b.rec_content);
    EXPECT_EQ(a.add_time, b.add_time);
    EXPECT_EQ(a.filelen, b.filelen);
    EXPECT_EQ(a.downlen, b.downlen);
    EXPECT_EQ(a.down, b.down);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.savepath, b.savepath);
}

std::string Booklists(const std::vector<std::string>& contents) {
    std::string s = kHeader;
    for (auto& c : contents)
        s += "<booklist>" + c + "</booklist>";
    return s + "</api>\r\n";
}

} // namespace

TEST(BooklistWriter, EmptyRecordAndEmptyListBytes) {
    CMagShelf shelf;
    CMagInfoList list;
    EXPECT_EQ(std::string(shelf.WriteBooklistXml(list)), std::string(kHeader) + "</api>\r\n");

    CMagInfo empty;
    list.Add(&empty);
    const std::string expected =
        std::string(kHeader) + "<booklist><id></id>\r\n<pid></pid>\r\n<sort_id></sort_id>\r\n"
                               "<class_id></class_id>\r\n<brand_id></brand_id>\r\n<feature></feature>\r\n"
                               "<name><![CDATA[]]></name>\r\n<date></date>\r\n<isFullSwf></isFullSwf>\r\n"
                               "<price></price>\r\n<exe_size></exe_size>\r\n"
                               "<load_url><![CDATA[]]></load_url>\r\n<pic1></pic1>\r\n<s_pic></s_pic>\r\n"
                               "<description><![CDATA[]]></description>\r\n"
                               "<rec_content><![CDATA[]]></rec_content>\r\n<add_time></add_time>\r\n"
                               "<downlen>0</downlen>\r\n<filelen>0</filelen>\r\n<down>0</down>\r\n"
                               "<type></type>\r\n<savepath><![CDATA[]]></savepath>\r\n</booklist></api>\r\n";
    EXPECT_EQ(std::string(shelf.WriteBooklistXml(list)), expected);
}

// Ordinary values are written exactly as they are; two records follow each other on one line.
TEST(BooklistWriter, OrdinaryValuesAreUnchanged) {
    CMagShelf shelf;
    CMagInfo a;
    a.id = "11";
    a.pid = "p11";
    a.name = "\xD6\xD0\xCE\xC4"; // GBK text
    a.load_url = "http://h/x.exe";
    a.pic1 = "http://h/p.jpg";
    a.downlen = 300000;
    a.filelen = 900000;
    a.down = 2;
    a.type = "mag";
    CMagInfo b;
    b.pid = "p12";
    CMagInfoList list;
    list.Add(&a);
    list.Add(&b);
    std::string text = shelf.WriteBooklistXml(list).str();
    EXPECT_NE(text.find("<booklist><id>11</id>\r\n<pid>p11</pid>\r\n"), std::string::npos);
    EXPECT_NE(text.find("<name><![CDATA[\xD6\xD0\xCE\xC4]]></name>\r\n"), std::string::npos);
    EXPECT_NE(text.find("<load_url><![CDATA[http://h/x.exe]]></load_url>\r\n<pic1>http://h/p.jpg</pic1>\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("<downlen>300000</downlen>\r\n<filelen>900000</filelen>\r\n<down>2</down>\r\n"
                        "<type>mag</type>\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("</savepath>\r\n</booklist><booklist><id></id>\r\n<pid>p12</pid>"),
              std::string::npos);
}

TEST(BooklistRoundTrip, EveryFieldComesBackAndOnlyDoneStaysDone) {
    CMagShelf shelf;
    CMagInfoList written;
    const int states[] = {DOWN_STATE_STOPPED, DOWN_STATE_LOADING, DOWN_STATE_DONE, DOWN_STATE_WAITING};
    for (int i = 0; i < 4; ++i) {
        CMagInfo* p = MakeFull(std::to_string(i));
        p->down = states[i];
        p->filelen = 1000 + i;
        p->downlen = 10 + i;
        written.Add(p);
    }
    CMagInfoList read;
    CMagInfo* pLast = shelf.ParseBooklist(shelf.WriteBooklistXml(written), read, FALSE);
    ASSERT_EQ(read.GetSize(), 4);
    EXPECT_EQ(pLast, read[3]);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        CMagInfo expected = *written[i];
        expected.down = states[i] == DOWN_STATE_DONE ? DOWN_STATE_DONE : DOWN_STATE_WAITING;
        ExpectSameRecord(*read[i], expected);
    }
    for (CMagInfo* p : written)
        delete p;
}

// The reader looks for each field after the last one found.
TEST(BooklistReader, FieldOrderAndIntegerRules) {
    struct Case {
        const char* content;
        bool added;
        const char* id;
        const char* sort_id;
        const char* name;
        LONGLONG downlen;
        LONGLONG filelen;
        int down;
    };
    const Case cases[] = {
        {"<id>1</id><pid>p</pid>", true, "1", "", "", 0, 0, DOWN_STATE_WAITING},
        // pid before id: id is found, the search for pid starts after it and fails.
        {"<pid>p</pid><id>1</id>", false, "", "", "", 0, 0, 0},
        // unknown elements between fields are passed over
        {"<id>1</id><x>junk</x><pid>p</pid><y/><name>N</name>", true, "1", "", "N", 0, 0, DOWN_STATE_WAITING},
        // sort_id found after name: the search for name then starts after sort_id and fails
        {"<pid>p</pid><name>N</name><sort_id>5</sort_id>", true, "", "5", "", 0, 0, DOWN_STATE_WAITING},
        // filelen before downlen: only downlen is seen
        {"<pid>p</pid><filelen>9</filelen><downlen>4</downlen>", true, "", "", "", 4, 0, DOWN_STATE_WAITING},
        {"<pid>p</pid><downlen>  -12abc</downlen><filelen>+7</filelen><down>2</down>", true, "", "", "", -12,
         7, DOWN_STATE_DONE},
        {"<pid>p</pid><downlen>x1</downlen><down>1</down>", true, "", "", "", 0, 0, DOWN_STATE_WAITING},
        {"<pid>p</pid><filelen>3221225472</filelen>", true, "", "", "", 0, 3221225472LL, DOWN_STATE_WAITING},
        {"<id>1</id><pid></pid>", false, "", "", "", 0, 0, 0},
        {"<id>1</id>", false, "", "", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        CMagShelf shelf;
        CMagInfoList list;
        CMagInfo* p = shelf.ParseBooklist(Booklists({c.content}), list, FALSE);
        ASSERT_EQ(p != nullptr, c.added);
        ASSERT_EQ(list.GetSize(), c.added ? 1 : 0);
        if (!c.added)
            continue;
        EXPECT_EQ(p->pid, "p");
        EXPECT_EQ(p->id, c.id);
        EXPECT_EQ(p->sort_id, c.sort_id);
        EXPECT_EQ(p->name, c.name);
        EXPECT_EQ(p->downlen, c.downlen);
        EXPECT_EQ(p->filelen, c.filelen);
        EXPECT_EQ(p->down, c.down);
    }
}

TEST(BooklistReader, DuplicatesEmptyElementsAndFrontInsertion) {
    CMagShelf shelf;
    CMagInfoList list;
    // The first of equal pids wins; an element without pid and an empty element are dropped.
    CMagInfo* p = shelf.ParseBooklist(Booklists({"<id>1</id><pid>A</pid>", "", "<id>2</id><pid>A</pid>",
                                                 "<id>3</id>", "<id>4</id><pid>B</pid>"}),
                                      list, FALSE);
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list[0]->id, "1");
    EXPECT_EQ(list[1]->pid, "B");
    EXPECT_EQ(p, list[1]);

    // A then B into a list holding C, at the front: B, A, C, and the result is B.
    CMagInfoList front;
    shelf.ParseBooklist(Booklists({"<pid>C</pid>"}), front, FALSE);
    p = shelf.ParseBooklist(Booklists({"<pid>A</pid>", "<pid>B</pid>"}), front, TRUE);
    ASSERT_EQ(front.GetSize(), 3);
    EXPECT_EQ(front[0]->pid, "B");
    EXPECT_EQ(front[1]->pid, "A");
    EXPECT_EQ(front[2]->pid, "C");
    EXPECT_EQ(p, front[0]);

    // A pid already in the list is not added again.
    EXPECT_EQ(shelf.ParseBooklist(Booklists({"<id>9</id><pid>C</pid>"}), front, TRUE), nullptr);
    EXPECT_EQ(front.GetSize(), 3);
}

TEST(BooklistReader, TextsWithoutRecords) {
    const char* texts[] = {"", "garbage", "<other><booklist><pid>x</pid></booklist></other>",
                           "<?xml version=\"1.0\"?><api></api>", "<api><booklist></booklist></api>"};
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        CMagShelf shelf;
        CMagInfoList list;
        EXPECT_EQ(shelf.ParseBooklist(t, list, FALSE), nullptr);
        EXPECT_EQ(list.GetSize(), 0);
    }
}

// Values that once broke the file: markup in plain fields, "]]>" in CDATA fields, GBK text whose
// trail bytes are "\" or "]". Each value goes into every string field of a record, between other
// records, and everything must read back unchanged.
TEST(BooklistRoundTrip, HostileValuesSurvive) {
    const char* values[] = {
        "<b>bold</b> & \"quoted\" 'single'",
        "]]>",
        "a]]>b]]>c",
        "]]]]>",
        "x]]",
        "]",
        "<![CDATA[inner]]>",
        "&amp; &lt; &#65; &unknown; & alone",
        "</pid><pid>forged</pid>",
        "\xD6\xD0\xCE\xC4\xD4\xD3\xD6\xBE", // GBK text
        "\xD5\x5C\\path\\\xD5\x5C",         // trail byte 0x5C
        "\x81]]>\x81]\x81]]",               // trail byte 0x5D next to "]]>"
        "  leading and trailing  ",
        "tab\there",
        "line\r\nbreaks\nand\rreturns\r\n",
        "\r\n",
    };
    for (const char* v : values) {
        SCOPED_TRACE(v);
        CMagShelf shelf;
        CMagInfo before;
        before.pid = "first";
        CMagInfo* p = MakeFull("hostile");
        for (CString* s : {&p->id, &p->sort_id, &p->class_id, &p->brand_id, &p->feature, &p->name, &p->date,
                           &p->isFullSwf, &p->price, &p->exe_size, &p->load_url, &p->pic1, &p->s_pic,
                           &p->description, &p->rec_content, &p->add_time, &p->type, &p->savepath})
            *s = v;
        CMagInfo after;
        after.pid = "last";
        after.down = DOWN_STATE_DONE;
        CMagInfoList list;
        list.Add(&before);
        list.Add(p);
        list.Add(&after);
        CString text = shelf.WriteBooklistXml(list);
        CMagInfoList read;
        shelf.ParseBooklist(text, read, FALSE);
        ASSERT_EQ(read.GetSize(), 3) << text.GetString();
        EXPECT_EQ(read[0]->pid, "first");
        ExpectSameRecord(*read[1], *p);
        EXPECT_EQ(read[2]->pid, "last");
        EXPECT_EQ(read[2]->down, DOWN_STATE_DONE);
        delete p;
    }
}

TEST(BooklistWriter, PlainFieldsAreEscapedAndCDataIsSplit) {
    CMagShelf shelf;
    CMagInfo a;
    a.pid = "p";
    a.pic1 = "http://h/p.jpg?a=1&b=<2>";
    a.description = "x]]>y";
    CMagInfoList list;
    list.Add(&a);
    std::string text = shelf.WriteBooklistXml(list).str();
    EXPECT_NE(text.find("<pic1>http://h/p.jpg?a=1&amp;b=&lt;2&gt;</pic1>"), std::string::npos);
    EXPECT_NE(text.find("<description><![CDATA[x]]]]><![CDATA[>y]]></description>"), std::string::npos);
}

TEST(MagInfo, LengthsAndPercentIn64Bits) {
    EXPECT_EQ(CMagInfo::CalcPercent(0, 0), 0);
    EXPECT_EQ(CMagInfo::CalcPercent(5, -1), 0);
    EXPECT_EQ(CMagInfo::CalcPercent(50, 200), 25);
    // 30 MiB of 40 MiB: the 32-bit product 31457280 * 100 would wrap.
    EXPECT_EQ(CMagInfo::CalcPercent(30LL << 20, 40LL << 20), 75);
    // A 3 GiB package, 2.5 GiB done.
    CMagInfo big;
    big.pid = "big";
    big.filelen = 3LL << 30;
    big.downlen = 5LL << 29;
    EXPECT_EQ(big.GetPercent(), 83);

    CMagShelf shelf;
    CMagInfoList list;
    list.Add(&big);
    CString text = shelf.WriteBooklistXml(list);
    EXPECT_NE(text.Find("<downlen>2684354560</downlen>\r\n<filelen>3221225472</filelen>"), -1);
    CMagInfoList read;
    shelf.ParseBooklist(text, read, FALSE);
    ASSERT_EQ(read.GetSize(), 1);
    EXPECT_EQ(read[0]->filelen, 3LL << 30);
    EXPECT_EQ(read[0]->downlen, 5LL << 29);
}

// A value cut after the first byte of a double-byte character loses that byte, not the markup
// behind it: the record and the ones after it read back whole.
TEST(BooklistRoundTrip, IncompleteLastCharacterIsDropped) {
    CMagShelf shelf;
    CMagInfo* p = MakeFull("cut");
    p->id = "id\xD6";
    p->name = "\xD6\xD0\xCE";
    p->description = "x]]\x81";
    p->savepath = "\x81";
    CMagInfo after;
    after.pid = "after";
    CMagInfoList list;
    list.Add(p);
    list.Add(&after);
    CMagInfoList read;
    shelf.ParseBooklist(shelf.WriteBooklistXml(list), read, FALSE);
    ASSERT_EQ(read.GetSize(), 2);
    CMagInfo expected = *p;
    expected.id = "id";
    expected.name = "\xD6\xD0";
    expected.description = "x]]";
    expected.savepath = "";
    ExpectSameRecord(*read[0], expected);
    EXPECT_EQ(read[1]->pid, "after");
    delete p;
}

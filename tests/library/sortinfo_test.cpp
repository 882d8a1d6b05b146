// Category records and the category answer parser.
#include "foundation/CommonFunc.h"
#include "library/SortInfo.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Item {
    std::string id, p_id, sort_name;
    bool operator==(const Item&) const = default;
};
struct Sort {
    std::string id, sort_name;
    std::vector<Item> items;
    bool operator==(const Sort&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Sort& s) {
    os << "{" << s.id << "/" << s.sort_name << ":";
    for (const auto& i : s.items)
        os << " " << i.id << "/" << i.p_id << "/" << i.sort_name;
    return os << "}";
}

// Parses and takes the records over, so nothing leaks whatever the outcome.
std::vector<Sort> Parse(const std::string& xml) {
    CArray<CSortInfo*, CSortInfo*> arr;
    g_CommonFunc.ParseSortClass(xml.c_str(), arr);
    std::vector<Sort> out;
    for (int i = 0; i < arr.GetSize(); ++i) {
        std::unique_ptr<CSortInfo> p(arr.GetAt(i));
        Sort s{p->id.str(), p->sort_name.str(), {}};
        for (int j = 0; j < p->items.GetSize(); ++j) {
            const CBigClassInfo& b = p->items.GetAt(j);
            s.items.push_back({b.id.str(), b.p_id.str(), b.sort_name.str()});
        }
        out.push_back(s);
    }
    return out;
}

TEST(ParseSortClass, Table) {
    struct Case {
        const char* name;
        std::string xml;
        std::vector<Sort> expected;
    };
    const Case cases[] = {
        {"the example",
         R"(<api><sort id="7" sort_name="X"><item id="71" p_id="7" sort_name="Y"/></sort></api>)",
         {{"7", "X", {{"71", "7", "Y"}}}}},
        {"two items in order",
         R"(<?xml version="1.0" encoding="utf-8"?>
<api>
  <sort id="3" sort_name="A">
    <item id="31" p_id="3" sort_name="A1"/>
    <item id="32" p_id="3" sort_name="A2"></item>
  </sort>
  <sort id="4" sort_name="B"/>
</api>)",
         {{"3", "A", {{"31", "3", "A1"}, {"32", "3", "A2"}}}, {"4", "B", {}}}},
        {"empty text", "", {}},
        {"no api element", R"(<root><sort id="1" sort_name="x"/></root>)", {}},
        {"not xml", "category list unavailable", {}},
        {"absent attributes read as empty",
         R"(<api><sort id="5"><item/></sort><sort/></api>)",
         {{"5", "", {{"", "", ""}}}, {"", "", {}}}},
        {"other elements passed over",
         R"(<api><status code="0"/><sort id="1" sort_name="n"><note/><item id="11" p_id="1" sort_name="m"/></sort><extra/></api>)",
         {{"1", "n", {{"11", "1", "m"}}}}},
        {"a sort nested deeper is not read",
         R"(<api><group><sort id="9" sort_name="deep"/></group></api>)",
         {}},
        {"items outside a sort are not read", R"(<api><item id="1" p_id="0" sort_name="x"/></api>)", {}},
        {"entities are unescaped",
         R"(<api><sort id="2" sort_name="Arts &amp; Crafts"/></api>)",
         {{"2", "Arts & Crafts", {}}}},
        {"GBK text kept as bytes",
         "<api><sort id=\"8\" sort_name=\"\xD4\xD3\xD6\xBE\"/></api>",
         {{"8", "\xD4\xD3\xD6\xBE", {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Parse(c.xml), c.expected);
    }
}

TEST(ParseSortClass, EmptiesTheArrayFirst) {
    CArray<CSortInfo*, CSortInfo*> arr;
    CSortInfo held; // the caller still owns what it held before
    arr.Add(&held);
    g_CommonFunc.ParseSortClass("<api/>", arr);
    EXPECT_EQ(arr.GetSize(), 0);
}

TEST(SortInfo, RecordsStartEmptyAndSubCategoriesCopy) {
    CSortInfo sort;
    EXPECT_TRUE(sort.id.IsEmpty());
    EXPECT_TRUE(sort.sort_name.IsEmpty());
    EXPECT_EQ(sort.items.GetSize(), 0);

    CBigClassInfo a;
    a.id = "71";
    a.p_id = "7";
    a.sort_name = "Y";
    CBigClassInfo b(a);
    a.sort_name = "changed";
    EXPECT_STREQ(b.sort_name, "Y");
    CBigClassInfo c;
    c = b;
    EXPECT_STREQ(c.id, "71");
    EXPECT_STREQ(c.p_id, "7");
}

} // namespace

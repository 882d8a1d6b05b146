#include "platform/base/AfxColl.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Items(const CStringArray& a) {
    std::vector<std::string> v;
    for (INT_PTR i = 0; i < a.GetSize(); ++i)
        v.push_back(a[i].str());
    return v;
}

std::vector<std::string> Items(const CStringList& l) {
    std::vector<std::string> v;
    for (POSITION pos = l.GetHeadPosition(); pos;)
        v.push_back(l.GetNext(pos).str());
    return v;
}

using Strs = std::vector<std::string>;

} // namespace

TEST(BaseColl, ArrayGrowsAndClampsRemoval) {
    CStringArray a;
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(a.GetUpperBound(), -1);
    EXPECT_EQ(a.Add("a"), 0);
    EXPECT_EQ(a.Add(CString("b")), 1);
    a.InsertAt(1, "x", 2);
    EXPECT_EQ(Items(a), (Strs{"a", "x", "x", "b"}));

    a.InsertAt(6, "z"); // past the end: the gap fills with empty strings
    EXPECT_EQ(Items(a), (Strs{"a", "x", "x", "b", "", "", "z"}));

    a.RemoveAt(5, 100);
    EXPECT_EQ(Items(a), (Strs{"a", "x", "x", "b", ""}));
    a.RemoveAt(9);
    a.RemoveAt(-1);
    EXPECT_EQ(a.GetSize(), 5);
    a.RemoveAt(1, 2);
    EXPECT_EQ(Items(a), (Strs{"a", "b", ""}));

    a.SetAtGrow(4, "e");
    EXPECT_EQ(Items(a), (Strs{"a", "b", "", "", "e"}));
    a.SetAt(0, "A");
    a.ElementAt(1) = "B";
    EXPECT_EQ(a.GetAt(0), "A");
    EXPECT_EQ(a[1], "B");
    EXPECT_EQ(a.GetCount(), 5);
    EXPECT_EQ(a.GetUpperBound(), 4);

    a.SetSize(2);
    EXPECT_EQ(Items(a), (Strs{"A", "B"}));
    a.RemoveAll();
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(a.GetData(), nullptr);
}

// The argument refers into the array itself while the array grows.
TEST(BaseColl, ArrayAddsItsOwnElements) {
    CStringArray a;
    a.Add(CString('q', 100));
    for (int i = 0; i < 40; ++i)
        a.Add(a[0]);
    a.InsertAt(0, a[a.GetUpperBound()], 3);
    a.SetAtGrow(200, a[1]);
    EXPECT_EQ(a.GetSize(), 201);
    EXPECT_EQ(a[200], CString('q', 100));
    EXPECT_EQ(a[43], CString('q', 100));

    a.Append(a);
    EXPECT_EQ(a.GetSize(), 402);
    EXPECT_EQ(a[401], CString('q', 100));

    CStringArray copy;
    copy.Add("old");
    copy.Copy(a);
    EXPECT_EQ(copy.GetSize(), 402);
    copy.Copy(copy);
    EXPECT_EQ(copy.GetSize(), 402);

    CStringArray other;
    other.Add("1");
    other.Add("2");
    CStringArray target;
    target.Add("a");
    target.Add("b");
    target.InsertAt(1, &other);
    EXPECT_EQ(Items(target), (Strs{"a", "1", "2", "b"}));
    EXPECT_EQ(target.Append(other), 4);
    EXPECT_EQ(Items(target), (Strs{"a", "1", "2", "b", "1", "2"}));
}

TEST(BaseColl, ByteArrayGrowsZeroFilled) {
    CByteArray b;
    b.Add(7);
    b.SetSize(1 << 20);
    ASSERT_EQ(b.GetSize(), 1 << 20);
    const BYTE* d = b.GetData();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d[0], 7);
    bool zero = true;
    for (INT_PTR i = 1; i < b.GetSize(); ++i)
        zero = zero && d[i] == 0;
    EXPECT_TRUE(zero);

    b.SetSize(3);
    b.SetSize(6);
    EXPECT_EQ(b[4], 0);
    b.SetSize(-5);
    EXPECT_EQ(b.GetSize(), 0);

    CDWordArray dw;
    dw.Add(0xFFFFFFFFu);
    EXPECT_EQ(dw[0], 0xFFFFFFFFu);
    CUIntArray ui;
    ui.InsertAt(0, 5u);
    EXPECT_EQ(ui.GetAt(0), 5u);

    int x = 0, y = 0;
    CPtrArray p;
    p.Add(&x);
    p.Add(&y);
    p.RemoveAt(0);
    EXPECT_EQ(p[0], &y);

    CArray<CString, const CString&> generic;
    generic.Add("g");
    EXPECT_EQ(generic[0], "g");
}

TEST(BaseColl, ListWalksBothWaysAndRemovesWhileWalking) {
    CStringList l;
    l.AddTail("b");
    l.AddTail(CString("c"));
    l.AddHead("a");
    EXPECT_EQ(Items(l), (Strs{"a", "b", "c"}));
    EXPECT_EQ(l.GetCount(), 3);
    EXPECT_EQ(l.GetHead(), "a");
    EXPECT_EQ(l.GetTail(), "c");

    Strs back;
    for (POSITION pos = l.GetTailPosition(); pos;)
        back.push_back(l.GetPrev(pos).str());
    EXPECT_EQ(back, (Strs{"c", "b", "a"}));

    POSITION b = l.Find("b");
    ASSERT_NE(b, nullptr);
    l.InsertBefore(b, "a2");
    l.InsertAfter(b, "b2");
    EXPECT_EQ(Items(l), (Strs{"a", "a2", "b", "b2", "c"}));
    EXPECT_EQ(l.GetAt(l.FindIndex(3)), "b2");
    EXPECT_EQ(l.FindIndex(5), nullptr);
    EXPECT_EQ(l.FindIndex(-1), nullptr);
    EXPECT_EQ(l.Find("zz"), nullptr);

    // The usual removal idiom: keep the position, advance, then remove the kept one.
    for (POSITION pos = l.GetHeadPosition(); pos;) {
        POSITION cur = pos;
        const CString& s = l.GetNext(pos);
        if (s.GetLength() == 2)
            l.RemoveAt(cur);
    }
    EXPECT_EQ(Items(l), (Strs{"a", "b", "c"}));

    EXPECT_EQ(l.RemoveHead(), "a");
    EXPECT_EQ(l.RemoveTail(), "c");
    EXPECT_EQ(Items(l), (Strs{"b"}));
    EXPECT_EQ(l.RemoveTail(), "b");
    EXPECT_TRUE(l.IsEmpty());
    EXPECT_EQ(l.GetHeadPosition(), nullptr);
    EXPECT_EQ(l.GetTailPosition(), nullptr);

    // Inserting around a NULL position goes to the ends.
    l.InsertAfter(nullptr, "t");
    l.InsertBefore(nullptr, "h");
    EXPECT_EQ(Items(l), (Strs{"h", "t"}));

    // Finding a repeat starts after the given position.
    l.AddTail("h");
    POSITION first = l.Find("h");
    POSITION second = l.Find("h", first);
    EXPECT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(l.Find("h", second), nullptr);
}

TEST(BaseColl, PointerListOwnsNothing) {
    int a = 1, b = 2;
    CPtrList l;
    l.AddTail(&a);
    l.AddTail(&b);
    EXPECT_EQ(l.GetAt(l.Find(&b)), &b);
    l.RemoveAt(l.Find(&a));
    EXPECT_EQ(l.GetHead(), &b);
    l.RemoveAll();
    EXPECT_EQ(l.GetCount(), 0);
}

TEST(BaseColl, StringMapsLookUpExactly) {
    CMapStringToString m;
    m.SetAt("content-type", "text/html");
    m["host"] = "127.0.0.1";
    m.SetAt("host", "localhost"); // replaces, does not add
    EXPECT_EQ(m.GetCount(), 2);

    CString v("untouched");
    EXPECT_FALSE(m.Lookup("Host", v)); // keys are case-sensitive
    EXPECT_EQ(v, "untouched");
    EXPECT_TRUE(m.Lookup("host", v));
    EXPECT_EQ(v, "localhost");

    // operator[] of a missing key adds an empty value.
    EXPECT_TRUE(m["new"].IsEmpty());
    EXPECT_EQ(m.GetCount(), 3);

    // A NULL key is the empty key.
    m.SetAt(nullptr, "nothing");
    EXPECT_TRUE(m.Lookup("", v));
    EXPECT_EQ(v, "nothing");

    EXPECT_TRUE(m.RemoveKey("new"));
    EXPECT_FALSE(m.RemoveKey("new"));
    EXPECT_EQ(m.GetCount(), 3);

    // GBK keys that differ only in a trail byte stay apart.
    m.SetAt("\xD5\x5C", "a");
    m.SetAt("\xD5\x5D", "b");
    EXPECT_TRUE(m.Lookup("\xD5\x5C", v));
    EXPECT_EQ(v, "a");

    m.RemoveAll();
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(m.GetStartPosition(), nullptr);
}

TEST(BaseColl, MapWalkVisitsEveryEntryOnceAndAllowsRemoval) {
    CMapStringToPtr m(10);
    m.InitHashTable(17);
    std::vector<int> values(50);
    for (int i = 0; i < 50; ++i)
        m.SetAt(CString(std::to_string(i)), &values[static_cast<size_t>(i)]);
    EXPECT_EQ(m.GetCount(), 50);

    std::set<std::string> seen;
    POSITION pos = m.GetStartPosition();
    while (pos) {
        CString key;
        void* p = nullptr;
        m.GetNextAssoc(pos, key, p);
        EXPECT_TRUE(seen.insert(key.str()).second) << key.str();
        int i = std::stoi(key.str());
        EXPECT_EQ(p, &values[static_cast<size_t>(i)]);
        if (i % 2)
            m.RemoveKey(key); // removing the entry just returned is safe
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_EQ(m.GetCount(), 25);

    void* p = nullptr;
    EXPECT_FALSE(m.Lookup("7", p));
    EXPECT_TRUE(m.Lookup("8", p));
    EXPECT_EQ(p, &values[8]);
}

// The double-click rule the presenter applies to GTK's presses.
#include "platform/gtk/ClickRule.h"

#include <gtest/gtest.h>

namespace {

struct Press {
    unsigned ms;
    POINT at;
    bool dbl;
};

TEST(ClickRule, PairsPressesByTimeAndDistance) {
    struct Case {
        const char* name;
        std::vector<Press> presses;
    };
    const Case cases[] = {
        {"quick pair", {{1000, {10, 10}, false}, {1300, {10, 10}, true}}},
        {"at the time limit", {{1000, {10, 10}, false}, {1500, {10, 10}, true}}},
        {"too slow", {{1000, {10, 10}, false}, {1501, {10, 10}, false}}},
        {"inside the rectangle", {{0, {10, 10}, false}, {100, {12, 8}, true}}},
        {"outside the rectangle", {{0, {10, 10}, false}, {100, {13, 10}, false}}},
        // The third press starts a new pair; the fourth completes it.
        {"four presses",
         {{0, {5, 5}, false}, {100, {5, 5}, true}, {200, {5, 5}, false}, {300, {5, 5}, true}}},
        // A slow second press is the first of a new pair.
        {"slow then quick", {{0, {5, 5}, false}, {900, {5, 5}, false}, {1000, {5, 5}, true}}},
        // The tick count wraps: the difference still counts.
        {"across the wrap", {{0xFFFFFF00u, {5, 5}, false}, {0x40, {5, 5}, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        afxgtk::CClickRule rule;
        for (const Press& p : c.presses)
            EXPECT_EQ(rule.Press(p.ms, p.at), p.dbl) << p.ms;
    }
}

TEST(ClickRule, AnotherButtonBreaksThePair) {
    afxgtk::CClickRule rule;
    EXPECT_FALSE(rule.Press(0, POINT{1, 1}));
    rule.Reset();
    EXPECT_FALSE(rule.Press(100, POINT{1, 1}));
    EXPECT_TRUE(rule.Press(200, POINT{1, 1}));
}

} // namespace

// A periodic message is due once more whole milliseconds than its interval have passed since it
// was last sent; the set holds at most kMax, and what it removed is never sent again.
#include <gtest/gtest.h>

#include <vector>

#include "channel/PeriodicSet.h"

namespace vtx {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
const PeriodicSet::TimePoint t0{milliseconds(5000)};

PASSTHRU_MSG tagged(uint8_t tag) {
    PASSTHRU_MSG msg{};
    msg.DataSize = 1;
    msg.Data[0] = tag;
    return msg;
}

std::vector<uint8_t> sentAt(PeriodicSet& set, PeriodicSet::TimePoint now) {
    std::vector<uint8_t> tags;
    set.sendDue(now, [&](const PASSTHRU_MSG& msg) { tags.push_back(msg.Data[0]); });
    return tags;
}

TEST(PeriodicSet, DueAfterMoreWholeMillisecondsThanTheInterval) {
    const struct {
        microseconds after;
        bool due;
    } cases[] = {{milliseconds(10), false},
                 {milliseconds(10) + microseconds(999), false},
                 {milliseconds(11), true},
                 {milliseconds(40), true}};
    for (const auto& c : cases) {
        PeriodicSet set;
        ASSERT_NE(set.add(tagged(1), 10, t0), 0u);
        EXPECT_EQ(sentAt(set, t0 + c.after).size(), c.due ? 1u : 0u) << c.after.count();
    }
}

TEST(PeriodicSet, CountsTheIntervalFromEachSendAndTellsTheEarliestDue) {
    PeriodicSet set;
    EXPECT_FALSE(set.nextDue());
    const uint32_t slow = set.add(tagged(1), 50, t0);
    set.add(tagged(2), 20, t0);
    EXPECT_EQ(set.nextDue(), t0 + milliseconds(21));
    EXPECT_EQ(sentAt(set, t0 + milliseconds(21)), std::vector<uint8_t>{2});
    EXPECT_EQ(set.nextDue(), t0 + milliseconds(42));
    EXPECT_EQ(sentAt(set, t0 + milliseconds(51)), (std::vector<uint8_t>{1, 2}));
    set.remove(slow);
    EXPECT_FALSE(set.contains(slow));
    EXPECT_EQ(sentAt(set, t0 + milliseconds(200)), std::vector<uint8_t>{2});
    set.clear();
    EXPECT_TRUE(sentAt(set, t0 + milliseconds(400)).empty());
    EXPECT_FALSE(set.nextDue());
}

TEST(PeriodicSet, HoldsAtMostTheLimit) {
    PeriodicSet set;
    uint32_t last = 0;
    for (std::size_t i = 0; i < PeriodicSet::kMax; ++i) {
        last = set.add(tagged(0), 100, t0);
        EXPECT_NE(last, 0u);
    }
    EXPECT_EQ(set.add(tagged(0), 100, t0), 0u);
    set.remove(last);
    EXPECT_NE(set.add(tagged(0), 100, t0), 0u);
}

}  // namespace
}  // namespace vtx

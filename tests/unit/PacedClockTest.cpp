// The paced clock stands still while the frames it handed out wait for the device, then runs
// behind the real time by every such wait; discarded frames count as taken when seen.
#include <gtest/gtest.h>

#include <memory>

#include "channel/PacedClock.h"

namespace vtx {
namespace {

using std::chrono::milliseconds;
const PacedClock::TimePoint t0{milliseconds(1000)};

TEST(PacedClock, LagsByTheWaitOfTheFramesItHandedOut) {
    struct Case {
        const char* name;
        int sent;
        int discarded;
        milliseconds takenAfter;  // the device's write, after the hand-out
        milliseconds lag;         // once the clock has seen them settled, at t0 + 20 ms
    };
    const Case cases[] = {
        {"taken at once", 2, 0, milliseconds(0), milliseconds(0)},
        {"taken late", 2, 0, milliseconds(5), milliseconds(5)},
        {"discarded: counted up to the reading that sees it", 1, 1, milliseconds(5),
         milliseconds(20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PacedClock clock;
        // Nothing handed out yet: the real time.
        EXPECT_EQ(clock.read(t0), t0);
        auto ticket = std::make_shared<TxTicket>();
        clock.handedOut(ticket, 2);
        // Waiting: the clock stands at the hand-out, and a due timer is looked at again now.
        EXPECT_EQ(clock.read(t0 + milliseconds(3)), t0);
        EXPECT_EQ(clock.readAt(), t0);
        EXPECT_EQ(clock.realTimeOf(t0, t0 + milliseconds(3)), t0 + milliseconds(3));
        for (int i = 0; i < c.sent; ++i) {
            ticket->creditSent(t0 + c.takenAfter);
        }
        for (int i = 0; i < c.discarded; ++i) {
            ticket->creditDiscarded();
        }
        const auto now = t0 + milliseconds(20);
        EXPECT_EQ(clock.read(now), now - c.lag);
        EXPECT_EQ(clock.readAt(), now);
        EXPECT_EQ(clock.realTimeOf(t0 + milliseconds(30), now), t0 + milliseconds(30) + c.lag);
    }
}

TEST(PacedClock, HandOutIsTheReadingsTimeNotTheCallers) {
    PacedClock clock;
    (void)clock.read(t0);
    auto ticket = std::make_shared<TxTicket>();
    // Handed out after a delay since the reading; the device takes them 4 ms after the reading.
    clock.handedOut(ticket, 1);
    ticket->creditSent(t0 + milliseconds(4));
    EXPECT_EQ(clock.read(t0 + milliseconds(10)), t0 + milliseconds(6));
}

}  // namespace
}  // namespace vtx

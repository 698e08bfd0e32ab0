// The transmit queue admits what fits below its limit (echo hook first), lets paced frames past
// it, hands chunks out in order with their tickets, and gives back every ticket it clears.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "comm/TransmitQueue.h"
#include "comm/TxCompletion.h"

namespace vtx {
namespace {

std::vector<CanFrame> numbered(std::size_t n, uint32_t first = 0) {
    std::vector<CanFrame> frames(n);
    for (std::size_t i = 0; i < n; ++i) {
        frames[i].idCan = first + static_cast<uint32_t>(i);
    }
    return frames;
}

TEST(TransmitQueue, AdmitsWhatFitsAndLetsPacedFramesPastTheLimit) {
    int wakes = 0;
    TransmitQueue queue([&] { ++wakes; });
    const auto ticket = std::make_shared<TxTicket>();
    std::size_t echoed = 0;
    const auto echo = [&](std::size_t fits) { echoed += fits; };

    EXPECT_EQ(queue.admit(numbered(TransmitQueue::kLimit - 2), ticket, echo),
              TransmitQueue::kLimit - 2);
    EXPECT_EQ(queue.admit(numbered(5, 100), nullptr, echo), 2u);
    EXPECT_EQ(echoed, TransmitQueue::kLimit);
    EXPECT_EQ(queue.admit(numbered(1), nullptr, echo), 0u);
    EXPECT_EQ(echoed, TransmitQueue::kLimit);  // nothing admitted: no echo
    queue.pushBeyondLimit(numbered(3, 200), ticket);
    EXPECT_EQ(wakes, 3);

    const TransmitQueue::Chunk head = queue.take(TransmitQueue::kLimit - 2);
    // The frame record is packed: its fields are copied out before they are compared.
    EXPECT_EQ(uint32_t{head.frames.back().idCan}, TransmitQueue::kLimit - 3);
    const TransmitQueue::Chunk rest = queue.take(100);
    ASSERT_EQ(rest.frames.size(), 5u);
    const uint32_t ids[] = {100, 101, 200, 201, 202};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(uint32_t{rest.frames[i].idCan}, ids[i]);
        EXPECT_EQ(rest.tickets[i], i < 2 ? nullptr : ticket);
    }
    EXPECT_TRUE(queue.empty());
}

TEST(TransmitQueue, ClearedFramesSettleAsDiscardedAndWakeTheWriter) {
    TransmitQueue queue([] {});
    TxCompletion completion;
    const auto ticket = std::make_shared<TxTicket>();
    queue.admit(numbered(4), ticket);
    completion.settle(queue.take(1).tickets, 1, TxTicket::Clock::now());

    // Waits with no deadline to speak of: only the clear below can end it.
    std::thread writer([&] {
        EXPECT_TRUE(completion.waitUntil(TxTicket::Clock::now() + std::chrono::hours(1),
                                         [&] { return ticket->resolved() == 4; }));
    });
    completion.settle(queue.clear(), 0, TxTicket::Clock::now());
    writer.join();
    EXPECT_EQ(ticket->sent(), 1u);
    EXPECT_EQ(ticket->discarded(), 3u);
    EXPECT_EQ(completion.writesSettled(), 2u);
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace vtx

// The receive queue hands out messages oldest first, whatever mix of pushes and partial takes
// came before (the takes that drop the taken front, and those that do not).
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "channel/ReceiveQueue.h"

namespace vtx {
namespace {

ChannelMessage numbered(uint32_t n) {
    ChannelMessage message;
    message.timestamp = n;
    message.data.append(std::vector<uint8_t>(n % 20, static_cast<uint8_t>(n)));
    return message;
}

TEST(ReceiveQueue, TakesInOrderAcrossPushesAndPartialTakes) {
    // (pushes, takes) rounds; a deque of numbers is the model.
    const std::vector<std::pair<uint32_t, std::size_t>> rounds = {
        {5, 2}, {0, 1}, {3, 4}, {10, 1}, {1, 100}, {7, 3}, {7, 3}, {0, 8}, {20, 19}};
    ReceiveQueue queue;
    std::deque<uint32_t> model;
    uint32_t next = 0;
    for (const auto& [pushes, takes] : rounds) {
        for (uint32_t i = 0; i < pushes; ++i, ++next) {
            queue.push(numbered(next));
            model.push_back(next);
        }
        std::vector<ChannelMessage> taken;
        queue.takeFront(takes, taken);
        ASSERT_EQ(taken.size(), std::min(takes, model.size()));
        for (const ChannelMessage& message : taken) {
            EXPECT_EQ(message.timestamp, model.front());
            EXPECT_EQ(message.data.size(), model.front() % 20);
            model.pop_front();
        }
        EXPECT_EQ(queue.size(), model.size());
    }
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
}

}  // namespace
}  // namespace vtx

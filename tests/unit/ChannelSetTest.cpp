// Ending channels: endAndDrain wakes the calls inside the channels it ends, with the reason, and
// returns once they have left; a channel it does not name goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "base/J2534.h"
#include "channel/ChannelSet.h"
#include "protocol/ChannelProtocol.h"

namespace vtx {
namespace {

// A call is counted into a channel only together with the release of the call lock it holds.
static_assert(
    std::is_constructible_v<WaitingCalls::Entry, WaitingCalls&, std::unique_lock<std::mutex>&>);
static_assert(!std::is_constructible_v<WaitingCalls::Entry, WaitingCalls&>);

// Longer than any test runs: only the channel's end cuts such a read short.
constexpr uint32_t kReadTimeoutMs = 0xFFFFFFFF;

// A read that waits inside its channel, entered as the operations enter it: under the call lock,
// which the entry releases. What ended its wait is written while it is still counted in.
class WaitingRead {
  public:
    WaitingRead(std::mutex& callMutex, Channel& channel) {
        thread_ = std::thread([&callMutex, &channel, this] {
            std::unique_lock call(callMutex);
            const WaitingCalls::Entry in(channel.waitingCalls(), call);
            entered_.set_value();
            WaitInterruption interrupted = WaitInterruption::None;
            channel.takeReceived(1, kReadTimeoutMs, interrupted);
            ended_ = interrupted;
            returned_ = true;
        });
        // Ends once the thread has entered: whoever builds a read does not hold the call lock.
        entered_.get_future().wait();
    }
    ~WaitingRead() { thread_.join(); }
    WaitingRead(const WaitingRead&) = delete;
    WaitingRead& operator=(const WaitingRead&) = delete;

    // Read only after the channel's calls have been drained.
    WaitInterruption ended() const { return ended_; }
    bool returned() const { return returned_.load(); }

  private:
    std::promise<void> entered_;
    WaitInterruption ended_ = WaitInterruption::None;
    std::atomic<bool> returned_{false};
    std::thread thread_;
};

TEST(ChannelSet, EndAndDrainWaitsForTheCallsOfTheChannelsItEnds) {
    ChannelSet channels;
    Channel& can =
        channels.add(std::make_unique<Channel>(nullptr, createChannelProtocol(CAN, 0), 0, 500));
    Channel& iso = channels.add(
        std::make_unique<Channel>(nullptr, createChannelProtocol(ISO15765, 0), 0, 500));
    std::mutex callMutex;
    WaitingRead canRead(callMutex, can);
    WaitingRead isoRead(callMutex, iso);

    std::unique_lock call(callMutex);
    channels.endAndDrain(WaitInterruption::ChannelDisconnected, can.channelID());
    EXPECT_EQ(canRead.ended(), WaitInterruption::ChannelDisconnected);
    EXPECT_FALSE(isoRead.returned());

    channels.endAndDrain(WaitInterruption::DeviceClosed);
    EXPECT_EQ(isoRead.ended(), WaitInterruption::DeviceClosed);
}

}  // namespace
}  // namespace vtx

// The open channels of the device, in the order they were connected. Owned by the PassThru
// object and changed only under its call lock, by a command the communication thread runs or
// with the thread stopped, since the thread's service tick walks them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>

#include "channel/Channel.h"
#include "comm/ServedChannels.h"

namespace vtx {

class ChannelSet final : public ServedChannels {
  public:
    using List = std::list<std::unique_ptr<Channel>>;
    // Channel IDs are never 0 (nextObjectId): endAndDrain's choice of every channel.
    static constexpr uint32_t kEveryChannel = 0;

    Channel& add(std::unique_ptr<Channel> channel);
    void remove(uint32_t channelId);
    void clear() { channels_.clear(); }
    Channel* find(uint32_t channelId) const;
    bool empty() const { return channels_.empty(); }
    std::size_t size() const { return channels_.size(); }
    bool hasProtocol(uint32_t protocolId) const;
    // Ends the channel channelId, or every channel (Channel::end), and returns once every call
    // counted into them (WaitingCalls) has left. All of them are ended before any is waited for,
    // so that the calls of each wake at once. The channels stay in the set for the caller to
    // remove: the calls that left no longer use them.
    void endAndDrain(WaitInterruption why, uint32_t channelId = kEveryChannel);

    List::const_iterator begin() const { return channels_.begin(); }
    List::const_iterator end() const { return channels_.end(); }

    uint32_t fastestBitRate() const override;
    std::size_t filterCount() const override;
    void deliverReceived(std::span<CanFrame> frames) override;
    void sendDuePeriodics(const std::function<void(CanFrame&)>& write) override;
    void serviceProtocols() override;
    std::optional<std::chrono::steady_clock::time_point> nextProtocolTick() const override;
    std::optional<std::chrono::steady_clock::time_point> nextPeriodicDue() const override;

  private:
    // The earliest of one due time over every channel.
    std::optional<std::chrono::steady_clock::time_point> earliestOf(
        std::optional<std::chrono::steady_clock::time_point> (Channel::*due)()) const;

    List channels_;
};

}  // namespace vtx

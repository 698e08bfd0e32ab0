#include "channel/ChannelSet.h"

#include <algorithm>

namespace vtx {

Channel& ChannelSet::add(std::unique_ptr<Channel> channel) {
    return *channels_.emplace_back(std::move(channel));
}

void ChannelSet::remove(uint32_t channelId) {
    channels_.remove_if([channelId](const std::unique_ptr<Channel>& channel) {
        return channel->channelID() == channelId;
    });
}

Channel* ChannelSet::find(uint32_t channelId) const {
    for (const std::unique_ptr<Channel>& channel : channels_) {
        if (channel->channelID() == channelId) {
            return channel.get();
        }
    }
    return nullptr;
}

bool ChannelSet::hasProtocol(uint32_t protocolId) const {
    return std::any_of(channels_.begin(), channels_.end(),
                       [protocolId](const std::unique_ptr<Channel>& channel) {
                           return channel->protocolID() == protocolId;
                       });
}

void ChannelSet::endAndDrain(WaitInterruption why, uint32_t channelId) {
    const auto chosen = [channelId](const std::unique_ptr<Channel>& channel) {
        return channelId == kEveryChannel || channel->channelID() == channelId;
    };
    for (const std::unique_ptr<Channel>& channel : channels_) {
        if (chosen(channel)) {
            channel->end(why);
        }
    }
    for (const std::unique_ptr<Channel>& channel : channels_) {
        if (chosen(channel)) {
            channel->waitingCalls().waitUntilEmpty();
        }
    }
}

uint32_t ChannelSet::fastestBitRate() const {
    uint32_t kbps = 0;
    for (const std::unique_ptr<Channel>& channel : channels_) {
        kbps = std::max(kbps, channel->baudrate());
    }
    return kbps;
}

std::size_t ChannelSet::filterCount() const {
    std::size_t count = 0;
    for (const std::unique_ptr<Channel>& channel : channels_) {
        count += channel->filterCount();
    }
    return count;
}

void ChannelSet::deliverReceived(std::span<CanFrame> frames) {
    for (const std::unique_ptr<Channel>& channel : channels_) {
        channel->receiveFrames(frames.data(), static_cast<uint32_t>(frames.size()), 0);
    }
}

void ChannelSet::serviceProtocols() {
    for (const std::unique_ptr<Channel>& channel : channels_) {
        channel->serviceProtocol();
    }
}

std::optional<std::chrono::steady_clock::time_point> ChannelSet::nextProtocolTick() const {
    return earliestOf(&Channel::nextProtocolTick);
}

std::optional<std::chrono::steady_clock::time_point> ChannelSet::nextPeriodicDue() const {
    return earliestOf(&Channel::nextPeriodicDue);
}

std::optional<std::chrono::steady_clock::time_point> ChannelSet::earliestOf(
    std::optional<std::chrono::steady_clock::time_point> (Channel::*due)()) const {
    std::optional<std::chrono::steady_clock::time_point> earliest;
    for (const std::unique_ptr<Channel>& channel : channels_) {
        const auto next = ((*channel).*due)();
        if (next && (!earliest || *next < *earliest)) {
            earliest = next;
        }
    }
    return earliest;
}

void ChannelSet::sendDuePeriodics(const std::function<void(CanFrame&)>& write) {
    for (const std::unique_ptr<Channel>& channel : channels_) {
        channel->sendDuePeriodics(write);
    }
}

}  // namespace vtx

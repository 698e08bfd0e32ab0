// What the communication thread needs of the open channels. The channel layer above implements
// it; the thread calls it from its service tick and idle wait; the owner changes the channels only
// in a command the thread runs, or while the thread is stopped.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "base/CanFrame.h"

namespace vtx {

class ServedChannels {
  public:
    virtual ~ServedChannels() = default;

    // The highest bit rate among the channels, kbit/s; 0 with none.
    virtual uint32_t fastestBitRate() const = 0;
    // Filters over every channel: with none, nothing is read from the device.
    virtual std::size_t filterCount() const = 0;
    // Frames read from the device, offered to every channel (each stamps and filters them).
    virtual void deliverReceived(std::span<CanFrame> frames) = 0;
    // Writes each periodic frame that is due, of every channel, through write.
    virtual void sendDuePeriodics(const std::function<void(CanFrame&)>& write) = 0;
    // When the earliest periodic frame is due; none when no periodic message runs.
    virtual std::optional<std::chrono::steady_clock::time_point> nextPeriodicDue() const = 0;
    // Runs every channel's protocol timers that are due; the frames they make join the transmit
    // queue.
    virtual void serviceProtocols() = 0;
    // When the earliest of those timers is due; none when nothing waits.
    virtual std::optional<std::chrono::steady_clock::time_point> nextProtocolTick() const = 0;
};

}  // namespace vtx

#include "sim/SimFaults.h"

#include <algorithm>
#include <utility>

namespace vtx::sim {

namespace {
constexpr int kPacket = 16;
}  // namespace

void SimFaults::failWrites(int count) {
    std::lock_guard lock(mutex_);
    failedWrites_ = std::max(count, 0);
}

void SimFaults::shortenWrites(int count, int keepBytes) {
    std::lock_guard lock(mutex_);
    shortWrites_ = std::max(count, 0);
    shortWriteKeep_ = keepBytes;
}

void SimFaults::stallReads(int count) {
    std::lock_guard lock(mutex_);
    stalledReads_ = std::max(count, 0);
}

void SimFaults::stallReadsFor(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    stallUntil_ = SimClock::now() + duration;
}

void SimFaults::truncateNextRead() {
    std::lock_guard lock(mutex_);
    truncateRead_ = true;
}

void SimFaults::corruptNextIdentificationClass() {
    std::lock_guard lock(mutex_);
    identClassFault_ = true;
}

void SimFaults::corruptNextIdentificationChecksum() {
    std::lock_guard lock(mutex_);
    identChecksumFault_ = true;
}

void SimFaults::oversizeDlcOfNextFrames(int count, uint8_t dlc) {
    std::lock_guard lock(mutex_);
    oversizedDlcFrames_ = std::max(count, 0);
    oversizedDlc_ = std::clamp<uint8_t>(dlc, 9, 15);
}

void SimFaults::unplugAfterPacket(uint8_t packetClass, int command, int skip) {
    std::lock_guard lock(mutex_);
    unplugTrigger_ = UnplugTrigger{packetClass, command, std::max(skip, 0)};
}

void SimFaults::clear() {
    std::lock_guard lock(mutex_);
    failedWrites_ = 0;
    shortWrites_ = 0;
    stalledReads_ = 0;
    stallUntil_ = {};
    truncateRead_ = false;
    identClassFault_ = false;
    identChecksumFault_ = false;
    oversizedDlcFrames_ = 0;
    unplugTrigger_.reset();
}

bool SimFaults::takeOne(int& count) {
    if (count <= 0) {
        return false;
    }
    --count;
    return true;
}

bool SimFaults::takeWriteFailure() {
    std::lock_guard lock(mutex_);
    return takeOne(failedWrites_);
}

std::optional<int> SimFaults::takeShortWrite(int length) {
    std::lock_guard lock(mutex_);
    if (!takeOne(shortWrites_)) {
        return std::nullopt;
    }
    if (shortWriteKeep_ >= 0) {
        return std::min(shortWriteKeep_, length);
    }
    return length > kPacket ? (length - 1) / kPacket * kPacket : length / 2;
}

bool SimFaults::takeReadStall(SimClock::time_point now) {
    std::lock_guard lock(mutex_);
    return takeOne(stalledReads_) || now < stallUntil_;
}

bool SimFaults::takeReadTruncation() {
    std::lock_guard lock(mutex_);
    return std::exchange(truncateRead_, false);
}

bool SimFaults::takeIdentificationClassFault() {
    std::lock_guard lock(mutex_);
    return std::exchange(identClassFault_, false);
}

bool SimFaults::takeIdentificationChecksumFault() {
    std::lock_guard lock(mutex_);
    return std::exchange(identChecksumFault_, false);
}

std::optional<uint8_t> SimFaults::takeOversizedDlc() {
    std::lock_guard lock(mutex_);
    if (!takeOne(oversizedDlcFrames_)) {
        return std::nullopt;
    }
    return oversizedDlc_;
}

bool SimFaults::takeUnplugTrigger(const Packet& packet) {
    std::lock_guard lock(mutex_);
    if (!unplugTrigger_ || packet[0] != unplugTrigger_->packetClass ||
        (unplugTrigger_->command >= 0 && packet[1] != unplugTrigger_->command)) {
        return false;
    }
    if (takeOne(unplugTrigger_->skip)) {
        return false;
    }
    unplugTrigger_.reset();
    return true;
}

}  // namespace vtx::sim

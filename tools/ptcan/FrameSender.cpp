#include "tools/ptcan/FrameSender.h"

#include <algorithm>
#include <thread>

#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

namespace {
constexpr uint32_t kWriteTimeoutMs = 1000;
// The longest a wait goes without looking at the Ctrl-C flag.
constexpr uint32_t kSliceMs = 50;
constexpr uint32_t kEchoQuietMs = 5000;
constexpr std::size_t kBatch = 64;
}  // namespace

FrameSender::FrameSender(CanChannel& channel, LogOutput* echoes)
    : channel_(channel), echoes_(echoes), buffer_(echoes != nullptr ? kBatch : 0) {}

void FrameSender::send(const Frame& frame) {
    std::vector<PASSTHRU_MSG> messages{PassThruMessage::fromFrame(frame)};
    channel_.write(messages, kWriteTimeoutMs);
    ++sent_;
    takeEchoes(0);
}

uint32_t FrameSender::takeEchoes(uint32_t timeoutMs) {
    if (echoes_ == nullptr) {
        return 0;
    }
    const uint32_t count = channel_.read(buffer_, timeoutMs);
    for (uint32_t i = 0; i < count; ++i) {
        if ((buffer_[i].RxStatus & TX_MSG_TYPE) != 0) {
            echoes_->write(buffer_[i]);
            ++echoed_;
        }
    }
    return count;
}

void FrameSender::waitUntil(Clock::time_point then) {
    while (!Interrupt::requested()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(then - Clock::now());
        if (left.count() <= 0) {
            return;
        }
        const auto slice = static_cast<uint32_t>(std::min<int64_t>(left.count(), kSliceMs));
        if (echoes_ != nullptr) {
            takeEchoes(slice);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        }
    }
}

void FrameSender::collectEchoes() {
    auto quietUntil = Clock::now() + std::chrono::milliseconds(kEchoQuietMs);
    while (echoes_ != nullptr && echoed_ < sent_ && !Interrupt::requested() &&
           Clock::now() < quietUntil) {
        if (takeEchoes(kSliceMs) > 0) {
            quietUntil = Clock::now() + std::chrono::milliseconds(kEchoQuietMs);
        }
    }
}

}  // namespace ptcan

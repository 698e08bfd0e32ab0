#include "tools/ptcan/RawIsoTpRequester.h"

#include <algorithm>
#include <chrono>

#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

namespace {
constexpr uint32_t kStandardMask = 0x7FF;
constexpr uint32_t kExtendedMask = 0x1FFFFFFF;
constexpr uint32_t kSliceMs = 50;
constexpr uint32_t kWriteTimeoutMs = 1000;
constexpr std::size_t kFrameBytes = 8;
constexpr uint8_t kPadding = 0x55;
// Protocol control information, the high nibble of a frame's first byte.
constexpr uint8_t kSingleFrame = 0x0;
constexpr uint8_t kFirstFrame = 0x1;
constexpr uint8_t kConsecutiveFrame = 0x2;
constexpr uint8_t kFlowControlContinue = 0x30;
}  // namespace

RawIsoTpRequester::RawIsoTpRequester(CanChannel& channel, uint32_t rxId, uint32_t flowControlId,
                                     bool extended)
    : channel_(channel), rxId_(rxId), flowControlId_(flowControlId), extended_(extended) {
    channel_.addPassFilter(PassFilter{rxId, extended ? kExtendedMask : kStandardMask, extended});
}

Frame RawIsoTpRequester::paddedFrame(uint32_t id, bool extended,
                                     const std::vector<uint8_t>& bytes) {
    Frame frame{id, extended, std::vector<uint8_t>(kFrameBytes, kPadding)};
    for (std::size_t i = 0; i < bytes.size() && i < kFrameBytes; ++i) {
        frame.data[i] = bytes[i];
    }
    return frame;
}

std::optional<std::vector<uint8_t>> RawIsoTpRequester::exchange(uint32_t txId,
                                                                const std::vector<uint8_t>& request,
                                                                uint32_t timeoutMs) {
    std::vector<uint8_t> single(request.size() + 1);
    single[0] = static_cast<uint8_t>(request.size());
    std::copy(request.begin(), request.end(), single.begin() + 1);
    std::vector<PASSTHRU_MSG> out{PassThruMessage::fromFrame(paddedFrame(txId, extended_, single))};
    answer_.clear();
    expected_ = 0;
    channel_.write(out, kWriteTimeoutMs);
    std::vector<PASSTHRU_MSG> in(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline && !Interrupt::requested()) {
        if (channel_.read(in, kSliceMs) == 1 && (in[0].RxStatus & TX_MSG_TYPE) == 0 &&
            take(PassThruMessage::toFrame(in[0]))) {
            return answer_;
        }
    }
    return std::nullopt;
}

bool RawIsoTpRequester::take(const Frame& frame) {
    if (frame.id != rxId_ || frame.data.empty()) {
        return false;
    }
    const uint8_t type = frame.data[0] >> 4;
    if (type == kSingleFrame) {
        const std::size_t length = frame.data[0] & 0x0F;
        if (length == 0 || length >= frame.data.size()) {
            return false;
        }
        answer_.assign(frame.data.begin() + 1, frame.data.begin() + 1 + length);
        return true;
    }
    if (type == kFirstFrame && frame.data.size() == kFrameBytes) {
        expected_ = (static_cast<std::size_t>(frame.data[0] & 0x0F) << 8) | frame.data[1];
        answer_.assign(frame.data.begin() + 2, frame.data.end());
        sendFlowControl();
        return false;
    }
    if (type == kConsecutiveFrame && expected_ != 0) {
        answer_.insert(answer_.end(), frame.data.begin() + 1, frame.data.end());
        if (answer_.size() >= expected_) {
            answer_.resize(expected_);
            return true;
        }
    }
    return false;
}

void RawIsoTpRequester::sendFlowControl() {
    std::vector<PASSTHRU_MSG> out{PassThruMessage::fromFrame(
        paddedFrame(flowControlId_, extended_, {kFlowControlContinue, 0x00, 0x00}))};
    channel_.write(out, kWriteTimeoutMs);
}

}  // namespace ptcan

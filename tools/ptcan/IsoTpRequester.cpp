#include "tools/ptcan/IsoTpRequester.h"

#include <chrono>

#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

namespace {
constexpr uint8_t kNegativeAnswer = 0x7F;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint32_t kSliceMs = 50;
// A long request at a slow pace the ECU sets (4095 bytes, 585 frames 10 ms apart) takes 6 s.
constexpr uint32_t kWriteTimeoutMs = 10000;
constexpr uint32_t kIndications = START_OF_MESSAGE | TX_DONE | TX_MSG_TYPE;
}  // namespace

IsoTpRequester::IsoTpRequester(CanChannel& channel, uint32_t rxId, uint32_t flowControlId,
                               bool extended, bool pad)
    : channel_(channel), rxId_(rxId), extended_(extended), pad_(pad) {
    channel_.addFlowControlFilter(rxId, flowControlId, extended);
}

bool IsoTpRequester::isResponsePending(const std::vector<uint8_t>& answer) {
    return answer.size() >= 3 && answer[0] == kNegativeAnswer && answer[2] == kResponsePending;
}

std::vector<std::vector<uint8_t>> IsoTpRequester::exchange(uint32_t txId,
                                                           const std::vector<uint8_t>& request,
                                                           uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    std::vector<PASSTHRU_MSG> out{
        PassThruMessage::iso15765(txId, extended_, request, pad_ ? ISO15765_FRAME_PAD : 0)};
    channel_.write(out, kWriteTimeoutMs);
    std::vector<std::vector<uint8_t>> answers;
    std::vector<PASSTHRU_MSG> in(1);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline && !Interrupt::requested()) {
        if (channel_.read(in, kSliceMs) == 0 || (in[0].RxStatus & kIndications) != 0 ||
            PassThruMessage::id(in[0]) != rxId_ || in[0].DataSize <= PassThruMessage::kIdBytes) {
            continue;
        }
        answers.push_back(PassThruMessage::payload(in[0]));
        if (!isResponsePending(answers.back())) {
            break;
        }
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    }
    return answers;
}

}  // namespace ptcan

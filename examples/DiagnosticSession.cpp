#include "examples/DiagnosticSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace examples {

namespace {
constexpr uint8_t kNegativeAnswer = 0x7F;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint32_t kReadSliceMs = 50;
// Long enough for the largest block at a slow pace (585 frames, 10 ms apart, is about 6 s).
constexpr uint32_t kWriteTimeoutMs = 10000;
constexpr std::size_t kIdentifierBytes = 4;
}  // namespace

PASSTHRU_MSG isoMessage(uint32_t id, const std::vector<uint8_t>& payload) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = ISO15765;
    msg.TxFlags = ISO15765_FRAME_PAD;
    msg.DataSize = static_cast<uint32_t>(kIdentifierBytes + payload.size());
    msg.Data[0] = static_cast<uint8_t>(id >> 24);
    msg.Data[1] = static_cast<uint8_t>(id >> 16);
    msg.Data[2] = static_cast<uint8_t>(id >> 8);
    msg.Data[3] = static_cast<uint8_t>(id);
    std::copy(payload.begin(), payload.end(), msg.Data + kIdentifierBytes);
    return msg;
}

DiagnosticSession::DiagnosticSession(ptcan::PassThruLibrary& library, Echo echo)
    : library_(library), echo_(echo) {}

bool DiagnosticSession::step(const char* what, uint32_t status) {
    if (echo_ == Echo::PrintEveryCall || status != STATUS_NOERROR) {
        std::printf("%-44s %s\n", what, library_.describe(status).c_str());
    }
    return status == STATUS_NOERROR;
}

bool DiagnosticSession::open() {
    return step("PassThruOpen", library_.open(nullptr, &deviceId_)) &&
           step("PassThruConnect ISO15765 500 kbit/s",
                library_.connect(deviceId_, ISO15765, 0, 500000, &channelId_)) &&
           step("PassThruStartMsgFilter flow control 0x7E8", startFlowControlFilter());
}

void DiagnosticSession::close() {
    step("PassThruDisconnect", library_.disconnect(channelId_));
    step("PassThruClose", library_.close(deviceId_));
}

uint32_t DiagnosticSession::startFlowControlFilter() {
    PASSTHRU_MSG mask = isoMessage(0xFFFFFFFF, {});
    PASSTHRU_MSG pattern = isoMessage(kEcuResponse, {});
    PASSTHRU_MSG flowControl = isoMessage(kPhysicalRequest, {});
    uint32_t filterId = 0;
    return library_.startMsgFilter(channelId_, FLOW_CONTROL_FILTER, &mask, &pattern, &flowControl,
                                   &filterId);
}

std::optional<std::vector<uint8_t>> DiagnosticSession::request(uint32_t id,
                                                               const std::vector<uint8_t>& payload,
                                                               const char* what,
                                                               uint32_t timeoutMs) {
    PASSTHRU_MSG msg = isoMessage(id, payload);
    uint32_t count = 1;
    if (!step(what, library_.writeMsgs(channelId_, &msg, &count, kWriteTimeoutMs))) {
        return std::nullopt;
    }
    return readAnswer(payload.empty() ? 0 : payload[0], timeoutMs);
}

// The ECU's final answer to the service: its positive answer, or a negative one other than
// "response pending", which only extends the wait.
std::optional<std::vector<uint8_t>> DiagnosticSession::readAnswer(uint8_t service,
                                                                  uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        PASSTHRU_MSG in{};
        uint32_t count = 1;
        if (library_.readMsgs(channelId_, &in, &count, kReadSliceMs) != STATUS_NOERROR ||
            count != 1) {
            continue;
        }
        if ((in.RxStatus & (ISO15765_FIRST_FRAME | TX_DONE | TX_MSG_TYPE)) != 0 ||
            in.DataSize <= kIdentifierBytes) {
            continue;
        }
        std::vector<uint8_t> answer(in.Data + kIdentifierBytes, in.Data + in.DataSize);
        if (answer.size() >= 3 && answer[0] == kNegativeAnswer && answer[1] == service &&
            answer[2] == kResponsePending) {
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (answer[0] == static_cast<uint8_t>(service + kPositiveOffset) ||
            answer[0] == kNegativeAnswer) {
            return answer;
        }
    }
    return std::nullopt;
}

}  // namespace examples

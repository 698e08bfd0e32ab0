// What a diagnostic application does through any J2534 library, loaded by path: opens the
// device, connects ISO15765 at 500 kbit/s, pairs the engine ECU's answers (0x7E8) with its
// request identifier (0x7E0) in a flow-control filter, and exchanges whole requests and answers;
// the library does the ISO-TP framing. Every J2534 call can print its status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/ptcan/PassThruLibrary.h"

namespace examples {

class DiagnosticSession {
  public:
    static constexpr uint32_t kFunctionalRequest = 0x7DF;
    static constexpr uint32_t kPhysicalRequest = 0x7E0;
    static constexpr uint32_t kEcuResponse = 0x7E8;

    enum class Echo : uint8_t { Quiet, PrintEveryCall };

    DiagnosticSession(ptcan::PassThruLibrary& library, Echo echo);

    // Open, connect and the flow-control filter; false (with the failing call printed) when one
    // of them fails.
    bool open();
    void close();

    // Prints a call's status (unless quiet); whether it succeeded.
    bool step(const char* what, uint32_t status);

    // Sends the request and waits for the ECU's final answer, skipping indications and "response
    // pending" answers (7F xx 78); the answer's payload, or none when none came in time.
    std::optional<std::vector<uint8_t>> request(uint32_t id, const std::vector<uint8_t>& payload,
                                                const char* what, uint32_t timeoutMs = 2000);

    uint32_t deviceId() const { return deviceId_; }
    uint32_t channelId() const { return channelId_; }
    ptcan::PassThruLibrary& library() { return library_; }

  private:
    uint32_t startFlowControlFilter();
    std::optional<std::vector<uint8_t>> readAnswer(uint8_t service, uint32_t timeoutMs);

    ptcan::PassThruLibrary& library_;
    const Echo echo_;
    uint32_t deviceId_ = 0;
    uint32_t channelId_ = 0;
};

// An ISO15765 message to id, padded to full frames.
PASSTHRU_MSG isoMessage(uint32_t id, const std::vector<uint8_t>& payload);

}  // namespace examples

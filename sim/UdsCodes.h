// The bytes of the diagnostic services the simulated ECU speaks: service identifiers, response
// codes, and the helpers that read and write their big-endian fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vtx::sim::uds {

// Service identifiers.
constexpr uint8_t kSessionControl = 0x10;
constexpr uint8_t kEcuReset = 0x11;
constexpr uint8_t kReadDataByIdentifier = 0x22;
constexpr uint8_t kSecurityAccess = 0x27;
constexpr uint8_t kRoutineControl = 0x31;
constexpr uint8_t kRequestDownload = 0x34;
constexpr uint8_t kTransferData = 0x36;
constexpr uint8_t kRequestTransferExit = 0x37;
constexpr uint8_t kTesterPresent = 0x3E;

// A positive answer's first byte is the service identifier plus this.
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegativeResponse = 0x7F;
// Bit 7 of a sub-function byte asks the ECU to keep a positive answer to itself.
constexpr uint8_t kSuppressPositiveAnswer = 0x80;
constexpr uint8_t kSubFunctionMask = 0x7F;

// Negative response codes.
constexpr uint8_t kServiceNotSupported = 0x11;
constexpr uint8_t kSubFunctionNotSupported = 0x12;
constexpr uint8_t kIncorrectLength = 0x13;
constexpr uint8_t kResponseTooLong = 0x14;
constexpr uint8_t kConditionsNotCorrect = 0x22;
constexpr uint8_t kRequestSequenceError = 0x24;
constexpr uint8_t kRequestOutOfRange = 0x31;
constexpr uint8_t kSecurityAccessDenied = 0x33;
constexpr uint8_t kInvalidKey = 0x35;
constexpr uint8_t kExceededNumberOfAttempts = 0x36;
constexpr uint8_t kRequiredTimeDelayNotExpired = 0x37;
constexpr uint8_t kTransferDataSuspended = 0x71;
constexpr uint8_t kWrongBlockSequenceCounter = 0x73;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kSubFunctionNotSupportedInActiveSession = 0x7E;
constexpr uint8_t kServiceNotSupportedInActiveSession = 0x7F;

inline std::vector<uint8_t> negativeAnswer(uint8_t service, uint8_t code) {
    return {kNegativeResponse, service, code};
}

inline uint8_t positiveService(uint8_t service) {
    return static_cast<uint8_t>(service + kPositiveOffset);
}

inline uint32_t readBigEndian32(std::span<const uint8_t> bytes, std::size_t offset) {
    return (uint32_t{bytes[offset]} << 24) | (uint32_t{bytes[offset + 1]} << 16) |
           (uint32_t{bytes[offset + 2]} << 8) | uint32_t{bytes[offset + 3]};
}

inline void appendBigEndian32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

}  // namespace vtx::sim::uds

#include "base/ErrorTexts.h"

#include <array>

namespace vtx {

namespace {
constexpr std::array<const char*, kLastStatusCode + 1> kCodeNames = {
    "STATUS_NOERROR",
    "ERR_NOT_SUPPORTED",
    "ERR_INVALID_CHANNEL_ID",
    "ERR_INVALID_PROTOCOL_ID",
    "ERR_NULL_PARAMETER",
    "ERR_INVALID_IOCTL_VALUE",
    "ERR_INVALID_FLAGS",
    nullptr,  // ERR_FAILED: described by the stored text
    "ERR_DEVICE_NOT_CONNECTED",
    "ERR_TIMEOUT",
    "ERR_INVALID_MSG",
    "ERR_INVALID_TIME_INTERVAL",
    "ERR_EXCEEDED_LIMIT",
    "ERR_INVALID_MSG_ID",
    "ERR_DEVICE_IN_USE",
    "ERR_INVALID_IOCTL_ID",
    "ERR_BUFFER_EMPTY",
    "ERR_BUFFER_FULL",
    "ERR_BUFFER_OVERFLOW",
    "ERR_PIN_INVALID",
    "ERR_CHANNEL_IN_USE",
    "ERR_MSG_PROTOCOL_ID",
    "ERR_INVALID_FILTER_ID",
    "ERR_NO_FLOW_CONTROL",
    "ERR_NOT_UNIQUE",
    "ERR_INVALID_BAUDRATE",
    "ERR_INVALID_DEVICE_ID",
};
}  // namespace

const char* statusCodeName(uint32_t code) {
    return code < kCodeNames.size() ? kCodeNames[code] : nullptr;
}

}  // namespace vtx

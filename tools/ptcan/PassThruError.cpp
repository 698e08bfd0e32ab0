#include "tools/ptcan/PassThruError.h"

#include <array>
#include <cstdio>

namespace ptcan {

namespace {
// Indexed by status code, STATUS_NOERROR (0) to ERR_INVALID_DEVICE_ID (0x1A).
constexpr std::array<const char*, 0x1B> kStatusNames = {
    "STATUS_NOERROR",           "ERR_NOT_SUPPORTED",
    "ERR_INVALID_CHANNEL_ID",   "ERR_INVALID_PROTOCOL_ID",
    "ERR_NULL_PARAMETER",       "ERR_INVALID_IOCTL_VALUE",
    "ERR_INVALID_FLAGS",        "ERR_FAILED",
    "ERR_DEVICE_NOT_CONNECTED", "ERR_TIMEOUT",
    "ERR_INVALID_MSG",          "ERR_INVALID_TIME_INTERVAL",
    "ERR_EXCEEDED_LIMIT",       "ERR_INVALID_MSG_ID",
    "ERR_DEVICE_IN_USE",        "ERR_INVALID_IOCTL_ID",
    "ERR_BUFFER_EMPTY",         "ERR_BUFFER_FULL",
    "ERR_BUFFER_OVERFLOW",      "ERR_PIN_INVALID",
    "ERR_CHANNEL_IN_USE",       "ERR_MSG_PROTOCOL_ID",
    "ERR_INVALID_FILTER_ID",    "ERR_NO_FLOW_CONTROL",
    "ERR_NOT_UNIQUE",           "ERR_INVALID_BAUDRATE",
    "ERR_INVALID_DEVICE_ID",
};

std::string message(const std::string& call, uint32_t status, const std::string& lastError) {
    const std::string name = PassThruError::statusName(status);
    std::string text = call + " failed: " + name;
    // Some libraries describe a status by its name alone; that is said once.
    if (!lastError.empty() && lastError != name) {
        text += " (" + lastError + ")";
    }
    return text;
}
}  // namespace

PassThruError::PassThruError(const std::string& call, uint32_t status, const std::string& lastError)
    : std::runtime_error(message(call, status, lastError)), status_(status) {}

std::string PassThruError::statusName(uint32_t status) {
    if (status < kStatusNames.size()) {
        return kStatusNames[status];
    }
    char number[24];
    std::snprintf(number, sizeof number, "status 0x%X", status);
    return number;
}

}  // namespace ptcan

#include "tools/ptcan/PassThruError.h"

#include <cstdio>

#include "base/ErrorTexts.h"
#include "base/J2534.h"

namespace ptcan {

namespace {
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
    if (status == ERR_FAILED) {
        return "ERR_FAILED";
    }
    if (const char* name = vtx::statusCodeName(status)) {
        return name;
    }
    char number[24];
    std::snprintf(number, sizeof number, "status 0x%X", status);
    return number;
}

}  // namespace ptcan

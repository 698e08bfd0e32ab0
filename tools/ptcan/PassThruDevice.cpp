#include "tools/ptcan/PassThruDevice.h"

#include <cstdio>

#include "tools/ptcan/PassThruError.h"

namespace ptcan {

namespace {
// J2534 gives every text buffer 80 characters.
constexpr std::size_t kTextSize = 80;
}  // namespace

PassThruDevice::PassThruDevice(PassThruLibrary& library) : library_(library) {
    check("PassThruOpen", library_.open(nullptr, &id_));
    open_ = true;
    if (library_.integers() == PassThruLibrary::Integers::NotYetKnown) {
        close();
        throw ToolError(
            "the library's J2534 integers are neither 32-bit nor unsigned long: PassThruOpen "
            "wrote a device ID that fits neither");
    }
}

PassThruDevice::~PassThruDevice() {
    close();
}

bool PassThruDevice::close() {
    if (!open_) {
        return true;
    }
    open_ = false;
    const uint32_t status = library_.close(id_);
    if (status != STATUS_NOERROR) {
        std::fprintf(stderr, "ptcan: PassThruClose failed: %s (%s)\n",
                     PassThruError::statusName(status).c_str(), lastError().c_str());
        return false;
    }
    return true;
}

std::string PassThruDevice::lastError() {
    char text[kTextSize + 1] = {};
    if (library_.getLastError(text) != STATUS_NOERROR) {
        return {};
    }
    return text;
}

void PassThruDevice::check(const std::string& call, uint32_t status) {
    if (status != STATUS_NOERROR) {
        throw PassThruError(call, status, lastError());
    }
}

PassThruDevice::Versions PassThruDevice::versions() {
    char firmware[kTextSize + 1] = {};
    char dll[kTextSize + 1] = {};
    char api[kTextSize + 1] = {};
    check("PassThruReadVersion", library_.readVersion(id_, firmware, dll, api));
    return {firmware, dll, api};
}

}  // namespace ptcan

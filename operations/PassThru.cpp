#include "operations/PassThru.h"

#include <cstring>

#include "channel/Channel.h"
#include "device/Device.h"

namespace vtx {

thread_local PassThru::CallOutcome PassThru::outcome_{};

PassThru::PassThru(InterfaceType interfaceType) : interfaceType_(interfaceType) {}

// Unloading with a call inside is the caller's error; the channels' waits still end first, so
// that a call already on its way out is not left waiting on what goes.
PassThru::~PassThru() {
    const std::lock_guard call(callMutex_);
    closeReset();
}

void PassThru::resetOutcome() {
    outcome_ = CallOutcome{};
}

// A truncating copy: at most 79 characters and the terminating zero.
void PassThru::setFailed(const char* text) {
    setExplained(ERR_FAILED, text);
}

void PassThru::setExplained(uint32_t code, const char* text) {
    std::strncpy(outcome_.text, text, sizeof outcome_.text - 1);
    outcome_.text[sizeof outcome_.text - 1] = '\0';
    outcome_.explainedStatus = code;
    setStatus(code);
}

void PassThru::refuse(const ProtocolVerdict& verdict) {
    if (verdict.text != nullptr) {
        setExplained(verdict.status, verdict.text);
    } else {
        setStatus(verdict.status);
    }
}

uint32_t PassThru::failOperation(const char* text) {
    setFailed(text);
    return ERR_FAILED;
}

bool PassThru::checkDeviceOpen() {
    if (deviceId == 0) {
        setStatus(ERR_INVALID_DEVICE_ID);
        return false;
    }
    return true;
}

bool PassThru::checkDeviceArgument(uint32_t DeviceID) {
    if (DeviceID == 0 || DeviceID != deviceId) {
        setStatus(ERR_INVALID_DEVICE_ID);
        return false;
    }
    return true;
}

bool PassThru::checkConnection() {
    if (!connectionOpen) {
        setFailed(text::kConnectionClosed);
        return false;
    }
    return true;
}

bool PassThru::checkThread() {
    if (!commThread) {
        setFailed(text::kThreadNotInitialized);
        return false;
    }
    return true;
}

bool PassThru::passStandardGuards() {
    return checkDeviceOpen() && checkConnection() && checkThread();
}

// The standard guards, then the channel lookup: the channel, or nullptr with the status set.
Channel* PassThru::guardedChannel(uint32_t channelId) {
    if (!passStandardGuards()) {
        return nullptr;
    }
    Channel* channel = channels.find(channelId);
    if (channel == nullptr) {
        setStatus(ERR_INVALID_CHANNEL_ID);
    }
    return channel;
}

Device* PassThru::device() {
    return commThread ? commThread->device() : nullptr;
}

// Before touching the device: its handle must be open.
bool PassThru::checkDevicePresent() {
    Device* interface = device();
    if (interface == nullptr || !interface->isOpen()) {
        setStatus(ERR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return true;
}

// Reads the outcome of the previous call and leaves it as it is; writes no events.
uint32_t PassThru::passThruGetLastError(char* pErrorDescription) {
    return runOperation(
        OnLostDevice::KeepOutcome, [] {}, [&] { return describeLastError(pErrorDescription); },
        [] {});
}

uint32_t PassThru::describeLastError(char* pErrorDescription) {
    if (pErrorDescription == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        return ERR_NULL_PARAMETER;
    }
    const uint32_t code = lastError();
    if (code == ERR_FAILED || (code == outcome_.explainedStatus && outcome_.text[0] != '\0')) {
        std::memcpy(pErrorDescription, outcome_.text, std::strlen(outcome_.text) + 1);
    } else if (const char* name = statusCodeName(code)) {
        std::memcpy(pErrorDescription, name, std::strlen(name) + 1);
    }
    return STATUS_NOERROR;
}

}  // namespace vtx

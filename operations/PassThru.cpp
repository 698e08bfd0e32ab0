#include "operations/PassThru.h"

#include <cstring>

#include "channel/Channel.h"
#include "device/Device.h"

namespace vtx {

PassThru::PassThru(InterfaceType interfaceType) : interfaceType_(interfaceType) {}

// Stops the communication thread first, then destroys the channels: the thread's service tick
// walks them until it has ended.
PassThru::~PassThru() {
    CommunicationThread::stop(commThread);
    channels.clear();
}

void PassThru::resetOutcome() {
    setStatus(STATUS_NOERROR);
    std::memset(lastErrorText, 0, sizeof lastErrorText);
    explainedStatus = STATUS_NOERROR;
}

// A truncating copy: at most 79 characters and the terminating zero.
void PassThru::setFailed(const char* text) {
    setExplained(ERR_FAILED, text);
}

void PassThru::setExplained(uint32_t code, const char* text) {
    std::strncpy(lastErrorText, text, sizeof lastErrorText - 1);
    lastErrorText[sizeof lastErrorText - 1] = '\0';
    explainedStatus = code;
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
    const uint32_t code = lastError.load();
    if (code == ERR_FAILED || (code == explainedStatus && lastErrorText[0] != '\0')) {
        std::memcpy(pErrorDescription, lastErrorText, std::strlen(lastErrorText) + 1);
    } else if (const char* name = statusCodeName(code)) {
        std::memcpy(pErrorDescription, name, std::strlen(name) + 1);
    }
    return STATUS_NOERROR;
}

}  // namespace vtx

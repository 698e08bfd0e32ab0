#include "operations/PassThru.h"

#include <cstring>
#include <exception>

#include "channel/Channel.h"
#include "device/Device.h"

namespace vtx {

thread_local PassThru::CallOutcome PassThru::ownOutcome_{};
thread_local PassThru::CallOutcome* PassThru::lentOutcome_ = nullptr;

PassThru::PassThru(InterfaceType interfaceType) : interfaceType_(interfaceType) {}

// Unloading with a call inside is the caller's error; the channels' waits still end first, so
// that a call already on its way out is not left waiting on what goes.
PassThru::~PassThru() {
    const std::lock_guard call(callMutex_);
    closeReset();
}

void PassThru::resetOutcome() {
    outcome() = CallOutcome{};
}

void PassThru::onDevice(ReplyTimeout timeout, const std::function<void()>& body) {
    CallOutcome& caller = outcome();
    std::exception_ptr failure;
    commThread->execute([&] {
        lentOutcome_ = &caller;
        Device* interface = device();
        const int previous = timeout == ReplyTimeout::Short && interface != nullptr
                                 ? interface->setReplyTimeout(CommunicationThread::kCheckTimeoutMs)
                                 : -1;
        try {
            body();
        } catch (...) {
            // Taken back to the caller's thread: nothing may end the loop's.
            failure = std::current_exception();
        }
        if (previous >= 0) {
            interface->setReplyTimeout(previous);
        }
        lentOutcome_ = nullptr;
    });
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// A truncating copy: at most 79 characters and the terminating zero.
void PassThru::setFailed(const char* text) {
    setExplained(ERR_FAILED, text);
}

void PassThru::setExplained(uint32_t code, const char* text) {
    CallOutcome& current = outcome();
    std::strncpy(current.text, text, sizeof current.text - 1);
    current.text[sizeof current.text - 1] = '\0';
    current.explainedStatus = code;
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

uint32_t PassThru::refuseCall(uint32_t status, const char* text) {
    resetOutcome();
    setExplained(status, text);
    return status;
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

// The communication thread's answer, never the device's handle: the thread closes and opens
// that as it checks the connection, and nobody else reads it.
bool PassThru::devicePresent() const {
    return commThread && commThread->deviceConnected();
}

// Before touching the device: the thread found it there at its last check.
bool PassThru::checkDevicePresent() {
    if (!devicePresent()) {
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
    const CallOutcome& current = outcome();
    if (code == ERR_FAILED || (code == current.explainedStatus && current.text[0] != '\0')) {
        std::memcpy(pErrorDescription, current.text, std::strlen(current.text) + 1);
    } else if (const char* name = statusCodeName(code)) {
        std::memcpy(pErrorDescription, name, std::strlen(name) + 1);
    }
    return STATUS_NOERROR;
}

}  // namespace vtx

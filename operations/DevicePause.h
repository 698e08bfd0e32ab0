#pragma once

#include <cstdint>

#include "comm/CommunicationThread.h"
#include "device/Device.h"

namespace vtx {

// What a pause does to the device's reply timeout while it lasts.
enum class ReplyTimeout : uint8_t {
    Unchanged,
    Short,  // the thread's connection-check timeout, so that a silent device answers quickly
};

// Parks the communication thread for direct device work and, when asked, shortens the device's
// reply timeout; both are put back when the scope ends.
class DevicePause {
  public:
    DevicePause(CommunicationThread& thread, ReplyTimeout timeout) : thread_(thread) {
        thread_.park();
        if (timeout == ReplyTimeout::Short && thread_.device() != nullptr) {
            previousTimeout_ =
                thread_.device()->setReplyTimeout(CommunicationThread::kCheckTimeoutMs);
            restoreTimeout_ = true;
        }
    }
    ~DevicePause() {
        if (restoreTimeout_) {
            thread_.device()->setReplyTimeout(previousTimeout_);
        }
        thread_.resume();
    }
    DevicePause(const DevicePause&) = delete;
    DevicePause& operator=(const DevicePause&) = delete;

  private:
    CommunicationThread& thread_;
    int previousTimeout_ = 0;
    bool restoreTimeout_ = false;
};

}  // namespace vtx

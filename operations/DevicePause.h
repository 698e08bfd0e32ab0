#pragma once

#include "comm/CommunicationThread.h"
#include "device/Device.h"

namespace vtx {

// Parks the communication thread for direct device work and, when asked, lowers the
// interface's reply timeout to 40 ms; both are put back when the scope ends.
class DevicePause {
  public:
    DevicePause(CommunicationThread& thread, bool lowerTimeout) : thread_(thread) {
        thread_.setPause(true);
        if (lowerTimeout && thread_.device() != nullptr) {
            previousTimeout_ = thread_.device()->setReplyTimeout(kTimeoutMs);
            restoreTimeout_ = true;
        }
    }
    ~DevicePause() {
        if (restoreTimeout_) {
            thread_.device()->setReplyTimeout(previousTimeout_);
        }
        thread_.setPause(false);
    }
    DevicePause(const DevicePause&) = delete;
    DevicePause& operator=(const DevicePause&) = delete;

    static constexpr int kTimeoutMs = 40;

  private:
    CommunicationThread& thread_;
    int previousTimeout_ = 0;
    bool restoreTimeout_ = false;
};

}  // namespace vtx

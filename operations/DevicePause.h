#pragma once

#include "comm/CommInterfaceThread.h"
#include "device/GenericInterface.h"

namespace vtx {

// Parks the communication thread for direct device work and, when asked, lowers the
// interface's reply timeout to 40 ms; both are put back when the scope ends.
class DevicePause {
  public:
    DevicePause(CommInterfaceThread& thread, bool lowerTimeout) : thread_(thread) {
        thread_.setPause(true);
        if (lowerTimeout && thread_.commInterface() != nullptr) {
            previousTimeout_ = thread_.commInterface()->setTimeout(kTimeoutMs);
            restoreTimeout_ = true;
        }
    }
    ~DevicePause() {
        if (restoreTimeout_) {
            thread_.commInterface()->setTimeout(previousTimeout_);
        }
        thread_.setPause(false);
    }
    DevicePause(const DevicePause&) = delete;
    DevicePause& operator=(const DevicePause&) = delete;

    static constexpr int kTimeoutMs = 40;

  private:
    CommInterfaceThread& thread_;
    int previousTimeout_ = 0;
    bool restoreTimeout_ = false;
};

}  // namespace vtx

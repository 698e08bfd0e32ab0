#pragma once

namespace vtx {

// The worker thread of an open device: it owns the device interface and moves frames between
// the channels and the device. The PassThru object owns one per open device.
class CommInterfaceThread {
  public:
    CommInterfaceThread() = default;
    CommInterfaceThread(const CommInterfaceThread&) = delete;
    CommInterfaceThread& operator=(const CommInterfaceThread&) = delete;
};

}  // namespace vtx

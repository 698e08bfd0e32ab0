#pragma once

#include <windows.h>

#include "platform/DeviceFileTransport.h"

namespace vtx::platform {

// The kernel driver's device file "\\.\VTXUSBCAN": CreateFileW unshared and for overlapped use,
// so that a read waiting for the device's answer does not hold up a write from another thread.
// Each ReadFile, WriteFile and DeviceIoControl still returns only when done: it waits on an event
// of its own for its result. One per process: its handle is the device's.
class Win32DeviceFileTransport : public DeviceFileTransport {
  public:
    Win32DeviceFileTransport() = default;
    ~Win32DeviceFileTransport() override;
    Win32DeviceFileTransport(const Win32DeviceFileTransport&) = delete;
    Win32DeviceFileTransport& operator=(const Win32DeviceFileTransport&) = delete;

    bool open() override;
    bool isOpen() const override;
    int read(uint8_t* bytes, int length) override;
    int write(const uint8_t* bytes, int length) override;
    bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength) override;
    void close() override;

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace vtx::platform

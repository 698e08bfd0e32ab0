#pragma once

// clang-format off
#include <windows.h>
#include <winusb.h>
// clang-format on

#include <atomic>

#include "platform/PipeTransport.h"

namespace vtx::platform {

// The device's pipes through WinUSB, its lists through SetupAPI. One per process: its two
// handles are the device's.
class WinUsbPipeTransport : public PipeTransport {
  public:
    WinUsbPipeTransport() = default;
    ~WinUsbPipeTransport() override;
    WinUsbPipeTransport(const WinUsbPipeTransport&) = delete;
    WinUsbPipeTransport& operator=(const WinUsbPipeTransport&) = delete;

    std::vector<std::string> enumerateDevicePaths() override;
    bool isDevicePresent() override;
    bool open(const std::string& path) override;
    bool setInPipeTimeout(uint32_t ms) override;
    void close() override;
    bool isOpen() const override;
    int writePipe(const uint8_t* bytes, int length) override;
    int readPipe(uint8_t* bytes, int length) override;

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    // Used by the communication thread and the frame waiter only (the rest of the library asks
    // the communication thread whether the device is there), whose transfers load it side by
    // side. Atomic, though the device layer already keeps open and close apart from every
    // transfer.
    std::atomic<WINUSB_INTERFACE_HANDLE> winusb_{nullptr};
};

}  // namespace vtx::platform

// The device's two bulk pipes through libusb-1.0, for the WinUSB device path on Linux and macOS:
// the same endpoints, packet sizes and transfer timeouts as over WinUSB. The device is found by
// its USB vendor and product IDs (UsbDeviceId); its interface is claimed, a kernel driver bound
// to it detached first.
//
// Outcomes as the device layer knows them: a transfer that fails returns 0, and one that finds
// the device gone (LIBUSB_ERROR_NO_DEVICE) also marks it lost, so that the presence check
// reports the loss. Refused access leaves a text that names the udev rule (lastErrorText).
//
// Calls come as the device layer makes them, from the communication thread and the frame waiter
// only: open, close and the IN pipe's settings from one thread at a time, close with no transfer
// under way and under the device's locks; a read on one thread while another writes; and isOpen
// from either. No other thread asks: the rest of the library asks the communication thread
// whether the device is there. lost_ is atomic since either transfer may find the device gone
// while the other runs; open_ and the IN pipe's timeout, which the two threads also share, are
// atomic too. The read buffers are the reading thread's, and handle_ changes only with no
// transfer under way. The hotplug counts, which libusb's callbacks write, are the context's and
// under its lock.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/PipeTransport.h"
#include "platform/posix/libusb/LibusbContext.h"

struct libusb_device_handle;

namespace vtx::platform {

class LibusbPipeTransport : public PipeTransport {
  public:
    // The OUT pipe's timeout. WinUSB's OUT pipe has none; a bound keeps a device that stopped
    // taking data from holding the caller for ever.
    static constexpr unsigned kOutPipeTimeoutMs = 5000;
    // What an IN pipe timeout of 0 (WinUSB's "no limit") becomes, for the same reason.
    static constexpr unsigned kLongestInPipeTimeoutMs = 5000;
    // The interface that carries the two bulk endpoints.
    static constexpr int kInterface = 0;
    // Reads are made in multiples of the endpoint's largest packet, so that the device never
    // overflows a read; what comes beyond the caller's length waits for the next read.
    static constexpr int kMaxPacketSize = 512;

    // nullptr when libusb cannot be initialised.
    static std::unique_ptr<LibusbPipeTransport> create();

    explicit LibusbPipeTransport(std::shared_ptr<LibusbContext> context);
    ~LibusbPipeTransport() override;
    LibusbPipeTransport(const LibusbPipeTransport&) = delete;
    LibusbPipeTransport& operator=(const LibusbPipeTransport&) = delete;

    std::vector<std::string> enumerateDevicePaths() override;
    bool isDevicePresent() override;
    bool open(const std::string& path) override;
    bool setInPipeTimeout(uint32_t ms) override;
    void close() override;
    bool isOpen() const override;
    int writePipe(const uint8_t* bytes, int length) override;
    int readPipe(uint8_t* bytes, int length) override;

  private:
    bool claimInterface();
    int takeSurplus(uint8_t* bytes, int length);
    // Notes a libusb result: device loss is remembered.
    void noteResult(int result);

    std::shared_ptr<LibusbContext> context_;
    libusb_device_handle* handle_ = nullptr;
    std::atomic<bool> open_{false};  // handle_ is set: isOpen's answer
    std::atomic<bool> lost_{false};  // the open handle's device has gone
    std::atomic<unsigned> inTimeoutMs_{kInPipeTimeoutMs};
    std::vector<uint8_t> readBuffer_;
    std::vector<uint8_t> surplus_;  // bytes read beyond what the last reader asked for
};

}  // namespace vtx::platform

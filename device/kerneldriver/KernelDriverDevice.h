// The device bound to the maker's kernel driver: the same packet protocol as over WinUSB
// (UsbProtocolDevice), carried by the driver's device file, with the driver's control codes
// for the presence test and the auxiliary value. Its quirks (kKernelDriverQuirks in the source):
// every transfer header carries the device's reply timeout whatever the request asked for;
// frame packets mark a 29-bit identifier with bit 19 only and carry the whole length byte (a
// read keeps at most 8 data bytes); records a read leaves unfilled carry the all-ones
// identifier; the realised sample point and jump width are kept in the device-info record only;
// the auxiliary value is also passed to the driver.
#pragma once

#include <cstdint>

#include "device/UsbProtocolDevice.h"
#include "platform/DeviceFileTransport.h"

namespace vtx {

class KernelDriverDevice : public UsbProtocolDevice {
  public:
    // Uses the process's device-file transport.
    KernelDriverDevice();
    // Uses the given transport (tests).
    explicit KernelDriverDevice(DeviceFileTransport& transport);
    ~KernelDriverDevice() override;
    KernelDriverDevice(const KernelDriverDevice&) = delete;
    KernelDriverDevice& operator=(const KernelDriverDevice&) = delete;

    // Opens the device file unless it is open already; either way then clears the buffers and
    // switches the controller off.
    bool open();
    bool init() override;
    // The driver answers the presence control code.
    bool isDevicePresent() override;
    bool isOpen() override;

  protected:
    int transportWrite(const uint8_t* bytes, int length) override;
    int transportRead(uint8_t* bytes, int length) override;
    void transportClose() override;
    // The driver keeps the auxiliary value too, passed with its control code.
    void transportAuxValue(uint32_t value) override;

  private:
    DeviceFileTransport& transport_;  // the process-wide device file
};

}  // namespace vtx

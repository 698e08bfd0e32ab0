// The device bound to the WinUSB driver: discovery, open and identification over the OUT pipe
// 0x02 and the IN pipe 0x82 of the process's pipe transport. The packet protocol itself is
// UsbProtocolDevice's, followed without quirks: transfer headers carry the timeout their request
// asked for, frame packets mark a 29-bit identifier with bits 20 and 19 and carry the low four
// bits of the length, records a read leaves unfilled stay zero, the realised sample point and
// jump width replace the asked-for ones in the settings record too, and the auxiliary value goes
// to the device only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/UsbProtocolDevice.h"
#include "platform/PipeTransport.h"

namespace vtx {

class WinUsbDevice : public UsbProtocolDevice {
  public:
    // One enumerated device.
    struct EnumeratedDevice {
        std::string path;
    };

    // Uses the process's pipe transport.
    WinUsbDevice();
    // Uses the given transport (tests).
    explicit WinUsbDevice(PipeTransport& transport);
    ~WinUsbDevice() override;
    WinUsbDevice(const WinUsbDevice&) = delete;
    WinUsbDevice& operator=(const WinUsbDevice&) = delete;

    // Discovery, open and identification.
    void getDeviceList(std::vector<EnumeratedDevice>& list);
    bool open();
    bool init() override;
    bool isDevicePresent() override;
    bool isOpen() override;

  protected:
    int transportWrite(const uint8_t* bytes, int length) override;
    int transportRead(uint8_t* bytes, int length) override;
    void transportClose() override;

  private:
    PipeTransport& transport_;  // process-wide handles
    std::string devicePath_;    // taken once, kept for the life of the object
};

}  // namespace vtx

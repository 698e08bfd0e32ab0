// The device bound to the WinUSB driver: discovery, open and identification over the OUT pipe
// 0x02 and the IN pipe 0x82 of the process's pipe transport. The packet protocol itself is
// UsbProtocolDevice's.
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
    InterfaceType interfaceType() const override;

  protected:
    int transportWrite(const uint8_t* bytes, int length) override;
    int transportRead(uint8_t* bytes, int length) override;
    void transportClose() override;

    // What sets this driver family apart (see UsbProtocolDevice):
    // - the transfer header carries the timeout its request asked for;
    // - frame packets mark a 29-bit identifier with bits 20 and 19, and their length byte is
    //   the low four bits of lenDataCan;
    // - records a read leaves unfilled stay zero;
    // - the calculated sample point and jump width replace the asked-for ones in the
    //   comm-parameter record too;
    // - the auxiliary value goes to the device only.
    uint16_t headerTimeout(int requestedMs) const override;
    void packFramePacket(const CanFrame& frame, uint8_t* out) const override;
    CanFrame unpackFramePacket(const uint8_t* in) const override;
    void markUnreadRecords(CanFrame* records, int count) const override;
    void recordRealisedTiming(const ControllerTiming& timing) override;
    void auxValueSent(uint32_t value) override;

  private:
    PipeTransport& transport_;  // process-wide handles
    std::string devicePath_;    // taken once, kept for the life of the object
};

}  // namespace vtx

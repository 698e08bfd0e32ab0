// The device bound to the maker's kernel driver: the same packet protocol as over WinUSB
// (UsbProtocolDevice), carried by the driver's device file, with the driver's control codes
// for the presence test and the auxiliary value.
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
    InterfaceType interfaceType() const override;

  protected:
    int transportWrite(const uint8_t* bytes, int length) override;
    int transportRead(uint8_t* bytes, int length) override;
    void transportClose() override;

    // What sets this driver family apart (see UsbProtocolDevice):
    // - every transfer header carries the timeout member, whatever the request asked for;
    // - frame packets mark a 29-bit identifier with bit 19 only (bit 20 clear), and their
    //   length byte is the whole lenDataCan; a read keeps at most 8 data bytes;
    // - records a read leaves unfilled carry idCan 0xFFFFFFFF;
    // - the calculated sample point and jump width are kept in the device-info record only;
    // - the auxiliary value is also passed to the driver.
    uint16_t headerTimeout(int requestedMs) const override;
    void packFramePacket(const CanFrame& frame, uint8_t* out) const override;
    CanFrame unpackFramePacket(const uint8_t* in) const override;
    void markUnreadRecords(CanFrame* records, int count) const override;
    void recordRealisedTiming(const ControllerTiming& timing) override;
    void auxValueSent(uint32_t value) override;

  private:
    DeviceFileTransport& transport_;  // the process-wide device file
};

}  // namespace vtx

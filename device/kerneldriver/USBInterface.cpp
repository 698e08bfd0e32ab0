#include "device/kerneldriver/USBInterface.h"

#include <algorithm>
#include <cstring>

#include "device/DevicePackets.h"
#include "device/DeviceSelection.h"
#include "trace/TraceProvider.h"

namespace vtx {

namespace {
constexpr char kEvent[] = "USBInterface";
constexpr trace::Group kGroup = trace::Group::KernelUsb;
constexpr uint8_t kExtendedSecondMarker = 0x10;  // bit 20 of the identifier word, in byte 2
constexpr uint8_t kMaxDataBytes = 8;
constexpr uint32_t kUnreadRecord = 0xFFFFFFFF;
}  // namespace

USBInterface::USBInterface() : USBInterface(processDeviceFileTransport()) {}

// Only the life cycle, init and the frame transfers write events on this driver family.
USBInterface::USBInterface(DeviceFileTransport& transport)
    : UsbProtocolInterface({kGroup, kEvent, false, false}), transport_(transport) {
    VTX_TRACE(kGroup, kEvent, "USBInterface() -S-");
    VTX_TRACE(kGroup, kEvent, "USBInterface() -E-");
}

USBInterface::~USBInterface() {
    VTX_TRACE(kGroup, kEvent, "~USBInterface() -S-");
    closeDevice();
    VTX_TRACE(kGroup, kEvent, "~USBInterface() -E-");
}

bool USBInterface::open() {
    if (!transport_.isOpen() && !transport_.open()) {
        return false;
    }
    settleAfterOpen();
    return true;
}

bool USBInterface::init() {
    VTX_TRACE(kGroup, kEvent, "init() -S-");
    resetRecords();
    uint32_t termResistorStatus = 0;
    int outBusSupport = 0;
    const bool ret = open() && identifyOpenedDevice(termResistorStatus, outBusSupport);
    VTX_TRACE(kGroup, kEvent, "init() -E-");
    return ret;
}

bool USBInterface::isDevicePresent() {
    uint8_t answer[4] = {};
    return transport_.isOpen() && transport_.controlCode(DeviceFileTransport::kPresenceCode,
                                                         nullptr, 0, answer, sizeof answer);
}

bool USBInterface::isOpen() {
    return transport_.isOpen();
}

int USBInterface::getInterfaceType() {
    return 2;
}

int USBInterface::transportWrite(const uint8_t* bytes, int length) {
    return transport_.write(bytes, length);
}

int USBInterface::transportRead(uint8_t* bytes, int length) {
    return transport_.read(bytes, length);
}

void USBInterface::transportClose() {
    transport_.close();
}

// ---------------------------------------------------------------------------------------------
// Where this driver family differs

uint16_t USBInterface::headerTimeout(int /*requestedMs*/) const {
    return timeoutMember();
}

void USBInterface::packFramePacket(const CanFrame& frame, uint8_t* out) const {
    packet::packFrame(frame, out);
    out[2] &= static_cast<uint8_t>(~kExtendedSecondMarker);
    out[5] = frame.lenDataCan;
    std::memset(out + 6, 0, kMaxDataBytes);
    std::memcpy(out + 6, frame.dataCan, std::min(frame.lenDataCan, kMaxDataBytes));
}

// A length byte above 8 keeps 8 data bytes, all a record holds.
CanFrame USBInterface::unpackFramePacket(const uint8_t* in) const {
    CanFrame frame = packet::unpackFrame(in);
    frame.lenDataCan = std::min(in[5], kMaxDataBytes);
    std::memset(frame.dataCan, 0, sizeof frame.dataCan);
    std::memcpy(frame.dataCan, in + 6, frame.lenDataCan);
    return frame;
}

void USBInterface::markUnreadRecords(CanFrame* records, int count) const {
    for (int i = 0; i < count; ++i) {
        records[i].idCan = kUnreadRecord;
    }
}

void USBInterface::recordRealisedTiming(const ControllerTiming& timing) {
    const bool calculated = commParams_.Bus != 1;
    deviceInfo_.SamplePoint = calculated ? timing.samplePoint / 10 : commParams_.SamplePoint;
    deviceInfo_.Sjw = calculated ? timing.sjw : commParams_.Sjw;
}

void USBInterface::auxValueSent(uint32_t value) {
    const uint8_t littleEndian[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                     static_cast<uint8_t>(value >> 16),
                                     static_cast<uint8_t>(value >> 24)};
    // The driver's answer changes nothing: the device has the value already.
    transport_.controlCode(DeviceFileTransport::kAuxValueCode, littleEndian, sizeof littleEndian,
                           nullptr, 0);
}

}  // namespace vtx

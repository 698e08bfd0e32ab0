#include "device/kerneldriver/KernelDriverDevice.h"

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

KernelDriverDevice::KernelDriverDevice() : KernelDriverDevice(processDeviceFileTransport()) {}

// Only the life cycle, init and the frame transfers write events on this driver family.
KernelDriverDevice::KernelDriverDevice(DeviceFileTransport& transport)
    : UsbProtocolDevice({kGroup, kEvent, false, false}), transport_(transport) {
    VTX_TRACE(kGroup, kEvent, "USBInterface() -S-");
    VTX_TRACE(kGroup, kEvent, "USBInterface() -E-");
}

KernelDriverDevice::~KernelDriverDevice() {
    VTX_TRACE(kGroup, kEvent, "~USBInterface() -S-");
    closeDevice();
    VTX_TRACE(kGroup, kEvent, "~USBInterface() -E-");
}

bool KernelDriverDevice::open() {
    if (!transport_.isOpen() && !transport_.open()) {
        return false;
    }
    settleAfterOpen();
    return true;
}

bool KernelDriverDevice::init() {
    VTX_TRACE(kGroup, kEvent, "init() -S-");
    resetRecords();
    uint32_t termResistorStatus = 0;
    int outBusSupport = 0;
    const bool ret = open() && identifyOpenedDevice(termResistorStatus, outBusSupport);
    VTX_TRACE(kGroup, kEvent, "init() -E-");
    return ret;
}

bool KernelDriverDevice::isDevicePresent() {
    uint8_t answer[4] = {};
    return transport_.isOpen() && transport_.controlCode(DeviceFileTransport::kPresenceCode,
                                                         nullptr, 0, answer, sizeof answer);
}

bool KernelDriverDevice::isOpen() {
    return transport_.isOpen();
}

InterfaceType KernelDriverDevice::interfaceType() const {
    return InterfaceType::KernelDriver;
}

int KernelDriverDevice::transportWrite(const uint8_t* bytes, int length) {
    return transport_.write(bytes, length);
}

int KernelDriverDevice::transportRead(uint8_t* bytes, int length) {
    return transport_.read(bytes, length);
}

void KernelDriverDevice::transportClose() {
    transport_.close();
}

// ---------------------------------------------------------------------------------------------
// Where this driver family differs

uint16_t KernelDriverDevice::headerTimeout(int /*requestedMs*/) const {
    return timeoutMember();
}

void KernelDriverDevice::packFramePacket(const CanFrame& frame, uint8_t* out) const {
    packet::packFrame(frame, out);
    out[2] &= static_cast<uint8_t>(~kExtendedSecondMarker);
    out[5] = frame.lenDataCan;
    std::memset(out + 6, 0, kMaxDataBytes);
    std::memcpy(out + 6, frame.dataCan, std::min(frame.lenDataCan, kMaxDataBytes));
}

// A length byte above 8 keeps 8 data bytes, all a record holds.
CanFrame KernelDriverDevice::unpackFramePacket(const uint8_t* in) const {
    CanFrame frame = packet::unpackFrame(in);
    frame.lenDataCan = std::min(in[5], kMaxDataBytes);
    std::memset(frame.dataCan, 0, sizeof frame.dataCan);
    std::memcpy(frame.dataCan, in + 6, frame.lenDataCan);
    return frame;
}

void KernelDriverDevice::markUnreadRecords(CanFrame* records, int count) const {
    for (int i = 0; i < count; ++i) {
        records[i].idCan = kUnreadRecord;
    }
}

void KernelDriverDevice::recordRealisedTiming(const ControllerTiming& timing) {
    const bool calculated = commParams_.Bus != 1;
    deviceInfo_.SamplePoint = calculated ? timing.samplePoint / 10 : commParams_.SamplePoint;
    deviceInfo_.Sjw = calculated ? timing.sjw : commParams_.Sjw;
}

void KernelDriverDevice::auxValueSent(uint32_t value) {
    const uint8_t littleEndian[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                     static_cast<uint8_t>(value >> 16),
                                     static_cast<uint8_t>(value >> 24)};
    // The driver's answer changes nothing: the device has the value already.
    transport_.controlCode(DeviceFileTransport::kAuxValueCode, littleEndian, sizeof littleEndian,
                           nullptr, 0);
}

}  // namespace vtx

#include "device/kerneldriver/KernelDriverDevice.h"

#include <cstddef>

#include "device/DeviceSelection.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

namespace vtx {

namespace {
constexpr char kEvent[] = "USBInterface";
constexpr trace::Group kGroup = trace::Group::KernelUsb;
constexpr std::size_t kPresenceAnswerBytes = 4;

// Where this driver family's handling of the protocol differs (see KernelDriverDevice.h).
constexpr ProtocolQuirks kKernelDriverQuirks{
    .headerTimeout = ProtocolQuirks::HeaderTimeout::ReplyTimeout,
    .extendedMarker = ProtocolQuirks::ExtendedMarker::Bit19Only,
    .lengthByte = ProtocolQuirks::LengthByte::WholeByte,
    .unreadRecords = ProtocolQuirks::UnreadRecords::AllOnesIdentifier,
    .realisedTiming = ProtocolQuirks::RealisedTiming::InfoOnly,
    .auxValue = ProtocolQuirks::AuxValue::DeviceAndDriver,
};
}  // namespace

KernelDriverDevice::KernelDriverDevice() : KernelDriverDevice(processDeviceFileTransport()) {}

// Only the life cycle, init and the frame transfers write events on this driver family.
KernelDriverDevice::KernelDriverDevice(DeviceFileTransport& transport)
    : UsbProtocolDevice({kGroup, kEvent, ProtocolEvents::Silent, ReadEventCounter::Omitted},
                        kKernelDriverQuirks),
      transport_(transport) {
    VTX_TRACE(kGroup, kEvent, trace::place::kKernelDeviceCreationStarted);
    VTX_TRACE(kGroup, kEvent, trace::place::kKernelDeviceCreationEnded);
}

KernelDriverDevice::~KernelDriverDevice() {
    VTX_TRACE(kGroup, kEvent, trace::place::kKernelDeviceDestructionStarted);
    closeDevice();
    VTX_TRACE(kGroup, kEvent, trace::place::kKernelDeviceDestructionEnded);
}

bool KernelDriverDevice::open() {
    if (!transport_.isOpen() && !transport_.open()) {
        return false;
    }
    settleAfterOpen();
    return true;
}

bool KernelDriverDevice::init() {
    VTX_TRACE(kGroup, kEvent, trace::place::kDeviceInitStarted);
    resetRecords();
    uint32_t termResistorStatus = 0;
    int outBusSupport = 0;
    const bool ret = open() && identifyOpenedDevice(termResistorStatus, outBusSupport);
    VTX_TRACE(kGroup, kEvent, trace::place::kDeviceInitEnded);
    return ret;
}

bool KernelDriverDevice::isDevicePresent() {
    uint8_t answer[kPresenceAnswerBytes] = {};
    return transport_.isOpen() && transport_.controlCode(DeviceFileTransport::kPresenceCode,
                                                         nullptr, 0, answer, sizeof answer);
}

bool KernelDriverDevice::isOpen() {
    return transport_.isOpen();
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

void KernelDriverDevice::transportAuxValue(uint32_t value) {
    const uint8_t littleEndian[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                     static_cast<uint8_t>(value >> 16),
                                     static_cast<uint8_t>(value >> 24)};
    // The driver's answer changes nothing: the device has the value already.
    transport_.controlCode(DeviceFileTransport::kAuxValueCode, littleEndian, sizeof littleEndian,
                           nullptr, 0);
}

}  // namespace vtx

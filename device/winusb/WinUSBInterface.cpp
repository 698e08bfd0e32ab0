#include "device/winusb/WinUSBInterface.h"

#include "base/ElapsedTimer.h"
#include "device/DevicePackets.h"
#include "device/DeviceSelection.h"
#include "trace/TraceProvider.h"

namespace vtx {

using namespace trace;

namespace {
constexpr char kEvent[] = "WinUSBInterface";
constexpr Group kGroup = Group::WinUsb;
}  // namespace

WinUSBInterface::WinUSBInterface() : WinUSBInterface(processPipeTransport()) {}

WinUSBInterface::WinUSBInterface(PipeTransport& transport)
    : UsbProtocolInterface({kGroup, kEvent, true, true}), transport_(transport) {
    VTX_TRACE(kGroup, kEvent, "WinUSBInterface() -S-");
    VTX_TRACE(kGroup, kEvent, "WinUSBInterface() -E-");
}

WinUSBInterface::~WinUSBInterface() {
    VTX_TRACE(kGroup, kEvent, "~WinUSBInterface() -S-");
    closeDevice();
    VTX_TRACE(kGroup, kEvent, "~WinUSBInterface() -E-");
}

// ---------------------------------------------------------------------------------------------
// Discovery, open and identification

void WinUSBInterface::getDeviceList(std::vector<WinUSBDevice>& list) {
    list.clear();
    for (std::string& path : transport_.enumerateDevicePaths()) {
        list.push_back({std::move(path)});
    }
    VTX_TRACE(kGroup, kEvent, "getDeviceList() -E-",
              u32("interfaceCnt", static_cast<uint32_t>(list.size())));
}

bool WinUSBInterface::isDevicePresent() {
    return transport_.isDevicePresent();
}

bool WinUSBInterface::open() {
    VTX_TRACE(kGroup, kEvent, "open() -S-", u32("deviceHandle", transport_.isOpen() ? 1 : 0));
    bool ret = false;
    if (!transport_.isOpen() && !devicePath_.empty() && transport_.open(devicePath_)) {
        // A device whose IN pipe would wait without limit is not kept open half set up: it
        // would pass for connected without its identification ever having been read.
        if (transport_.setInPipeTimeout(PipeTransport::kInPipeTimeoutMs)) {
            settleAfterOpen();
            ret = true;
        } else {
            transport_.close();
        }
    }
    VTX_TRACE(kGroup, kEvent, "open() -E-", u32("deviceHandle", transport_.isOpen() ? 1 : 0),
              u32("ret", ret));
    return ret;
}

bool WinUSBInterface::init() {
    const ElapsedTimer timer;
    VTX_TRACE(kGroup, kEvent, "init() -S-");
    resetRecords();
    uint32_t state = 0;
    int outBusSupport = 0;
    bool ret = false;
    std::vector<WinUSBDevice> devices;
    getDeviceList(devices);
    if (!devices.empty()) {
        if (devicePath_.empty()) {
            devicePath_ = devices.front().path;
        }
        ret = open() && identifyOpenedDevice(state, outBusSupport);
    }
    VTX_TRACE(kGroup, kEvent, "init() -E-", i32("outBusSupported", outBusSupport),
              u32("termResistorStatus", state), u32("ret", ret), u32("t", timer.elapsed()));
    return ret;
}

bool WinUSBInterface::isOpen() {
    return transport_.isOpen();
}

int WinUSBInterface::getInterfaceType() {
    return 4;
}

int WinUSBInterface::transportWrite(const uint8_t* bytes, int length) {
    return transport_.writePipe(bytes, length);
}

int WinUSBInterface::transportRead(uint8_t* bytes, int length) {
    return transport_.readPipe(bytes, length);
}

void WinUSBInterface::transportClose() {
    transport_.close();
}

// ---------------------------------------------------------------------------------------------
// Where this driver family differs

uint16_t WinUSBInterface::headerTimeout(int requestedMs) const {
    return static_cast<uint16_t>(requestedMs);
}

void WinUSBInterface::packFramePacket(const CanFrame& frame, uint8_t* out) const {
    packet::packFrame(frame, out);
}

CanFrame WinUSBInterface::unpackFramePacket(const uint8_t* in) const {
    return packet::unpackFrame(in);
}

void WinUSBInterface::markUnreadRecords(CanFrame* /*records*/, int /*count*/) const {}

void WinUSBInterface::recordRealisedTiming(const ControllerTiming& timing) {
    if (commParams_.Bus == 0) {
        commParams_.SamplePoint = timing.samplePoint / 10;
        commParams_.Sjw = timing.sjw;
    }
    deviceInfo_.SamplePoint = commParams_.SamplePoint;
    deviceInfo_.Sjw = commParams_.Sjw;
}

void WinUSBInterface::auxValueSent(uint32_t /*value*/) {}

}  // namespace vtx

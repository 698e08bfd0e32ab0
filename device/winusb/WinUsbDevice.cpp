#include "device/winusb/WinUsbDevice.h"

#include "base/ElapsedTimer.h"
#include "device/DeviceSelection.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

namespace vtx {

using namespace trace;

namespace {
constexpr char kEvent[] = "WinUSBInterface";
constexpr Group kGroup = Group::WinUsb;
}  // namespace

WinUsbDevice::WinUsbDevice() : WinUsbDevice(processPipeTransport()) {}

WinUsbDevice::WinUsbDevice(PipeTransport& transport)
    : UsbProtocolDevice({kGroup, kEvent, ProtocolEvents::Written, ReadEventCounter::Carried},
                        ProtocolQuirks{}),
      transport_(transport) {
    VTX_TRACE(kGroup, kEvent, place::kWinUsbDeviceCreationStarted);
    VTX_TRACE(kGroup, kEvent, place::kWinUsbDeviceCreationEnded);
}

WinUsbDevice::~WinUsbDevice() {
    VTX_TRACE(kGroup, kEvent, place::kWinUsbDeviceDestructionStarted);
    closeDevice();
    VTX_TRACE(kGroup, kEvent, place::kWinUsbDeviceDestructionEnded);
}

// ---------------------------------------------------------------------------------------------
// Discovery, open and identification

void WinUsbDevice::getDeviceList(std::vector<EnumeratedDevice>& list) {
    list.clear();
    for (std::string& path : transport_.enumerateDevicePaths()) {
        list.push_back({std::move(path)});
    }
    VTX_TRACE(kGroup, kEvent, place::kWinUsbDevicesListed,
              u32("interfaceCnt", static_cast<uint32_t>(list.size())));
}

bool WinUsbDevice::isDevicePresent() {
    return transport_.isDevicePresent();
}

bool WinUsbDevice::open() {
    VTX_TRACE(kGroup, kEvent, place::kWinUsbOpenStarted,
              u32("deviceHandle", transport_.isOpen() ? 1 : 0));
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
    VTX_TRACE(kGroup, kEvent, place::kWinUsbOpenEnded,
              u32("deviceHandle", transport_.isOpen() ? 1 : 0), u32("ret", ret));
    return ret;
}

bool WinUsbDevice::init() {
    const ElapsedTimer timer;
    VTX_TRACE(kGroup, kEvent, place::kDeviceInitStarted);
    resetRecords();
    uint32_t state = 0;
    int outBusSupport = 0;
    bool ret = false;
    std::vector<EnumeratedDevice> devices;
    getDeviceList(devices);
    if (!devices.empty()) {
        if (devicePath_.empty()) {
            devicePath_ = devices.front().path;
        }
        ret = open() && identifyOpenedDevice(state, outBusSupport);
    }
    VTX_TRACE(kGroup, kEvent, place::kDeviceInitEnded, i32("outBusSupported", outBusSupport),
              u32("termResistorStatus", state), u32("ret", ret), u32("t", timer.elapsed()));
    return ret;
}

bool WinUsbDevice::isOpen() {
    return transport_.isOpen();
}

int WinUsbDevice::transportWrite(const uint8_t* bytes, int length) {
    return transport_.writePipe(bytes, length);
}

int WinUsbDevice::transportRead(uint8_t* bytes, int length) {
    return transport_.readPipe(bytes, length);
}

void WinUsbDevice::transportClose() {
    transport_.close();
}

}  // namespace vtx

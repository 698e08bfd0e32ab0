#include "device/DriverDetection.h"

#include "device/DeviceSelection.h"
#include "platform/DeviceServices.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

namespace vtx {

namespace {
constexpr char kEvent[] = "GenericInterface";

bool installedFor(DeviceChoice choice, InterfaceType type) {
    switch (choice) {
        case DeviceChoice::Sim:
            return type == InterfaceType::WinUsb;
        case DeviceChoice::SimKernel:
            return type == InterfaceType::KernelDriver;
        case DeviceChoice::Real:
            break;
    }
    return platform::isDriverPackageInstalled(type);
}
}  // namespace

bool isDriverInstalled(InterfaceType type) {
    if (type == InterfaceType::None) {
        return false;
    }
    VTX_TRACE(trace::Group::DriverDetection, kEvent, trace::place::kDriverDetectionStarted,
              trace::u32("interfacetype", traceValue(type)));
    const bool installed = installedFor(processDeviceChoice(), type);
    VTX_TRACE(trace::Group::DriverDetection, kEvent, trace::place::kDriverDetectionEnded,
              trace::u32("ret", installed));
    return installed;
}

// The kernel-driver package wins when both are installed.
InterfaceType detectInterfaceType() {
    for (const InterfaceType type : {InterfaceType::KernelDriver, InterfaceType::WinUsb}) {
        if (isDriverInstalled(type)) {
            return type;
        }
    }
    return InterfaceType::None;
}

// The real device's path on platforms where the platform can tell what is missing (on POSIX,
// the WinUSB path over libusb: no libusb, no device, or no permission).
const char* missingDriverReason() {
    if (processDeviceChoice() != DeviceChoice::Real) {
        return "";
    }
    return platform::missingDriverReason(InterfaceType::WinUsb);
}

}  // namespace vtx

// Which driver family serves the device, asked once when the library is loaded.
#include "device/DeviceSelection.h"
#include "device/GenericInterface.h"
#include "platform/PlatformServices.h"
#include "trace/TraceProvider.h"

namespace vtx {

namespace {
constexpr char kEvent[] = "GenericInterface";
constexpr uint32_t kKernelDriver = 2;
constexpr uint32_t kWinUsb = 4;

bool installedFor(DeviceChoice choice, uint32_t interfaceType) {
    switch (choice) {
        case DeviceChoice::Sim:
            return interfaceType == kWinUsb;
        case DeviceChoice::SimKernel:
            return interfaceType == kKernelDriver;
        case DeviceChoice::Real:
            break;
    }
    return platform::isDriverPackageInstalled(interfaceType);
}
}  // namespace

bool GenericInterface::getDriverInstalled(uint32_t interfaceType) {
    if (interfaceType != kKernelDriver && interfaceType != kWinUsb) {
        return false;
    }
    VTX_TRACE(trace::Group::DriverDetection, kEvent, "getDriverInstalled() -S-",
              trace::u32("interfacetype", interfaceType));
    const bool installed = installedFor(processDeviceChoice(), interfaceType);
    VTX_TRACE(trace::Group::DriverDetection, kEvent, "getDriverInstalled() -E-",
              trace::u32("ret", installed));
    return installed;
}

// The kernel-driver package wins when both are installed.
uint32_t GenericInterface::detectInterfaceType() {
    if (getDriverInstalled(kKernelDriver)) {
        return kKernelDriver;
    }
    if (getDriverInstalled(kWinUsb)) {
        return kWinUsb;
    }
    return 0;
}

}  // namespace vtx

#include "device/DeviceFactory.h"

#include "device/kerneldriver/KernelDriverDevice.h"
#include "device/winusb/WinUsbDevice.h"

namespace vtx {

std::unique_ptr<Device> createDevice(InterfaceType type) {
    switch (type) {
        case InterfaceType::KernelDriver:
            return std::make_unique<KernelDriverDevice>();
        case InterfaceType::WinUsb:
            return std::make_unique<WinUsbDevice>();
        case InterfaceType::None:
            break;
    }
    return nullptr;
}

}  // namespace vtx

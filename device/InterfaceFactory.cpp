#include "device/InterfaceFactory.h"

#include "device/kerneldriver/USBInterface.h"
#include "device/winusb/WinUSBInterface.h"

namespace vtx {

std::unique_ptr<GenericInterface> createInterface(uint32_t interfaceType) {
    if (interfaceType == 2) {
        return std::make_unique<USBInterface>();
    }
    if (interfaceType == 4) {
        return std::make_unique<WinUSBInterface>();
    }
    return nullptr;
}

}  // namespace vtx

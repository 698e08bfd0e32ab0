#pragma once

#include <cstdint>
#include <memory>

#include "device/GenericInterface.h"

namespace vtx {

// The interface of an interface type: 2 the kernel-driver device, 4 the WinUSB device. nullptr for
// a type with no implementation, which the communication thread reports as a missing driver.
std::unique_ptr<GenericInterface> createInterface(uint32_t interfaceType);

}  // namespace vtx

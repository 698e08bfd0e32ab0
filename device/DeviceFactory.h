#pragma once

#include <cstdint>
#include <memory>

#include "base/InterfaceType.h"
#include "device/Device.h"

namespace vtx {

// The device of an interface type. nullptr for a type with no implementation, which the
// communication thread reports as a missing driver.
std::unique_ptr<Device> createDevice(InterfaceType type);

}  // namespace vtx

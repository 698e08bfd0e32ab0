#pragma once

#include <cstdint>

#include "base/InterfaceType.h"

namespace vtx::platform {

// Whether a compatible driver of some device of the device class (plugged in or not) comes from
// the driver package of that interface type, as the driver store names its INF file.
bool driverStoreHasPackage(InterfaceType type);

}  // namespace vtx::platform

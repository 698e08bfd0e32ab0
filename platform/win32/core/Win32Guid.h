#pragma once

#include <windows.h>

#include "platform/DriverPackages.h"

namespace vtx::platform {

inline GUID toWin32Guid(const DeviceGuid& g) {
    GUID guid;
    guid.Data1 = g.data1;
    guid.Data2 = g.data2;
    guid.Data3 = g.data3;
    for (int i = 0; i < 8; ++i) {
        guid.Data4[i] = g.data4[i];
    }
    return guid;
}

}  // namespace vtx::platform

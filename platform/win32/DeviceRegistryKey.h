// The device's key under HKEY_LOCAL_MACHINE, where the installers write its registration and the
// log switch: the 32-bit view (WOW6432Node) for the 32-bit DLL, the native view for the 64-bit
// one, each where applications of its width look.
#pragma once

namespace vtx::platform {

inline constexpr const char* kDeviceRegistryKey =
    sizeof(void*) == 8 ? "SOFTWARE\\PassThruSupport.04.04\\Vantrix - J2534"
                       : "SOFTWARE\\WOW6432Node\\PassThruSupport.04.04\\Vantrix - J2534";

}  // namespace vtx::platform

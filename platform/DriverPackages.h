// The identities under which the device's two driver packages install it. The INF stubs of the
// packages carry the same values.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/InterfaceType.h"

namespace vtx {

struct DeviceGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// The device setup class both packages install the device under.
inline constexpr DeviceGuid kDeviceClassGuid = {
    0xF4FEDF8C, 0x49A6, 0x4CEF, {0xAE, 0x1A, 0xBA, 0x37, 0x6A, 0x10, 0xEF, 0xA5}};
// The device interface class the WinUSB package registers.
inline constexpr DeviceGuid kWinUsbInterfaceGuid = {
    0x46B185E9, 0x5793, 0x400F, {0x9F, 0x89, 0xEB, 0x5A, 0xC3, 0xD7, 0x30, 0xDD}};

inline constexpr std::wstring_view kKernelDriverInf = L"vtxusbcan.inf";
inline constexpr std::wstring_view kWinUsbInf = L"vtxwinusbcan.inf";

// The INF file name of a package for an interface type; empty for other types.
std::wstring_view driverPackageInf(InterfaceType type);

// Whether a driver-store path names that INF file: the part after the last '\' or '/' (the
// whole path when it has neither), compared exactly, letter case included.
bool infFileNameMatches(std::wstring_view driverStorePath, std::wstring_view infName);

}  // namespace vtx

#include <gtest/gtest.h>

#include "device/DeviceSelection.h"
#include "platform/DriverPackages.h"

namespace vtx {
namespace {

TEST(DeviceSelection, OnlyTheTwoSimulatedNamesSelectTheSimulation) {
    EXPECT_EQ(parseDeviceChoice("sim"), DeviceChoice::Sim);
    EXPECT_EQ(parseDeviceChoice("sim-kernel"), DeviceChoice::SimKernel);
    for (const char* other : {"", "SIM", "sim ", "kernel", "1"}) {
        EXPECT_EQ(parseDeviceChoice(other), DeviceChoice::Real) << '"' << other << '"';
    }
}

TEST(DriverPackages, StoreFileNameMatchesExactly) {
    struct Case {
        const wchar_t* path;
        InterfaceType type;
        bool matches;
    };
    const Case cases[] = {
        {L"C:\\Windows\\System32\\DriverStore\\FileRepository\\vtxusbcan.inf_x86_1\\vtxusbcan.inf",
         InterfaceType::KernelDriver, true},
        {L"C:/store/vtxwinusbcan.inf", InterfaceType::WinUsb, true},
        {L"vtxwinusbcan.inf", InterfaceType::WinUsb, true},
        {L"C:\\store\\VTXUSBCAN.INF", InterfaceType::KernelDriver, false},  // letter case counts
        {L"C:\\store\\vtxusbcan.inf", InterfaceType::WinUsb, false},
        {L"C:\\store\\xvtxusbcan.inf", InterfaceType::KernelDriver, false},
        {L"C:\\store\\vtxusbcan.inf", InterfaceType::None, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(infFileNameMatches(c.path, driverPackageInf(c.type)), c.matches)
            << traceValue(c.type);
    }
}

}  // namespace
}  // namespace vtx

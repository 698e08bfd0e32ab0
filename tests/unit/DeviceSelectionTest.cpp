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
        uint32_t type;
        bool matches;
    };
    const Case cases[] = {
        {L"C:\\Windows\\System32\\DriverStore\\FileRepository\\vtxusbcan.inf_x86_1\\vtxusbcan.inf",
         2, true},
        {L"C:/store/vtxwinusbcan.inf", 4, true},
        {L"vtxwinusbcan.inf", 4, true},
        {L"C:\\store\\VTXUSBCAN.INF", 2, false},  // letter case counts
        {L"C:\\store\\vtxusbcan.inf", 4, false},
        {L"C:\\store\\xvtxusbcan.inf", 2, false},
        {L"C:\\store\\vtxusbcan.inf", 3, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(infFileNameMatches(c.path, driverPackageInf(c.type)), c.matches) << c.type;
    }
}

}  // namespace
}  // namespace vtx

// End-to-end fixture: the library attached in this process with the simulated device selected,
// a fresh simulated world per test, the fourteen functions called as an application calls them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/Library.h"
#include "base/J2534.h"
#include "platform/DynamicLibrary.h"
#include "sim/SimWorld.h"

#ifdef VTX_E2E_THROUGH_LIBRARY
// The built library (the DLL on Windows), loaded by path for each test as an application loads
// it; the program lends it its simulated device (SimulatedDeviceHost.cpp).
#include "tools/ptcan/PassThruLibrary.h"

namespace vtx::e2e {
ptcan::PassThruLibrary& loadedLibrary();

// The library the program loads: the one it was built beside, or the one VTX_E2E_LIBRARY names
// (libvtxpts-ulong.so, which the program calls with the standard header's unsigned long through
// the client's UlongCalls). VTX_E2E_INTEGERS=ulong says so, and every successful open checks
// that the library is found to take them.
inline std::string libraryPath() {
    const char* chosen = std::getenv("VTX_E2E_LIBRARY");
    return chosen != nullptr && *chosen != '\0' ? chosen : VTX_LIBRARY_PATH;
}

inline ptcan::PassThruLibrary::Integers expectedIntegers() {
    const char* integers = std::getenv("VTX_E2E_INTEGERS");
    return integers != nullptr && std::string(integers) == "ulong"
               ? ptcan::PassThruLibrary::Integers::UnsignedLong
               : ptcan::PassThruLibrary::Integers::Bits32;
}

inline uint32_t PassThruOpen(void* pName, uint32_t* pDeviceID) {
    const uint32_t status = loadedLibrary().open(pName, pDeviceID);
    if (status == STATUS_NOERROR) {
        EXPECT_EQ(loadedLibrary().integers(), expectedIntegers());
    }
    return status;
}
inline uint32_t PassThruClose(uint32_t DeviceID) {
    return loadedLibrary().close(DeviceID);
}
inline uint32_t PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                uint32_t BaudRate, uint32_t* pChannelID) {
    return loadedLibrary().connect(DeviceID, ProtocolID, Flags, BaudRate, pChannelID);
}
inline uint32_t PassThruDisconnect(uint32_t ChannelID) {
    return loadedLibrary().disconnect(ChannelID);
}
inline uint32_t PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                 uint32_t Timeout) {
    return loadedLibrary().readMsgs(ChannelID, pMsg, pNumMsgs, Timeout);
}
inline uint32_t PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                  uint32_t Timeout) {
    return loadedLibrary().writeMsgs(ChannelID, pMsg, pNumMsgs, Timeout);
}
inline uint32_t PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                                         uint32_t TimeInterval) {
    return loadedLibrary().startPeriodicMsg(ChannelID, pMsg, pMsgID, TimeInterval);
}
inline uint32_t PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    return loadedLibrary().stopPeriodicMsg(ChannelID, MsgID);
}
inline uint32_t PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                       PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                       PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID) {
    return loadedLibrary().startMsgFilter(ChannelID, FilterType, pMaskMsg, pPatternMsg,
                                          pFlowControlMsg, pFilterID);
}
inline uint32_t PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    return loadedLibrary().stopMsgFilter(ChannelID, FilterID);
}
inline uint32_t PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                              uint32_t Voltage) {
    return loadedLibrary().setProgrammingVoltage(DeviceID, PinNumber, Voltage);
}
inline uint32_t PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                    char* pApiVersion) {
    return loadedLibrary().readVersion(DeviceID, pFirmwareVersion, pDllVersion, pApiVersion);
}
inline uint32_t PassThruGetLastError(char* pErrorDescription) {
    return loadedLibrary().getLastError(pErrorDescription);
}
inline uint32_t PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    return loadedLibrary().ioctl(ChannelID, IoctlID, pInput, pOutput);
}
}  // namespace vtx::e2e

// A test that looks inside the library (its trace provider) runs only with the library linked
// into the program.
#define VTX_E2E_NEEDS_LIBRARY_INSIDE() \
    GTEST_SKIP() << "looks inside the library, which is loaded from its file here"
#else
// The library linked into the program: its exported functions, called directly.
#include "api/PassThruFunctions.h"

#define VTX_E2E_NEEDS_LIBRARY_INSIDE() static_cast<void>(0)
#endif

namespace vtx::e2e {

class SimFixture : public ::testing::Test {
  protected:
    // The same suite runs once behind each driver family's path: the program is run twice, with
    // VTX_E2E_DEVICE set to sim (WinUSB, the default) and to sim-kernel (the kernel driver).
    static std::string devicePath() {
        const char* chosen = std::getenv("VTX_E2E_DEVICE");
        return chosen != nullptr && *chosen != '\0' ? chosen : "sim";
    }
    static void SetUpTestSuite() {
        platform::setEnvironment("VTXPTS_DEVICE", devicePath().c_str());
    }
    static bool kernelVariant() { return devicePath() == "sim-kernel"; }

    void SetUp() override { ASSERT_TRUE(loadLibrary()); }
    void TearDown() override { unloadLibrary(); }

    // Loads the library into the process, as the loader does: attached, or loaded from its file.
    static bool loadLibrary() {
#ifdef VTX_E2E_THROUGH_LIBRARY
        const bool loaded = loadedLibrary().load(libraryPath(), expectedIntegers());
        EXPECT_TRUE(loaded) << loadedLibrary().error();
        return loaded;
#else
        return Library::onProcessAttach();
#endif
    }

    // Unloads it; the simulated device goes with it, the next test builds a fresh one.
    static void unloadLibrary() {
#ifdef VTX_E2E_THROUGH_LIBRARY
        loadedLibrary().unload();
        sim::SimWorld::shutdownProcess();
#else
        Library::onProcessDetach();
#endif
    }

    sim::SimWorld& world() {
        return sim::SimWorld::process();
    }

    static std::string lastError() {
        char text[80];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(PassThruGetLastError(text), STATUS_NOERROR);
        return text;
    }

    // A CAN message with the identifier in data bytes 0-3 and the data after it.
    static PASSTHRU_MSG message(uint32_t id, std::vector<uint8_t> data = {}, uint32_t txFlags = 0) {
        PASSTHRU_MSG msg{};
        msg.ProtocolID = CAN;
        msg.TxFlags = txFlags;
        msg.DataSize = static_cast<uint32_t>(4 + data.size());
        msg.Data[0] = static_cast<uint8_t>(id >> 24);
        msg.Data[1] = static_cast<uint8_t>(id >> 16);
        msg.Data[2] = static_cast<uint8_t>(id >> 8);
        msg.Data[3] = static_cast<uint8_t>(id);
        std::copy(data.begin(), data.end(), msg.Data + 4);
        return msg;
    }

    static uint32_t idOf(const PASSTHRU_MSG& msg) {
        return static_cast<uint32_t>(msg.Data[0]) << 24 | static_cast<uint32_t>(msg.Data[1]) << 16 |
               static_cast<uint32_t>(msg.Data[2]) << 8 | msg.Data[3];
    }

    // Opens the device and connects one CAN channel.
    void openAndConnect(uint32_t flags = 0, uint32_t baudRate = 500000) {
        ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
        ASSERT_EQ(PassThruConnect(deviceId, CAN, flags, baudRate, &channelId), STATUS_NOERROR)
            << lastError();
    }

    // A pass filter with the given mask and pattern identifiers.
    uint32_t passFilter(uint32_t mask, uint32_t pattern, uint32_t txFlags = 0) {
        PASSTHRU_MSG maskMsg = message(mask, {}, txFlags);
        PASSTHRU_MSG patternMsg = message(pattern, {}, txFlags);
        uint32_t filterId = 0;
        EXPECT_EQ(PassThruStartMsgFilter(channelId, PASS_FILTER, &maskMsg, &patternMsg, nullptr,
                                         &filterId),
                  STATUS_NOERROR)
            << lastError();
        return filterId;
    }

    uint32_t deviceId = 0;
    uint32_t channelId = 0;
};

}  // namespace vtx::e2e

#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/J2534.h"
#include "platform/DynamicLibrary.h"

namespace ptcan {

// A J2534 library loaded by path, with its fourteen functions resolved by name and called with
// this tree's 32-bit records, whichever integers the library takes: 32-bit ones, or the standard
// header's `unsigned long` where that is 64 bits (its calls are then translated, UlongCalls).
// Which of the two a library takes is learnt at its first successful PassThruOpen: the device ID
// is written into eight bytes whose upper half holds a marker that a 32-bit library leaves and an
// unsigned-long one clears.
class PassThruLibrary {
  public:
    enum class Integers : uint8_t { NotYetKnown, Bits32, UnsignedLong };

    // False, with error() set, when the library cannot be loaded or lacks a function. Until the
    // first open tells, calls use the integers given here.
    bool load(const std::string& path, Integers assumed = Integers::Bits32);
    const std::string& error() const { return error_; }
    // Unloads the library, as FreeLibrary or dlclose; the functions are gone afterwards.
    void unload();

    // What the first successful open found (NotYetKnown before it, or when the library wrote
    // something that fits neither).
    Integers integers() const { return integers_; }

    // The status code and, from PassThruGetLastError, its description.
    std::string describe(uint32_t status);

    std::function<uint32_t(void*, uint32_t*)> open;
    std::function<uint32_t(uint32_t)> close;
    std::function<uint32_t(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*)> connect;
    std::function<uint32_t(uint32_t)> disconnect;
    std::function<uint32_t(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t)> readMsgs;
    std::function<uint32_t(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t)> writeMsgs;
    std::function<uint32_t(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t)> startPeriodicMsg;
    std::function<uint32_t(uint32_t, uint32_t)> stopPeriodicMsg;
    std::function<uint32_t(uint32_t, uint32_t, PASSTHRU_MSG*, PASSTHRU_MSG*, PASSTHRU_MSG*,
                           uint32_t*)>
        startMsgFilter;
    std::function<uint32_t(uint32_t, uint32_t)> stopMsgFilter;
    std::function<uint32_t(uint32_t, uint32_t, uint32_t)> setProgrammingVoltage;
    std::function<uint32_t(uint32_t, char*, char*, char*)> readVersion;
    std::function<uint32_t(char*)> getLastError;
    std::function<uint32_t(uint32_t, uint32_t, void*, void*)> ioctl;

    // The fourteen functions as the library exports them, in the order of the names in
    // PassThruLibrary.cpp.
    static constexpr int kFunctions = 14;
    using Symbols = void* [kFunctions];

  private:
    void useIntegers(Integers integers);
    void useBits32();
    uint32_t openAndLearn(void* pName, uint32_t* pDeviceID);

    vtx::platform::DynamicLibrary library_;
    std::string error_;
    Symbols symbols_ = {};
    Integers integers_ = Integers::NotYetKnown;
};

}  // namespace ptcan

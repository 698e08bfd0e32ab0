#include "tools/ptcan/PassThruLibrary.h"

#if defined(VTX_CLIENT_BRIDGES_ULONG)
#include "tools/ptcan/UlongCalls.h"
#endif

namespace ptcan {

namespace {
constexpr const char* kNames[PassThruLibrary::kFunctions] = {"PassThruOpen",
                                                             "PassThruClose",
                                                             "PassThruConnect",
                                                             "PassThruDisconnect",
                                                             "PassThruReadMsgs",
                                                             "PassThruWriteMsgs",
                                                             "PassThruStartPeriodicMsg",
                                                             "PassThruStopPeriodicMsg",
                                                             "PassThruStartMsgFilter",
                                                             "PassThruStopMsgFilter",
                                                             "PassThruSetProgrammingVoltage",
                                                             "PassThruReadVersion",
                                                             "PassThruGetLastError",
                                                             "PassThruIoctl"};

// The upper half of the eight bytes the first open's device ID is written into: a library with
// 32-bit integers writes the lower half only.
constexpr uint64_t kMarker = 0xA5C3A5C300000000u;
constexpr uint64_t kUpperHalf = 0xFFFFFFFF00000000u;

template <typename Function>
Function as(void* symbol) {
    return reinterpret_cast<Function>(symbol);
}
}  // namespace

bool PassThruLibrary::load(const std::string& path, Integers assumed) {
    if (!library_.open(path)) {
        error_ = library_.error();
        return false;
    }
    for (int i = 0; i < kFunctions; ++i) {
        symbols_[i] = library_.symbol(kNames[i]);
        if (symbols_[i] == nullptr) {
            error_ = std::string("the library does not export ") + kNames[i];
            return false;
        }
    }
    integers_ = Integers::NotYetKnown;
    useIntegers(assumed);
    open = [this](void* pName, uint32_t* pDeviceID) { return openAndLearn(pName, pDeviceID); };
    return true;
}

uint32_t PassThruLibrary::openAndLearn(void* pName, uint32_t* pDeviceID) {
    if (pDeviceID == nullptr) {
        return as<PTOPEN>(symbols_[0])(pName, nullptr);
    }
    uint64_t written = kMarker;
    // Either kind of library takes a pointer and returns a small status; the low half of a
    // wide return value is the status.
    const uint32_t status = as<PTOPEN>(symbols_[0])(pName, reinterpret_cast<uint32_t*>(&written));
    if (status != STATUS_NOERROR) {
        return status;
    }
    *pDeviceID = static_cast<uint32_t>(written);
    // Learnt once: a later open finds the same, and the functions other threads may be calling
    // meanwhile are left as they are.
    if (integers_ != Integers::NotYetKnown) {
        return status;
    }
    if ((written & kUpperHalf) == kMarker) {
        integers_ = Integers::Bits32;
    } else if ((written & kUpperHalf) == 0) {
        integers_ = Integers::UnsignedLong;
    } else {
        integers_ = Integers::NotYetKnown;
        return status;
    }
    useIntegers(integers_);
    return status;
}

void PassThruLibrary::useIntegers(Integers integers) {
#if defined(VTX_CLIENT_BRIDGES_ULONG)
    if (integers == Integers::UnsignedLong) {
        bridgeUnsignedLong(*this, symbols_);
        return;
    }
#endif
    static_cast<void>(integers);
    useBits32();
}

void PassThruLibrary::useBits32() {
    close = as<PTCLOSE>(symbols_[1]);
    connect = as<PTCONNECT>(symbols_[2]);
    disconnect = as<PTDISCONNECT>(symbols_[3]);
    readMsgs = as<PTREADMSGS>(symbols_[4]);
    writeMsgs = as<PTWRITEMSGS>(symbols_[5]);
    startPeriodicMsg = as<PTSTARTPERIODICMSG>(symbols_[6]);
    stopPeriodicMsg = as<PTSTOPPERIODICMSG>(symbols_[7]);
    startMsgFilter = as<PTSTARTMSGFILTER>(symbols_[8]);
    stopMsgFilter = as<PTSTOPMSGFILTER>(symbols_[9]);
    setProgrammingVoltage = as<PTSETPROGRAMMINGVOLTAGE>(symbols_[10]);
    readVersion = as<PTREADVERSION>(symbols_[11]);
    getLastError = as<PTGETLASTERROR>(symbols_[12]);
    ioctl = as<PTIOCTL>(symbols_[13]);
}

void PassThruLibrary::unload() {
    library_.close();
    open = nullptr;
    close = nullptr;
    connect = nullptr;
    disconnect = nullptr;
    readMsgs = nullptr;
    writeMsgs = nullptr;
    startPeriodicMsg = nullptr;
    stopPeriodicMsg = nullptr;
    startMsgFilter = nullptr;
    stopMsgFilter = nullptr;
    setProgrammingVoltage = nullptr;
    readVersion = nullptr;
    getLastError = nullptr;
    ioctl = nullptr;
    integers_ = Integers::NotYetKnown;
}

std::string PassThruLibrary::describe(uint32_t status) {
    char text[80] = {};
    getLastError(text);
    // The description of ERR_FAILED is its explanation, of every other status its name.
    return status == ERR_FAILED ? std::string("ERR_FAILED: ") + text : std::string(text);
}

}  // namespace ptcan

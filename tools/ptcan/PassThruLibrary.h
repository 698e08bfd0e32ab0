#pragma once

#include <string>

#include "base/J2534.h"
#include "platform/DynamicLibrary.h"

namespace ptcan {

// A J2534 library loaded by path, with its fourteen functions resolved by name.
class PassThruLibrary {
  public:
    // False, with error() set, when the library cannot be loaded or lacks a function.
    bool load(const std::string& path);
    const std::string& error() const { return error_; }
    // Unloads the library, as FreeLibrary or dlclose; the functions are gone afterwards.
    void unload();

    // The status code and, from PassThruGetLastError, its description.
    std::string describe(uint32_t status);

    PTOPEN open = nullptr;
    PTCLOSE close = nullptr;
    PTCONNECT connect = nullptr;
    PTDISCONNECT disconnect = nullptr;
    PTREADMSGS readMsgs = nullptr;
    PTWRITEMSGS writeMsgs = nullptr;
    PTSTARTPERIODICMSG startPeriodicMsg = nullptr;
    PTSTOPPERIODICMSG stopPeriodicMsg = nullptr;
    PTSTARTMSGFILTER startMsgFilter = nullptr;
    PTSTOPMSGFILTER stopMsgFilter = nullptr;
    PTSETPROGRAMMINGVOLTAGE setProgrammingVoltage = nullptr;
    PTREADVERSION readVersion = nullptr;
    PTGETLASTERROR getLastError = nullptr;
    PTIOCTL ioctl = nullptr;

  private:
    template <typename Function>
    bool resolve(Function& function, const char* name);

    vtx::platform::DynamicLibrary library_;
    std::string error_;
};

}  // namespace ptcan

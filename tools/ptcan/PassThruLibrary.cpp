#include "tools/ptcan/PassThruLibrary.h"

namespace ptcan {

template <typename Function>
bool PassThruLibrary::resolve(Function& function, const char* name) {
    function = reinterpret_cast<Function>(library_.symbol(name));
    if (function == nullptr) {
        error_ = std::string("the library does not export ") + name;
        return false;
    }
    return true;
}

bool PassThruLibrary::load(const std::string& path) {
    if (!library_.open(path)) {
        error_ = library_.error();
        return false;
    }
    return resolve(open, "PassThruOpen") && resolve(close, "PassThruClose") &&
           resolve(connect, "PassThruConnect") && resolve(disconnect, "PassThruDisconnect") &&
           resolve(readMsgs, "PassThruReadMsgs") && resolve(writeMsgs, "PassThruWriteMsgs") &&
           resolve(startPeriodicMsg, "PassThruStartPeriodicMsg") &&
           resolve(stopPeriodicMsg, "PassThruStopPeriodicMsg") &&
           resolve(startMsgFilter, "PassThruStartMsgFilter") &&
           resolve(stopMsgFilter, "PassThruStopMsgFilter") &&
           resolve(setProgrammingVoltage, "PassThruSetProgrammingVoltage") &&
           resolve(readVersion, "PassThruReadVersion") &&
           resolve(getLastError, "PassThruGetLastError") && resolve(ioctl, "PassThruIoctl");
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
}

std::string PassThruLibrary::describe(uint32_t status) {
    char text[80] = {};
    getLastError(text);
    // The description of ERR_FAILED is its explanation, of every other status its name.
    return status == ERR_FAILED ? std::string("ERR_FAILED: ") + text : std::string(text);
}

}  // namespace ptcan

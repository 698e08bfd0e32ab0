// obd_demo: what a diagnostic application does through any J2534 library, loaded by path.
// Opens the device, shows its versions and termination resistor, connects ISO15765 at
// 500 kbit/s with a flow-control filter for the engine ECU, asks for engine speed and vehicle
// speed, and reads the VIN, which comes in several frames. Every step prints its J2534 status.
//
//   obd_demo LIBRARY     (VTXPTS_DEVICE=sim selects the simulated device)
#include <cstdio>
#include <string>
#include <vector>

#include "examples/DiagnosticSession.h"

namespace {

using examples::DiagnosticSession;

// The three version strings and the bus termination resistor's state.
void showDevice(DiagnosticSession& session) {
    char firmware[80] = {};
    char dll[80] = {};
    char api[80] = {};
    if (session.step("PassThruReadVersion",
                     session.library().readVersion(session.deviceId(), firmware, dll, api))) {
        std::printf("  firmware: %s\n  library:  %s\n  API:      %s\n", firmware, dll, api);
    }
    uint32_t state = 0;
    if (session.step(
            "PassThruIoctl GET_TERM_RESISTOR",
            session.library().ioctl(session.channelId(), GET_TERM_RESISTOR, nullptr, &state))) {
        std::printf("  termination resistor: %s\n", state == 1 ? "on" : "off");
    }
}

// One current-data PID: its data bytes, or none.
std::optional<std::vector<uint8_t>> currentData(DiagnosticSession& session, uint8_t pid,
                                                const char* what) {
    const auto answer = session.request(DiagnosticSession::kFunctionalRequest, {0x01, pid}, what);
    if (!answer || answer->size() < 3 || (*answer)[0] != 0x41 || (*answer)[1] != pid) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(answer->begin() + 2, answer->end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: obd_demo LIBRARY\n");
        return 2;
    }
    ptcan::PassThruLibrary lib;
    if (!lib.load(argv[1])) {
        std::fprintf(stderr, "obd_demo: cannot load %s: %s\n", argv[1], lib.error().c_str());
        return 1;
    }
    DiagnosticSession session(lib, DiagnosticSession::Echo::PrintEveryCall);
    if (!session.open()) {
        return 1;
    }
    showDevice(session);
    int failures = 0;
    if (const auto rpm = currentData(session, 0x0C, "PassThruWriteMsgs 01 0C (0x7DF)");
        rpm && rpm->size() >= 2) {
        std::printf("  engine speed: %.2f rpm\n", (((*rpm)[0] << 8) | (*rpm)[1]) / 4.0);
    } else {
        ++failures;
    }
    if (const auto speed = currentData(session, 0x0D, "PassThruWriteMsgs 01 0D (0x7DF)");
        speed && !speed->empty()) {
        std::printf("  vehicle speed: %u km/h\n", (*speed)[0]);
    } else {
        ++failures;
    }
    const auto vin = session.request(DiagnosticSession::kPhysicalRequest, {0x09, 0x02},
                                     "PassThruWriteMsgs 09 02 (0x7E0)");
    if (vin && vin->size() >= 3 && (*vin)[0] == 0x49 && (*vin)[1] == 0x02) {
        std::printf("  VIN: %s\n", std::string(vin->begin() + 3, vin->end()).c_str());
    } else {
        ++failures;
    }
    session.close();
    return failures == 0 ? 0 : 1;
}

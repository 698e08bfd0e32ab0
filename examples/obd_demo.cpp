// obd_demo: what a diagnostic application does through any J2534 library, loaded by path.
// Opens the device, connects CAN at 500 kbit/s, sets a pass filter for the engine ECU's answers
// (0x7E8), asks for engine speed and vehicle speed, then reads the VIN over ISO-TP (first frame,
// flow control, consecutive frames). Every step prints its J2534 status.
//
//   obd_demo LIBRARY     (VTXPTS_DEVICE=sim selects the simulated device)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ptcan/PassThruLibrary.h"

namespace {

constexpr uint32_t kFunctionalRequest = 0x7DF;
constexpr uint32_t kPhysicalRequest = 0x7E0;
constexpr uint32_t kEcuResponse = 0x7E8;
constexpr uint32_t kReadTimeoutMs = 200;

class Demo {
  public:
    explicit Demo(ptcan::PassThruLibrary& lib) : lib_(lib) {}

    bool step(const char* what, uint32_t status) {
        std::printf("%-40s %s\n", what, lib_.describe(status).c_str());
        return status == STATUS_NOERROR;
    }

    bool open() {
        return step("PassThruOpen", lib_.open(nullptr, &deviceId_)) &&
               step("PassThruConnect CAN 500 kbit/s",
                    lib_.connect(deviceId_, CAN, 0, 500000, &channelId_)) &&
               step("PassThruStartMsgFilter pass 0x7E8", startFilter());
    }

    // The three version strings and the bus termination resistor's state.
    void showDevice() {
        char firmware[80] = {};
        char dll[80] = {};
        char api[80] = {};
        if (step("PassThruReadVersion", lib_.readVersion(deviceId_, firmware, dll, api))) {
            std::printf("  firmware: %s\n  library:  %s\n  API:      %s\n", firmware, dll, api);
        }
        uint32_t state = 0;
        if (step("PassThruIoctl GET_TERM_RESISTOR",
                 lib_.ioctl(channelId_, GET_TERM_RESISTOR, nullptr, &state))) {
            std::printf("  termination resistor: %s\n", state == 1 ? "on" : "off");
        }
    }

    void close() {
        step("PassThruDisconnect", lib_.disconnect(channelId_));
        step("PassThruClose", lib_.close(deviceId_));
    }

    // Sends an ISO-TP single frame and returns the payload of the ECU's answer (single or
    // multi-frame); empty when none came.
    std::vector<uint8_t> request(uint32_t id, std::vector<uint8_t> payload, const char* what) {
        std::vector<uint8_t> frame = {static_cast<uint8_t>(payload.size())};
        frame.insert(frame.end(), payload.begin(), payload.end());
        if (!write(id, frame, what)) {
            return {};
        }
        std::vector<uint8_t> first = readResponse();
        if (first.empty()) {
            return {};
        }
        if ((first[0] & 0xF0) == 0x00) {
            return {first.begin() + 1, first.begin() + 1 + (first[0] & 0x0F)};
        }
        if ((first[0] & 0xF0) == 0x10) {
            return readMultiFrame(first);
        }
        return {};
    }

  private:
    uint32_t startFilter() {
        PASSTHRU_MSG mask = message(0x7FF, {});
        PASSTHRU_MSG pattern = message(kEcuResponse, {});
        uint32_t filterId = 0;
        return lib_.startMsgFilter(channelId_, PASS_FILTER, &mask, &pattern, nullptr, &filterId);
    }

    static PASSTHRU_MSG message(uint32_t id, const std::vector<uint8_t>& data) {
        PASSTHRU_MSG msg{};
        msg.ProtocolID = CAN;
        msg.DataSize = static_cast<uint32_t>(4 + data.size());
        msg.Data[0] = static_cast<uint8_t>(id >> 24);
        msg.Data[1] = static_cast<uint8_t>(id >> 16);
        msg.Data[2] = static_cast<uint8_t>(id >> 8);
        msg.Data[3] = static_cast<uint8_t>(id);
        std::memcpy(msg.Data + 4, data.data(), data.size());
        return msg;
    }

    bool write(uint32_t id, std::vector<uint8_t> data, const char* what) {
        data.resize(8, 0x55);  // padded to a full frame
        PASSTHRU_MSG msg = message(id, data);
        uint32_t count = 1;
        return step(what, lib_.writeMsgs(channelId_, &msg, &count, 100));
    }

    std::vector<uint8_t> readResponse() {
        PASSTHRU_MSG msg{};
        uint32_t count = 1;
        const uint32_t status = lib_.readMsgs(channelId_, &msg, &count, kReadTimeoutMs);
        step("  PassThruReadMsgs", status);
        if (status != STATUS_NOERROR || count != 1 || msg.DataSize < 5) {
            return {};
        }
        return {msg.Data + 4, msg.Data + msg.DataSize};
    }

    std::vector<uint8_t> readMultiFrame(const std::vector<uint8_t>& first) {
        const std::size_t length = static_cast<std::size_t>(first[0] & 0x0F) << 8 | first[1];
        std::vector<uint8_t> payload(first.begin() + 2, first.end());
        if (!write(kPhysicalRequest, {0x30, 0x00, 0x00}, "  PassThruWriteMsgs flow control")) {
            return {};
        }
        uint8_t expected = 1;
        while (payload.size() < length) {
            const std::vector<uint8_t> next = readResponse();
            if (next.empty() || next[0] != (0x20 | expected)) {
                return {};
            }
            payload.insert(payload.end(), next.begin() + 1, next.end());
            expected = static_cast<uint8_t>((expected + 1) & 0x0F);
        }
        payload.resize(length);
        return payload;
    }

    ptcan::PassThruLibrary& lib_;
    uint32_t deviceId_ = 0;
    uint32_t channelId_ = 0;
};

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
    Demo demo(lib);
    if (!demo.open()) {
        return 1;
    }
    demo.showDevice();
    int failures = 0;
    const auto rpm =
        demo.request(kFunctionalRequest, {0x01, 0x0C}, "PassThruWriteMsgs 01 0C (0x7DF)");
    if (rpm.size() >= 4 && rpm[0] == 0x41 && rpm[1] == 0x0C) {
        std::printf("  engine speed: %.2f rpm\n", ((rpm[2] << 8) | rpm[3]) / 4.0);
    } else {
        ++failures;
    }
    const auto speed =
        demo.request(kFunctionalRequest, {0x01, 0x0D}, "PassThruWriteMsgs 01 0D (0x7DF)");
    if (speed.size() >= 3 && speed[0] == 0x41 && speed[1] == 0x0D) {
        std::printf("  vehicle speed: %u km/h\n", speed[2]);
    } else {
        ++failures;
    }
    const auto vin =
        demo.request(kPhysicalRequest, {0x09, 0x02}, "PassThruWriteMsgs 09 02 (0x7E0)");
    if (vin.size() >= 3 && vin[0] == 0x49 && vin[1] == 0x02) {
        std::printf("  VIN: %s\n", std::string(vin.begin() + 3, vin.end()).c_str());
    } else {
        ++failures;
    }
    demo.close();
    return failures == 0 ? 0 : 1;
}

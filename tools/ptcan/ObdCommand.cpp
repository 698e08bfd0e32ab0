// ptcan LIBRARY obd: engine speed, vehicle speed (mode 01 PIDs 0C and 0D) and the VIN (09 02)
// from the engine ECU, over an ISO 15765 channel when the library connects one, else over raw
// CAN with the transport done here.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/IsoTpRequester.h"
#include "tools/ptcan/PassThruError.h"
#include "tools/ptcan/RawIsoTpRequester.h"

namespace ptcan {

namespace {
constexpr uint32_t kTimeoutMs = 2000;
constexpr uint8_t kPositiveOffset = 0x40;

// The engine ECU's identifiers, 11-bit and 29-bit.
struct EcuIds {
    uint32_t functional;
    uint32_t physical;
    uint32_t response;
};
constexpr EcuIds kStandardIds{0x7DF, 0x7E0, 0x7E8};
constexpr EcuIds kExtendedIds{0x18DB33F1, 0x18DA10F1, 0x18DAF110};

using Request =
    std::function<std::optional<std::vector<uint8_t>>(uint32_t txId, const std::vector<uint8_t>&)>;

// The data of a positive answer to service and pid, or none.
std::optional<std::vector<uint8_t>> ask(const Request& request, uint32_t txId, uint8_t service,
                                        uint8_t pid) {
    const auto answer = request(txId, {service, pid});
    if (!answer || answer->size() < 2 || (*answer)[0] != service + kPositiveOffset ||
        (*answer)[1] != pid) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(answer->begin() + 2, answer->end());
}

// Prints the three values; how many could not be read.
int showValues(const Request& request, const EcuIds& ids) {
    int missing = 0;
    if (const auto rpm = ask(request, ids.functional, 0x01, 0x0C); rpm && rpm->size() >= 2) {
        std::printf("engine speed:  %.2f rpm\n", (((*rpm)[0] << 8) | (*rpm)[1]) / 4.0);
    } else {
        std::printf("engine speed:  no answer\n");
        ++missing;
    }
    if (const auto speed = ask(request, ids.functional, 0x01, 0x0D); speed && !speed->empty()) {
        std::printf("vehicle speed: %u km/h\n", (*speed)[0]);
    } else {
        std::printf("vehicle speed: no answer\n");
        ++missing;
    }
    // The VIN's answer starts with the count of data items (1).
    if (const auto vin = ask(request, ids.physical, 0x09, 0x02); vin && vin->size() > 1) {
        std::printf("VIN:           %s\n", std::string(vin->begin() + 1, vin->end()).c_str());
    } else {
        std::printf("VIN:           no answer\n");
        ++missing;
    }
    return missing;
}

int overIso15765(CanChannel& channel, const EcuIds& ids, bool extended) {
    IsoTpRequester requester(channel, ids.response, ids.physical, extended, true);
    std::printf("channel:       ISO15765\n");
    return showValues(
        [&](uint32_t txId,
            const std::vector<uint8_t>& payload) -> std::optional<std::vector<uint8_t>> {
            const auto answers = requester.exchange(txId, payload, kTimeoutMs);
            if (answers.empty()) {
                return std::nullopt;
            }
            return answers.back();
        },
        ids);
}

int overRawCan(PassThruDevice& device, const CommonOptions& common, const EcuIds& ids) {
    CanChannel channel(device, CAN, common.extended ? CAN_29BIT_ID : 0, common.bitrate);
    RawIsoTpRequester requester(channel, ids.response, ids.physical, common.extended);
    std::printf("channel:       CAN\n");
    return showValues(
        [&](uint32_t txId, const std::vector<uint8_t>& payload) {
            return requester.exchange(txId, payload, kTimeoutMs);
        },
        ids);
}

// An ISO 15765 channel, or none (said on stdout) when the library does not connect one.
std::unique_ptr<CanChannel> connectIso15765(PassThruDevice& device, const CommonOptions& common) {
    try {
        return std::make_unique<CanChannel>(device, ISO15765, common.extended ? CAN_29BIT_ID : 0,
                                            common.bitrate);
    } catch (const PassThruError& error) {
        std::printf("ISO15765:      %s; raw CAN instead\n", error.what());
        return nullptr;
    }
}
}  // namespace

int runObd(PassThruLibrary& library, const CommonOptions& common, bool rawCan) {
    const EcuIds& ids = common.extended ? kExtendedIds : kStandardIds;
    PassThruDevice device(library);
    const std::unique_ptr<CanChannel> iso = rawCan ? nullptr : connectIso15765(device, common);
    const int missing =
        iso ? overIso15765(*iso, ids, common.extended) : overRawCan(device, common, ids);
    if (missing != 0) {
        throw ToolError(std::to_string(missing) + " of 3 values unanswered");
    }
    return 0;
}

}  // namespace ptcan

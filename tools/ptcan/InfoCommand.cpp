// ptcan LIBRARY info: the versions, the termination resistor and the protocols the library
// connects.
#include <array>
#include <cstdio>
#include <string>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/PassThruError.h"

namespace ptcan {

namespace {
struct ProtocolProbe {
    uint32_t id;
    const char* name;
    uint32_t bitrate;  // 0: the CAN bit rate given
};

// The J2534 protocols, each at its usual bit rate.
constexpr std::array<ProtocolProbe, 10> kProtocols = {{
    {1, "J1850VPW", 10400},
    {2, "J1850PWM", 41600},
    {3, "ISO9141", 10400},
    {4, "ISO14230", 10400},
    {CAN, "CAN", 0},
    {ISO15765, "ISO15765", 0},
    {7, "SCI_A_ENGINE", 7812},
    {8, "SCI_A_TRANS", 7812},
    {9, "SCI_B_ENGINE", 7812},
    {10, "SCI_B_TRANS", 7812},
}};

void showVersions(PassThruDevice& device) {
    const PassThruDevice::Versions versions = device.versions();
    std::printf("firmware:   %s\nlibrary:    %s\nAPI:        %s\n", versions.firmware.c_str(),
                versions.library.c_str(), versions.api.c_str());
    const bool wide = device.library().integers() == PassThruLibrary::Integers::UnsignedLong;
    std::printf("integers:   %s\n", wide ? "unsigned long" : "32 bits");
}

// The resistor is asked on a CAN channel; a library without the IOCTL says why.
void showTermination(PassThruDevice& device, const CommonOptions& common) {
    CanChannel channel(device, CAN, CanChannel::canFlags(common.extended), common.bitrate);
    uint32_t state = 0;
    const uint32_t status =
        device.library().ioctl(channel.id(), GET_TERM_RESISTOR, nullptr, &state);
    if (status == STATUS_NOERROR) {
        std::printf("termination resistor: %s\n", state != 0 ? "on" : "off");
    } else {
        std::printf("termination resistor: unknown (%s)\n",
                    PassThruError::statusName(status).c_str());
    }
}

// Every protocol a channel connects for, tried one at a time.
std::string supportedProtocols(PassThruDevice& device, const CommonOptions& common) {
    std::string names;
    for (const ProtocolProbe& probe : kProtocols) {
        uint32_t channel = 0;
        const uint32_t bitrate = probe.bitrate != 0 ? probe.bitrate : common.bitrate;
        if (device.library().connect(device.id(), probe.id, 0, bitrate, &channel) ==
            STATUS_NOERROR) {
            device.library().disconnect(channel);
            names += names.empty() ? probe.name : std::string(" ") + probe.name;
        }
    }
    return names.empty() ? "none" : names;
}
}  // namespace

int runInfo(PassThruLibrary& library, const CommonOptions& common) {
    PassThruDevice device(library);
    showVersions(device);
    showTermination(device, common);
    std::printf("protocols:  %s\n", supportedProtocols(device, common).c_str());
    return 0;
}

}  // namespace ptcan

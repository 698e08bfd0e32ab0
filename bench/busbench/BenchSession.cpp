#include "bench/busbench/BenchSession.h"

#include <cstdio>
#include <cstdlib>

#include "api/Library.h"
#include "api/PassThruFunctions.h"
#include "base/J2534.h"
#include "platform/DynamicLibrary.h"
#include "sim/SimWorld.h"

namespace busbench {

namespace {

void setOrUnset(const char* name, const std::string& value) {
    if (value.empty()) {
        vtx::platform::unsetEnvironment(name);
    } else {
        vtx::platform::setEnvironment(name, value.c_str());
    }
}

void reportFailure(const char* call, J2534_UINT status) {
    char text[80] = {};
    PassThruGetLastError(text);
    std::fprintf(stderr, "%s: %s failed with status %lu: %s\n", programName(), call,
                 static_cast<unsigned long>(status), text);
}

}  // namespace

BenchSession::BenchSession(const SessionSettings& settings) {
    configure(settings);
    if (!vtx::Library::onProcessAttach()) {
        std::fprintf(stderr, "%s: the library did not attach\n", programName());
        return;
    }
    ok_ = openChannel(settings.bitRate) && passEverything(channel_);
}

BenchSession::~BenchSession() {
    closeDevice();
    vtx::Library::onProcessDetach();
}

void BenchSession::closeDevice() {
    if (opened_) {
        PassThruClose(device_);
        opened_ = false;
    }
}

vtx::sim::SimControl& BenchSession::control() {
    return vtx::sim::SimWorld::process().control();
}

// The library reads the log switch and trace destination when it attaches, and the simulated
// world reads its settings when it is built: both happen after this.
void BenchSession::configure(const SessionSettings& settings) {
    const char* device = std::getenv("VTXPTS_DEVICE");
    if (device == nullptr || *device == '\0') {
        vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    }
    vtx::platform::setEnvironment("VTXPTS_SIM_BUSRATE", std::to_string(settings.bitRate).c_str());
    setOrUnset("VTXPTS_SIM_TRAFFIC", settings.traffic);
    setOrUnset("VTXPTS_TRACE", settings.traceFile);
    setOrUnset("VTXPTS_ENABLELOG", settings.traceFile.empty() ? "" : "0xFF");
}

bool BenchSession::openChannel(uint32_t bitRate) {
    J2534_UINT status = PassThruOpen(nullptr, &device_);
    if (status != STATUS_NOERROR) {
        reportFailure("PassThruOpen", status);
        return false;
    }
    opened_ = true;
    status = PassThruConnect(device_, CAN, 0, bitRate, &channel_);
    if (status != STATUS_NOERROR) {
        reportFailure("PassThruConnect", status);
        return false;
    }
    return true;
}

// Mask and pattern 0 on the four identifier bytes: every 11-bit frame matches.
bool BenchSession::passEverything(J2534_UINT channel) {
    PASSTHRU_MSG mask{};
    mask.ProtocolID = CAN;
    mask.DataSize = 4;
    PASSTHRU_MSG pattern = mask;
    J2534_UINT filter = 0;
    const J2534_UINT status =
        PassThruStartMsgFilter(channel, PASS_FILTER, &mask, &pattern, nullptr, &filter);
    if (status != STATUS_NOERROR) {
        reportFailure("PassThruStartMsgFilter", status);
        return false;
    }
    return true;
}

}  // namespace busbench

// A process that ends with the library loaded, the device open and connected, a periodic
// message running and frames arriving: it must end, promptly and with its own exit code. CTest
// runs it with a timeout.
#include <cstdio>
#include <cstdlib>

#include "platform/DynamicLibrary.h"
#include "tests/support/CanMessage.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace {

using vtx::test::canMessage;

int fail(const char* what) {
    std::fprintf(stderr, "%s failed\n", what);
    return 1;
}

}  // namespace

int main() {
    vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    // Never unloaded: the process ends with it.
    auto* library = new ptcan::PassThruLibrary();
    if (!library->load(VTX_LIBRARY_PATH)) {
        std::fprintf(stderr, "%s\n", library->error().c_str());
        return 1;
    }
    uint32_t deviceId = 0;
    uint32_t channelId = 0;
    if (library->open(nullptr, &deviceId) != STATUS_NOERROR) {
        return fail("PassThruOpen");
    }
    if (library->connect(deviceId, CAN, 0, 500000, &channelId) != STATUS_NOERROR) {
        return fail("PassThruConnect");
    }
    PASSTHRU_MSG mask = canMessage(0, {});
    PASSTHRU_MSG pattern = canMessage(0, {});
    uint32_t filterId = 0;
    if (library->startMsgFilter(channelId, PASS_FILTER, &mask, &pattern, nullptr, &filterId) !=
        STATUS_NOERROR) {
        return fail("PassThruStartMsgFilter");
    }
    PASSTHRU_MSG request = canMessage(0x7DF, {0x02, 0x01, 0x0C, 0x55, 0x55, 0x55, 0x55, 0x55});
    uint32_t periodicId = 0;
    if (library->startPeriodicMsg(channelId, &request, &periodicId, 5) != STATUS_NOERROR) {
        return fail("PassThruStartPeriodicMsg");
    }
    PASSTHRU_MSG answer{};
    uint32_t count = 1;
    if (library->readMsgs(channelId, &answer, &count, 500) != STATUS_NOERROR || count != 1) {
        return fail("PassThruReadMsgs");
    }
    std::exit(0);
}

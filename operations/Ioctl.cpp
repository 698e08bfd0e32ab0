#include "api/PassThru.h"
#include "operations/OperationTrace.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* /*pInput*/,
                                 void* /*pOutput*/) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruIoctl()**** -S-", u32("chID", ChannelID),
              u32("ioctlID", IoctlID), u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruIoctl()**** -E-", u32("chID", ChannelID),
              u32("ioctlID", IoctlID), u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx

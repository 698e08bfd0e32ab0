// ptcan LIBRARY isotp -s TXID -d RXID HEX...: one request over an ISO 15765 channel and its
// answer, as hex; "response pending" answers are printed as they come, and the wait goes on.
#include <cstdio>
#include <string>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/FrameText.h"
#include "tools/ptcan/IsoTpRequester.h"
#include "tools/ptcan/PassThruError.h"

namespace ptcan {

int runIsoTp(PassThruLibrary& library, const CommonOptions& common, const IsoTpOptions& options) {
    PassThruDevice device(library);
    CanChannel channel(device, ISO15765, common.extended ? CAN_29BIT_ID : 0, common.bitrate);
    IsoTpRequester requester(channel, options.rxId, options.txId, common.extended, options.pad);
    const auto answers = requester.exchange(options.txId, options.request, options.timeoutMs);
    for (const std::vector<uint8_t>& answer : answers) {
        std::printf("%s\n", FrameText::formatHex(answer).c_str());
    }
    if (answers.empty() || IsoTpRequester::isResponsePending(answers.back())) {
        throw ToolError("no answer within " + std::to_string(options.timeoutMs) + " ms");
    }
    return 0;
}

}  // namespace ptcan

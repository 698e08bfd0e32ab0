// A client built as an application's developer builds one, against the installed package only:
// the header <vtxpts/J2534.h> and `pkg-config --cflags --libs vtxpts` (32-bit J2534 integers) or
// `vtxpts-ulong` (the standard header's unsigned long, which pkg-config's VTXPTS_ULONG selects).
// It links the library by its SONAME, opens the device, reads its versions, asks the simulated
// ECU for engine speed over CAN, reads the bit rate back, and prints what it got.
#include <cstdio>
#include <cstring>

#include <vtxpts/J2534.h>

namespace {

PASSTHRU_MSG canMessage(J2534_UINT id, const unsigned char* data, J2534_UINT size) {
    PASSTHRU_MSG msg;
    std::memset(&msg, 0, sizeof msg);
    msg.ProtocolID = CAN;
    for (int i = 0; i < 4; ++i) {
        msg.Data[i] = static_cast<unsigned char>(id >> (24 - 8 * i));
    }
    std::memcpy(msg.Data + 4, data, size);
    msg.DataSize = 4 + size;
    return msg;
}

// Engine speed from the ECU: the request to 0x7DF, the answer from 0x7E8 (a pass filter).
bool askEngineSpeed(J2534_UINT channel) {
    PASSTHRU_MSG mask = canMessage(0xFFFFFFFF, nullptr, 0);
    PASSTHRU_MSG pattern = canMessage(0x7E8, nullptr, 0);
    J2534_UINT filter = 0;
    const unsigned char request[] = {0x02, 0x01, 0x0C, 0, 0, 0, 0, 0};
    PASSTHRU_MSG out = canMessage(0x7DF, request, sizeof request);
    J2534_UINT count = 1;
    if (PassThruStartMsgFilter(channel, PASS_FILTER, &mask, &pattern, nullptr, &filter) != 0 ||
        PassThruWriteMsgs(channel, &out, &count, 1000) != 0) {
        return false;
    }
    PASSTHRU_MSG in[1];
    count = 1;
    if (PassThruReadMsgs(channel, in, &count, 2000) != 0 || count != 1) {
        return false;
    }
    std::printf("answer from %02X%02X%02X%02X:", in[0].Data[0], in[0].Data[1], in[0].Data[2],
                in[0].Data[3]);
    for (J2534_UINT i = 4; i < in[0].DataSize && i < 7; ++i) {
        std::printf(" %02X", in[0].Data[i]);
    }
    std::printf("\n");
    return true;
}

// The bit rate through GET_CONFIG, into a value whose every bit was set before.
bool printBitRate(J2534_UINT channel) {
    SCONFIG rate;
    std::memset(&rate, 0xFF, sizeof rate);
    rate.Parameter = DATA_RATE;
    SCONFIG_LIST list = {1, &rate};
    if (PassThruIoctl(channel, GET_CONFIG, &list, nullptr) != 0) {
        return false;
    }
    std::printf("DATA_RATE %lu\n", static_cast<unsigned long>(rate.Value));
    return true;
}

}  // namespace

int main() {
    std::printf("J2534 integers of %u bytes\n", static_cast<unsigned>(sizeof(J2534_UINT)));
    J2534_UINT device = 0;
    if (const J2534_UINT status = PassThruOpen(nullptr, &device); status != STATUS_NOERROR) {
        std::printf("PassThruOpen: %lu\n", static_cast<unsigned long>(status));
        return 1;
    }
    char firmware[80] = {};
    char library[80] = {};
    char api[80] = {};
    const J2534_UINT status = PassThruReadVersion(device, firmware, library, api);
    std::printf("PassThruReadVersion: %lu firmware=%s library=%s api=%s\n",
                static_cast<unsigned long>(status), firmware, library, api);
    J2534_UINT channel = 0;
    const bool exchanged = PassThruConnect(device, CAN, 0, 500000, &channel) == STATUS_NOERROR &&
                           askEngineSpeed(channel) && printBitRate(channel) &&
                           PassThruDisconnect(channel) == STATUS_NOERROR;
    return status == STATUS_NOERROR && exchanged && PassThruClose(device) == STATUS_NOERROR ? 0 : 1;
}

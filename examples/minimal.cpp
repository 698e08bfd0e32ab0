// One UDS request over ISO15765, C style; README.md shows it, the test example_minimal runs it.
// g++ minimal.cpp $(pkg-config --cflags --libs vtxpts) -o minimal   (the header is C++)
#include <stdio.h>
#include <string.h>

#include <vtxpts/J2534.h>

// An ISO15765 message: the 4-byte CAN identifier, then the payload.
static void isoMsg(PASSTHRU_MSG* msg, uint32_t id, const unsigned char* data, uint32_t size) {
    memset(msg, 0, sizeof *msg);
    msg->ProtocolID = ISO15765;
    msg->TxFlags = ISO15765_FRAME_PAD;
    for (int i = 0; i < 4; ++i) {
        msg->Data[i] = (unsigned char)(id >> (24 - 8 * i));
    }
    if (size > 0) {
        memcpy(msg->Data + 4, data, size);
    }
    msg->DataSize = 4 + size;
}

int main(void) {
    static PASSTHRU_MSG mask, pattern, flowControl, request, answer;
    const unsigned char readVin[] = {0x22, 0xF1, 0x90};  // UDS ReadDataByIdentifier F190
    uint32_t device = 0, channel = 0, filter = 0, count = 1, got = 0;
    uint32_t status = PassThruOpen(NULL, &device);
    const int opened = status == STATUS_NOERROR;
    if (opened) {
        status = PassThruConnect(device, ISO15765, 0, 500000, &channel);
    }
    const int connected = opened && status == STATUS_NOERROR;
    if (connected) {
        // Frames from 0x7E8 are the ECU's; flow control and requests go to 0x7E0.
        isoMsg(&mask, 0xFFFFFFFF, NULL, 0);
        isoMsg(&pattern, 0x7E8, NULL, 0);
        isoMsg(&flowControl, 0x7E0, NULL, 0);
        status = PassThruStartMsgFilter(channel, FLOW_CONTROL_FILTER, &mask, &pattern,
                                        &flowControl, &filter);
    }
    if (status == STATUS_NOERROR) {
        isoMsg(&request, 0x7E0, readVin, sizeof readVin);
        status = PassThruWriteMsgs(channel, &request, &count, 1000);
    }
    // Skip the request's transmit indication (TX_MSG_TYPE | TX_DONE) and, before a long
    // answer, its first-frame indication (ISO15765_FIRST_FRAME).
    for (int reads = 0; status == STATUS_NOERROR && !got && reads < 10; ++reads) {
        count = 1;
        status = PassThruReadMsgs(channel, &answer, &count, 1000);
        got = status == STATUS_NOERROR && count == 1 &&
              (answer.RxStatus & (TX_MSG_TYPE | ISO15765_FIRST_FRAME)) == 0;
    }
    if (got) {
        printf("answer from %02X%02X%02X%02X:", answer.Data[0], answer.Data[1], answer.Data[2],
               answer.Data[3]);
        for (uint32_t i = 4; i < answer.DataSize; ++i) {
            printf(" %02X", answer.Data[i]);
        }
        printf("\n");
    } else {
        char text[80] = "no answer";
        if (status != STATUS_NOERROR) {
            PassThruGetLastError(text);
        }
        fprintf(stderr, "status %u: %s\n", (unsigned)status, text);
    }
    if (connected) {
        PassThruDisconnect(channel);
    }
    if (opened) {
        PassThruClose(device);
    }
    return got ? 0 : 1;
}

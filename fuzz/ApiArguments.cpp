#include "fuzz/ApiArguments.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vtx::fuzz {

namespace {
// The values each argument usually takes, so that the fuzzer reaches past the first checks;
// the last choice of each is any 32 bits.
constexpr uint32_t kProtocols[] = {CAN, CAN, ISO15765, 0};
constexpr uint32_t kConnectFlags[] = {0, CAN_29BIT_ID, CAN_ID_BOTH, CAN_29BIT_ID | CAN_ID_BOTH};
constexpr uint32_t kBaudRates[] = {500000, 500000, 250000, 125000, 1000000, 100000, 0};
constexpr uint32_t kFilterTypes[] = {PASS_FILTER, BLOCK_FILTER, FLOW_CONTROL_FILTER, 0};
constexpr uint32_t kIoctls[] = {GET_CONFIG,
                                SET_CONFIG,
                                READ_VBATT,
                                FIVE_BAUD_INIT,
                                FAST_INIT,
                                CLEAR_TX_BUFFER,
                                CLEAR_RX_BUFFER,
                                CLEAR_PERIODIC_MSGS,
                                CLEAR_MSG_FILTERS,
                                CLEAR_FUNCT_MSG_LOOKUP_TABLE,
                                ADD_TO_FUNCT_MSG_LOOKUP_TABLE,
                                DELETE_FROM_FUNCT_MSG_LOOKUP_TABLE,
                                READ_PROG_VOLTAGE,
                                SET_TERM_RESISTOR,
                                GET_TERM_RESISTOR};
constexpr uint32_t kParameters[] = {DATA_RATE, LOOPBACK, BIT_SAMPLE_POINT, SYNC_JUMP_WIDTH};
constexpr uint32_t kTxFlags[] = {0, CAN_29BIT_ID, ISO15765_FRAME_PAD};
constexpr uint8_t kMessageBytes = 12;  // data bytes taken from the input per message
constexpr uint32_t kMaxTimeoutMs = 4;
constexpr uint32_t kMaxIntervalChoice = 70000;  // past the largest interval allowed

template <std::size_t N>
uint32_t pick(FuzzInput& input, const uint32_t (&values)[N]) {
    const uint32_t index = input.choice(N + 1);
    return index < N ? values[index] : input.u32();
}
}  // namespace

ApiArguments::ApiArguments(FuzzInput& input)
    : input_(input), messages_(kMaxMessages), slots_(kSlots), params_(kMaxParams) {}

bool ApiArguments::nullPointer() {
    // One in eight: often enough to reach every NULL check, rarely enough to get past them.
    return input_.choice(8) == 0;
}

uint32_t ApiArguments::id(const std::vector<uint32_t>& known) {
    const uint8_t how = input_.byte();
    if (how < 0xC0 && !known.empty()) {
        return known[how % known.size()];
    }
    if (how < 0xF0) {
        return how & 0x0F;
    }
    return input_.u32();
}

uint32_t ApiArguments::protocolId() {
    return pick(input_, kProtocols);
}

uint32_t ApiArguments::connectFlags() {
    return pick(input_, kConnectFlags);
}

uint32_t ApiArguments::baudRate() {
    return pick(input_, kBaudRates);
}

uint32_t ApiArguments::filterType() {
    return pick(input_, kFilterTypes);
}

uint32_t ApiArguments::ioctlId() {
    return pick(input_, kIoctls);
}

uint32_t ApiArguments::shortTimeout() {
    return input_.byte() % kMaxTimeoutMs;
}

uint32_t ApiArguments::periodicInterval() {
    return input_.flag() ? input_.u16() % kMaxIntervalChoice : input_.u32();
}

uint32_t ApiArguments::dataSize() {
    switch (input_.choice(4)) {
        case 0:
        case 1:
            return 4 + input_.byte() % 9;  // a CAN frame's 4 to 12
        case 2:
            return input_.u16();
        default:
            return input_.u32();
    }
}

void ApiArguments::fillMessage(PASSTHRU_MSG& msg) {
    msg = PASSTHRU_MSG{};
    msg.ProtocolID = pick(input_, kProtocols);
    msg.TxFlags = pick(input_, kTxFlags);
    msg.DataSize = dataSize();
    msg.RxStatus = input_.flag() ? input_.u32() : 0;
    msg.ExtraDataIndex = input_.flag() ? input_.u32() : 0;
    const std::span<const uint8_t> data = input_.take(kMessageBytes);
    std::copy(data.begin(), data.end(), msg.Data);
}

PASSTHRU_MSG* ApiArguments::messages(uint32_t& count) {
    if (nullPointer()) {
        count = 0;
        return nullptr;
    }
    count = input_.choice(kMaxMessages + 1);
    for (uint32_t i = 0; i < count; ++i) {
        fillMessage(messages_[i]);
    }
    return messages_.data();
}

PASSTHRU_MSG* ApiArguments::readBuffer() {
    if (nullPointer()) {
        return nullptr;
    }
    std::fill(messages_.begin(), messages_.end(), PASSTHRU_MSG{});
    return messages_.data();
}

PASSTHRU_MSG* ApiArguments::message(int slot) {
    if (nullPointer()) {
        return nullptr;
    }
    PASSTHRU_MSG& msg = slots_[static_cast<std::size_t>(slot)];
    fillMessage(msg);
    return &msg;
}

uint32_t ApiArguments::countFor(const PASSTHRU_MSG* buffer, uint32_t capacity) {
    if (buffer == nullptr) {
        return input_.flag() ? input_.u32() : input_.byte();
    }
    return capacity == 0 ? 0 : input_.byte() % (capacity + 1);
}

SCONFIG_LIST* ApiArguments::configList() {
    if (nullPointer()) {
        return nullptr;
    }
    const uint32_t count = input_.choice(kMaxParams + 1);
    for (uint32_t i = 0; i < count; ++i) {
        params_[i].Parameter = pick(input_, kParameters);
        params_[i].Value = input_.flag() ? input_.u32() : input_.u16();
    }
    list_.NumOfParams = count;
    list_.ConfigPtr = nullPointer() ? nullptr : params_.data();
    return &list_;
}

}  // namespace vtx::fuzz

#include "fuzz/ApiSequence.h"

#include <cstring>

#include "fuzz/FuzzCheck.h"
#include "api/PassThruFunctions.h"

namespace vtx::fuzz {

namespace {
constexpr int kMaxSteps = 64;
// Each call on pin 15 waits for the pin to settle: a few keep a run short.
constexpr int kMaxVoltageCalls = 2;
constexpr uint32_t kPins[] = {J1962_PIN_15, 0, 16};
constexpr uint32_t kVoltages[] = {SHORT_TO_GROUND, VOLTAGE_OFF, 5000, 0};
constexpr uint32_t kDeviceId = 1;
constexpr std::size_t kTextSize = 80;

// Every text the library writes is terminated within the 80 characters the caller gave it.
void checkText(const char* text) {
    FUZZ_CHECK(text == nullptr || std::memchr(text, '\0', kTextSize) != nullptr);
}
}  // namespace

ApiSequence::ApiSequence(FuzzInput& input) : input_(input), args_(input) {}

void ApiSequence::run() {
    for (int i = 0; i < kMaxSteps && !input_.empty(); ++i) {
        step();
    }
    // Whatever the sequence left open is closed with it.
    PassThruClose(kDeviceId);
}

void ApiSequence::step() {
    switch (input_.choice(14)) {
        case 0:
            open();
            break;
        case 1:
            close();
            break;
        case 2:
            connect();
            break;
        case 3:
            disconnect();
            break;
        case 4:
            readMsgs();
            break;
        case 5:
            writeMsgs();
            break;
        case 6:
            startPeriodic();
            break;
        case 7:
            stopPeriodic();
            break;
        case 8:
            startFilter();
            break;
        case 9:
            stopFilter();
            break;
        case 10:
            setProgrammingVoltage();
            break;
        case 11:
            readVersion();
            break;
        case 12:
            getLastError();
            break;
        default:
            ioctl();
            break;
    }
}

uint32_t* ApiSequence::resultSlot() {
    result_ = 0;
    return args_.nullPointer() ? nullptr : &result_;
}

void ApiSequence::keepResult(uint32_t status, std::vector<uint32_t>& known) {
    if (status == STATUS_NOERROR && result_ != 0) {
        known.push_back(result_);
    }
}

char* ApiSequence::textBuffer(int which) {
    std::memset(texts_[which], '#', kTextSize);
    return args_.nullPointer() ? nullptr : texts_[which];
}

void ApiSequence::open() {
    char name[16] = {};
    const std::span<const uint8_t> bytes = input_.take(input_.byte() % sizeof name);
    std::copy(bytes.begin(), bytes.end(), name);
    void* pName = input_.flag() ? name : nullptr;
    uint32_t* slot = resultSlot();
    keepResult(PassThruOpen(pName, slot), devices_);
}

void ApiSequence::close() {
    PassThruClose(args_.id(devices_));
}

void ApiSequence::connect() {
    const uint32_t device = args_.id(devices_);
    const uint32_t protocol = args_.protocolId();
    const uint32_t flags = args_.connectFlags();
    const uint32_t baudRate = args_.baudRate();
    uint32_t* slot = resultSlot();
    keepResult(PassThruConnect(device, protocol, flags, baudRate, slot), channels_);
}

void ApiSequence::disconnect() {
    PassThruDisconnect(args_.id(channels_));
}

void ApiSequence::readMsgs() {
    const uint32_t channel = args_.id(channels_);
    PASSTHRU_MSG* buffer = args_.readBuffer();
    uint32_t count = args_.countFor(buffer, ApiArguments::kMaxMessages);
    const uint32_t wanted = count;
    uint32_t* pCount = args_.nullPointer() ? nullptr : &count;
    const uint32_t status = PassThruReadMsgs(channel, buffer, pCount, args_.shortTimeout());
    // A read never reports more messages than it was asked for.
    FUZZ_CHECK(count <= wanted);
    if ((status == STATUS_NOERROR || status == ERR_TIMEOUT) && buffer != nullptr &&
        pCount != nullptr) {
        for (uint32_t i = 0; i < count; ++i) {
            FUZZ_CHECK(buffer[i].DataSize <= sizeof buffer[i].Data);
        }
    }
}

void ApiSequence::writeMsgs() {
    const uint32_t channel = args_.id(channels_);
    uint32_t filled = 0;
    PASSTHRU_MSG* buffer = args_.messages(filled);
    uint32_t count = args_.countFor(buffer, filled);
    const uint32_t offered = count;
    uint32_t* pCount = args_.nullPointer() ? nullptr : &count;
    PassThruWriteMsgs(channel, buffer, pCount, args_.shortTimeout());
    // A write never reports more messages sent than it was given.
    FUZZ_CHECK(count <= offered);
}

void ApiSequence::startPeriodic() {
    const uint32_t channel = args_.id(channels_);
    PASSTHRU_MSG* msg = args_.message(0);
    const uint32_t interval = args_.periodicInterval();
    uint32_t* slot = resultSlot();
    keepResult(PassThruStartPeriodicMsg(channel, msg, slot, interval), periodics_);
}

void ApiSequence::stopPeriodic() {
    const uint32_t channel = args_.id(channels_);
    PassThruStopPeriodicMsg(channel, args_.id(periodics_));
}

void ApiSequence::startFilter() {
    const uint32_t channel = args_.id(channels_);
    const uint32_t type = args_.filterType();
    PASSTHRU_MSG* mask = args_.message(0);
    PASSTHRU_MSG* pattern = args_.message(1);
    PASSTHRU_MSG* flowControl = args_.message(2);
    uint32_t* slot = resultSlot();
    keepResult(PassThruStartMsgFilter(channel, type, mask, pattern, flowControl, slot), filters_);
}

void ApiSequence::stopFilter() {
    const uint32_t channel = args_.id(channels_);
    PassThruStopMsgFilter(channel, args_.id(filters_));
}

void ApiSequence::setProgrammingVoltage() {
    const uint32_t device = args_.id(devices_);
    const uint32_t pin = input_.flag() ? kPins[input_.choice(std::size(kPins))] : input_.u32();
    const uint32_t voltage =
        input_.flag() ? kVoltages[input_.choice(std::size(kVoltages))] : input_.u32();
    if (++voltageCalls_ <= kMaxVoltageCalls) {
        PassThruSetProgrammingVoltage(device, pin, voltage);
    }
}

void ApiSequence::readVersion() {
    const uint32_t device = args_.id(devices_);
    char* firmware = textBuffer(0);
    char* dll = textBuffer(1);
    char* api = textBuffer(2);
    if (PassThruReadVersion(device, firmware, dll, api) == STATUS_NOERROR) {
        checkText(firmware);
        checkText(dll);
        checkText(api);
    }
}

void ApiSequence::getLastError() {
    char* text = textBuffer(0);
    if (PassThruGetLastError(text) == STATUS_NOERROR) {
        checkText(text);
    }
}

// A configuration list, a single value, or nothing.
void* ApiSequence::ioctlInput() {
    if (input_.flag()) {
        return args_.configList();
    }
    value_ = input_.u32();
    return args_.nullPointer() ? nullptr : &value_;
}

void ApiSequence::ioctl() {
    const uint32_t channel = args_.id(channels_);
    const uint32_t ioctlId = args_.ioctlId();
    void* in = ioctlInput();
    std::memset(output_, 0, sizeof output_);
    void* out = args_.nullPointer() ? nullptr : output_;
    PassThruIoctl(channel, ioctlId, in, out);
}

}  // namespace vtx::fuzz

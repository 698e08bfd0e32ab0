#include "device/UsbProtocolDevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "base/ElapsedTimer.h"
#include "device/DevicePackets.h"

// The events of the protocol operations, written only by a driver family that traces them.
#define PROTOCOL_TRACE(message, ...)                                                             \
    do {                                                                                         \
        if (identity_.protocolEvents) {                                                          \
            VTX_TRACE(identity_.group, identity_.eventName, message __VA_OPT__(, ) __VA_ARGS__); \
        }                                                                                        \
    } while (false)

namespace vtx {

using namespace trace;

namespace {
constexpr int kTermResistorQueryTimeoutMs = 1000;
constexpr int kOutputBusProbeTimeoutMs = 40;
constexpr int kClearReadBackBytes = 1024;
constexpr auto kPin15Settle = std::chrono::milliseconds(30);
constexpr uint32_t kAuxValueMax = 65535;
constexpr uint32_t kTermResistorOff = 2;
constexpr uint8_t kCloseForm = 0x02;

bool isAdmittedBitRate(uint32_t kbps) {
    return kbps == 100 || kbps == 125 || kbps == 250 || kbps == 500 || kbps == 1000;
}

// The product code up to its first zero, at most its five characters.
std::string_view productCodeText(const DeviceInfo& info) {
    const char* begin = info.codProdotto;
    const char* end = std::find(begin, begin + sizeof info.codProdotto, '\0');
    return {begin, static_cast<std::size_t>(end - begin)};
}

bool validTransferLength(int length) {
    return length >= 0 && length <= packet::kMaxTransferBytes && length % packet::kSize == 0;
}
}  // namespace

UsbProtocolDevice::UsbProtocolDevice(const TraceIdentity& identity) : identity_(identity) {}

// ---------------------------------------------------------------------------------------------
// Connection

void UsbProtocolDevice::resetDeviceInfo() {
    deviceInfo_ = DeviceInfo{};
    deviceInfo_.outBus = kNotYetRead;
}

void UsbProtocolDevice::resetRecords() {
    commParams_ = CommParameters{};
    commParams_.Bus = 0;
    commParams_.SamplePoint = 80;
    commParams_.Sjw = 1;
    resetDeviceInfo();
}

void UsbProtocolDevice::settleAfterOpen() {
    clearBuffers(false);
    disableCANController(true);
}

bool UsbProtocolDevice::identifyOpenedDevice(uint32_t& termResistorStatus, int& outBusSupport) {
    if (!letturaHardCodedInfo()) {
        return false;
    }
    if (getTermResistor(termResistorStatus) && termResistorStatus != 0 &&
        termResistorStatus != commParams_.termResistor) {
        setTermResistor(commParams_.termResistor);
    }
    outBusSupport = readOutputBusSupport();
    if (outBusSupport == -1) {
        return false;
    }
    deviceInfo_.outBusSupported = static_cast<uint8_t>(outBusSupport);
    deviceInfo_.outBus = outBusSupport == 1 ? 1 : 0;
    return true;
}

bool UsbProtocolDevice::checkConnection() {
    bool connected = isOpen() && isDevicePresent();
    if (!connected) {
        connected = init();
    }
    if (!connected) {
        deviceInfo_ = DeviceInfo{};
        if (isOpen() && !isDevicePresent()) {
            closeDevice();
        }
    }
    return connected;
}

void UsbProtocolDevice::closeDevice() {
    if (isOpen()) {
        setTermResistor(kTermResistorOff);
        setPin15VoltageOff();
        disableCANController(true);
        setAuxValue(0);
        sendCommand(packet::kClassClear, kCloseForm);
        clearBuffers(false);
        transportClose();
    }
    deferred_.clear();
    resetDeviceInfo();
}

int UsbProtocolDevice::setTimeout(int ms) {
    const int previous = timeout_;
    if (ms != -1) {
        timeout_ = static_cast<uint16_t>(ms);
    }
    return previous;
}

int UsbProtocolDevice::writeUnlocked(const uint8_t* bytes, int length) {
    if (!isOpen() || !validTransferLength(length) || (length > 0 && bytes == nullptr)) {
        return 0;
    }
    return transportWrite(bytes, length);
}

int UsbProtocolDevice::readUnlocked(uint8_t* bytes, int length) {
    if (!isOpen() || !validTransferLength(length) || (length > 0 && bytes == nullptr)) {
        return 0;
    }
    return transportRead(bytes, length);
}

int UsbProtocolDevice::writeBuffer(const uint8_t* bytes, int length) {
    const std::lock_guard lock(transferMutex_);
    return writeUnlocked(bytes, length);
}

int UsbProtocolDevice::readBuffer(uint8_t* bytes, int length) {
    const std::lock_guard lock(transferMutex_);
    return readUnlocked(bytes, length);
}

int UsbProtocolDevice::commandTransfer(uint8_t sub, const uint8_t* payload, int payloadLength,
                                       uint8_t* reply, int replyLength, int timeout, bool trailer) {
    if (!isOpen() || payloadLength < 0 ||
        (payloadLength != 0 && (payload == nullptr || payloadLength % packet::kSize != 0)) ||
        !validTransferLength(replyLength)) {
        return 0;
    }
    std::vector<uint8_t> buffer(static_cast<std::size_t>(payloadLength) + packet::kSize, 0);
    uint8_t* header = trailer ? buffer.data() + payloadLength : buffer.data();
    uint8_t* body = trailer ? buffer.data() : buffer.data() + packet::kSize;
    if (payloadLength != 0) {
        std::memcpy(body, payload, static_cast<std::size_t>(payloadLength));
    }
    const std::lock_guard lock(transferMutex_);
    packet::buildTransferHeader(header, sub, headerTimeout(timeout),
                                static_cast<uint16_t>(replyLength / packet::kSize), sequence_);
    lastHeaderSequence_ = sequence_++;
    const int total = static_cast<int>(buffer.size());
    if (writeUnlocked(buffer.data(), total) < total) {
        return 0;
    }
    return readUnlocked(reply, replyLength);
}

bool UsbProtocolDevice::letturaHardCodedInfo() {
    PROTOCOL_TRACE("letturaHardCodedInfo() -S-");
    if (!isOpen()) {
        return false;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassIdentRequest);
    uint8_t reply[4 * packet::kSize] = {};
    if (commandTransfer(0, request, packet::kSize, reply, sizeof reply, timeout_, false) !=
        static_cast<int>(sizeof reply)) {
        return false;
    }
    uint8_t block[32];
    if (!packet::assembleIdentification(reply, block)) {
        return false;
    }
    // A block with a wrong checksum leaves the identification as it was.
    if (packet::identificationChecksumOk(block)) {
        std::memcpy(deviceInfo_.codProdotto, block + packet::kProductCodeOffset,
                    sizeof deviceInfo_.codProdotto);
        deviceInfo_.codCliente = packet::identificationCustomer(block);
        deviceInfo_.numSeriale = packet::identificationSerial(block);
    }
    getFirmwareVersion(deviceInfo_.versioneFW[3], deviceInfo_.versioneFW[2],
                       deviceInfo_.versioneFW[1], deviceInfo_.versioneFW[0]);
    PROTOCOL_TRACE("letturaHardCodedInfo() -E-");
    return true;
}

uint32_t UsbProtocolDevice::getFirmwareVersion(uint8_t& a, uint8_t& b, uint8_t& c, uint8_t& d) {
    a = b = c = d = 0;
    if (!isOpen()) {
        return 0;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassFirmwareRequest);
    uint8_t reply[packet::kSize] = {};
    if (commandTransfer(0, request, packet::kSize, reply, packet::kSize, timeout_, false) !=
            packet::kSize ||
        reply[0] != packet::kClassFirmwareReply) {
        return 0;
    }
    a = reply[1];
    b = reply[2];
    c = reply[3];
    d = reply[4];
    return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 |
           static_cast<uint32_t>(c) << 16 | static_cast<uint32_t>(d) << 24;
}

bool UsbProtocolDevice::getDatiIdentificazione(uint32_t& versioneFW, uint32_t& numSeriale,
                                               uint32_t& codCliente, char* codProdotto,
                                               uint32_t* kind, bool reread) {
    const ElapsedTimer timer;
    PROTOCOL_TRACE("getDatiIdentificazione:init() -S-");
    const bool ret = reread ? letturaHardCodedInfo() : true;
    versioneFW = deviceInfo_.firmwareWord();
    numSeriale = deviceInfo_.numSeriale;
    codCliente = deviceInfo_.codCliente;
    if (kind != nullptr) {
        *kind = 2;
    }
    if (codProdotto != nullptr) {
        std::memcpy(codProdotto, deviceInfo_.codProdotto, sizeof deviceInfo_.codProdotto);
    }
    PROTOCOL_TRACE("getDatiIdentificazione() -E-", hex("versioneFW", versioneFW),
                   u32("numSeriale", numSeriale), u32("codCliente", codCliente),
                   ansi("codProdotto", productCodeText(deviceInfo_)), u32("ret", ret),
                   u32("t", timer.elapsed()));
    return ret;
}

// ---------------------------------------------------------------------------------------------
// CAN frames

int UsbProtocolDevice::writeFrameChunk(const CanFrame* frames, int n, bool useIoctl) {
    deferred_.clear();
    if (useIoctl) {
        // One all-zero packet, then the frames: sent ahead of the next read's header.
        deferred_.assign(static_cast<std::size_t>(n + 1) * packet::kSize, 0);
        for (int i = 0; i < n; ++i) {
            packFramePacket(frames[i], deferred_.data() + (i + 1) * packet::kSize);
        }
        return n;
    }
    std::vector<uint8_t> packets(static_cast<std::size_t>(n) * packet::kSize);
    for (int i = 0; i < n; ++i) {
        packFramePacket(frames[i], packets.data() + i * packet::kSize);
    }
    return writeBuffer(packets.data(), static_cast<int>(packets.size())) / packet::kSize;
}

int UsbProtocolDevice::scritturaPacchettiCan(CanFrame* frames, int count, bool useIoctl) {
    if (!isOpen() || frames == nullptr || count <= 0) {
        return 0;
    }
    const ElapsedTimer timer;
    // Deferred frames travel in one transfer together with the read's header and the zero
    // packet, and a new chunk would discard the previous one: in that mode only what fits one
    // transfer is taken, and the rest is reported as not accepted.
    const int chunkLimit = useIoctl ? packet::kMaxTransferPackets - 2 : packet::kMaxTransferPackets;
    int accepted = 0;
    while (accepted < count) {
        const int n = std::min(count - accepted, chunkLimit);
        const int chunkAccepted = writeFrameChunk(frames + accepted, n, useIoctl);
        accepted += chunkAccepted;
        if (chunkAccepted == 0 || useIoctl) {
            break;
        }
    }
    VTX_TRACE_NO_COUNTER(
        identity_.group, identity_.eventName, "scritturaPacchettiCan() -E-",
        u32("t", timer.elapsed()), u32("pacchettiScritti", static_cast<uint32_t>(accepted)),
        u32("numCANPkts", static_cast<uint32_t>(count)), u32("useIoctl", useIoctl));
    // The frames the device took, in order: a write cut short still reports the ones that went
    // out, so that nobody offers them again.
    return accepted;
}

int UsbProtocolDevice::readFrameChunk(CanFrame* frames, int n, bool useIoctl,
                                      uint32_t& deferredSent) {
    std::vector<uint8_t> reply(static_cast<std::size_t>(n) * packet::kSize);
    int bytes;
    if (!useIoctl && deferred_.empty()) {
        bytes = readBuffer(reply.data(), static_cast<int>(reply.size()));
    } else {
        deferredSent = static_cast<uint32_t>(deferred_.size());
        bytes = commandTransfer(0, deferred_.empty() ? nullptr : deferred_.data(),
                                static_cast<int>(deferred_.size()), reply.data(),
                                static_cast<int>(reply.size()), timeout_, false);
        deferred_.clear();
    }
    // A partial packet at the end is dropped.
    const int packets = std::clamp(bytes / packet::kSize, 0, n);
    for (int i = 0; i < packets; ++i) {
        frames[i] = unpackFramePacket(reply.data() + i * packet::kSize);
    }
    markUnreadRecords(frames + packets, n - packets);
    return packets;
}

int UsbProtocolDevice::letturaPacchettiCan(CanFrame* frames, int maxCount, bool useIoctl) {
    if (frames != nullptr && maxCount > 0) {
        std::memset(frames, 0, sizeof(CanFrame) * static_cast<std::size_t>(maxCount));
    }
    if (!isOpen() || frames == nullptr || maxCount <= 0) {
        return 0;
    }
    const ElapsedTimer timer;
    uint32_t deferredSent = 0;
    int stored = 0;
    while (stored < maxCount) {
        const int n = std::min(maxCount - stored, packet::kMaxTransferPackets);
        const int got = readFrameChunk(frames + stored, n, useIoctl, deferredSent);
        stored += got;
        if (got < n) {
            break;
        }
    }
    if (stored > 0) {
        if (identity_.countedReadEvent) {
            VTX_TRACE(identity_.group, identity_.eventName, "letturaPacchettiCan() -E-",
                      u32("t", timer.elapsed()),
                      u32("pacchettiLetti", static_cast<uint32_t>(stored)),
                      u32("numCANPkts", static_cast<uint32_t>(maxCount)), u32("useIoctl", useIoctl),
                      u32("intBuffer", deferredSent));
        } else {
            VTX_TRACE_NO_COUNTER(identity_.group, identity_.eventName, "letturaPacchettiCan() -E-",
                                 u32("t", timer.elapsed()),
                                 u32("pacchettiLetti", static_cast<uint32_t>(stored)),
                                 u32("numCANPkts", static_cast<uint32_t>(maxCount)),
                                 u32("useIoctl", useIoctl), u32("intBuffer", deferredSent));
        }
    }
    return stored;
}

// ---------------------------------------------------------------------------------------------
// Controller configuration

// Merges one acceptance value: 0xFFFFFFFF keeps the field, 0xFFFFFFFE (open) is stored as it
// is, anything else is cut to the identifier width. True when the record counts as changed.
bool UsbProtocolDevice::mergeAcceptance(uint32_t value, bool ext, uint32_t& field) {
    if (value == kKeepValue) {
        return false;
    }
    if (value == kOpenFilter) {
        field = value;
        return true;
    }
    const uint32_t cut = value & (ext ? kCanIdMask29 : kCanIdMask11);
    if (cut == field) {
        return false;
    }
    field = cut;
    return true;
}

bool UsbProtocolDevice::setCommParameters(uint32_t Id, uint32_t Mk, uint32_t baudrate, bool force,
                                          uint8_t Bus, bool Ext, uint32_t Bus2, bool fd,
                                          bool canIdBoth) {
    const ElapsedTimer timer;
    PROTOCOL_TRACE("setCommParameters() -S-", u32("BrR", baudrate), hex("IdR", Id), hex("MkR", Mk),
                   u32("ExtR", Ext), u32("BusR", Bus), u32("BusR", Bus2), u32("fdR", fd),
                   u32("canIdBoth", canIdBoth));
    if (!isOpen() || fd) {
        return false;
    }
    if (Id == kKeepValue && Mk == kKeepValue && baudrate == kKeepValue && Bus == kKeepBus &&
        !force) {
        return true;
    }
    bool changed = force;
    if (Bus != kKeepBus && Bus != commParams_.Bus) {
        if (Bus > 1 || deviceInfo_.outBusSupported != 2) {
            return false;
        }
        commParams_.Bus = Bus;
        changed = true;
        force = true;
    }
    if (static_cast<uint8_t>(Ext) != commParams_.Ext) {
        commParams_.Ext = Ext;
        changed = true;
    }
    if (static_cast<uint8_t>(canIdBoth) != commParams_.canIdBoth) {
        commParams_.canIdBoth = canIdBoth;
        changed = true;
    }
    changed = mergeAcceptance(Id, Ext, commParams_.Id) || changed;
    changed = mergeAcceptance(Mk, Ext, commParams_.Mk) || changed;

    bool reprogram = false;
    if (baudrate == kControllerOff) {
        setEnableControllerCAN(false);
    } else if (baudrate != kKeepValue) {
        if (!isAdmittedBitRate(baudrate)) {
            return false;
        }
        if (commParams_.Bus == 1) {
            reprogram = baudrate != commParams_.baudrate;
            commParams_.baudrate = baudrate;
        } else if (force || deviceInfo_.baudrate == 0) {
            commParams_.baudrate = baudrate;
            reprogram = true;
        } else if (baudrate != commParams_.baudrate) {
            // The bit rate of a running controller changes only with force.
            return false;
        }
    }
    if (!reprogram && !changed) {
        return true;
    }
    PROTOCOL_TRACE("setCommParameters() -1-", u32("Br", commParams_.baudrate),
                   hex("Id", commParams_.Id), hex("Mk", commParams_.Mk),
                   u32("Ext", commParams_.Ext), u32("Bus", commParams_.Bus), u32("Bus", Bus2),
                   u32("fd", commParams_.fd));
    disableCANController(false);
    const bool ret = enableCANController();
    PROTOCOL_TRACE("setCommParameters() -E-", u32("Br", commParams_.baudrate),
                   hex("Id", commParams_.Id), hex("Mk", commParams_.Mk),
                   u32("Ext", commParams_.Ext), u32("Bus", commParams_.Bus), u32("Bus", Bus2),
                   u32("fd", commParams_.fd), u32("ret", ret), u32("t", timer.elapsed()));
    return ret;
}

bool UsbProtocolDevice::restoreCommParameters(CommParameters record) {
    commParams_ = record;
    return setCommParameters(record.Id, record.Mk, record.baudrate, true, record.Bus, record.Ext,
                             record.Bus2, record.fd, record.canIdBoth);
}

bool UsbProtocolDevice::enableCANController() {
    const ElapsedTimer timer;
    PROTOCOL_TRACE("enableCANController() -S-", u32("enableControllerCAN", enableControllerCAN_),
                   u32("baudrate", commParams_.baudrate),
                   u32("SamplePoint", commParams_.SamplePoint), u32("Sjw", commParams_.Sjw));
    if (!isOpen()) {
        return true;
    }
    ControllerTiming timing;
    if (!controllerTimingFor(commParams_, deviceInfo_, timing)) {
        return false;
    }
    PROTOCOL_TRACE("enableCANController() -1-", u32("spt", timing.samplePoint),
                   u32("sjw", timing.sjw), u32("clk", timing.clock), u32("brp", timing.brp),
                   u32("tseg1", timing.tseg1), u32("tseg2", timing.tseg2),
                   hex("cbtr0", timing.btr0), hex("cbtr1", timing.btr1));
    uint8_t command[packet::kEnableCommandSize];
    packet::buildEnableCommand(command, timing.btr0, timing.btr1, commParams_);
    const bool ret = writeBuffer(command, sizeof command) == packet::kEnableCommandSize;
    if (ret) {
        recordRealisedTiming(timing);
        deviceInfo_.tseg1 = timing.tseg1;
        deviceInfo_.tseg2 = timing.tseg2;
        deviceInfo_.outBus = commParams_.Bus;
        deviceInfo_.baudrate = commParams_.baudrate;
        deviceInfo_.Id = commParams_.Id;
        deviceInfo_.Mk = commParams_.Mk;
        enableControllerCAN_ = true;
        clearBuffers(false);
    }
    PROTOCOL_TRACE("enableCANController() -E-", u32("enableControllerCAN", enableControllerCAN_),
                   u32("baudrate", commParams_.baudrate),
                   u32("SamplePoint", commParams_.SamplePoint), u32("Sjw", commParams_.Sjw),
                   u32("ret", ret), u32("t", timer.elapsed()));
    return ret;
}

void UsbProtocolDevice::disableCANController(bool force) {
    const ElapsedTimer timer;
    PROTOCOL_TRACE("disableCANController() -S-", u32("enableControllerCAN", enableControllerCAN_),
                   u32("force", force));
    if (isOpen() && (enableControllerCAN_ || force)) {
        sendCommand(packet::kClassConfig, packet::kCmdDisable);
        deviceInfo_.baudrate = 0;
        deviceInfo_.Id = 0;
        deviceInfo_.Mk = 0;
        enableControllerCAN_ = false;
    }
    PROTOCOL_TRACE("disableCANController() -E-", u32("enableControllerCAN", enableControllerCAN_),
                   u32("t", timer.elapsed()));
}

void UsbProtocolDevice::setEnableControllerCAN(bool enable) {
    PROTOCOL_TRACE("setEnableControllerCAN -S-", u32("enableControllerCAN", enableControllerCAN_),
                   u32("enabled", enable));
    if (enable != enableControllerCAN_) {
        if (enable) {
            enableCANController();
        } else {
            disableCANController(false);
        }
    }
    PROTOCOL_TRACE("setEnableControllerCAN -E-", u32("enableControllerCAN", enableControllerCAN_),
                   u32("enabled", enable));
}

bool UsbProtocolDevice::getEnableControllerCAN() {
    return enableControllerCAN_;
}

bool UsbProtocolDevice::getBaudRate(uint32_t& kbps) {
    kbps = deviceInfo_.baudrate;
    return true;
}

bool UsbProtocolDevice::setTermResistor(uint32_t value) {
    commParams_.termResistor = value;
    if (!isOpen()) {
        return false;
    }
    return sendCommand(packet::kClassConfig, packet::kCmdTermResistor,
                       static_cast<uint8_t>(value & 1));
}

bool UsbProtocolDevice::getTermResistor(uint32_t& value) {
    value = 0;
    if (!isOpen()) {
        return false;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassConfig, packet::kCmdTermResistorQuery);
    uint8_t reply[packet::kSize] = {};
    if (commandTransfer(0, request, packet::kSize, reply, packet::kSize,
                        kTermResistorQueryTimeoutMs, false) != packet::kSize) {
        return false;
    }
    if (reply[0] == packet::kClassTermResistorReply) {
        value = reply[1] == 1 ? 1 : 2;
    }
    return true;
}

int UsbProtocolDevice::readOutputBusSupport() {
    if (!isOpen()) {
        return -1;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassConfig, packet::kCmdOutputBusQuery);
    uint8_t reply[packet::kSize] = {};
    const int got =
        commandTransfer(0, request, packet::kSize, reply, packet::kSize, timeout_, false);
    if (got == packet::kSize && reply[0] == packet::kClassOutputBusReply &&
        reply[1] == packet::kCmdOutputBusQuery &&
        reply[15] == static_cast<uint8_t>(lastHeaderSequence_)) {
        return 2;
    }
    packet::buildCommand(request, packet::kClassConfig, packet::kCmdOutputBusProbe, 0x01);
    std::memset(reply, 0xFF, sizeof reply);
    if (commandTransfer(0, request, packet::kSize, reply, packet::kSize, kOutputBusProbeTimeoutMs,
                        false) == packet::kSize &&
        std::all_of(std::begin(reply), std::end(reply), [](uint8_t b) { return b == 0; })) {
        return 1;
    }
    return 0;
}

int UsbProtocolDevice::getOutputBus(uint8_t& bus) {
    if (!isOpen()) {
        bus = kNotYetRead;
        return 0;
    }
    if (deviceInfo_.outBus == kNotYetRead || deviceInfo_.outBusSupported == kNotYetRead) {
        const int support = readOutputBusSupport();
        if (support != -1) {
            deviceInfo_.outBusSupported = static_cast<uint8_t>(support);
            deviceInfo_.outBus = support == 1 ? 1 : 0;
        }
    }
    bus = deviceInfo_.outBus;
    return deviceInfo_.outBusSupported == 2 ? 2 : 1;
}

void UsbProtocolDevice::setPin15ShortToGround() {
    if (isOpen()) {
        sendCommand(packet::kClassConfig, packet::kCmdPin15ShortToGround);
        std::this_thread::sleep_for(kPin15Settle);
    }
}

void UsbProtocolDevice::setPin15VoltageOff() {
    if (isOpen()) {
        sendCommand(packet::kClassConfig, packet::kCmdPin15VoltageOff);
        std::this_thread::sleep_for(kPin15Settle);
    }
}

int UsbProtocolDevice::setAuxValue(int value) {
    if (!isOpen()) {
        return 0;
    }
    if (static_cast<uint32_t>(value) == auxValue_) {
        return value;
    }
    const uint32_t clamped = std::min(static_cast<uint32_t>(std::max(value, 0)), kAuxValueMax);
    uint8_t command[packet::kSize];
    packet::buildCommand(command, packet::kClassConfig, packet::kCmdAuxValue,
                         static_cast<uint8_t>(clamped));
    command[3] = static_cast<uint8_t>(clamped >> 8);
    const int written = writeBuffer(command, packet::kSize);
    if (written != packet::kSize) {
        return written;
    }
    auxValueSent(clamped);
    auxValue_ = clamped;
    return static_cast<int>(clamped);
}

bool UsbProtocolDevice::clearBuffers(bool readBack) {
    if (!isOpen()) {
        return false;
    }
    if (!readBack) {
        return sendCommand(packet::kClassClear);
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassClear);
    std::vector<uint8_t> discard(kClearReadBackBytes);
    commandTransfer(0, request, packet::kSize, discard.data(), kClearReadBackBytes, timeout_,
                    false);
    return true;
}

bool UsbProtocolDevice::sendCommand(uint8_t cls, uint8_t cmd, uint8_t arg) {
    uint8_t command[packet::kSize];
    packet::buildCommand(command, cls, cmd, arg);
    return writeBuffer(command, packet::kSize) == packet::kSize;
}

CommParameters* UsbProtocolDevice::getCommParameters() {
    return &commParams_;
}

DeviceInfo* UsbProtocolDevice::getDeviceInfo() {
    return &deviceInfo_;
}

}  // namespace vtx

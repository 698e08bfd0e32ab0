#include "sim/SimEcu.h"

#include <algorithm>

#include "platform/ThreadServices.h"
#include "sim/UdsCodes.h"

namespace vtx::sim {

namespace {

constexpr uint32_t kFunctionalRequestId = 0x7DF;
constexpr uint32_t kPhysicalRequestId = 0x7E0;
constexpr uint32_t kResponseId = 0x7E8;
constexpr uint32_t kFunctionalRequestIdExtended = 0x18DB33F1;
constexpr uint32_t kPhysicalRequestIdExtended = 0x18DA10F1;
constexpr uint32_t kResponseIdExtended = 0x18DAF110;

// ISO-TP protocol control information: the high nibble of the first byte.
constexpr uint8_t kSingleFrame = 0x0;
constexpr uint8_t kFirstFrame = 0x1;
constexpr uint8_t kConsecutiveFrame = 0x2;
constexpr uint8_t kFlowControl = 0x3;
// Flow status of a flow-control frame.
constexpr uint8_t kClearToSend = 0x0;
constexpr uint8_t kWait = 0x1;

constexpr std::size_t kSingleFrameCapacity = 7;
constexpr std::size_t kFirstFrameCapacity = 6;
constexpr std::size_t kConsecutiveFrameCapacity = 7;

// OBD-II services take 0x01 to 0x0A; every other service is a diagnostic (UDS) one.
constexpr uint8_t kFirstObdService = 0x01;
constexpr uint8_t kLastObdService = 0x0A;
constexpr uint8_t kServiceCurrentData = 0x01;
constexpr uint8_t kServiceVehicleInformation = 0x09;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kServiceNotSupported = 0x11;

constexpr uint8_t kPidSupported = 0x00;
constexpr uint8_t kPidCoolant = 0x05;
constexpr uint8_t kPidEngineSpeed = 0x0C;
constexpr uint8_t kPidVehicleSpeed = 0x0D;
constexpr uint8_t kPidVin = 0x02;
constexpr uint8_t kVinItems = 0x01;  // number of data items in the VIN answer

// The idle timer thread looks again on its own after this long.
constexpr std::chrono::milliseconds kIdleWait{100};

// Bit 31 of the bitmap stands for PID 0x01, bit 0 for PID 0x20.
constexpr uint32_t pidBit(uint8_t pid) {
    return 1u << (32 - pid);
}
constexpr uint32_t kSupportedPids =
    pidBit(kPidCoolant) | pidBit(kPidEngineSpeed) | pidBit(kPidVehicleSpeed);

std::vector<uint8_t> negative(uint8_t service) {
    return {kNegativeResponse, service, kServiceNotSupported};
}

std::vector<uint8_t> currentData(uint8_t pid, const SimEcu::EngineValues& engine) {
    std::vector<uint8_t> answer{kServiceCurrentData + kPositiveOffset, pid};
    switch (pid) {
        case kPidSupported:
            for (int shift = 24; shift >= 0; shift -= 8) {
                answer.push_back(static_cast<uint8_t>(kSupportedPids >> shift));
            }
            return answer;
        case kPidCoolant:
            answer.push_back(static_cast<uint8_t>(std::clamp(engine.coolantCelsius + 40, 0, 255)));
            return answer;
        case kPidEngineSpeed: {
            const uint32_t quarters = std::min<uint32_t>(engine.engineRpm * 4, 0xFFFF);
            answer.push_back(static_cast<uint8_t>(quarters >> 8));
            answer.push_back(static_cast<uint8_t>(quarters));
            return answer;
        }
        case kPidVehicleSpeed:
            answer.push_back(static_cast<uint8_t>(std::min<uint32_t>(engine.vehicleSpeedKmh, 255)));
            return answer;
        default:
            return negative(kServiceCurrentData);
    }
}

std::vector<uint8_t> vehicleIdentification() {
    std::vector<uint8_t> answer(3 + SimEcu::kVin.size());
    answer[0] = kServiceVehicleInformation + kPositiveOffset;
    answer[1] = kPidVin;
    answer[2] = kVinItems;
    std::copy(SimEcu::kVin.begin(), SimEcu::kVin.end(), answer.begin() + 3);
    return answer;
}

bool isObdService(uint8_t service) {
    return service >= kFirstObdService && service <= kLastObdService;
}

std::span<const uint8_t> dataOf(const CanFrame& frame) {
    return std::span<const uint8_t>(frame.data.data(),
                                    std::min<std::size_t>(frame.dlc, frame.data.size()));
}

CanFrame paddedFrame(uint32_t id, bool extended) {
    CanFrame frame;
    frame.id = id;
    frame.extended = extended;
    frame.dlc = 8;
    frame.data.fill(SimEcu::kPadding);
    return frame;
}

// The payload of a single-frame request, or nothing when the frame is not one.
std::optional<std::vector<uint8_t>> singleFramePayload(const CanFrame& frame) {
    if (frame.dlc == 0 || frame.dlc > 8 || (frame.data[0] >> 4) != kSingleFrame) {
        return std::nullopt;
    }
    const std::size_t length = frame.data[0] & 0x0F;
    if (length == 0 || length > kSingleFrameCapacity || length > frame.dlc - 1u) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(frame.data.begin() + 1, frame.data.begin() + 1 + length);
}

}  // namespace

SimEcu::EngineValues SimEcu::engineValuesAt(std::chrono::milliseconds running) {
    constexpr int64_t kHalfCycleMs = 30'000;
    constexpr int64_t kTopSpeedKmh = 60;
    const int64_t intoCycle = std::max<int64_t>(running.count(), 0) % (2 * kHalfCycleMs);
    const int64_t rising = intoCycle < kHalfCycleMs ? intoCycle : 2 * kHalfCycleMs - intoCycle;
    const auto speed = static_cast<uint32_t>(rising * kTopSpeedKmh / kHalfCycleMs);
    return EngineValues{90, 800 + 40 * speed, speed};
}

std::vector<uint8_t> SimEcu::answer(std::span<const uint8_t> request, const EngineValues& engine) {
    if (request.empty()) {
        return {};
    }
    const uint8_t service = request[0];
    if (service == kServiceCurrentData && request.size() == 2) {
        return currentData(request[1], engine);
    }
    if (service == kServiceVehicleInformation && request.size() == 2 && request[1] == kPidVin) {
        return vehicleIdentification();
    }
    return negative(service);
}

SimEcu::SimEcu(VirtualCanBus& bus, SimIsoTpReceiver::FlowControlSettings flowControl)
    : bus_(bus),
      started_(SimClock::now()),
      receiver_(flowControl),
      uds_(kVin, UdsSecurityAccess::randomSeeds()) {
    timer_.start([this] {
        platform::nameCurrentThread("sim-ecu");
        run();
    });
    bus_.attach(this);
}

SimEcu::~SimEcu() {
    // Detached first: afterwards no bus callback can reach this object.
    bus_.detach(this);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    timer_.end();
}

uint32_t SimEcu::bitRate() const {
    return bus_.bitRate();
}

std::optional<SimEcu::Addressing> SimEcu::requestAddressing(const CanFrame& frame) {
    if (!frame.extended && (frame.id == kFunctionalRequestId || frame.id == kPhysicalRequestId)) {
        const Target target =
            frame.id == kPhysicalRequestId ? Target::Physical : Target::Functional;
        return Addressing{target, false, kResponseId, kPhysicalRequestId};
    }
    if (frame.extended &&
        (frame.id == kFunctionalRequestIdExtended || frame.id == kPhysicalRequestIdExtended)) {
        const Target target =
            frame.id == kPhysicalRequestIdExtended ? Target::Physical : Target::Functional;
        return Addressing{target, true, kResponseIdExtended, kPhysicalRequestIdExtended};
    }
    return std::nullopt;
}

void SimEcu::onBusFrame(const CanFrame& frame, SimClock::time_point endOfFrame) {
    const std::optional<Addressing> addressing = requestAddressing(frame);
    if (!addressing || frame.dlc == 0) {
        return;
    }
    switch (frame.data[0] >> 4) {
        case kSingleFrame:
            handleSingleFrame(frame, *addressing, endOfFrame);
            break;
        case kFirstFrame:
            handleFirstFrame(frame, *addressing, endOfFrame);
            break;
        case kConsecutiveFrame:
            handleConsecutiveFrame(frame, *addressing, endOfFrame);
            break;
        case kFlowControl:
            handleFlowControl(frame, endOfFrame);
            break;
        default:
            break;
    }
}

void SimEcu::handleSingleFrame(const CanFrame& frame, const Addressing& addressing,
                               SimClock::time_point endOfFrame) {
    const std::optional<std::vector<uint8_t>> request = singleFramePayload(frame);
    if (!request) {
        return;
    }
    if (addressing.target == Target::Physical) {
        receiver_.abort();
    }
    respond(*request, addressing, endOfFrame);
}

// Multi-frame requests are taken on the physical identifiers only.
void SimEcu::handleFirstFrame(const CanFrame& frame, const Addressing& addressing,
                              SimClock::time_point endOfFrame) {
    if (addressing.target != Target::Physical) {
        return;
    }
    const SimIsoTpReceiver::Step step = receiver_.onFirstFrame(dataOf(frame), endOfFrame);
    if (step.action == SimIsoTpReceiver::Step::Action::SendFlowControl) {
        sendFlowControl(step, addressing);
    }
}

void SimEcu::handleConsecutiveFrame(const CanFrame& frame, const Addressing& addressing,
                                    SimClock::time_point endOfFrame) {
    if (addressing.target != Target::Physical) {
        return;
    }
    const SimIsoTpReceiver::Step step = receiver_.onConsecutiveFrame(dataOf(frame), endOfFrame);
    flowControlViolations_.store(receiver_.violations());
    receptionTimeouts_.store(receiver_.timeouts());
    switch (step.action) {
        case SimIsoTpReceiver::Step::Action::SendFlowControl:
            sendFlowControl(step, addressing);
            break;
        case SimIsoTpReceiver::Step::Action::Deliver:
            respond(step.request, addressing, endOfFrame);
            break;
        case SimIsoTpReceiver::Step::Action::None:
            break;
    }
}

// Sent from the bus's thread at once; the receiver learns when it crossed, which starts the
// next block.
void SimEcu::sendFlowControl(const SimIsoTpReceiver::Step& step, const Addressing& addressing) {
    CanFrame frame = paddedFrame(addressing.responseId, addressing.extended);
    std::copy(step.flowControl.begin(), step.flowControl.end(), frame.data.begin());
    const uint64_t reception = step.reception;
    bus_.transmit(this, frame, [this, reception](SimClock::time_point end) {
        receiver_.onFlowControlSent(reception, end);
    });
}

void SimEcu::respond(std::span<const uint8_t> request, const Addressing& addressing,
                     SimClock::time_point endOfFrame) {
    std::vector<UdsServer::Answer> answers = answersTo(request, endOfFrame);
    if (addressing.target == Target::Functional) {
        std::erase_if(answers, [](const UdsServer::Answer& a) { return keptSilent(a.payload); });
    }
    if (answers.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        for (UdsServer::Answer& answer : answers) {
            queueAnswer(std::move(answer.payload), addressing, answer.due + kResponseDelay);
        }
    }
    wake_.notify_one();
}

// A functionally addressed request reaches every ECU on the bus, so an ECU keeps to itself the
// refusals that only say the request was not for it: service or sub-function not supported (in
// the active session too) and request out of range. Other answers, negative ones included,
// still go out.
bool SimEcu::keptSilent(std::span<const uint8_t> answer) {
    constexpr uint8_t kSilentCodes[] = {
        uds::kServiceNotSupported, uds::kSubFunctionNotSupported, uds::kRequestOutOfRange,
        uds::kSubFunctionNotSupportedInActiveSession, uds::kServiceNotSupportedInActiveSession};
    return answer.size() == 3 && answer[0] == uds::kNegativeResponse &&
           std::find(std::begin(kSilentCodes), std::end(kSilentCodes), answer[2]) !=
               std::end(kSilentCodes);
}

std::vector<UdsServer::Answer> SimEcu::answersTo(std::span<const uint8_t> request,
                                                 SimClock::time_point endOfFrame) {
    if (request.empty() || !isObdService(request[0])) {
        return uds_.handle(request, endOfFrame);
    }
    const auto running =
        std::chrono::duration_cast<std::chrono::milliseconds>(endOfFrame - started_);
    return {UdsServer::Answer{endOfFrame, answer(request, engineValuesAt(running))}};
}

// Caller holds mutex_.
void SimEcu::queueAnswer(std::vector<uint8_t> payload, const Addressing& addressing,
                         SimClock::time_point due) {
    if (payload.size() <= kSingleFrameCapacity) {
        CanFrame reply = paddedFrame(addressing.responseId, addressing.extended);
        reply.data[0] = static_cast<uint8_t>(payload.size());
        std::copy(payload.begin(), payload.end(), reply.data.begin() + 1);
        scheduled_.push_back(ScheduledFrame{due, reply});
        return;
    }
    Transfer next;
    next.phase = Transfer::Phase::FirstFrameDue;
    next.addressing = addressing;
    next.payload = std::move(payload);
    next.due = due;
    next.generation = transfer_.generation + 1;
    transfer_ = std::move(next);
}

void SimEcu::handleFlowControl(const CanFrame& frame, SimClock::time_point endOfFrame) {
    if (frame.dlc < 3) {
        return;  // too short to carry block size and separation time
    }
    {
        std::lock_guard lock(mutex_);
        Transfer& t = transfer_;
        // Flow control is physically addressed, to the identifier of the transfer's scheme.
        if (t.phase != Transfer::Phase::AwaitingFlowControl ||
            frame.extended != t.addressing.extended || frame.id != t.addressing.flowControlId) {
            return;
        }
        const uint8_t status = frame.data[0] & 0x0F;
        if (status == kClearToSend) {
            t.phase = Transfer::Phase::SendingBlock;
            t.blockSize = frame.data[1];
            t.leftInBlock = t.blockSize;
            t.separation = SimIsoTpReceiver::separationTime(frame.data[2]);
            t.due = endOfFrame;
        } else if (status == kWait) {
            t.due = endOfFrame + kFlowControlTimeout;
        } else {
            t.phase = Transfer::Phase::Idle;  // overflow or an invalid status: give up
        }
    }
    wake_.notify_one();
}

void SimEcu::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const SimClock::time_point now = SimClock::now();
        sendDueFrames(now);
        serviceTransfer(now);
        wake_.wait_until(lock, nextWake(now));
    }
}

// Caller holds mutex_.
void SimEcu::sendDueFrames(SimClock::time_point now) {
    std::sort(scheduled_.begin(), scheduled_.end(),
              [](const ScheduledFrame& a, const ScheduledFrame& b) { return a.due < b.due; });
    auto firstLater = scheduled_.begin();
    while (firstLater != scheduled_.end() && firstLater->due <= now) {
        bus_.transmit(this, firstLater->frame);
        ++firstLater;
    }
    scheduled_.erase(scheduled_.begin(), firstLater);
}

// Caller holds mutex_.
void SimEcu::serviceTransfer(SimClock::time_point now) {
    Transfer& t = transfer_;
    if (t.phase == Transfer::Phase::Idle || now < t.due) {
        return;
    }
    switch (t.phase) {
        case Transfer::Phase::FirstFrameDue:
            sendFirstFrame(now);
            break;
        case Transfer::Phase::AwaitingFlowControl:
            t.phase = Transfer::Phase::Idle;  // no flow control in time
            break;
        case Transfer::Phase::SendingBlock:
            if (!t.frameOnBus) {
                sendConsecutiveFrame();
            }
            break;
        case Transfer::Phase::Idle:
            break;
    }
}

// Caller holds mutex_.
void SimEcu::sendFirstFrame(SimClock::time_point now) {
    Transfer& t = transfer_;
    CanFrame frame = paddedFrame(t.addressing.responseId, t.addressing.extended);
    frame.data[0] = static_cast<uint8_t>((kFirstFrame << 4) | ((t.payload.size() >> 8) & 0x0F));
    frame.data[1] = static_cast<uint8_t>(t.payload.size());
    std::copy_n(t.payload.begin(), kFirstFrameCapacity, frame.data.begin() + 2);
    if (!bus_.transmit(this, frame)) {
        t.phase = Transfer::Phase::Idle;
        return;
    }
    t.sent = kFirstFrameCapacity;
    t.sequence = 1;
    t.phase = Transfer::Phase::AwaitingFlowControl;
    t.due = now + kFlowControlTimeout;
}

// Caller holds mutex_.
void SimEcu::sendConsecutiveFrame() {
    Transfer& t = transfer_;
    CanFrame frame = paddedFrame(t.addressing.responseId, t.addressing.extended);
    frame.data[0] = static_cast<uint8_t>((kConsecutiveFrame << 4) | t.sequence);
    const std::size_t count = std::min(kConsecutiveFrameCapacity, t.payload.size() - t.sent);
    std::copy_n(t.payload.begin() + static_cast<std::ptrdiff_t>(t.sent), count,
                frame.data.begin() + 1);
    const uint64_t generation = t.generation;
    auto onSent = [this, generation](SimClock::time_point end) {
        onConsecutiveFrameSent(generation, end);
    };
    if (!bus_.transmit(this, frame, onSent)) {
        t.phase = Transfer::Phase::Idle;
        return;
    }
    t.sent += count;
    t.sequence = (t.sequence + 1) & 0x0F;
    t.frameOnBus = true;
}

void SimEcu::onConsecutiveFrameSent(uint64_t generation, SimClock::time_point endOfFrame) {
    {
        std::lock_guard lock(mutex_);
        Transfer& t = transfer_;
        if (t.generation != generation || t.phase != Transfer::Phase::SendingBlock) {
            return;
        }
        t.frameOnBus = false;
        if (t.sent >= t.payload.size()) {
            t.phase = Transfer::Phase::Idle;
            return;
        }
        if (t.blockSize != 0 && --t.leftInBlock == 0) {
            t.phase = Transfer::Phase::AwaitingFlowControl;
            t.due = endOfFrame + kFlowControlTimeout;
        } else {
            t.due = endOfFrame + t.separation;
        }
    }
    wake_.notify_one();
}

// Caller holds mutex_.
SimClock::time_point SimEcu::nextWake(SimClock::time_point now) const {
    SimClock::time_point wake = now + kIdleWait;
    for (const ScheduledFrame& scheduled : scheduled_) {
        wake = std::min(wake, scheduled.due);
    }
    const bool transferWaits =
        transfer_.phase == Transfer::Phase::Idle ||
        (transfer_.phase == Transfer::Phase::SendingBlock && transfer_.frameOnBus);
    if (!transferWaits) {
        wake = std::min(wake, transfer_.due);
    }
    return wake;
}

}  // namespace vtx::sim

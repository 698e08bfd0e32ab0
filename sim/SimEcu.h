// The simulated ECU: an engine controller on the virtual CAN bus that answers OBD-II requests
// (SAE J1979 over ISO-TP, ISO 15765-4 addressing) and diagnostic (UDS) requests, and otherwise
// keeps quiet.
//
//   requests                          answers from   flow control from the tester to
//   11-bit 0x7DF (functional), 0x7E0  0x7E8          0x7E0
//   29-bit 0x18DB33F1, 0x18DA10F1     0x18DAF110     0x18DA10F1
//
// Service 0x01 (current data): PID 0x00 (supported PIDs: 0x05, 0x0C, 0x0D), 0x05 coolant
// temperature, 0x0C engine speed, 0x0D vehicle speed, one PID per request. Service 0x09 PID
// 0x02: the VIN "1VTXSIM0000000001" as a multi-frame answer (49 02 01 and the 17 characters).
// Any other request in the OBD-II range (services 0x01 to 0x0A) is answered 7F <service> 11;
// requests for other services go to the diagnostic server (UdsServer: sessions, reset, read
// data, security access, download and its routines). A functionally addressed request gets no
// negative answer 11, 12, 31, 7E or 7F: as on a vehicle, the tester hears silence instead.
//
// Requests come as single frames to any request identifier, or as multi-frame requests (up to
// 4095 bytes) to the physical ones: the ECU answers a first frame with its flow control at once
// and reassembles the consecutive frames (SimIsoTpReceiver), enforcing the block size and
// separation time it granted and counting the tester's violations. A single frame to the
// physical identifier drops a reception in progress.
//
// A multi-frame answer: the first frame goes out, then the ECU waits up to kFlowControlTimeout
// for the tester's flow control (clear to send, wait, or overflow), and sends its consecutive
// frames honouring the block size and the separation time; the first consecutive frame of a
// block follows the flow control at once, each further one leaves STmin after the end of the
// one before. A new multi-frame answer abandons a transfer in progress.
//
// The engine idles and drives a slow cycle: vehicle speed rises from 0 to 60 km/h over 30 s
// and falls back over the next 30 s, again and again from the ECU's start; the engine turns at
// 800 rpm plus 40 rpm per km/h (800 to 3200 rpm); the coolant stays at 90 °C.
//
// Every frame the ECU sends has 8 data bytes, padded with 0x55, and goes through the bus like
// any node's. Answers are queued kResponseDelay after the end of the request frame (a delayed
// diagnostic answer, after a response pending, that much after its own time), by the ECU's own
// timer thread; flow control goes out from the bus's thread at once. The ECU attaches itself to
// the bus in its constructor and detaches in its destructor; it runs at the bus's rate.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/LibraryThread.h"
#include "sim/CanNode.h"
#include "sim/SimIsoTpReceiver.h"
#include "sim/UdsServer.h"
#include "sim/VirtualCanBus.h"

namespace vtx::sim {

class SimEcu : public CanNode {
  public:
    static constexpr std::chrono::milliseconds kResponseDelay{2};
    static constexpr std::chrono::milliseconds kFlowControlTimeout{1000};
    static constexpr uint8_t kPadding = 0x55;
    static constexpr std::string_view kVin = "1VTXSIM0000000001";

    // The engine's state some time after the ECU started.
    struct EngineValues {
        int coolantCelsius;
        uint32_t engineRpm;
        uint32_t vehicleSpeedKmh;
    };
    static EngineValues engineValuesAt(std::chrono::milliseconds running);

    // The answer payload (service byte onwards, without ISO-TP framing) to a request payload,
    // for an engine in the given state.
    static std::vector<uint8_t> answer(std::span<const uint8_t> request,
                                       const EngineValues& engine);

    // flowControl: what the ECU grants a tester that sends it a multi-frame request.
    explicit SimEcu(VirtualCanBus& bus, SimIsoTpReceiver::FlowControlSettings flowControl = {});
    ~SimEcu() override;
    SimEcu(const SimEcu&) = delete;
    SimEcu& operator=(const SimEcu&) = delete;

    uint32_t bitRate() const override;
    void onBusFrame(const CanFrame& frame, SimClock::time_point endOfFrame) override;

    // How many multi-frame requests the ECU aborted because the tester broke the block size or
    // the separation time it granted.
    uint64_t flowControlViolations() const { return flowControlViolations_.load(); }
    uint64_t receptionTimeouts() const { return receptionTimeouts_.load(); }

  private:
    // Whom a request frame was sent to.
    enum class Target { Functional, Physical };
    // The identifiers of one addressing scheme.
    struct Addressing {
        Target target;
        bool extended;
        uint32_t responseId;
        uint32_t flowControlId;  // where the tester sends its flow control
    };
    // A single-frame answer waiting for its time.
    struct ScheduledFrame {
        SimClock::time_point due;
        CanFrame frame;
    };
    // The multi-frame answer in progress, if any.
    struct Transfer {
        enum class Phase { Idle, FirstFrameDue, AwaitingFlowControl, SendingBlock };
        Phase phase = Phase::Idle;
        Addressing addressing{};
        std::vector<uint8_t> payload;
        std::size_t sent = 0;  // payload bytes handed to the bus
        uint8_t sequence = 1;  // of the next consecutive frame
        uint8_t blockSize = 0;
        uint8_t leftInBlock = 0;
        std::chrono::nanoseconds separation{};
        // FirstFrameDue, SendingBlock: when the next frame may go; AwaitingFlowControl: when
        // the wait ends.
        SimClock::time_point due{};
        bool frameOnBus = false;  // a consecutive frame queued, not yet crossed
        uint64_t generation = 0;  // tells a late callback of an abandoned transfer
    };

    static std::optional<Addressing> requestAddressing(const CanFrame& frame);

    void handleSingleFrame(const CanFrame& frame, const Addressing& addressing,
                           SimClock::time_point endOfFrame);
    void handleFirstFrame(const CanFrame& frame, const Addressing& addressing,
                          SimClock::time_point endOfFrame);
    void handleConsecutiveFrame(const CanFrame& frame, const Addressing& addressing,
                                SimClock::time_point endOfFrame);
    void sendFlowControl(const SimIsoTpReceiver::Step& step, const Addressing& addressing);
    // Whether an answer to a functionally addressed request is kept back.
    static bool keptSilent(std::span<const uint8_t> answer);
    void respond(std::span<const uint8_t> request, const Addressing& addressing,
                 SimClock::time_point endOfFrame);
    std::vector<UdsServer::Answer> answersTo(std::span<const uint8_t> request,
                                             SimClock::time_point endOfFrame);
    void queueAnswer(std::vector<uint8_t> payload, const Addressing& addressing,
                     SimClock::time_point due);
    void handleFlowControl(const CanFrame& frame, SimClock::time_point endOfFrame);
    void run();
    void sendDueFrames(SimClock::time_point now);
    void serviceTransfer(SimClock::time_point now);
    void sendFirstFrame(SimClock::time_point now);
    void sendConsecutiveFrame();
    void onConsecutiveFrameSent(uint64_t generation, SimClock::time_point endOfFrame);
    SimClock::time_point nextWake(SimClock::time_point now) const;

    VirtualCanBus& bus_;
    const SimClock::time_point started_;

    // Touched only on the bus's thread (onBusFrame and the flow control's sent callback).
    SimIsoTpReceiver receiver_;
    UdsServer uds_;
    std::atomic<uint64_t> flowControlViolations_{0};
    std::atomic<uint64_t> receptionTimeouts_{0};

    // Lock order: the bus's delivery (onBusFrame and sent callbacks run inside it) before
    // mutex_, mutex_ before the bus's queues (transmit is called under mutex_).
    std::mutex mutex_;
    std::condition_variable wake_;           // something to send, or stopping
    std::vector<ScheduledFrame> scheduled_;  // guarded by mutex_
    Transfer transfer_;                      // guarded by mutex_
    bool stopping_ = false;                  // guarded by mutex_
    platform::LibraryThread timer_;
};

}  // namespace vtx::sim

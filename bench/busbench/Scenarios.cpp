#include "bench/busbench/Scenarios.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "api/PassThruFunctions.h"
#include "base/J2534.h"
#include "bench/busbench/BenchSession.h"
#include "bench/busbench/BusWatch.h"
#include "bench/busbench/CpuSampler.h"
#include "sim/TrafficGenerator.h"

namespace busbench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kTrafficId = vtx::sim::TrafficGenerator::kIdentifier;
constexpr uint32_t kTransmitId = 0x300;
constexpr uint32_t kLatencyId = 0x123;
constexpr J2534_UINT kReadBatch = 64;
constexpr J2534_UINT kReadTimeoutMs = 10;
constexpr J2534_UINT kWriteBatch = 10;
// Longer than a silence, so that the reader is blocked in the call when the frame comes.
constexpr J2534_UINT kLatencyReadTimeoutMs = 2000;
constexpr auto kWarmUp = 300ms;
constexpr auto kSettle = 200ms;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Clock::duration secondsOf(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

uint32_t identifierOf(const PASSTHRU_MSG& msg) {
    return sequenceIn(msg.Data);
}

uint32_t sequenceOf(const PASSTHRU_MSG& msg) {
    return sequenceIn(msg.Data + 4);
}

// An 11-bit, 8-byte frame with the sequence number in its first four data bytes.
PASSTHRU_MSG sequencedMessage(uint32_t id, uint32_t sequence) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.DataSize = 12;
    const uint32_t words[] = {id, sequence};
    for (int word = 0; word < 2; ++word) {
        for (int byte = 0; byte < 4; ++byte) {
            msg.Data[4 * word + byte] = static_cast<uint8_t>(words[word] >> (24 - 8 * byte));
        }
    }
    return msg;
}

vtx::sim::CanFrame sequencedFrame(uint32_t id, uint32_t sequence) {
    vtx::sim::CanFrame frame;
    frame.id = id;
    frame.dlc = 8;
    for (int byte = 0; byte < 4; ++byte) {
        frame.data[byte] = static_cast<uint8_t>(sequence >> (24 - 8 * byte));
    }
    return frame;
}

void addCpuFigures(Figures& figures, const CpuShares& cpu) {
    figures["cpu%"] = cpu.percentOfCore(cpu.processSeconds);
    figures["lib%"] = cpu.percentOfCore(cpu.librarySeconds);
    figures["app%"] = cpu.percentOfCore(cpu.applicationSeconds);
    figures["sim%"] = cpu.percentOfCore(cpu.simulatorSeconds);
    figures["csw/s"] = cpu.wallSeconds > 0 ? cpu.contextSwitches / cpu.wallSeconds : 0;
    figures["xfer/s"] = cpu.wallSeconds > 0 ? cpu.transfers / cpu.wallSeconds : 0;
}

// Microseconds of each share per frame. The calling thread runs the library's read or write
// path inside the fourteen functions, so "lib+app/fr" is what the library costs per frame.
void addPerFrameFigures(Figures& figures, const CpuShares& cpu, double frames) {
    if (frames <= 0) {
        return;
    }
    figures["lib/fr"] = 1e6 * cpu.librarySeconds / frames;
    figures["app/fr"] = 1e6 * cpu.applicationSeconds / frames;
    figures["lib+app/fr"] = 1e6 * (cpu.librarySeconds + cpu.applicationSeconds) / frames;
    figures["sim/fr"] = 1e6 * cpu.simulatorSeconds / frames;
    figures["xfer/fr"] = cpu.transfers / frames;
}

// The sequence numbers of the traffic generator's frames the reader got.
struct ReceivedSequences {
    std::vector<uint8_t> seen;  // by sequence number

    void mark(uint32_t sequence) {
        if (sequence >= seen.size()) {
            seen.resize(std::max<std::size_t>(sequence + 1, 2 * seen.size()), 0);
        }
        seen[sequence] = 1;
    }
    uint64_t countBetween(uint32_t first, uint32_t last) const {
        uint64_t count = 0;
        for (uint64_t sequence = first; sequence <= last && sequence < seen.size(); ++sequence) {
            count += seen[sequence];
        }
        return count;
    }
};

// Reads for the span straight into buffer, records as this program's header lays them out (4176
// bytes in busbench-ulong, filled by the exports themselves: nothing is converted here); returns
// how many calls it made.
uint64_t readFor(J2534_UINT channel, Clock::duration span, std::vector<PASSTHRU_MSG>& buffer,
                 ReceivedSequences& received) {
    const auto end = Clock::now() + span;
    uint64_t calls = 0;
    for (; Clock::now() < end; ++calls) {
        J2534_UINT count = kReadBatch;
        PassThruReadMsgs(channel, buffer.data(), &count, kReadTimeoutMs);
        for (J2534_UINT i = 0; i < count; ++i) {
            if (identifierOf(buffer[i]) == kTrafficId && buffer[i].DataSize >= 8) {
                received.mark(sequenceOf(buffer[i]));
            }
        }
    }
    return calls;
}

// Writes batches from sequence number `next` on for the span; returns the next one unwritten.
uint32_t writeFor(J2534_UINT channel, Clock::duration span, uint32_t next, uint32_t timeoutMs) {
    std::vector<PASSTHRU_MSG> batch(kWriteBatch);
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        for (uint32_t i = 0; i < kWriteBatch; ++i) {
            batch[i] = sequencedMessage(kTransmitId, next + i);
        }
        J2534_UINT count = kWriteBatch;
        PassThruWriteMsgs(channel, batch.data(), &count, timeoutMs);
        next += static_cast<uint32_t>(count);
        if (count < kWriteBatch && timeoutMs == 0) {
            std::this_thread::sleep_for(1ms);  // the queue is full: wait as an application would
        }
    }
    return next;
}

// Waits until `count` frames have crossed, or until none has crossed for the settle time.
void settleTransmit(const BusWatch& watch, uint64_t count) {
    uint64_t seen = watch.crossed();
    auto lastProgress = Clock::now();
    while (seen < count && Clock::now() - lastProgress < kSettle) {
        std::this_thread::sleep_for(10ms);
        if (const uint64_t now = watch.crossed(); now != seen) {
            seen = now;
            lastProgress = Clock::now();
        }
    }
}

}  // namespace

Figures measureReceive(double seconds, const std::string& traceFile) {
    BenchSession session({1000000, "max", traceFile});
    if (!session.ok()) {
        return {};
    }
    BusWatch watch(session.control(), kTrafficId, 0);
    std::vector<PASSTHRU_MSG> buffer(kReadBatch);
    ReceivedSequences received;
    readFor(session.channel(), kWarmUp, buffer, received);
    const uint32_t first = watch.latestSequence().value_or(0) + 1;
    CpuSampler sampler;
    sampler.start();
    const uint64_t calls = readFor(session.channel(), secondsOf(seconds), buffer, received);
    const CpuShares cpu = sampler.stop();
    const uint32_t last = watch.latestSequence().value_or(first);
    readFor(session.channel(), kSettle, buffer, received);

    const double crossed = last >= first ? last - first + 1 : 0;
    const auto got = static_cast<double>(received.countBetween(first, last));
    Figures figures;
    figures["bus ratio"] = crossed / cpu.wallSeconds / kFullBusFramesPerSecond;
    figures["ratio"] = got / cpu.wallSeconds / kFullBusFramesPerSecond;
    figures["lost"] = crossed - got;
    figures["frames/read"] = calls > 0 ? got / static_cast<double>(calls) : 0;
    figures["dev overflow"] =
        static_cast<double>(session.control().deviceState().controller.overflowedFrames);
    addCpuFigures(figures, cpu);
    addPerFrameFigures(figures, cpu, got);
    return figures;
}

Figures measureTransmit(double seconds, uint32_t timeoutMs) {
    BenchSession session({1000000, "", ""});
    if (!session.ok()) {
        return {};
    }
    BusWatch watch(session.control(), kTransmitId, 0);
    uint32_t next = writeFor(session.channel(), kWarmUp, 0, timeoutMs);
    const uint64_t crossedBefore = watch.crossed();
    CpuSampler sampler;
    sampler.start();
    next = writeFor(session.channel(), secondsOf(seconds), next, timeoutMs);
    const CpuShares cpu = sampler.stop();
    const auto crossed = static_cast<double>(watch.crossed() - crossedBefore);
    settleTransmit(watch, next);

    Figures figures;
    figures["ratio"] = crossed / cpu.wallSeconds / kFullBusFramesPerSecond;
    figures["lost"] = static_cast<double>(next) - static_cast<double>(watch.crossed());
    addCpuFigures(figures, cpu);
    addPerFrameFigures(figures, cpu, crossed);
    return figures;
}

Figures measureIdle(double seconds) {
    BenchSession session({500000, "", ""});
    if (!session.ok()) {
        return {};
    }
    std::this_thread::sleep_for(kWarmUp);
    CpuSampler sampler;
    sampler.start();
    std::this_thread::sleep_for(secondsOf(seconds));
    const CpuShares cpu = sampler.stop();
    Figures figures;
    addCpuFigures(figures, cpu);
    return figures;
}

Figures measureCalls(double seconds, uint32_t seed) {
    BenchSession session({500000, "", ""});
    if (!session.ok()) {
        return {};
    }
    std::this_thread::sleep_for(kWarmUp);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> gapMilliseconds(5, 100);
    std::vector<double> ioctls;
    std::vector<double> writes;
    const auto end = Clock::now() + secondsOf(seconds);
    for (uint32_t sequence = 0; Clock::now() < end; ++sequence) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMilliseconds(random)));
        SCONFIG loopback{LOOPBACK, 0};
        SCONFIG_LIST list{1, &loopback};
        auto start = Clock::now();
        PassThruIoctl(session.channel(), GET_CONFIG, &list, nullptr);
        ioctls.push_back(millisecondsSince(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMilliseconds(random)));
        PASSTHRU_MSG msg = sequencedMessage(kTransmitId, sequence);
        J2534_UINT count = 1;
        start = Clock::now();
        PassThruWriteMsgs(session.channel(), &msg, &count, 100);
        writes.push_back(millisecondsSince(start));
    }
    Figures figures;
    figures["ioctl p50 ms"] = percentile(ioctls, 0.5);
    figures["ioctl p99 ms"] = percentile(ioctls, 0.99);
    figures["ioctl max ms"] = percentile(ioctls, 1.0);
    figures["write p50 ms"] = percentile(writes, 0.5);
    figures["write p99 ms"] = percentile(writes, 0.99);
    figures["samples"] = static_cast<double>(ioctls.size());
    return figures;
}

Figures measureThreads(double seconds, uint32_t seed) {
    BenchSession session({500000, "", ""});
    J2534_UINT isoChannel = 0;
    if (!session.ok() ||
        PassThruConnect(session.device(), ISO15765, 0, 500000, &isoChannel) != STATUS_NOERROR) {
        return {};
    }
    std::this_thread::sleep_for(kWarmUp);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> readsReturned{0};
    std::thread reader([&] {
        nameApplicationThread("reader");
        while (!done.load()) {
            PASSTHRU_MSG msg{};
            J2534_UINT count = 1;
            PassThruReadMsgs(session.channel(), &msg, &count, kLatencyReadTimeoutMs);
            ++readsReturned;
        }
    });
    const auto end = Clock::now() + secondsOf(seconds);
    // Each call's duration in ms, taken at random gaps until the end.
    const auto timeCalls = [&](const char* name, uint32_t threadSeed, auto call) {
        nameApplicationThread(name);
        std::mt19937 random(threadSeed);
        std::uniform_int_distribution<int> gapMilliseconds(5, 20);
        std::vector<double> durations;
        for (uint32_t sequence = 0; Clock::now() < end; ++sequence) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMilliseconds(random)));
            const auto start = Clock::now();
            call(sequence);
            durations.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        return durations;
    };
    std::vector<double> writes;
    std::thread writer([&] {
        writes = timeCalls("writer", seed, [&](uint32_t sequence) {
            PASSTHRU_MSG msg = sequencedMessage(kTransmitId, sequence);
            J2534_UINT count = 1;
            PassThruWriteMsgs(session.channel(), &msg, &count, 100);
        });
    });
    const std::vector<double> ioctls = timeCalls("config", seed + 1000, [&](uint32_t) {
        SCONFIG blockSize{ISO15765_BS, 0};
        SCONFIG_LIST list{1, &blockSize};
        PassThruIoctl(isoChannel, GET_CONFIG, &list, nullptr);
    });
    writer.join();
    const uint32_t readsDuringCalls = readsReturned.load();
    done = true;
    // The read ends at its timeout; disconnecting ends it at once.
    PassThruDisconnect(session.channel());
    reader.join();
    Figures figures;
    figures["write p50 ms"] = percentile(writes, 0.5);
    figures["write p99 ms"] = percentile(writes, 0.99);
    figures["ioctl p50 ms"] = percentile(ioctls, 0.5);
    figures["ioctl p99 ms"] = percentile(ioctls, 0.99);
    figures["reads"] = readsDuringCalls;
    figures["samples"] = static_cast<double>(std::min(writes.size(), ioctls.size()));
    return figures;
}

namespace {

// GET_TERM_RESISTOR's durations at random gaps for the span.
std::vector<double> timeTermResistorReads(J2534_UINT channel, Clock::duration span,
                                          std::mt19937& random) {
    std::uniform_int_distribution<int> gapMilliseconds(5, 40);
    std::vector<double> durations;
    for (const auto end = Clock::now() + span; Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMilliseconds(random)));
        J2534_UINT on = 0;
        const auto start = Clock::now();
        PassThruIoctl(channel, GET_TERM_RESISTOR, nullptr, &on);
        durations.push_back(millisecondsSince(start));
    }
    return durations;
}

// PassThruClose's duration after opening the device and connecting a channel, with or without
// a pass filter; nothing when the device did not open.
std::optional<double> timeClose(bool filtered, std::mt19937& random) {
    std::uniform_int_distribution<int> gapMilliseconds(5, 40);
    J2534_UINT device = 0;
    J2534_UINT channel = 0;
    if (PassThruOpen(nullptr, &device) != STATUS_NOERROR) {
        return std::nullopt;
    }
    if (PassThruConnect(device, CAN, 0, 500000, &channel) != STATUS_NOERROR ||
        (filtered && !BenchSession::passEverything(channel))) {
        PassThruClose(device);
        return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(gapMilliseconds(random)));
    const auto start = Clock::now();
    PassThruClose(device);
    return millisecondsSince(start);
}

}  // namespace

Figures measureReplies(double seconds, uint32_t seed) {
    constexpr int kClosesEach = 20;
    BenchSession session({500000, "", ""});
    if (!session.ok()) {
        return {};
    }
    std::this_thread::sleep_for(kWarmUp);
    std::mt19937 random(seed);
    const auto half = secondsOf(seconds / 2);
    const std::vector<double> termWaiting = timeTermResistorReads(session.channel(), half, random);
    PassThruIoctl(session.channel(), CLEAR_MSG_FILTERS, nullptr, nullptr);
    // The last wait ends; no new one begins without a filter.
    std::this_thread::sleep_for(kWarmUp);
    const std::vector<double> termQuiet = timeTermResistorReads(session.channel(), half, random);
    session.closeDevice();
    std::vector<double> closeWaiting;
    std::vector<double> closeQuiet;
    for (int i = 0; i < kClosesEach; ++i) {
        const auto waiting = timeClose(true, random);
        const auto quiet = timeClose(false, random);
        if (!waiting || !quiet) {
            return {};
        }
        closeWaiting.push_back(*waiting);
        closeQuiet.push_back(*quiet);
    }
    Figures figures;
    figures["term waiting p50 ms"] = percentile(termWaiting, 0.5);
    figures["term waiting p99 ms"] = percentile(termWaiting, 0.99);
    figures["term quiet p99 ms"] = percentile(termQuiet, 0.99);
    figures["term added p99 ms"] = figures["term waiting p99 ms"] - figures["term quiet p99 ms"];
    figures["close waiting p99 ms"] = percentile(closeWaiting, 0.99);
    figures["close quiet p99 ms"] = percentile(closeQuiet, 0.99);
    figures["close added p99 ms"] = figures["close waiting p99 ms"] - figures["close quiet p99 ms"];
    figures["samples"] = static_cast<double>(std::min(termWaiting.size(), termQuiet.size()));
    return figures;
}

namespace {

// Injects frames at random gaps for the span, then each silence frame after 1 s without one.
// Returns how many it injected; `done` is set once it has finished.
void injectFrames(vtx::sim::SimControl& control, double seconds, int silences, uint32_t seed,
                  uint32_t& injected, uint32_t& firstSilence, std::atomic<bool>& done) {
    nameApplicationThread("inject");
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> gapMicroseconds(1000, 9000);
    const auto end = Clock::now() + secondsOf(seconds);
    uint32_t sequence = 0;
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::microseconds(gapMicroseconds(random)));
        control.injectFrame(sequencedFrame(kLatencyId, sequence++));
    }
    firstSilence = sequence;
    for (int i = 0; i < silences; ++i) {
        std::this_thread::sleep_for(1s);
        control.injectFrame(sequencedFrame(kLatencyId, sequence++));
    }
    injected = sequence;
    done = true;
}

}  // namespace

Figures measureLatency(double seconds, int silences, uint32_t seed) {
    BenchSession session({500000, "", ""});
    if (!session.ok()) {
        return {};
    }
    const auto capacity = static_cast<std::size_t>(seconds * 1000) + silences + 1;
    BusWatch watch(session.control(), kLatencyId, capacity);
    std::vector<Clock::time_point> returned(capacity);
    std::vector<bool> got(capacity, false);
    uint32_t injected = 0;
    uint32_t firstSilence = 0;
    std::atomic<bool> done{false};
    CpuSampler sampler;
    sampler.start();
    std::thread injector(injectFrames, std::ref(session.control()), seconds, silences, seed,
                         std::ref(injected), std::ref(firstSilence), std::ref(done));
    // Reads until the injector has finished and every frame came, or a read came back empty
    // after it finished (a frame was lost).
    uint32_t arrived = 0;
    for (bool empty = false; !(done && (empty || arrived >= injected));) {
        PASSTHRU_MSG msg{};
        J2534_UINT count = 1;
        PassThruReadMsgs(session.channel(), &msg, &count, kLatencyReadTimeoutMs);
        const auto now = Clock::now();
        empty = count == 0;
        if (count == 1 && identifierOf(msg) == kLatencyId && sequenceOf(msg) < capacity) {
            returned[sequenceOf(msg)] = now;
            got[sequenceOf(msg)] = true;
            ++arrived;
        }
    }
    injector.join();
    const CpuShares cpu = sampler.stop();

    std::vector<double> gaps;
    std::vector<double> afterSilence;
    std::vector<double> busLag;
    std::vector<double> afterDelivery;
    uint32_t received = 0;
    for (uint32_t sequence = 0; sequence < injected; ++sequence) {
        const auto crossing = watch.crossingOf(sequence);
        if (!got[sequence] || !crossing) {
            continue;
        }
        ++received;
        const double ms =
            std::chrono::duration<double, std::milli>(returned[sequence] - crossing->end).count();
        (sequence < firstSilence ? gaps : afterSilence).push_back(ms);
        busLag.push_back(
            std::chrono::duration<double, std::milli>(crossing->delivered - crossing->end).count());
        if (sequence < firstSilence) {
            afterDelivery.push_back(
                std::chrono::duration<double, std::milli>(returned[sequence] - crossing->delivered)
                    .count());
        }
    }
    Figures figures;
    figures["p50 ms"] = percentile(gaps, 0.50);
    figures["p99 ms"] = percentile(gaps, 0.99);
    figures["max ms"] = percentile(gaps, 1.0);
    figures["silence p99 ms"] = percentile(afterSilence, 0.99);
    figures["bus lag p50 ms"] = percentile(busLag, 0.50);
    figures["bus lag p99 ms"] = percentile(busLag, 0.99);
    figures["delivered p50 ms"] = percentile(afterDelivery, 0.50);
    figures["delivered p99 ms"] = percentile(afterDelivery, 0.99);
    figures["samples"] = static_cast<double>(gaps.size());
    figures["silence samples"] = static_cast<double>(afterSilence.size());
    figures["lost"] = static_cast<double>(injected - received);
    addCpuFigures(figures, cpu);
    return figures;
}

}  // namespace busbench

#include "tests/soak/Soak.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "api/PassThruFunctions.h"
#include "sim/SimWorld.h"
#include "sim/TrafficGenerator.h"
#include "tests/soak/ResourceSampler.h"

namespace vtx::soak {

using namespace std::chrono_literals;

namespace {

void putBe32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }
}

uint32_t getBe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

// A CAN message: the identifier in data bytes 0-3, then two 32-bit words.
PASSTHRU_MSG message(uint32_t id, uint32_t first = 0, uint32_t second = 0) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.DataSize = 12;
    putBe32(msg.Data, id);
    putBe32(msg.Data + 4, first);
    putBe32(msg.Data + 8, second);
    return msg;
}

uint32_t passFilter(uint32_t channelId, uint32_t id, uint32_t* filterId) {
    PASSTHRU_MSG mask = message(0x7FF);
    PASSTHRU_MSG pattern = message(id);
    mask.DataSize = pattern.DataSize = 4;
    return PassThruStartMsgFilter(channelId, PASS_FILTER, &mask, &pattern, nullptr, filterId);
}

sim::SimControl& control() {
    return sim::SimWorld::process().control();
}

}  // namespace

Soak::Soak(const SoakOptions& options) : options_(options) {
    busObserver_ = control().addBusObserver(
        [this](const sim::CanFrame&, sim::SimClock::time_point) { ++busFrames_; });
}

Soak::~Soak() {
    control().removeBusObserver(busObserver_);
}

int Soak::run() {
    const auto start = Clock::now();
    const auto end = start + options_.duration;
    lastSampleTime_ = start;
    auto nextWrite = start;
    auto nextChurn = start + options_.churnEvery;
    auto nextReplug = start + options_.replugEvery;
    auto nextSample = start + options_.sampleEvery;
    if (!openSession()) {
        return 1;
    }
    while (Clock::now() < end) {
        const auto now = Clock::now();
        if (now >= nextWrite) {
            writeBatch();
            // Behind by more than a few periods (a replug): start afresh rather than burst.
            nextWrite = std::max(nextWrite + options_.writeEvery, now - 5 * options_.writeEvery);
        }
        readAll();
        if (now >= nextChurn) {
            churnFilter();
            nextChurn += options_.churnEvery;
        }
        if (now >= nextReplug) {
            replug();
            nextReplug += options_.replugEvery;
        }
        if (now >= nextSample) {
            sample(start);
            nextSample += options_.sampleEvery;
        }
        std::this_thread::sleep_until(std::min(nextWrite, end));
    }
    readAll();
    sample(start);
    closeSession();
    return verdict();
}

// Open, connect at 500 kbit/s, loopback on, pass filters for the generator's frames and our
// echoes, two periodic messages.
bool Soak::openSession() {
    const uint32_t before = generatorPosition();
    bool ok = expect(PassThruOpen(nullptr, &deviceId_), {STATUS_NOERROR}, "open") &&
              expect(PassThruConnect(deviceId_, CAN, 0, 500000, &channelId_), {STATUS_NOERROR},
                     "connect");
    SCONFIG loopback{LOOPBACK, 1};
    SCONFIG_LIST config{1, &loopback};
    ok = ok && expect(PassThruIoctl(channelId_, SET_CONFIG, &config, nullptr), {STATUS_NOERROR},
                      "loopback");
    uint32_t filterId = 0;
    ok = ok && expect(passFilter(channelId_, sim::TrafficGenerator::kIdentifier, &filterId),
                      {STATUS_NOERROR}, "traffic filter");
    ok = ok && expect(passFilter(channelId_, kEchoId, &filterId), {STATUS_NOERROR}, "echo filter");
    for (uint32_t id : kPeriodicIds) {
        PASSTHRU_MSG msg = message(id, id, ~id);
        uint32_t msgId = 0;
        ok = ok &&
             expect(PassThruStartPeriodicMsg(channelId_, &msg, &msgId, options_.periodicIntervalMs),
                    {STATUS_NOERROR}, "periodic");
    }
    churnFilterId_ = 0;
    newSession();
    doubtSince(before);  // the filters of the setup reprogram the controller too
    return ok;
}

void Soak::closeSession() {
    expect(PassThruClose(deviceId_), {STATUS_NOERROR}, "close");
    deviceId_ = channelId_ = 0;
}

// Pulls the plug: once the loss is reported, close succeeds; plugged back in, a new session.
void Soak::replug() {
    ++replugs_;
    control().unplug();
    const auto deadline = Clock::now() + 5s;
    uint32_t status = STATUS_NOERROR;
    while (Clock::now() < deadline) {
        SCONFIG entry{LOOPBACK, 0};
        SCONFIG_LIST config{1, &entry};
        const auto start = Clock::now();
        status = PassThruIoctl(channelId_, GET_CONFIG, &config, nullptr);
        timed(start);
        if (status == ERR_DEVICE_NOT_CONNECTED) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    expect(status, {ERR_DEVICE_NOT_CONNECTED}, "loss reported");
    closeSession();
    control().plug();
    if (!openSession()) {
        std::fprintf(stderr, "soak: no session after replug %llu\n",
                     static_cast<unsigned long long>(replugs_));
    }
}

// The next numbered frames, second word the complement of the first; with Timeout 0 a full
// transmit queue takes what fits.
void Soak::writeBatch() {
    std::vector<PASSTHRU_MSG> batch;
    for (uint32_t i = 0; i < options_.framesPerWrite; ++i) {
        const uint32_t sequence = nextEchoSequence_ + i;
        batch.push_back(message(kEchoId, sequence, ~sequence));
    }
    auto count = static_cast<uint32_t>(batch.size());
    const auto start = Clock::now();
    const uint32_t status = PassThruWriteMsgs(channelId_, batch.data(), &count, 0);
    timed(start);
    if (expect(status, {STATUS_NOERROR, ERR_BUFFER_FULL}, "write")) {
        bufferFull_ += status == ERR_BUFFER_FULL;
        nextEchoSequence_ += count;
        written_ += count;
    }
}

void Soak::readAll() {
    std::vector<PASSTHRU_MSG> batch(256);
    for (;;) {
        auto count = static_cast<uint32_t>(batch.size());
        const auto start = Clock::now();
        const uint32_t status = PassThruReadMsgs(channelId_, batch.data(), &count, 0);
        timed(start);
        if (!expect(status, {STATUS_NOERROR, ERR_BUFFER_EMPTY, ERR_TIMEOUT}, "read")) {
            return;
        }
        std::for_each(batch.begin(), batch.begin() + count, [&](const auto& m) { take(m); });
        if (count < batch.size()) {
            return;
        }
    }
}

void Soak::take(const PASSTHRU_MSG& msg) {
    const uint32_t id = getBe32(msg.Data);
    const uint32_t first = getBe32(msg.Data + 4);
    const uint32_t second = getBe32(msg.Data + 8);
    const bool echo = (msg.RxStatus & TX_MSG_TYPE) != 0;
    if (id == sim::TrafficGenerator::kIdentifier && !echo) {
        traffic_.take(first, msg.DataSize == 12 && second == 0);
    } else if (id == kEchoId && echo) {
        echoes_.take(first, msg.DataSize == 12 && second == ~first);
    }
}

// Starts the extra filter, or stops it: each reprograms the controller, which clears its
// receive buffer, so the generator's frames around the change may be missing.
void Soak::churnFilter() {
    ++churns_;
    // What was delivered before the change is read now, so that the frames in doubt start at
    // the first one not yet delivered.
    readAll();
    const uint32_t firstInDoubt = traffic_.next();
    const auto start = Clock::now();
    if (churnFilterId_ == 0) {
        expect(passFilter(channelId_, kChurnId, &churnFilterId_), {STATUS_NOERROR}, "start filter");
    } else {
        expect(PassThruStopMsgFilter(channelId_, churnFilterId_), {STATUS_NOERROR}, "stop filter");
        churnFilterId_ = 0;
    }
    timed(start);
    doubtSince(firstInDoubt);
}

uint32_t Soak::generatorPosition() {
    const sim::TrafficGenerator* generator = sim::SimWorld::process().traffic();
    return generator != nullptr ? generator->framesQueued() : 0;
}

void Soak::doubtSince(uint32_t first) {
    traffic_.doubt(first, generatorPosition());
}

void Soak::newSession() {
    traffic_.newSession();
    echoes_.newSession();
}

void Soak::sample(Clock::time_point start) {
    const auto now = Clock::now();
    const ResourceSample s = ResourceSampler::sample();
    const bool warm = now - start >= options_.warmUp;
    if (warm) {
        growth_.add(s);
    }
    const double seconds = std::chrono::duration<double>(now - lastSampleTime_).count();
    const uint64_t bus = busFrames_.load();
    const double busRate =
        seconds > 0 ? static_cast<double>(bus - busFramesAtSample_) / seconds : 0;
    busFramesAtSample_ = bus;
    lastSampleTime_ = now;
    std::printf(
        "t=%4llds rss=%lldkB threads=%lld fds=%lld %s| bus=%.0f/s traffic=%llu lost=%llu "
        "gaps=%llu churned=%llu bad=%llu | echoes=%llu lost=%llu gaps=%llu bad=%llu | "
        "written=%llu full=%llu churns=%llu replugs=%llu errors=%llu longest=%lldms\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::seconds>(now - start).count()),
        static_cast<long long>(s.rssKb), static_cast<long long>(s.threads),
        static_cast<long long>(s.descriptors),
        warm ? (growth_.failure().empty() ? "" : "GROWTH ") : "(warm-up) ", busRate,
        static_cast<unsigned long long>(traffic_.frames()),
        static_cast<unsigned long long>(traffic_.lost()),
        static_cast<unsigned long long>(traffic_.expectedGaps()),
        static_cast<unsigned long long>(traffic_.missingInDoubt()),
        static_cast<unsigned long long>(traffic_.corrupt() + traffic_.outOfOrder()),
        static_cast<unsigned long long>(echoes_.frames()),
        static_cast<unsigned long long>(echoes_.lost()),
        static_cast<unsigned long long>(echoes_.expectedGaps()),
        static_cast<unsigned long long>(echoes_.corrupt() + echoes_.outOfOrder()),
        static_cast<unsigned long long>(written_), static_cast<unsigned long long>(bufferFull_),
        static_cast<unsigned long long>(churns_), static_cast<unsigned long long>(replugs_),
        static_cast<unsigned long long>(errors_), static_cast<long long>(longestCallMs_));
    std::fflush(stdout);
}

int Soak::verdict() const {
    bool failed = false;
    const auto fail = [&](bool condition, const char* what) {
        if (condition) {
            std::printf("FAIL: %s\n", what);
            failed = true;
        }
    };
    fail(traffic_.frames() == 0 || echoes_.frames() == 0, "no frames received");
    fail(traffic_.lost() + echoes_.lost() > 0, "frames lost outside filter changes and replugs");
    fail(traffic_.corrupt() + echoes_.corrupt() > 0, "frames damaged");
    fail(traffic_.outOfOrder() + echoes_.outOfOrder() > 0, "frames out of order");
    fail(errors_ > 0, "calls answered an unexpected status");
    fail(!growth_.failure().empty(), growth_.failure().c_str());
    fail(!growth_.hasBaseline(), "the run ended before warm-up did: nothing judged");
    std::printf(failed ? "soak: FAILED\n" : "soak: passed\n");
    return failed ? 1 : 0;
}

bool Soak::expect(uint32_t status, std::initializer_list<uint32_t> expected, const char* what) {
    if (std::find(expected.begin(), expected.end(), status) != expected.end()) {
        return true;
    }
    if (errors_++ < 20) {
        std::fprintf(stderr, "soak: %s answered status %u\n", what, status);
    }
    return false;
}

void Soak::timed(Clock::time_point start) {
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    longestCallMs_ = std::max<int64_t>(longestCallMs_, took);
}

}  // namespace vtx::soak

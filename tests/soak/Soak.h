// The soak run: one session after another against the simulated device, each about a minute
// long and ended by pulling the plug. In each session the application writes numbered frames
// with loopback on, two periodic messages run, the traffic generator's numbered frames arrive
// from the bus, and a filter is started and stopped over and over. Everything received is
// checked for loss and damage; the process's footprint is sampled and must not grow once warm.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>

#include "base/J2534.h"
#include "tests/soak/GrowthCheck.h"
#include "tests/soak/SequenceChecker.h"

namespace vtx::soak {

struct SoakOptions {
    std::chrono::seconds duration{60};
    std::chrono::seconds warmUp{120};
    std::chrono::seconds sampleEvery{10};
    std::chrono::seconds replugEvery{60};
    std::chrono::milliseconds writeEvery{10};
    std::chrono::milliseconds churnEvery{500};
    uint32_t framesPerWrite = 10;  // with writeEvery: 1000 frames/s from the application
    uint32_t periodicIntervalMs = 10;
};

class Soak {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr uint32_t kEchoId = 0x321;
    static constexpr uint32_t kChurnId = 0x7E8;
    static constexpr uint32_t kPeriodicIds[2] = {0x400, 0x401};

    explicit Soak(const SoakOptions& options);
    ~Soak();
    Soak(const Soak&) = delete;
    Soak& operator=(const Soak&) = delete;

    // Runs for the whole duration; the process's exit code: 0 when nothing was lost, damaged
    // or leaked and every call answered as expected.
    int run();

  private:
    bool openSession();
    void closeSession();
    void replug();
    void writeBatch();
    void readAll();
    void take(const PASSTHRU_MSG& msg);
    void churnFilter();
    void sample(Clock::time_point start);
    void newSession();
    // The generator's next sequence number (0 without a generator).
    static uint32_t generatorPosition();
    // Generator frames from first until now may be missing.
    void doubtSince(uint32_t first);
    int verdict() const;

    // Counts a status outside the expected ones as an error; whether it was expected.
    bool expect(uint32_t status, std::initializer_list<uint32_t> expected, const char* what);
    // Keeps the longest time any call took.
    void timed(Clock::time_point start);

    const SoakOptions options_;
    uint32_t deviceId_ = 0;
    uint32_t channelId_ = 0;
    uint32_t churnFilterId_ = 0;
    uint32_t nextEchoSequence_ = 0;

    SequenceChecker traffic_;
    SequenceChecker echoes_;
    GrowthCheck growth_;
    int busObserver_ = -1;
    std::atomic<uint64_t> busFrames_{0};  // written by the bus's thread
    uint64_t busFramesAtSample_ = 0;
    Clock::time_point lastSampleTime_;
    uint64_t written_ = 0;
    uint64_t bufferFull_ = 0;
    uint64_t churns_ = 0;
    uint64_t replugs_ = 0;
    uint64_t errors_ = 0;
    int64_t longestCallMs_ = 0;
};

}  // namespace vtx::soak

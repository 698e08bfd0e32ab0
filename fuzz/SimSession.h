// One run of the simulated device on fuzzed host traffic: a fresh world (bus, device, ECU, and
// traffic when the input asks), then the input as a sequence of host actions on the device's
// pipes: arbitrary byte sequences written, reads of arbitrary size with short timeouts, faults
// armed, frames put on the bus, the device unplugged and plugged again. The device's threads run
// throughout; the world is torn down at the end of the run.
#pragma once

#include <memory>

#include "fuzz/FuzzInput.h"
#include "sim/SimWorld.h"

namespace vtx::fuzz {

class SimSession {
  public:
    explicit SimSession(FuzzInput& input);
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    void run();

  private:
    static sim::SimConfig configFrom(uint8_t settings);
    void step();
    void write();
    void read();
    void armFault();
    void replug();
    void injectFrame();

    FuzzInput& input_;
    std::unique_ptr<sim::SimWorld> world_;
};

}  // namespace vtx::fuzz

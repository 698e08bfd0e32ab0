// A sequence of calls of the fourteen exported functions, with arbitrary arguments, drawn from
// the fuzzer's input against the simulated device. Identifiers that calls return are kept, so
// that later calls can use them (or arbitrary ones instead). The sequence ends by closing the
// device, so that nothing stays open for the next input.
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz/ApiArguments.h"
#include "fuzz/FuzzInput.h"

namespace vtx::fuzz {

class ApiSequence {
  public:
    explicit ApiSequence(FuzzInput& input);

    void run();

  private:
    void step();
    void open();
    void close();
    void connect();
    void disconnect();
    void readMsgs();
    void writeMsgs();
    void startPeriodic();
    void stopPeriodic();
    void startFilter();
    void stopFilter();
    void setProgrammingVoltage();
    void readVersion();
    void getLastError();
    void ioctl();
    void* ioctlInput();
    char* textBuffer(int which);
    // Where a call returns an identifier: nullptr when the input says so.
    uint32_t* resultSlot();
    void keepResult(uint32_t status, std::vector<uint32_t>& known);

    FuzzInput& input_;
    ApiArguments args_;
    std::vector<uint32_t> devices_;
    std::vector<uint32_t> channels_;
    std::vector<uint32_t> periodics_;
    std::vector<uint32_t> filters_;
    int voltageCalls_ = 0;
    uint32_t result_ = 0;
    uint32_t value_ = 0;
    uint32_t output_[16] = {};
    char texts_[3][80] = {};
};

}  // namespace vtx::fuzz

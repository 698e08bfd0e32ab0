// The arguments of the fourteen functions, drawn from the fuzzer's input: identifiers taken
// from earlier results or arbitrary, protocol identifiers, flags, bit rates, messages of any
// size fields, configuration lists. The buffers it hands out live until the next call that
// builds the same kind of buffer, and are never smaller than the count that goes with them.
#pragma once

#include <cstdint>
#include <vector>

#include "base/J2534.h"
#include "fuzz/FuzzInput.h"

namespace vtx::fuzz {

class ApiArguments {
  public:
    static constexpr uint32_t kMaxMessages = 8;
    static constexpr uint32_t kMaxParams = 4;

    explicit ApiArguments(FuzzInput& input);

    // One of the known identifiers (results of earlier calls), a small number, or any 32 bits.
    uint32_t id(const std::vector<uint32_t>& known);
    uint32_t protocolId();
    uint32_t connectFlags();
    uint32_t baudRate();
    uint32_t filterType();
    uint32_t ioctlId();
    // Small: a timeout the call may spend waiting, in milliseconds.
    uint32_t shortTimeout();
    uint32_t periodicInterval();

    // nullptr when the input says so, otherwise a buffer of count messages (count up to
    // kMaxMessages) filled from the input; the count is returned in count.
    PASSTHRU_MSG* messages(uint32_t& count);
    // nullptr, or a buffer of kMaxMessages messages to read into.
    PASSTHRU_MSG* readBuffer();
    // nullptr or one message; each of the kSlots slots holds one, so that a call can take
    // several.
    static constexpr int kSlots = 3;
    PASSTHRU_MSG* message(int slot);
    // A message count for a buffer of capacity messages: up to the capacity, or anything at all
    // when there is no buffer.
    uint32_t countFor(const PASSTHRU_MSG* buffer, uint32_t capacity);
    // nullptr, or a configuration list (its NumOfParams never above its array, which may be
    // missing). Also serves the ioctls whose input is a single 32-bit value.
    SCONFIG_LIST* configList();
    bool nullPointer();

  private:
    void fillMessage(PASSTHRU_MSG& msg);
    uint32_t dataSize();

    FuzzInput& input_;
    std::vector<PASSTHRU_MSG> messages_;
    std::vector<PASSTHRU_MSG> slots_;
    std::vector<SCONFIG> params_;
    SCONFIG_LIST list_{};
};

}  // namespace vtx::fuzz

// A CAN message as an application hands it to the library: the identifier in data bytes 0 to 3,
// most significant first, then the payload.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "base/J2534.h"

namespace vtx::test {

inline PASSTHRU_MSG canMessage(uint32_t id, std::initializer_list<uint8_t> data) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.DataSize = static_cast<uint32_t>(4 + data.size());
    msg.Data[0] = static_cast<uint8_t>(id >> 24);
    msg.Data[1] = static_cast<uint8_t>(id >> 16);
    msg.Data[2] = static_cast<uint8_t>(id >> 8);
    msg.Data[3] = static_cast<uint8_t>(id);
    uint32_t at = 4;
    for (uint8_t byte : data) {
        msg.Data[at++] = byte;
    }
    return msg;
}

}  // namespace vtx::test

#include "api/InPlaceWidening.h"

#include <cstdint>
#include <cstring>

namespace vtx {

namespace {
// The six integers in front of a 32-bit message's data.
struct NarrowHeader {
    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;
    uint32_t DataSize;
    uint32_t ExtraDataIndex;
};
static_assert(sizeof(NarrowHeader) == offsetof(PASSTHRU_MSG, Data));
static_assert(sizeof(PASSTHRU_MSG) < sizeof(wide::Message));
}  // namespace

PASSTHRU_MSG* narrowView(wide::Message* caller) {
    return reinterpret_cast<PASSTHRU_MSG*>(caller);
}

void widenInPlace(wide::Message* caller, std::size_t count) {
    auto* bytes = reinterpret_cast<unsigned char*>(caller);
    for (std::size_t i = count; i-- > 0;) {
        const unsigned char* narrow = bytes + i * sizeof(PASSTHRU_MSG);
        NarrowHeader header;
        std::memcpy(&header, narrow, sizeof header);
        // The data first: the caller's header of this message may cover the 32-bit data.
        std::memmove(caller[i].Data, narrow + sizeof header, wide::dataBytesOf(header.DataSize));
        caller[i].ProtocolID = header.ProtocolID;
        caller[i].RxStatus = header.RxStatus;
        caller[i].TxFlags = header.TxFlags;
        caller[i].Timestamp = header.Timestamp;
        caller[i].DataSize = header.DataSize;
        caller[i].ExtraDataIndex = header.ExtraDataIndex;
    }
}

}  // namespace vtx

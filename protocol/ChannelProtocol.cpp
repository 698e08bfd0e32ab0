#include "protocol/ChannelProtocol.h"

#include "protocol/CanProtocol.h"

namespace vtx {

ProtocolVerdict checkConnect(uint32_t protocolId, uint32_t flags) {
    if (protocolId != CAN) {
        return {ERR_NOT_SUPPORTED};
    }
    if ((flags & ~(CAN_29BIT_ID | CAN_ID_BOTH)) != 0) {
        return {ERR_INVALID_FLAGS};
    }
    return {};
}

std::unique_ptr<ChannelProtocol> createChannelProtocol(uint32_t protocolId, uint32_t flags) {
    if (protocolId == CAN) {
        return std::make_unique<CanProtocol>(flags);
    }
    return nullptr;
}

}  // namespace vtx

// The trace macro of UsbProtocolDevice's sources: the events of the protocol operations, written
// only by a driver family that traces them (TraceIdentity::protocolEvents).
#pragma once

#include "trace/TraceProvider.h"

#define PROTOCOL_TRACE(message, ...)                                                             \
    do {                                                                                         \
        if (identity_.protocolEvents == ProtocolEvents::Written) {                               \
            VTX_TRACE(identity_.group, identity_.eventName, message __VA_OPT__(, ) __VA_ARGS__); \
        }                                                                                        \
    } while (false)

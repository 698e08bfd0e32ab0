#include "tools/ptcan/UlongCalls.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "api/WideRecords.h"

namespace ptcan {

namespace {
using vtx::wide::Config;
using vtx::wide::ConfigList;
using vtx::wide::Integer;
using vtx::wide::Message;

constexpr std::size_t kDataBytes = sizeof PASSTHRU_MSG::Data;

// All of Data for a filter's or periodic message, whose bytes past DataSize a library may read.
std::size_t dataBytes(Integer dataSize, bool wholeData) {
    return wholeData ? kDataBytes : vtx::wide::dataBytesOf(dataSize);
}

void narrow(const Message& from, PASSTHRU_MSG& to) {
    to.ProtocolID = static_cast<uint32_t>(from.ProtocolID);
    to.RxStatus = static_cast<uint32_t>(from.RxStatus);
    to.TxFlags = static_cast<uint32_t>(from.TxFlags);
    to.Timestamp = static_cast<uint32_t>(from.Timestamp);
    to.DataSize = static_cast<uint32_t>(from.DataSize);
    to.ExtraDataIndex = static_cast<uint32_t>(from.ExtraDataIndex);
    std::memcpy(to.Data, from.Data, dataBytes(from.DataSize, false));
}

// Room for a call's messages: a pointer where the caller gave one, even for none.
std::unique_ptr<Message[]> roomFor(const PASSTHRU_MSG* messages, uint32_t count) {
    return messages != nullptr ? std::make_unique_for_overwrite<Message[]>(std::max(count, 1u))
                               : nullptr;
}

// One message in for the library (a filter's or a periodic message: all of its data).
struct WideOne {
    explicit WideOne(const PASSTHRU_MSG* message) {
        if (message != nullptr) {
            vtx::wide::widen(*message, value, dataBytes(message->DataSize, true));
        }
        pointer = message != nullptr ? &value : nullptr;
    }
    Message value;
    Message* pointer;
};

// An integer the library writes through a pointer, given back in 32 bits.
struct WideOut {
    explicit WideOut(uint32_t* target, uint32_t initial = 0) : caller(target), value(initial) {}
    Integer* get() { return caller != nullptr ? &value : nullptr; }
    void giveBack() const {
        if (caller != nullptr) {
            *caller = static_cast<uint32_t>(value);
        }
    }
    uint32_t* caller;
    Integer value;
};

template <typename Function>
Function as(void* symbol) {
    return reinterpret_cast<Function>(symbol);
}

using Close = Integer (*)(Integer);
using Connect = Integer (*)(Integer, Integer, Integer, Integer, Integer*);
using Transfer = Integer (*)(Integer, Message*, Integer*, Integer);
using StartPeriodic = Integer (*)(Integer, Message*, Integer*, Integer);
using TwoIds = Integer (*)(Integer, Integer);
using StartFilter = Integer (*)(Integer, Integer, Message*, Message*, Message*, Integer*);
using Voltage = Integer (*)(Integer, Integer, Integer);
using ReadVersion = Integer (*)(Integer, char*, char*, char*);
using GetLastError = Integer (*)(char*);
using Ioctl = Integer (*)(Integer, Integer, void*, void*);

// A status: the low half of what the library returned.
uint32_t status(Integer returned) {
    return static_cast<uint32_t>(returned);
}

// A read asks for at most this many messages at once, so that the room for them stays bounded
// whatever count the caller gives (the library's own receive queue holds no more).
constexpr uint32_t kMostRead = 65536;

uint32_t readMessages(Transfer read, uint32_t channel, PASSTHRU_MSG* messages, uint32_t* count,
                      uint32_t timeout) {
    const uint32_t asked = count != nullptr ? std::min(*count, kMostRead) : 0;
    WideOut wideCount(count, asked);
    const std::unique_ptr<Message[]> room = roomFor(messages, asked);
    const uint32_t result = status(read(channel, room.get(), wideCount.get(), timeout));
    if (room != nullptr && count != nullptr) {
        const auto got = static_cast<uint32_t>(std::min<Integer>(wideCount.value, asked));
        for (uint32_t i = 0; i < got; ++i) {
            narrow(room[i], messages[i]);
        }
    }
    wideCount.giveBack();
    return result;
}

uint32_t writeMessages(Transfer write, uint32_t channel, PASSTHRU_MSG* messages, uint32_t* count,
                       uint32_t timeout) {
    const uint32_t offered = count != nullptr ? *count : 0;
    WideOut wideCount(count, offered);
    const std::unique_ptr<Message[]> room = roomFor(messages, offered);
    for (uint32_t i = 0; room != nullptr && i < offered; ++i) {
        vtx::wide::widen(messages[i], room[i], dataBytes(messages[i].DataSize, false));
    }
    const uint32_t result = status(write(channel, room.get(), wideCount.get(), timeout));
    wideCount.giveBack();
    return result;
}

// GET_CONFIG and SET_CONFIG: the list in unsigned longs, and the values the library wrote back.
uint32_t configure(Ioctl ioctl, uint32_t channel, uint32_t id, SCONFIG_LIST* list, void* output) {
    if (list == nullptr) {
        return status(ioctl(channel, id, nullptr, output));
    }
    const std::size_t count = list->ConfigPtr != nullptr ? list->NumOfParams : 0;
    // Never empty: a list the caller gave, even of no entries, is not a missing one.
    std::vector<Config> entries(std::max<std::size_t>(count, 1));
    for (std::size_t i = 0; i < count; ++i) {
        entries[i] = {list->ConfigPtr[i].Parameter, list->ConfigPtr[i].Value};
    }
    ConfigList wideList{list->NumOfParams, list->ConfigPtr != nullptr ? entries.data() : nullptr};
    const uint32_t result = status(ioctl(channel, id, &wideList, output));
    for (std::size_t i = 0; id == GET_CONFIG && i < count; ++i) {
        list->ConfigPtr[i].Value = static_cast<uint32_t>(entries[i].Value);
    }
    return result;
}

uint32_t control(Ioctl ioctl, uint32_t channel, uint32_t id, void* input, void* output) {
    switch (id) {
        case GET_CONFIG:
        case SET_CONFIG:
            return configure(ioctl, channel, id, static_cast<SCONFIG_LIST*>(input), output);
        case SET_TERM_RESISTOR:
        case GET_TERM_RESISTOR: {
            auto* in = static_cast<uint32_t*>(input);
            Integer wideIn = in != nullptr ? *in : 0;
            WideOut out(static_cast<uint32_t*>(output));
            const uint32_t result =
                status(ioctl(channel, id, in != nullptr ? &wideIn : nullptr, out.get()));
            if (result == STATUS_NOERROR) {
                out.giveBack();
            }
            return result;
        }
        default:
            return status(ioctl(channel, id, input, output));
    }
}
}  // namespace

void bridgeUnsignedLong(PassThruLibrary& library, const PassThruLibrary::Symbols& symbols) {
    const auto close = as<Close>(symbols[1]);
    const auto connect = as<Connect>(symbols[2]);
    const auto disconnect = as<Close>(symbols[3]);
    const auto read = as<Transfer>(symbols[4]);
    const auto write = as<Transfer>(symbols[5]);
    const auto startPeriodic = as<StartPeriodic>(symbols[6]);
    const auto stopPeriodic = as<TwoIds>(symbols[7]);
    const auto startFilter = as<StartFilter>(symbols[8]);
    const auto stopFilter = as<TwoIds>(symbols[9]);
    const auto voltage = as<Voltage>(symbols[10]);
    const auto readVersion = as<ReadVersion>(symbols[11]);
    const auto getLastError = as<GetLastError>(symbols[12]);
    const auto ioctl = as<Ioctl>(symbols[13]);

    library.close = [close](uint32_t device) { return status(close(device)); };
    library.connect = [connect](uint32_t device, uint32_t protocol, uint32_t flags,
                                uint32_t baudRate, uint32_t* pChannelID) {
        WideOut channel(pChannelID);
        const uint32_t result = status(connect(device, protocol, flags, baudRate, channel.get()));
        if (result == STATUS_NOERROR) {
            channel.giveBack();
        }
        return result;
    };
    library.disconnect = [disconnect](uint32_t channel) { return status(disconnect(channel)); };
    library.readMsgs = [read](uint32_t channel, PASSTHRU_MSG* messages, uint32_t* count,
                              uint32_t timeout) {
        return readMessages(read, channel, messages, count, timeout);
    };
    library.writeMsgs = [write](uint32_t channel, PASSTHRU_MSG* messages, uint32_t* count,
                                uint32_t timeout) {
        return writeMessages(write, channel, messages, count, timeout);
    };
    library.startPeriodicMsg = [startPeriodic](uint32_t channel, PASSTHRU_MSG* message,
                                               uint32_t* pMsgID, uint32_t interval) {
        WideOne wide(message);
        WideOut id(pMsgID);
        const uint32_t result = status(startPeriodic(channel, wide.pointer, id.get(), interval));
        if (result == STATUS_NOERROR) {
            id.giveBack();
        }
        return result;
    };
    library.stopPeriodicMsg = [stopPeriodic](uint32_t channel, uint32_t id) {
        return status(stopPeriodic(channel, id));
    };
    library.startMsgFilter = [startFilter](uint32_t channel, uint32_t type, PASSTHRU_MSG* mask,
                                           PASSTHRU_MSG* pattern, PASSTHRU_MSG* flowControl,
                                           uint32_t* pFilterID) {
        WideOne wideMask(mask);
        WideOne widePattern(pattern);
        WideOne wideFlowControl(flowControl);
        WideOut id(pFilterID);
        const uint32_t result =
            status(startFilter(channel, type, wideMask.pointer, widePattern.pointer,
                               wideFlowControl.pointer, id.get()));
        if (result == STATUS_NOERROR) {
            id.giveBack();
        }
        return result;
    };
    library.stopMsgFilter = [stopFilter](uint32_t channel, uint32_t id) {
        return status(stopFilter(channel, id));
    };
    library.setProgrammingVoltage = [voltage](uint32_t device, uint32_t pin, uint32_t value) {
        return status(voltage(device, pin, value));
    };
    library.readVersion = [readVersion](uint32_t device, char* firmware, char* dll, char* api) {
        return status(readVersion(device, firmware, dll, api));
    };
    library.getLastError = [getLastError](char* text) { return status(getLastError(text)); };
    library.ioctl = [ioctl](uint32_t channel, uint32_t id, void* input, void* output) {
        return control(ioctl, channel, id, input, output);
    };
}

}  // namespace ptcan

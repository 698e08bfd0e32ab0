#include "channel/Channel.h"
#include "device/Device.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

namespace {

void traceFilterStart(uint32_t ChannelID, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                      PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                      uint32_t lastError) {
    if (FilterType == FLOW_CONTROL_FILTER && pFlowControlMsg != nullptr) {
        VTX_TRACE(op::kGroup, op::kEvent, place::kStartFilterStarted, u32("chID", ChannelID),
                  u32("filterType", FilterType), hex("pMaskMsg", op::canIdOf(pMaskMsg)),
                  hex("pPatternMsg", op::canIdOf(pPatternMsg)),
                  hex("pFlowControlMsg", op::canIdOf(pFlowControlMsg)),
                  hex("pMaskTxMsgFlags", op::txFlagsOf(pMaskMsg)),
                  hex("pPatternTxMsgFlags", op::txFlagsOf(pPatternMsg)),
                  hex("pFlowControlMsgTxFlags", op::txFlagsOf(pFlowControlMsg)),
                  u32("lastError", lastError));
    } else {
        VTX_TRACE(op::kGroup, op::kEvent, place::kStartFilterStarted, u32("chID", ChannelID),
                  u32("filterType", FilterType), hex("pMaskMsg", op::canIdOf(pMaskMsg)),
                  hex("pPatternMsg", op::canIdOf(pPatternMsg)),
                  hex("pMaskMsgTxFlags", op::txFlagsOf(pMaskMsg)),
                  hex("pPatternMsgTxFlags", op::txFlagsOf(pPatternMsg)),
                  u32("lastError", lastError));
    }
}

// Whether a filter lets frames in: one that is not a block filter (those only keep frames out)
// and applies to an identifier width.
bool letsFramesIn(const FilterRecord& filter) {
    return filter.filterType != BLOCK_FILTER && filter.widths != 0;
}

// The device's mask (bit 1: not compared) of a merged mask, in 29 bits: uncut, a mask that
// compares nothing would be the device's kKeepValue and keep the mask it has.
uint32_t deviceMaskOf(uint32_t mask) {
    return ~mask & kCanIdMask29;
}
}  // namespace

// The controller compares an identifier bit only where the codes of every filter that lets
// frames in agree (over every channel) and no such filter's own mask leaves the bit open within
// the widest identifier width it applies to, so it never holds back a frame a filter admits. A
// filter with code and mask 0 admits every identifier: nothing is compared. The controller sees
// no data bytes: a filter's data byte narrows nothing here. Where any channel carries both
// widths the device compares nothing at all (Device::configure with bothIdWidths).
void PassThru::mergeAcceptanceFilters(uint32_t& code, uint32_t& mask) {
    VTX_TRACE(op::kGroup, op::kEvent, place::kAcceptanceFilterStarted);
    std::vector<FilterRecord> admitting;
    for (const std::unique_ptr<Channel>& channel : channels) {
        for (const FilterRecord& filter : channel->filters()) {
            if (letsFramesIn(filter)) {
                admitting.push_back(filter);
            }
        }
    }
    mask = kCanIdMask29;
    code = admitting.empty() ? 0 : admitting.front().code;
    for (const FilterRecord& filter : admitting) {
        if (filter.code == 0 && filter.mask == 0) {
            mask = 0;
            break;
        }
        mask &= ~(filter.code ^ code);
        mask &= filter.mask | ~filter.identifierBits();
    }
    code &= mask;
    VTX_TRACE(op::kGroup, op::kEvent, place::kAcceptanceFilterEnded, hex("acc", code),
              hex("mask", mask));
}

uint32_t PassThru::passThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                          PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                          PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID) {
    Channel* channel = nullptr;
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            traceFilterStart(ChannelID, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg,
                             lastError());
        },
        [&] {
            channel = guardedChannel(ChannelID);
            if (channel != nullptr) {
                startFilter(*channel, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg,
                            pFilterID);
            }
        },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStartFilterEnded,
                      hex("pFilterID", op::valueAt(pFilterID)),
                      u32("numFilter",
                          channel != nullptr ? static_cast<uint32_t>(channel->filterCount()) : 0),
                      u32("lastError", lastError()));
        });
}

void PassThru::startFilter(Channel& channel, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                           PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                           uint32_t* pFilterID) {
    if (pMaskMsg == nullptr || pPatternMsg == nullptr || pFilterID == nullptr) {
        return setStatus(ERR_NULL_PARAMETER);
    }
    const FilterRequest request{FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg};
    if (const ProtocolVerdict verdict = channel.checkFilter(request); !verdict.accepted()) {
        return refuse(verdict);
    }
    if (!checkDevicePresent()) {
        return;
    }
    const std::optional<FilterRecord> added = channel.addFilter(request);
    if (!added) {
        return setStatus(ERR_EXCEEDED_LIMIT);
    }
    *pFilterID = added->id;
    onDevice(ReplyTimeout::Short, [&] {
        programAcceptance();
        // The device's buffers are emptied once, when a channel gets its first filter.
        if (channel.filterCount() == 1) {
            device()->clearBuffers();
        }
    });
}

uint32_t PassThru::passThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    ProgrammedAcceptance programmed;
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStopFilterStarted, u32("chID", ChannelID),
                      u32("filterID", FilterID), u32("lastError", lastError()));
        },
        [&] { stopFilter(ChannelID, FilterID, programmed); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStopFilterEnded, hex("code", programmed.code),
                      hex("mask", programmed.deviceMask), u32("lastError", lastError()));
        });
}

// The acceptance programmed afterwards comes back in programmed.
void PassThru::stopFilter(uint32_t ChannelID, uint32_t FilterID, ProgrammedAcceptance& programmed) {
    Channel* channel = guardedChannel(ChannelID);
    if (channel == nullptr) {
        return;
    }
    if (!channel->hasFilter(FilterID)) {
        return setStatus(ERR_INVALID_FILTER_ID);
    }
    if (!checkDevicePresent()) {
        return;
    }
    channel->removeFilter(FilterID);
    onDevice(ReplyTimeout::Short, [&] { programmed = programAcceptance(); });
}

// The one place the controller's acceptance follows the filters, after every change to them or
// to the channels. With no filter left anywhere the controller admits every frame, as after
// connect (the thread reads nothing from the device then); a controller that admits every
// frame already is left as it is, since reprogramming it only restarts it, and the identifier
// widths do not matter to it. On the thread: it works on the device.
PassThru::ProgrammedAcceptance PassThru::programAcceptance() {
    ProgrammedAcceptance programmed;
    if (channels.filterCount() == 0) {
        programmed = {kOpenFilter, kOpenFilter};
        const DeviceInfo& info = device()->info();
        if (info.Id == kOpenFilter && info.Mk == kOpenFilter) {
            return programmed;
        }
    } else {
        uint32_t mask = 0;
        mergeAcceptanceFilters(programmed.code, mask);
        programmed.deviceMask = deviceMaskOf(mask);
    }
    if (!device()->configure({.acceptanceId = programmed.code,
                              .acceptanceMask = programmed.deviceMask,
                              .bitRateKbps = currentBaudrate,
                              .outputBus = 0,
                              .extendedIds = onlyExtendedIds(),
                              .bothIdWidths = bothIdWidths()})) {
        setFailed(text::kWriteSettingsFailed);
        return {};
    }
    return programmed;
}

}  // namespace vtx

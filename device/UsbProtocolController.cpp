// UsbProtocolDevice: the CAN controller's configuration. A request is merged into the settings
// record; when that changed anything (or the request forces it) the controller is disabled and
// enabled again with the record.
#include "device/DevicePackets.h"
#include "device/UsbProtocolDevice.h"
#include "device/UsbProtocolTrace.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

namespace {
// The bit rates the controller can be programmed with, in kbit/s: the channel rates and 100.
bool isAdmittedBitRate(uint32_t kbps) {
    return kbps == 100 || kbps == 125 || kbps == 250 || kbps == 500 || kbps == 1000;
}

bool asksNothing(const ControllerRequest& request) {
    return request.acceptanceId == kKeepValue && request.acceptanceMask == kKeepValue &&
           request.bitRateKbps == kKeepValue && request.outputBus == kKeepBus &&
           request.reprogramming == Reprogramming::WhenChanged;
}
}  // namespace

bool UsbProtocolDevice::configure(const ControllerRequest& request) {
    if (request.replacement) {
        commParams_ = *request.replacement;
    }
    const ElapsedTimer timer;
    PROTOCOL_TRACE(place::kBusSettingsStarted, u32("BrR", request.bitRateKbps),
                   hex("IdR", request.acceptanceId), hex("MkR", request.acceptanceMask),
                   u32("ExtR", request.extendedIds), u32("BusR", request.outputBus),
                   u32("BusR", request.secondBus), u32("fdR", request.canFd),
                   u32("canIdBoth", request.bothIdWidths));
    if (!isOpen() || request.canFd) {
        return false;
    }
    if (asksNothing(request)) {
        return true;
    }
    const bool force = request.reprogramming == Reprogramming::Always;
    Reconfiguration step{force, force, false};
    if (!mergeOutputBus(request.outputBus, step)) {
        return false;
    }
    mergeIdentifierMode(request, step);
    if (!mergeBitRate(request.bitRateKbps, step)) {
        return false;
    }
    if (!step.reprogram && !step.changed) {
        return true;
    }
    return reprogramController(request.secondBus, timer);
}

// Another output bus needs a device that offers the choice; it reprograms the controller.
bool UsbProtocolDevice::mergeOutputBus(uint8_t bus, Reconfiguration& step) {
    if (bus == kKeepBus || bus == commParams_.Bus) {
        return true;
    }
    if (bus > kSecondOutputBus || deviceInfo_.outBusSupported != kOutputBusChoiceOfTwo) {
        return false;
    }
    commParams_.Bus = bus;
    step.changed = true;
    step.force = true;
    return true;
}

void UsbProtocolDevice::mergeIdentifierMode(const ControllerRequest& request,
                                            Reconfiguration& step) {
    if (static_cast<uint8_t>(request.extendedIds) != commParams_.Ext) {
        commParams_.Ext = request.extendedIds;
        step.changed = true;
    }
    if (static_cast<uint8_t>(request.bothIdWidths) != commParams_.canIdBoth) {
        commParams_.canIdBoth = request.bothIdWidths;
        step.changed = true;
    }
    step.changed = mergeAcceptance(request.acceptanceId, commParams_.Id) || step.changed;
    step.changed = mergeAcceptance(request.acceptanceMask, commParams_.Mk) || step.changed;
}

// Merges one acceptance value: kKeepValue keeps the field, kOpenFilter is stored as it is,
// anything else is cut to the record's identifier width. True when the record counts as changed.
bool UsbProtocolDevice::mergeAcceptance(uint32_t value, uint32_t& field) {
    if (value == kKeepValue) {
        return false;
    }
    if (value == kOpenFilter) {
        field = value;
        return true;
    }
    const uint32_t cut = value & (commParams_.Ext ? kCanIdMask29 : kCanIdMask11);
    if (cut == field) {
        return false;
    }
    field = cut;
    return true;
}

// The bit rate of a running controller on the first bus changes only with force.
bool UsbProtocolDevice::mergeBitRate(uint32_t kbps, Reconfiguration& step) {
    if (kbps == kControllerOff) {
        stopController();
        return true;
    }
    if (kbps == kKeepValue) {
        return true;
    }
    if (!isAdmittedBitRate(kbps)) {
        return false;
    }
    if (commParams_.Bus == kSecondOutputBus) {
        step.reprogram = kbps != commParams_.baudrate;
        commParams_.baudrate = kbps;
    } else if (step.force || deviceInfo_.baudrate == 0) {
        commParams_.baudrate = kbps;
        step.reprogram = true;
    } else if (kbps != commParams_.baudrate) {
        return false;
    }
    return true;
}

bool UsbProtocolDevice::reprogramController(uint32_t secondBus, const ElapsedTimer& started) {
    PROTOCOL_TRACE(place::kBusSettingsReprogramming, u32("Br", commParams_.baudrate),
                   hex("Id", commParams_.Id), hex("Mk", commParams_.Mk),
                   u32("Ext", commParams_.Ext), u32("Bus", commParams_.Bus), u32("Bus", secondBus),
                   u32("fd", commParams_.fd));
    disableController(DisableWhen::Running);
    const bool ret = enableController();
    PROTOCOL_TRACE(place::kBusSettingsEnded, u32("Br", commParams_.baudrate),
                   hex("Id", commParams_.Id), hex("Mk", commParams_.Mk),
                   u32("Ext", commParams_.Ext), u32("Bus", commParams_.Bus), u32("Bus", secondBus),
                   u32("fd", commParams_.fd), u32("ret", ret), u32("t", started.elapsed()));
    return ret;
}

bool UsbProtocolDevice::enableController() {
    const ElapsedTimer timer;
    PROTOCOL_TRACE(place::kControllerEnableStarted, u32("enableControllerCAN", controllerRunning_),
                   u32("baudrate", commParams_.baudrate),
                   u32("SamplePoint", commParams_.SamplePoint), u32("Sjw", commParams_.Sjw));
    if (!isOpen()) {
        return true;
    }
    ControllerTiming timing;
    if (!controllerTimingFor(commParams_, deviceInfo_, timing)) {
        return false;
    }
    PROTOCOL_TRACE(place::kControllerTimingCalculated, u32("spt", timing.samplePoint),
                   u32("sjw", timing.sjw), u32("clk", timing.clock), u32("brp", timing.brp),
                   u32("tseg1", timing.tseg1), u32("tseg2", timing.tseg2),
                   hex("cbtr0", timing.btr0), hex("cbtr1", timing.btr1));
    uint8_t command[packet::kEnableCommandSize];
    packet::buildEnableCommand(command, timing.btr0, timing.btr1, commParams_);
    const bool ret = writeBuffer(command, sizeof command) == packet::kEnableCommandSize;
    if (ret) {
        recordRealisedTiming(timing);
        deviceInfo_.tseg1 = timing.tseg1;
        deviceInfo_.tseg2 = timing.tseg2;
        deviceInfo_.outBus = commParams_.Bus;
        deviceInfo_.baudrate = commParams_.baudrate;
        deviceInfo_.Id = commParams_.Id;
        deviceInfo_.Mk = commParams_.Mk;
        controllerRunning_ = true;
        clearBuffers();
    }
    PROTOCOL_TRACE(place::kControllerEnableEnded, u32("enableControllerCAN", controllerRunning_),
                   u32("baudrate", commParams_.baudrate),
                   u32("SamplePoint", commParams_.SamplePoint), u32("Sjw", commParams_.Sjw),
                   u32("ret", ret), u32("t", timer.elapsed()));
    return ret;
}

// The first bus runs the calculated timing (its sample point in per mille); the second bus's
// fixed table realises what the record asks for.
void UsbProtocolDevice::recordRealisedTiming(const ControllerTiming& timing) {
    if (commParams_.Bus == kSecondOutputBus) {
        deviceInfo_.SamplePoint = commParams_.SamplePoint;
        deviceInfo_.Sjw = commParams_.Sjw;
        return;
    }
    deviceInfo_.SamplePoint = timing.samplePoint / 10;
    deviceInfo_.Sjw = timing.sjw;
    if (quirks_.realisedTiming == ProtocolQuirks::RealisedTiming::SettingsAndInfo) {
        commParams_.SamplePoint = deviceInfo_.SamplePoint;
        commParams_.Sjw = deviceInfo_.Sjw;
    }
}

void UsbProtocolDevice::disableController(DisableWhen when) {
    const ElapsedTimer timer;
    const bool always = when == DisableWhen::Always;
    PROTOCOL_TRACE(place::kControllerDisableStarted, u32("enableControllerCAN", controllerRunning_),
                   u32("force", always));
    if (isOpen() && (controllerRunning_ || always)) {
        sendCommand(packet::kClassConfig, packet::kCmdDisable);
        deviceInfo_.baudrate = 0;
        deviceInfo_.Id = 0;
        deviceInfo_.Mk = 0;
        controllerRunning_ = false;
    }
    PROTOCOL_TRACE(place::kControllerDisableEnded, u32("enableControllerCAN", controllerRunning_),
                   u32("t", timer.elapsed()));
}

void UsbProtocolDevice::stopController() {
    constexpr uint32_t kWantedRunning = 0;
    PROTOCOL_TRACE(place::kControllerStopStarted, u32("enableControllerCAN", controllerRunning_),
                   u32("enabled", kWantedRunning));
    if (controllerRunning_) {
        disableController(DisableWhen::Running);
    }
    PROTOCOL_TRACE(place::kControllerStopEnded, u32("enableControllerCAN", controllerRunning_),
                   u32("enabled", kWantedRunning));
}

}  // namespace vtx

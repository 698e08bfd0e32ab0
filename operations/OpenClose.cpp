#include "channel/Channel.h"
#include "device/Device.h"
#include "device/DriverDetection.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruOpen(void* /*pName*/, uint32_t* pDeviceID) {
    return runOperation(
        OnLostDevice::StartAfresh,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kOpenStarted, u32("lastError", lastError()));
        },
        [&] { openDevice(pDeviceID); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kOpenEnded, u32("deviceId", deviceId),
                      u32("lastError", lastError()));
        });
}

void PassThru::openDevice(uint32_t* pDeviceID) {
    createCommThread();
    if (lastError() != STATUS_NOERROR) {
        return;  // the failed thread object stays until the next open or close
    }
    if (pDeviceID == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        closeReset();
        return;
    }
    if (deviceId != 0) {
        // The open device stays open and keeps serving its channels.
        setStatus(ERR_DEVICE_IN_USE);
        return;
    }
    claimOpenedDevice(pDeviceID);
    if (lastError() != STATUS_NOERROR) {
        closeReset();
    }
}

// On the device's thread: a device that offers a CAN output bus becomes the open device.
void PassThru::claimOpenedDevice(uint32_t* pDeviceID) {
    onDevice(ReplyTimeout::Short, [&] {
        if (!checkDevicePresent()) {
            return;
        }
        const OutputBusState output = device()->outputBus();
        if (output.busesOffered == 0 || (output.bus != 0 && output.bus != 2)) {
            setFailed(text::kCanNotSupported);
            return;
        }
        deviceId = 1;
        *pDeviceID = 1;
        connectionOpen = true;
        commThread->setDeviceOpenForUse(true);
    });
}

// A thread that is running serves the open device. One that never started (no driver, no
// device) or that ended with a lost device is of no further use: the device is treated as
// closed and a new thread is built.
void PassThru::createCommThread() {
    if (commThread && commThread->running()) {
        return;
    }
    if (commThread) {
        closeReset();
    }
    // The loss the old thread reported ends with it.
    deviceLost_.store(false);
    commThread = std::make_unique<CommunicationThread>(interfaceType_, channels,
                                                       [this] { reportDeviceLost(); });
    switch (commThread->startOutcome()) {
        case CommunicationThread::StartOutcome::Running:
            break;
        case CommunicationThread::StartOutcome::NoDriver: {
            const char* reason = missingDriverReason();
            setFailed(*reason != '\0' ? reason : text::kDriverNotInstalled);
            break;
        }
        case CommunicationThread::StartOutcome::DeviceNotConnected:
            setStatus(ERR_DEVICE_NOT_CONNECTED);
            break;
    }
}

uint32_t PassThru::passThruClose(uint32_t DeviceID) {
    return runOperation(
        OnLostDevice::StartAfresh,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kCloseStarted, u32("devID", DeviceID),
                      u32("lastError", lastError()));
        },
        [&] { closeDevice(DeviceID, deviceGone()); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kCloseEnded, u32("devID", deviceId),
                      u32("lastError", lastError()));
        });
}

// The device was lost, or not found by the last open (a missing driver is not a device gone).
bool PassThru::deviceGone() const {
    return deviceLost() ||
           (commThread && !commThread->running() &&
            commThread->startOutcome() != CommunicationThread::StartOutcome::NoDriver);
}

// After a lost device close checks nothing and reports success; otherwise a failed check only
// skips switching the device off. The reset happens in every case.
void PassThru::closeDevice(uint32_t DeviceID, bool wasLost) {
    if (wasLost) {
        if (commThread) {
            commThread->setDeviceOpenForUse(false);
        }
    } else if (checkDeviceArgument(DeviceID) && checkConnection() && checkThread()) {
        switchDeviceOff();
    }
    closeReset();
    // The thread has ended: a report of the loss it was still making while the close stopped it
    // is the loss the caller already had, not this close's outcome.
    if (wasLost) {
        deviceLost_.store(false);
        resetOutcome();
    }
}

void PassThru::switchDeviceOff() {
    onDevice(ReplyTimeout::Short, [&] {
        if (checkDevicePresent()) {
            device()->stopController();
            device()->clearBuffers();
            commThread->setDeviceOpenForUse(false);
        }
    });
}

// Leaves nothing open; the outcome stays as it is. The channels' waiting calls leave first,
// then the thread is stopped before the channels are destroyed, since its service tick walks
// them until it ends.
void PassThru::closeReset() {
    deviceId = 0;
    currentBaudrate = 0;
    connectionOpen = false;
    channels.endAndDrain(WaitInterruption::DeviceClosed);
    CommunicationThread::stop(commThread);
    channels.clear();
}

}  // namespace vtx

#include "channel/Channel.h"
#include "device/Device.h"
#include "operations/DevicePause.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruOpen(void* /*pName*/, uint32_t* pDeviceID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruOpen()**** -S-", u32("lastError", lastError));
    // Open has no device-lost rule: it always starts afresh.
    resetOutcome();
    createCommThread();
    if (lastError != STATUS_NOERROR) {
        // The failed thread object stays until the next open or close.
    } else if (pDeviceID == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        closeReset();
    } else if (deviceId != 0) {
        // The open device stays open and keeps serving its channels.
        setStatus(ERR_DEVICE_IN_USE);
    } else {
        {
            const DevicePause pause(*commThread, true);
            OutputBusState output;
            if (!checkDevicePresent()) {
            } else if ((output = device()->outputBus()).busesOffered == 0 ||
                       (output.bus != 0 && output.bus != 2)) {
                setFailed(text::kCanNotSupported);
            } else {
                deviceId = 1;
                *pDeviceID = 1;
                connectionOpen = true;
                commThread->setOpenPassThruDevice(true);
            }
        }
        if (lastError != STATUS_NOERROR) {
            closeReset();
        }
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruOpen()**** -E-", u32("deviceId", deviceId),
              u32("lastError", lastError));
    return lastError;
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
    commThread = std::make_unique<CommunicationThread>(interfaceType_, channels,
                                                       [this] { reportDeviceLost(); });
    switch (commThread->startOutcome()) {
        case CommunicationThread::StartOutcome::Running:
            break;
        case CommunicationThread::StartOutcome::NoDriver:
            setFailed(text::kDriverNotInstalled);
            break;
        case CommunicationThread::StartOutcome::DeviceNotConnected:
            setStatus(ERR_DEVICE_NOT_CONNECTED);
            break;
    }
}

uint32_t PassThru::passThruClose(uint32_t DeviceID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruClose()**** -S-", u32("devID", DeviceID),
              u32("lastError", lastError));
    const uint32_t previous = lastError;
    resetOutcome();
    // After a lost device close checks nothing and reports success; otherwise a failed check
    // only skips switching the device off. The reset happens in every case.
    if (previous == ERR_DEVICE_NOT_CONNECTED) {
        if (commThread) {
            commThread->setOpenPassThruDevice(false);
        }
    } else if (checkDeviceArgument(DeviceID) && checkConnection() && checkThread()) {
        switchDeviceOff();
    }
    closeReset();
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruClose()**** -E-", u32("devID", deviceId),
              u32("lastError", lastError));
    return lastError;
}

void PassThru::switchDeviceOff() {
    const DevicePause pause(*commThread, true);
    if (checkDevicePresent()) {
        device()->stopController();
        device()->clearBuffers();
        commThread->setOpenPassThruDevice(false);
    }
}

// Leaves nothing open; the outcome stays as it is. The thread is stopped before the channels
// are destroyed, since its service tick walks them until it ends.
void PassThru::closeReset() {
    deviceId = 0;
    currentBaudrate = 0;
    connectFlags = 0;
    connectionOpen = false;
    CommunicationThread::stop(commThread);
    channels.clear();
}

}  // namespace vtx

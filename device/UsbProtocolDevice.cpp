// UsbProtocolDevice: construction, the records and the connection's life cycle.
#include "device/UsbProtocolDevice.h"

#include <thread>

#include "device/DevicePackets.h"

namespace vtx {

namespace {
// The settings record's timing before anything is asked for.
constexpr uint32_t kDefaultSamplePointPercent = 80;
constexpr uint32_t kDefaultSjw = 1;
constexpr uint8_t kCloseForm = 0x02;  // byte 1 of the clear command sent on close
}  // namespace

UsbProtocolDevice::UsbProtocolDevice(const TraceIdentity& identity, const ProtocolQuirks& quirks)
    : identity_(identity), quirks_(quirks) {}

void UsbProtocolDevice::resetDeviceInfo() {
    deviceInfo_ = DeviceInfo{};
    deviceInfo_.outBus = kNotYetRead;
}

void UsbProtocolDevice::resetRecords() {
    commParams_ = CommParameters{};
    commParams_.Bus = kFirstOutputBus;
    commParams_.SamplePoint = kDefaultSamplePointPercent;
    commParams_.Sjw = kDefaultSjw;
    resetDeviceInfo();
}

void UsbProtocolDevice::settleAfterOpen() {
    clearBuffers();
    disableController(DisableWhen::Always);
}

bool UsbProtocolDevice::identifyOpenedDevice(uint32_t& termResistorStatus, int& outBusSupport) {
    if (!readIdentification()) {
        return false;
    }
    if (readTermResistor(termResistorStatus) && termResistorStatus != 0 &&
        termResistorStatus != commParams_.termResistor) {
        setTermResistor(commParams_.termResistor);
    }
    outBusSupport = readOutputBusSupport();
    if (outBusSupport == kOutputBusNoDevice) {
        return false;
    }
    storeOutputBusSupport(outBusSupport);
    return true;
}

bool UsbProtocolDevice::checkConnection() {
    bool connected = isOpen() && isDevicePresent();
    if (!connected) {
        connected = init();
    }
    if (!connected) {
        deviceInfo_ = DeviceInfo{};
        if (isOpen() && !isDevicePresent()) {
            closeDevice();
        }
    }
    return connected;
}

void UsbProtocolDevice::closeDevice() {
    if (isOpen()) {
        setTermResistor(kTermResistorOff);
        std::this_thread::sleep_for(setPin15(Pin15State::VoltageOff));
        disableController(DisableWhen::Always);
        setAuxValue(0);
        sendCommand(packet::kClassClear, kCloseForm);
        clearBuffers();
        // Not under a frame wait's read: it ends within its reply timeout.
        const std::lock_guard exchange(exchangeMutex_);
        const std::lock_guard out(outMutex_);
        transportClose();
    }
    resetDeviceInfo();
}

}  // namespace vtx

// The one object that carries out every J2534 call of the process. Its operations run under
// the API lock; the communication thread shares lastError with them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "base/ErrorTexts.h"
#include "base/InterfaceType.h"
#include "base/J2534.h"
#include "channel/ChannelSet.h"
#include "comm/CommunicationThread.h"
#include "protocol/ChannelProtocol.h"

namespace vtx {

class Channel;
class Device;

class PassThru {
  public:
    explicit PassThru(InterfaceType interfaceType);
    ~PassThru();
    PassThru(const PassThru&) = delete;
    PassThru& operator=(const PassThru&) = delete;

    uint32_t passThruOpen(void* pName, uint32_t* pDeviceID);
    uint32_t passThruClose(uint32_t DeviceID);
    uint32_t passThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                             uint32_t BaudRate, uint32_t* pChannelID);
    uint32_t passThruDisconnect(uint32_t ChannelID);
    uint32_t passThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                              uint32_t Timeout);
    uint32_t passThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                               uint32_t Timeout);
    uint32_t passThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                                      uint32_t TimeInterval);
    uint32_t passThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID);
    uint32_t passThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                                    PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                                    uint32_t* pFilterID);
    uint32_t passThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID);
    uint32_t passThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber, uint32_t Voltage);
    uint32_t passThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                 char* pApiVersion);
    uint32_t passThruGetLastError(char* pErrorDescription);
    uint32_t passThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);

    InterfaceType interfaceType() const { return interfaceType_; }
    uint32_t lastStatus() const { return lastError.load(); }

    // What the communication thread reports when it loses the device; every later operation
    // but open and close then answers ERR_DEVICE_NOT_CONNECTED.
    void reportDeviceLost() { lastError.store(ERR_DEVICE_NOT_CONNECTED); }

    // Ends a call that could not complete inside the library with ERR_FAILED and its text.
    uint32_t failOperation(const char* text);

  private:
    // How an operation meets a device that the communication thread has reported lost.
    enum class OnLostDevice : uint8_t {
        Answer,       // the loss is the answer and nothing is done (most operations)
        StartAfresh,  // open and close: the outcome is reset whatever it was
        KeepOutcome,  // reading the outcome never resets it
    };

    // The frame every operation runs in: its start event, the lost-device rule, the reset of
    // the outcome, the body, its end event. The status returned is the outcome, or what the
    // body returns when it returns one.
    template <typename StartEvent, typename Body, typename EndEvent>
    uint32_t runOperation(OnLostDevice rule, StartEvent&& traceStart, Body&& body,
                          EndEvent&& traceEnd) {
        traceStart();
        if (rule == OnLostDevice::Answer && deviceLost()) {
            traceEnd();
            return lastError;
        }
        if (rule != OnLostDevice::KeepOutcome) {
            resetOutcome();
        }
        if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
            body();
            traceEnd();
            return lastError;
        } else {
            const uint32_t status = body();
            traceEnd();
            return status;
        }
    }

    bool deviceLost() const { return lastError.load() == ERR_DEVICE_NOT_CONNECTED; }
    void resetOutcome();
    // The communication thread may report a lost device while an operation runs (after its
    // reset): no later status of that operation hides the report. Only the reset at the start
    // of open, close or an operation that found no loss clears it.
    void setStatus(uint32_t code) {
        uint32_t current = lastError.load();
        do {
            if (current == ERR_DEVICE_NOT_CONNECTED && code != STATUS_NOERROR) {
                return;
            }
        } while (!lastError.compare_exchange_weak(current, code));
    }
    void setFailed(const char* text);
    // A status with the text that explains it, which the last-error description then gives
    // instead of the status's name.
    void setExplained(uint32_t code, const char* text);
    // Ends the operation with what a protocol said of the caller's request.
    void refuse(const ProtocolVerdict& verdict);
    bool checkDeviceOpen();
    bool checkDeviceArgument(uint32_t DeviceID);
    bool checkConnection();
    bool checkThread();
    bool passStandardGuards();

    // The bodies of the operations, run inside runOperation.
    void openDevice(uint32_t* pDeviceID);
    void claimOpenedDevice(uint32_t* pDeviceID);
    void closeDevice(uint32_t DeviceID, bool wasLost);
    void connectChannel(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags, uint32_t BaudRate,
                        uint32_t* pChannelID);
    void disconnectChannel(uint32_t ChannelID);
    void readMessages(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout);
    void writeMessages(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                       uint32_t Timeout);
    void startPeriodic(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                       uint32_t TimeInterval);
    void stopPeriodic(uint32_t ChannelID, uint32_t MsgID);
    void startFilter(Channel& channel, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                     PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
    void stopFilter(uint32_t ChannelID, uint32_t FilterID, uint32_t& code, uint32_t& deviceMask);
    void setPinVoltage(uint32_t PinNumber, uint32_t Voltage);
    std::string readVersions(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                             char* pApiVersion);
    uint32_t describeLastError(char* pErrorDescription);
    void controlChannel(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);

    // Open and close.
    void createCommThread();
    void closeReset();
    void switchDeviceOff();

    // Ioctl.
    void runIoctl(Channel& channel, uint32_t IoctlID, void* pInput, void* pOutput);
    bool checkConfigList(const SCONFIG_LIST& list);
    void getConfig(Channel& channel, SCONFIG_LIST& list);
    void setConfig(Channel& channel, SCONFIG_LIST& list);
    uint32_t setConfigEntry(Channel& channel, const SCONFIG& entry);
    void clearMsgFilters(Channel& channel);
    void setTermResistor(const uint32_t* pInput, uint32_t* pOutput);
    void getTermResistor(uint32_t& output);

    // Channels and the device.
    Channel* guardedChannel(uint32_t channelId);
    Channel* channelForTransfer(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs);
    Device* device();
    bool checkDevicePresent();
    // Acceptance code and mask over the filters of every channel, in the library's polarity
    // (mask bit 1: compared).
    void calcAcceptanceAndMask(uint32_t& code, uint32_t& mask);
    bool programAcceptance(uint32_t& code, uint32_t& deviceMask);
    // The identifier widths the controller takes: those of every connected channel.
    bool onlyExtendedIds() const;
    bool bothIdWidths() const;

    // All but lastError are guarded by the API lock.
    char lastErrorText[kErrorTextSize] = {};
    // The status lastErrorText explains (ERR_FAILED's, or another's set with setExplained).
    uint32_t explainedStatus = STATUS_NOERROR;
    std::unique_ptr<CommunicationThread> commThread;
    // Changed only while the communication thread is parked or stopped: its service tick walks
    // the list.
    ChannelSet channels;
    bool connectionOpen = false;
    uint32_t deviceId = 0;
    uint32_t currentBaudrate = 0;  // kbit/s
    // Also written by the communication thread, outside the API lock.
    std::atomic<uint32_t> lastError{STATUS_NOERROR};
    const InterfaceType interfaceType_;
};

}  // namespace vtx

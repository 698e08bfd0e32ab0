// The one object that carries out every J2534 call of the process. Its operations run one at a
// time under the call lock, except for the wait of a read or a timed write, which waits on its
// channel with no lock of this object held. Each thread has its own outcome of its last call.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
    // The status of the calling thread's last call.
    uint32_t lastStatus() const { return lastError(); }

    // What the communication thread reports when it loses the device; every later operation
    // but open and close then answers ERR_DEVICE_NOT_CONNECTED.
    void reportDeviceLost() { deviceLost_.store(true); }

    // Ends a call that could not complete inside the library with ERR_FAILED and its text.
    uint32_t failOperation(const char* text);
    // Ends a call refused before it reached an operation (an argument the caller's integer type
    // holds but the library's does not) with status and the text that explains it.
    uint32_t refuseCall(uint32_t status, const char* text);

  private:
    // How an operation meets a device that the communication thread has reported lost.
    enum class OnLostDevice : uint8_t {
        Answer,       // the loss is the answer and nothing is done (most operations)
        StartAfresh,  // open and close: the outcome is reset whatever it was
        KeepOutcome,  // reading the outcome never resets it
    };

    // The frame every operation runs in: its start event, the call lock (but for reading the
    // outcome, which is the calling thread's own), the lost-device rule, the reset of the
    // outcome, the body, its end event. A body that takes the lock (std::unique_lock&) may
    // release it before it waits. The status returned is the outcome, or what the body returns
    // when it returns one; a loss the thread reported meanwhile wins over either.
    template <typename StartEvent, typename Body, typename EndEvent>
    uint32_t runOperation(OnLostDevice rule, StartEvent&& traceStart, Body&& body,
                          EndEvent&& traceEnd) {
        std::unique_lock call(callMutex_, std::defer_lock);
        if (rule != OnLostDevice::KeepOutcome) {
            call.lock();
        }
        traceStart();
        if (rule == OnLostDevice::Answer && deviceLost()) {
            setStatus(ERR_DEVICE_NOT_CONNECTED);
            traceEnd();
            return lastError();
        }
        if (rule != OnLostDevice::KeepOutcome) {
            resetOutcome();
        }
        uint32_t status = STATUS_NOERROR;
        if constexpr (std::is_invocable_v<Body&, std::unique_lock<std::mutex>&>) {
            body(call);
            status = lastError();
        } else if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
            body();
            status = lastError();
        } else {
            status = body();
        }
        if (rule != OnLostDevice::KeepOutcome && deviceLost()) {
            setStatus(ERR_DEVICE_NOT_CONNECTED);
            status = ERR_DEVICE_NOT_CONNECTED;
        }
        traceEnd();
        return status;
    }

    bool deviceLost() const { return deviceLost_.load(); }
    uint32_t lastError() const { return outcome().status; }
    void resetOutcome();
    void setStatus(uint32_t code) { outcome().status = code; }
    void setFailed(const char* text);
    // A status with the text that explains it, which the last-error description then gives
    // instead of the status's name.
    void setExplained(uint32_t code, const char* text);
    // Ends the operation with what a protocol said of the caller's request.
    void refuse(const ProtocolVerdict& verdict);
    // Runs body on the communication thread, the device's owner, as part of the calling
    // operation: the caller waits, and the statuses body sets are the caller's. With Zero, body
    // runs with the device's reply timeout the thread's cycles set, 0 ms. With Short, the device's
    // reply timeout is the thread's connection-check timeout while body runs, so that a silent
    // device answers quickly.
    enum class ReplyTimeout : uint8_t { Zero, Short };
    void onDevice(ReplyTimeout timeout, const std::function<void()>& body);
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
    void readMessages(std::unique_lock<std::mutex>& call, uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                      uint32_t* pNumMsgs, uint32_t Timeout);
    void writeMessages(std::unique_lock<std::mutex>& call, uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                       uint32_t* pNumMsgs, uint32_t Timeout);
    void startPeriodic(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                       uint32_t TimeInterval);
    void stopPeriodic(uint32_t ChannelID, uint32_t MsgID);
    void startFilter(Channel& channel, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                     PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
    // The controller's acceptance as programmed (0 and 0 when the device refused it).
    struct ProgrammedAcceptance {
        uint32_t code = 0;
        uint32_t deviceMask = 0;  // 1: not compared
    };
    void stopFilter(uint32_t ChannelID, uint32_t FilterID, ProgrammedAcceptance& programmed);
    void setPinVoltage(std::unique_lock<std::mutex>& call, uint32_t PinNumber, uint32_t Voltage);
    std::string readVersions(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                             char* pApiVersion);
    uint32_t describeLastError(char* pErrorDescription);
    void controlChannel(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);

    // Open and close.
    void createCommThread();
    bool deviceGone() const;
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
    // Whether the device is there, as the communication thread last found it. Like every look at
    // commThread, in an operation (or a command it hands the thread).
    bool devicePresent() const;
    bool checkDevicePresent();
    // Acceptance code and mask over the filters of every channel, in the library's polarity
    // (mask bit 1: compared).
    void mergeAcceptanceFilters(uint32_t& code, uint32_t& mask);
    // Programs the controller's acceptance for the filters of every channel; a refusal is the
    // operation's failure (ERR_FAILED).
    ProgrammedAcceptance programAcceptance();
    // The identifier widths the controller takes: those of every connected channel.
    bool onlyExtendedIds() const;
    bool bothIdWidths() const;

    // The outcome of a thread's last call: its status and, for ERR_FAILED or a status set with
    // setExplained, the text that explains it. Each thread has its own, so that one thread's
    // call never overwrites what another's GetLastError gives.
    struct CallOutcome {
        uint32_t status;
        uint32_t explainedStatus;  // the status text explains
        char text[kErrorTextSize];
    };
    // The outcome the calling thread's statuses go to: its own, or while the communication
    // thread runs a command for an operation, the outcome of the thread whose operation it is.
    static CallOutcome& outcome() { return lentOutcome_ != nullptr ? *lentOutcome_ : ownOutcome_; }
    static thread_local CallOutcome ownOutcome_;
    static thread_local CallOutcome* lentOutcome_;

    // Orders the operations: held for the whole of each but reading the outcome, and released
    // by a read or timed write before it waits. Guards every field below but deviceLost_.
    std::mutex callMutex_;
    std::unique_ptr<CommunicationThread> commThread;
    // Changed only in a command the communication thread runs (onDevice) or with the thread
    // stopped: its service tick walks the list.
    ChannelSet channels;
    bool connectionOpen = false;
    uint32_t deviceId = 0;
    uint32_t currentBaudrate = 0;  // kbit/s
    // Set by the communication thread when it loses the device; cleared by open and close.
    std::atomic<bool> deviceLost_{false};
    const InterfaceType interfaceType_;
};

}  // namespace vtx

// The device protocol both driver families speak: 16-byte packets for identification, CAN frames
// and controller configuration. A subclass supplies the transport (WinUSB pipes or the kernel
// driver's device file), discovery and open, and names the quirks of its driver family
// (ProtocolQuirks); everything else is here.
//
// The members are defined by concern: UsbProtocolDevice.cpp (connection and records),
// UsbProtocolTransfer.cpp (transfers and sequence numbers), UsbProtocolIdentification.cpp,
// UsbProtocolFrames.cpp, UsbProtocolController.cpp (controller configuration) and
// UsbProtocolCommands.cpp (the small commands).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "base/ElapsedTimer.h"
#include "device/ControllerTiming.h"
#include "device/Device.h"
#include "device/ProtocolQuirks.h"
#include "trace/TraceProvider.h"

namespace vtx {

class UsbProtocolDevice : public Device {
  public:
    ~UsbProtocolDevice() override = default;
    UsbProtocolDevice(const UsbProtocolDevice&) = delete;
    UsbProtocolDevice& operator=(const UsbProtocolDevice&) = delete;

    // ---- Device ----
    bool checkConnection() override;
    int setReplyTimeout(int ms) override;
    bool takeTransferFailure() override { return transferFailed_.exchange(false); }
    int writeFrames(std::span<const CanFrame> frames) override;
    int readFrames(std::span<CanFrame> frames) override;
    FrameWaitOutcome awaitFrame(CanFrame& frame, int timeoutMs) override;
    void endFrameWait() override;
    bool configure(const ControllerRequest& request) override;
    void stopController() override;
    bool clearBuffers() override;
    std::optional<DeviceIdentity> identify(IdentitySource source) override;
    OutputBusState outputBus() override;
    std::chrono::milliseconds setPin15(Pin15State state) override;
    bool setTermResistor(uint32_t state) override;
    bool readTermResistor(uint32_t& state) override;
    const CommParameters& settings() const override { return commParams_; }
    const DeviceInfo& info() const override { return deviceInfo_; }

    // ---- connection ----
    // Discovery, open and identification; true when the device answered all of it.
    virtual bool init() = 0;
    // A device of this driver family answers; asked only while the device is open.
    virtual bool isDevicePresent() = 0;
    // The close sequence: outputs off, controller off, the close form of the clear command, then
    // the transport closed. The records are reset whether or not the device was open.
    void closeDevice();

    // ---- transfers ----
    // One write of whole packets, at most kMaxTransferBytes; the bytes written, 0 when refused.
    int writeBuffer(const uint8_t* bytes, int length);
    // An exchange: a transfer header asking for replyLength bytes within timeoutMs, followed by
    // the payload packets, in one write; then the read of the reply. The bytes read, 0 when
    // refused; the sequence number the header carried goes to *sequence (when given) once it went
    // out. A frame wait under way gives way first (endFrameWait): its read holds the IN pipe.
    int commandTransfer(const uint8_t* payload, int payloadLength, uint8_t* reply, int replyLength,
                        int timeoutMs, uint16_t* sequence = nullptr);
    int replyTimeout() const { return replyTimeout_; }
    // The sequence number the next transfer header carries.
    uint16_t sequenceNumber() const { return sequence_; }

    // ---- identification and the small commands ----
    // Reads the fixed identification and the firmware version into the device-info record.
    bool readIdentification();
    // The firmware version as one word, most significant component in the top byte; 0 when the
    // device does not answer.
    uint32_t readFirmwareVersion();
    // Asks the device what it offers: one of the kOutputBus... values of DeviceInfo.h.
    int readOutputBusSupport();
    // Sends the auxiliary value, clamped to 16 bits, when it differs from the last one sent; the
    // value in force, or the bytes written when the write came short.
    int setAuxValue(int value);
    bool controllerRunning() const { return controllerRunning_; }
    // The clear command as a transfer whose reply, up to 1 KiB, is read and discarded.
    bool clearBuffersReadingReply();

  protected:
    // Whether the protocol operations (identification, configuration) write their events.
    enum class ProtocolEvents : uint8_t { Written, Silent };
    // Whether the end event of a frame read carries the event counter (C=).
    enum class ReadEventCounter : uint8_t { Carried, Omitted };
    // How a driver family writes its trace events.
    struct TraceIdentity {
        trace::Group group;
        const char* eventName;
        ProtocolEvents protocolEvents;
        ReadEventCounter readEventCounter;
    };

    UsbProtocolDevice(const TraceIdentity& identity, const ProtocolQuirks& quirks);

    // The records as init leaves them before the device answers.
    void resetRecords();
    // After a successful open: buffers cleared, controller forced off.
    void settleAfterOpen();
    // The part of init after open: identification, termination resistor off when it is on,
    // output-bus support. True when the output-bus support could be read.
    bool identifyOpenedDevice(uint32_t& termResistorStatus, int& outBusSupport);

    // ---- the transport ----
    // One synchronous transfer each; the bytes transferred, 0 on failure.
    virtual int transportWrite(const uint8_t* bytes, int length) = 0;
    virtual int transportRead(uint8_t* bytes, int length) = 0;
    virtual void transportClose() = 0;
    // Hands the auxiliary value to the driver; called with ProtocolQuirks::AuxValue::
    // DeviceAndDriver, after the device took the value.
    virtual void transportAuxValue(uint32_t /*value*/) {}

  private:
    // When disableController sends the disable command.
    enum class DisableWhen : uint8_t { Running, Always };

    void resetDeviceInfo();
    bool sendCommand(uint8_t cls, uint8_t cmd = 0, uint8_t arg = 0);
    // A command packet answered by one reply packet, as commandTransfer.
    bool queryPacket(const uint8_t* request, uint8_t* reply, int timeoutMs,
                     uint16_t* sequence = nullptr);
    void storeOutputBusSupport(int support);

    // Transfers; callers hold outMutex_ for a write, exchangeMutex_ for a read.
    int writeUnlocked(const uint8_t* bytes, int length);
    int readUnlocked(uint8_t* bytes, int length);
    // Writes a transfer header for replyLength bytes within timeoutMs, then the payload, in one
    // write; the sequence number the header carries when it all went out. Caller holds
    // exchangeMutex_.
    std::optional<uint16_t> writeHeaderAndPayload(const uint8_t* payload, int payloadLength,
                                                  int replyLength, uint16_t timeoutMs);
    // The same with outMutex_ held.
    std::optional<uint16_t> writeHeaderLocked(const uint8_t* payload, int payloadLength,
                                              int replyLength, uint16_t timeoutMs);
    uint16_t headerTimeout(int requestedMs) const;

    // A frame wait's stages, each under outMutex_: its header is written only while no end was
    // asked for, and the end of a wait whose header is out is asked of the device.
    enum class FrameWaitStage : uint8_t { None, Starting, HeaderOut };
    // Under exchangeMutex_: writes the wait's header unless its end was asked for; true when the
    // header went out.
    bool sendFrameWaitHeader(int timeoutMs);
    // The wait is over; whether its end was asked for.
    bool finishFrameWait();

    // Frames.
    int writeFrameChunk(std::span<const CanFrame> frames);
    int readFrameChunk(std::span<CanFrame> frames);
    void packFramePacket(const CanFrame& frame, uint8_t* out) const;
    CanFrame unpackFramePacket(const uint8_t* in) const;
    void markUnreadRecords(std::span<CanFrame> records) const;

    // Controller. A request is merged into the settings record step by step; each step may
    // refuse it (false), mark the record changed or ask for the controller to be reprogrammed.
    struct Reconfiguration {
        bool force = false;  // reprogram even when nothing changed; lets a running bit rate change
        bool changed = false;
        bool reprogram = false;
    };
    bool mergeOutputBus(uint8_t bus, Reconfiguration& step);
    void mergeIdentifierMode(const ControllerRequest& request, Reconfiguration& step);
    bool mergeAcceptance(uint32_t value, uint32_t& field);
    bool mergeBitRate(uint32_t kbps, Reconfiguration& step);
    bool reprogramController(uint32_t secondBus, const ElapsedTimer& started);
    bool enableController();
    void disableController(DisableWhen when);
    void recordRealisedTiming(const ControllerTiming& timing);

    const TraceIdentity identity_;
    const ProtocolQuirks quirks_;
    CommParameters commParams_;
    DeviceInfo deviceInfo_;
    bool controllerRunning_ = false;
    uint32_t auxValue_ = 0;
    uint16_t replyTimeout_ = 0;

    // Held from a transfer header's write to the end of the read that answers it, so that no
    // other exchange's header or read falls between the two. Guards the IN pipe's reads.
    // Lock order: exchangeMutex_ before outMutex_. The handle's close holds both: the frame
    // waiter, beside the owner the only thread to touch the handle, reads it only under one.
    std::mutex exchangeMutex_;
    // Serialises the OUT pipe's writes. Writes that carry no header (frames, and commands the
    // device does not answer) take only this one, so they go out while an exchange waits for its
    // reply. Guards the transport's writes, sequence_, transferBuffer_, frameWaitStage_ and
    // frameWaitEndAsked_.
    std::mutex outMutex_;
    uint16_t sequence_ = 0;                // stamped into every transfer header, then incremented
    std::vector<uint8_t> transferBuffer_;  // a transfer's header and payload, reused
    FrameWaitStage frameWaitStage_ = FrameWaitStage::None;
    bool frameWaitEndAsked_ = false;
    // The packets a frame read brings, reused; readFrames is called by one thread only (the
    // communication thread's loop), and awaitFrame reads into a packet of its own.
    std::vector<uint8_t> readReply_;
    // Set by a write that did not go out whole, taken by the communication thread's next
    // presence check; atomic, as the frame waiter's writes set it beside the communication
    // thread's.
    std::atomic<bool> transferFailed_{false};
};

}  // namespace vtx

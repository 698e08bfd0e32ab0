// The device protocol both driver families speak: 16-byte packets for identification, CAN frames
// and controller configuration. A subclass supplies the transport (WinUSB pipes or the kernel
// driver's device file), discovery and open, and the few points where its driver family behaves
// differently; those are the pure virtual hooks at the end of this class.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "device/ControllerTiming.h"
#include "device/Device.h"
#include "trace/TraceProvider.h"

namespace vtx {

class UsbProtocolDevice : public Device {
  public:
    ~UsbProtocolDevice() override = default;
    UsbProtocolDevice(const UsbProtocolDevice&) = delete;
    UsbProtocolDevice& operator=(const UsbProtocolDevice&) = delete;

    // Connection.
    bool checkConnection() override;
    // A device of this driver family answers; asked only while the device is open.
    virtual bool isDevicePresent() = 0;
    // The close sequence: outputs off, controller off, the close form of the clear command, then
    // the transport closed. The records are reset whether or not the device was open.
    void closeDevice();

    int setTimeout(int ms) override;
    int writeBuffer(const uint8_t* bytes, int length) override;
    int readBuffer(uint8_t* bytes, int length) override;
    int commandTransfer(uint8_t sub, const uint8_t* payload, int payloadLength, uint8_t* reply,
                        int replyLength, int timeout, bool trailer) override;
    bool letturaHardCodedInfo() override;
    uint32_t getFirmwareVersion(uint8_t& a, uint8_t& b, uint8_t& c, uint8_t& d) override;
    bool getDatiIdentificazione(uint32_t& versioneFW, uint32_t& numSeriale, uint32_t& codCliente,
                                char* codProdotto, uint32_t* kind, bool reread) override;

    // CAN frames.
    int scritturaPacchettiCan(CanFrame* frames, int count, bool useIoctl) override;
    int letturaPacchettiCan(CanFrame* frames, int maxCount, bool useIoctl) override;

    // Controller configuration and the small commands.
    bool setCommParameters(uint32_t Id, uint32_t Mk, uint32_t baudrate, bool force, uint8_t Bus,
                           bool Ext, uint32_t Bus2, bool fd, bool canIdBoth) override;
    bool restoreCommParameters(CommParameters record) override;
    bool enableCANController();
    void disableCANController(bool force);
    void setEnableControllerCAN(bool enable) override;
    bool getEnableControllerCAN() override;
    bool getBaudRate(uint32_t& kbps) override;
    bool setTermResistor(uint32_t value) override;
    bool getTermResistor(uint32_t& value) override;
    int readOutputBusSupport() override;
    int getOutputBus(uint8_t& bus) override;
    void setPin15ShortToGround() override;
    void setPin15VoltageOff() override;
    int setAuxValue(int value) override;
    bool clearBuffers(bool readBack) override;
    CommParameters* getCommParameters() override;
    DeviceInfo* getDeviceInfo() override;

    uint16_t sequenceNumber() const { return sequence_; }

  protected:
    // How a driver family writes its trace events.
    struct TraceIdentity {
        trace::Group group;
        const char* eventName;
        // The protocol operations (open, identification, configuration) write their events.
        bool protocolEvents;
        // The end event of a frame read carries C=.
        bool countedReadEvent;
    };

    explicit UsbProtocolDevice(const TraceIdentity& identity);

    const TraceIdentity& traceIdentity() const { return identity_; }
    uint16_t timeoutMember() const { return timeout_; }

    // The records as init leaves them before the device answers.
    void resetRecords();
    void resetDeviceInfo();
    // After a successful open: buffers cleared, controller forced off.
    void settleAfterOpen();
    // The part of init after open: identification, termination resistor off when it is on,
    // output-bus support. True when the output-bus support could be read.
    bool identifyOpenedDevice(uint32_t& termResistorStatus, int& outBusSupport);
    bool sendCommand(uint8_t cls, uint8_t cmd = 0, uint8_t arg = 0);

    // ---- the transport ----
    // One synchronous transfer each; the bytes transferred, 0 on failure.
    virtual int transportWrite(const uint8_t* bytes, int length) = 0;
    virtual int transportRead(uint8_t* bytes, int length) = 0;
    virtual void transportClose() = 0;

    // ---- where the driver families differ ----
    // The reply timeout a transfer header carries when the request asked for requestedMs.
    virtual uint16_t headerTimeout(int requestedMs) const = 0;
    // One frame as a 16-byte frame packet, and back.
    virtual void packFramePacket(const CanFrame& frame, uint8_t* out) const = 0;
    virtual CanFrame unpackFramePacket(const uint8_t* in) const = 0;
    // The records of a read chunk that no packet filled (already zero).
    virtual void markUnreadRecords(CanFrame* records, int count) const = 0;
    // Stores the sample point and jump width the controller was programmed with.
    virtual void recordRealisedTiming(const ControllerTiming& timing) = 0;
    // The auxiliary value packet was written with this (clamped) value.
    virtual void auxValueSent(uint32_t value) = 0;

    CommParameters commParams_;
    DeviceInfo deviceInfo_;

  private:
    int writeUnlocked(const uint8_t* bytes, int length);
    int readUnlocked(uint8_t* bytes, int length);
    int writeFrameChunk(const CanFrame* frames, int n, bool useIoctl);
    int readFrameChunk(CanFrame* frames, int n, bool useIoctl, uint32_t& deferredSent);
    bool mergeAcceptance(uint32_t value, bool ext, uint32_t& field);

    const TraceIdentity identity_;
    bool enableControllerCAN_ = false;
    uint32_t auxValue_ = 0;
    uint16_t timeout_ = 0;
    // Frames kept for the next combined read: one all-zero packet, then frame packets.
    std::vector<uint8_t> deferred_;

    // Serialises transfers, so that a packet sent from another thread (pin 15) never falls
    // between a transfer header and the read that answers it. Guards the transport's transfers,
    // sequence_ and lastHeaderSequence_.
    std::mutex transferMutex_;
    uint16_t sequence_ = 0;  // stamped into every transfer header, then incremented
    uint16_t lastHeaderSequence_ = 0;
};

}  // namespace vtx

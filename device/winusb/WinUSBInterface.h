// The device bound to the WinUSB driver: discovery, open and identification, CAN frame transfer
// and controller configuration, all as 16-byte packets over the OUT pipe 0x02 and the IN pipe
// 0x82 of the process's pipe transport.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "device/GenericInterface.h"
#include "device/winusb/PipeTransport.h"

namespace vtx {

class WinUSBInterface : public GenericInterface {
  public:
    // One enumerated device.
    struct WinUSBDevice {
        std::string path;
    };

    // Uses the process's pipe transport.
    WinUSBInterface();
    // Uses the given transport (tests).
    explicit WinUSBInterface(PipeTransport& transport);
    ~WinUSBInterface() override;
    WinUSBInterface(const WinUSBInterface&) = delete;
    WinUSBInterface& operator=(const WinUSBInterface&) = delete;

    // Discovery, open and identification.
    void getDeviceList(std::vector<WinUSBDevice>& list);
    bool open();
    bool init() override;
    bool checkConnection() override;
    bool isDevicePresent();
    void closeDevice();
    bool isOpen() override;
    int getInterfaceType() override;
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
    int scritturaPacchettiCan(_fields_pkt_can* frames, int count, bool useIoctl) override;
    int letturaPacchettiCan(_fields_pkt_can* frames, int maxCount, bool useIoctl) override;

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

  private:
    void resetRecords();
    void resetDeviceInfo();
    bool sendCommand(uint8_t cls, uint8_t cmd = 0, uint8_t arg = 0);
    int writeUnlocked(const uint8_t* bytes, int length);
    int readUnlocked(uint8_t* bytes, int length);
    int writeFrameChunk(const _fields_pkt_can* frames, int n, bool useIoctl);
    int readFrameChunk(_fields_pkt_can* frames, int n, bool useIoctl, uint32_t& deferredSent);
    bool mergeAcceptance(uint32_t value, bool ext, uint32_t& field);

    PipeTransport& transport_;  // process-wide handles
    CommParameters commParams_;
    DeviceInfo deviceInfo_;
    bool enableControllerCAN_ = false;
    uint32_t auxValue_ = 0;
    uint16_t timeout_ = 0;
    std::string devicePath_;  // taken once, kept for the life of the object
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

// The boundary between the J2534 operations and the USB-to-CAN device. Everything above sees
// only these operations; below are the implementations for the two driver families, which speak
// the same 16-byte packet protocol to the device.
#pragma once

#include <cstdint>

#include "base/CanFrame.h"
#include "base/InterfaceType.h"
#include "device/CommParameters.h"
#include "device/DeviceInfo.h"

namespace vtx {

class Device {
  public:
    virtual ~Device() = default;

    virtual bool init() = 0;
    // The number of frames, from the first, that the device took.
    virtual int scritturaPacchettiCan(CanFrame* frames, int count, bool useIoctl) = 0;
    virtual int letturaPacchettiCan(CanFrame* frames, int maxCount, bool useIoctl) = 0;
    virtual void setPin15ShortToGround() = 0;
    virtual void setPin15VoltageOff() = 0;
    virtual bool checkConnection() = 0;
    virtual InterfaceType interfaceType() const = 0;
    virtual bool letturaHardCodedInfo() = 0;
    virtual int setAuxValue(int value) = 0;
    virtual bool clearBuffers(bool readBack) = 0;
    virtual void setEnableControllerCAN(bool enable) = 0;
    virtual bool getEnableControllerCAN() = 0;
    virtual bool getDatiIdentificazione(uint32_t& versioneFW, uint32_t& numSeriale,
                                        uint32_t& codCliente, char* codProdotto, uint32_t* kind,
                                        bool reread) = 0;
    virtual bool getBaudRate(uint32_t& kbps) = 0;
    virtual int getOutputBus(uint8_t& bus) = 0;
    virtual bool setCommParameters(uint32_t Id, uint32_t Mk, uint32_t baudrate, bool force,
                                   uint8_t Bus, bool Ext, uint32_t Bus2, bool fd,
                                   bool canIdBoth) = 0;
    virtual int setTimeout(int ms) = 0;
    virtual int writeBuffer(const uint8_t* bytes, int length) = 0;
    virtual int readBuffer(uint8_t* bytes, int length) = 0;
    virtual int commandTransfer(uint8_t sub, const uint8_t* payload, int payloadLength,
                                uint8_t* reply, int replyLength, int timeout, bool trailer) = 0;
    virtual uint32_t getFirmwareVersion(uint8_t& a, uint8_t& b, uint8_t& c, uint8_t& d) = 0;
    virtual bool setTermResistor(uint32_t value) = 0;
    virtual bool getTermResistor(uint32_t& value) = 0;
    virtual int readOutputBusSupport() = 0;
    virtual bool isOpen() = 0;
    virtual bool restoreCommParameters(CommParameters record) = 0;
    virtual CommParameters* getCommParameters() = 0;
    virtual DeviceInfo* getDeviceInfo() = 0;
};

}  // namespace vtx

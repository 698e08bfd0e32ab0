// The boundary between the J2534 operations and the USB-to-CAN device. Everything above sees
// only these operations; below are the implementations for the two driver families, which speak
// the same 16-byte packet protocol to the device.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "base/CanFrame.h"
#include "device/CommParameters.h"
#include "device/ControllerRequest.h"
#include "device/DeviceIdentity.h"
#include "device/DeviceInfo.h"

namespace vtx {

// The two states the vehicle connector's pin 15 can be put in.
enum class Pin15State : uint8_t { ShortToGround, VoltageOff };

// The output bus in use and what the device offers.
struct OutputBusState {
    int busesOffered = 0;  // 0: no device; 1: a single output bus; 2: a choice of two
    uint8_t bus = kNotYetRead;
};

// What became of a wait for a frame. Device::awaitFrame ends in one of the first four; the
// thread that waits on the device for the loop (FrameWaiter) also reports the last two.
enum class FrameWaitOutcome : uint8_t {
    Frame,    // a frame came, and was stored
    Quiet,    // none came up to the timeout: the device held none meanwhile
    GaveWay,  // ended early by endFrameWait, for an exchange that needs the device's reply;
              // frames may have come meanwhile
    Refused,  // ended well before its timeout without a frame: the device did not wait
    Busy,     // still under way: the reads are the wait's until it ends
    NoWait,   // none was asked for since the last outcome was taken
};

class Device {
  public:
    virtual ~Device() = default;

    // The handle is open. Asked only on the threads that work on the device: its owner and the
    // frame waiter. The owner's last connection check answers everybody else.
    virtual bool isOpen() = 0;
    // True when the device answers; a device that does not is opened and identified again, and
    // closed when that fails too.
    virtual bool checkConnection() = 0;
    // The reply timeout the device is given with every request, in ms (16 bits); returns the
    // previous one.
    virtual int setReplyTimeout(int ms) = 0;
    // Whether a transfer to the device failed (did not go out whole) since the last call, from
    // any thread; the call clears it.
    virtual bool takeTransferFailure() = 0;

    // The number of frames, from the first, that the device took.
    virtual int writeFrames(std::span<const CanFrame> frames) = 0;
    // Asks the device for as many frames as fit; the number stored. Records no frame filled are
    // left as the driver family marks them. Called from one thread at a time.
    virtual int readFrames(std::span<CanFrame> frames) = 0;
    // Asks the device for one frame and waits up to timeoutMs for it to arrive, leaving the device
    // free for writes from other threads meanwhile; ends Frame, Quiet, GaveWay or Refused. Never
    // called together with readFrames.
    virtual FrameWaitOutcome awaitFrame(CanFrame& frame, int timeoutMs) = 0;
    // Ends the frame wait under way, or about to begin, soon: it gives way. Nothing when there is
    // none. The wait's read holds the pipe the device's replies come on, so every call that needs
    // a reply ends the wait first: readFrames, checkConnection when it opens the device again,
    // identify from the device, outputBus while the output bus is not yet read, and
    // readTermResistor. Writes without a reply (frames, the other commands) pass the wait.
    virtual void endFrameWait() = 0;

    // Controller configuration: the acceptance filter, bit rate and output bus, reprogrammed when
    // something changed. False when the request is refused or the device does not take it.
    virtual bool configure(const ControllerRequest& request) = 0;
    // Switches a running controller off.
    virtual void stopController() = 0;
    // Empties the device's frame buffers.
    virtual bool clearBuffers() = 0;

    virtual std::optional<DeviceIdentity> identify(IdentitySource source) = 0;
    virtual OutputBusState outputBus() = 0;
    // Switches pin 15; returns how long the pin then takes to settle, which the caller lets pass
    // (0 when nothing was sent).
    virtual std::chrono::milliseconds setPin15(Pin15State state) = 0;
    // The termination resistor: 1 on, 2 off (0 from a read: the device did not say).
    virtual bool setTermResistor(uint32_t state) = 0;
    virtual bool readTermResistor(uint32_t& state) = 0;

    // The configuration last asked for, and what the device reported and runs.
    virtual const CommParameters& settings() const = 0;
    virtual const DeviceInfo& info() const = 0;
};

}  // namespace vtx

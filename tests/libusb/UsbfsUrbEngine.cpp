#include "tests/libusb/UsbfsUrbEngine.h"

#include <algorithm>
#include <cerrno>

namespace vtx::usbtest {

UsbfsUrbEngine::UsbfsUrbEngine(WorldSource world) : world_(std::move(world)) {
    inLane_.worker = std::thread([this] { serve(inLane_); });
    outLane_.worker = std::thread([this] { serve(outLane_); });
}

UsbfsUrbEngine::~UsbfsUrbEngine() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    inLane_.wake.notify_all();
    outLane_.wake.notify_all();
    inLane_.worker.join();
    outLane_.worker.join();
}

// The pipe handle of a previous claim may still be open when the client lost the device
// without releasing it: it is closed first.
bool UsbfsUrbEngine::claim() {
    sim::SimWorld& world = world_();
    world.transport().close();
    if (!world.transport().open(sim::SimPipeTransport::kDevicePath)) {
        return false;
    }
    world.transport().setInPipeTimeout(kDeviceReadTimeoutMs);
    const std::lock_guard lock(mutex_);
    claimed_ = true;
    claimedCycle_ = world.device().powerCycle();
    carriedIn_.clear();
    return true;
}

void UsbfsUrbEngine::release() {
    world_().transport().close();
    const std::lock_guard lock(mutex_);
    claimed_ = false;
}

void UsbfsUrbEngine::forgetClaim() {
    const std::lock_guard lock(mutex_);
    claimed_ = false;
}

bool UsbfsUrbEngine::alive() {
    uint64_t cycle = 0;
    {
        const std::lock_guard lock(mutex_);
        if (!claimed_) {
            return world_().device().plugged();
        }
        cycle = claimedCycle_;
    }
    return world_().device().poweredSince(cycle);
}

void UsbfsUrbEngine::submit(const std::shared_ptr<EmulatedUrb>& urb) {
    Lane& lane = urb->in ? inLane_ : outLane_;
    {
        const std::lock_guard lock(mutex_);
        lane.queue.push_back(urb);
    }
    lane.wake.notify_one();
}

// A URB still queued completes at once; one being carried out completes when its transfer ends.
bool UsbfsUrbEngine::discard(unsigned long clientAddress) {
    const std::lock_guard lock(mutex_);
    for (Lane* lane : {&inLane_, &outLane_}) {
        if (lane->running && lane->running->clientAddress == clientAddress) {
            lane->running->discarded = true;
            return true;
        }
        const auto queued =
            std::find_if(lane->queue.begin(), lane->queue.end(),
                         [&](const auto& urb) { return urb->clientAddress == clientAddress; });
        if (queued != lane->queue.end()) {
            (*queued)->status = -ENOENT;
            completed_.push_back(*queued);
            lane->queue.erase(queued);
            completedChanged_.notify_all();
            return true;
        }
    }
    return false;
}

std::shared_ptr<EmulatedUrb> UsbfsUrbEngine::reap(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    completedChanged_.wait_for(lock, wait, [&] { return !completed_.empty(); });
    if (completed_.empty()) {
        return nullptr;
    }
    std::shared_ptr<EmulatedUrb> urb = completed_.front();
    completed_.pop_front();
    return urb;
}

// Each wait ends: on a URB to carry out, or on the engine stopping.
void UsbfsUrbEngine::serve(Lane& lane) {
    std::unique_lock lock(mutex_);
    while (true) {
        lane.wake.wait(lock, [&] { return stopping_ || !lane.queue.empty(); });
        if (stopping_) {
            return;
        }
        lane.running = lane.queue.front();
        lane.queue.pop_front();
        const std::shared_ptr<EmulatedUrb> urb = lane.running;
        lock.unlock();
        carryOut(*urb);
        lock.lock();
        lane.running.reset();
        if (urb->discarded) {
            if (urb->in) {
                carriedIn_.insert(carriedIn_.end(), urb->data.begin(),
                                  urb->data.begin() + urb->actualLength);
            }
            urb->status = -ENOENT;
            urb->actualLength = 0;
        }
        completed_.push_back(urb);
        completedChanged_.notify_all();
    }
}

// The transfer on the simulated device's pipe; a device that lost its power since the claim
// answers as an unplugged one does (ENODEV), a write the device refused as a protocol error.
void UsbfsUrbEngine::carryOut(EmulatedUrb& urb) {
    if (!alive()) {
        urb.status = -ENODEV;
        return;
    }
    if (urb.in) {
        urb.actualLength = readIn(urb);
    } else {
        urb.actualLength = world_().transport().writePipe(urb.data.data(), urb.length);
        if (urb.actualLength == 0 && urb.length > 0) {
            urb.status = -EPROTO;
        }
    }
    if (!alive()) {
        urb.status = -ENODEV;  // with what moved before the power went, as the kernel reports it
    }
}

// Bytes read for a discarded URB come first: the device sent them, so they are not lost.
int UsbfsUrbEngine::readIn(EmulatedUrb& urb) {
    urb.data.assign(static_cast<std::size_t>(urb.length), 0);
    {
        const std::lock_guard lock(mutex_);
        if (!carriedIn_.empty()) {
            const std::size_t taken = std::min(carriedIn_.size(), urb.data.size());
            std::copy_n(carriedIn_.begin(), taken, urb.data.begin());
            carriedIn_.erase(carriedIn_.begin(), carriedIn_.begin() + taken);
            return static_cast<int>(taken);
        }
    }
    return world_().transport().readPipe(urb.data.data(), urb.length);
}

}  // namespace vtx::usbtest

#include "bench/busbench/MeteredPipeTransport.h"

#include "bench/busbench/MeteredDeviceFileTransport.h"
#include "bench/busbench/TransportMeter.h"
#include "device/SimulatedDeviceHost.h"
#include "sim/SimWorld.h"

namespace busbench {

MeteredPipeTransport& MeteredPipeTransport::instance() {
    static MeteredPipeTransport transport;
    return transport;
}

vtx::PipeTransport& MeteredPipeTransport::inner() {
    return vtx::sim::SimWorld::process().transport();
}

std::vector<std::string> MeteredPipeTransport::enumerateDevicePaths() {
    const TransportMeter meter;
    return inner().enumerateDevicePaths();
}

bool MeteredPipeTransport::isDevicePresent() {
    const TransportMeter meter;
    return inner().isDevicePresent();
}

bool MeteredPipeTransport::open(const std::string& path) {
    const TransportMeter meter;
    return inner().open(path);
}

bool MeteredPipeTransport::setInPipeTimeout(uint32_t ms) {
    const TransportMeter meter;
    return inner().setInPipeTimeout(ms);
}

void MeteredPipeTransport::close() {
    const TransportMeter meter;
    inner().close();
}

bool MeteredPipeTransport::isOpen() const {
    const TransportMeter meter;
    return inner().isOpen();
}

int MeteredPipeTransport::writePipe(const uint8_t* bytes, int length) {
    const TransportMeter meter(TransportMeter::Kind::Transfer);
    return inner().writePipe(bytes, length);
}

int MeteredPipeTransport::readPipe(uint8_t* bytes, int length) {
    const TransportMeter meter(TransportMeter::Kind::Transfer);
    return inner().readPipe(bytes, length);
}

}  // namespace busbench

// The library, linked into this program, finds this function in the program and talks to the
// metered transports of both device paths.
extern "C" __attribute__((visibility("default"))) void vtxSimulatedDeviceHost(
    vtx::SimulatedDeviceHost* host) {
    host->pipe = &busbench::MeteredPipeTransport::instance();
    host->deviceFile = &busbench::MeteredDeviceFileTransport::instance();
}

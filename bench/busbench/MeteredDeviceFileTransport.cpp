#include "bench/busbench/MeteredDeviceFileTransport.h"

#include "bench/busbench/TransportMeter.h"
#include "sim/SimWorld.h"

namespace busbench {

MeteredDeviceFileTransport& MeteredDeviceFileTransport::instance() {
    static MeteredDeviceFileTransport transport;
    return transport;
}

vtx::DeviceFileTransport& MeteredDeviceFileTransport::inner() {
    return vtx::sim::SimWorld::process().deviceFile();
}

bool MeteredDeviceFileTransport::open() {
    const TransportMeter meter;
    return inner().open();
}

bool MeteredDeviceFileTransport::isOpen() const {
    const TransportMeter meter;
    return inner().isOpen();
}

int MeteredDeviceFileTransport::read(uint8_t* bytes, int length) {
    const TransportMeter meter(TransportMeter::Kind::Transfer);
    return inner().read(bytes, length);
}

int MeteredDeviceFileTransport::write(const uint8_t* bytes, int length) {
    const TransportMeter meter(TransportMeter::Kind::Transfer);
    return inner().write(bytes, length);
}

bool MeteredDeviceFileTransport::controlCode(uint32_t code, const void* input, uint32_t inputLength,
                                             void* output, uint32_t outputLength) {
    const TransportMeter meter;
    return inner().controlCode(code, input, inputLength, output, outputLength);
}

void MeteredDeviceFileTransport::close() {
    const TransportMeter meter;
    inner().close();
}

}  // namespace busbench

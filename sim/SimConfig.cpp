#include "sim/SimConfig.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace vtx::sim {

namespace {
constexpr uint32_t kMinBusRate = 1'000;
constexpr uint32_t kMaxBusRate = 1'000'000;
constexpr uint32_t kMaxLatencyUs = 1'000'000;
constexpr uint32_t kMaxByte = 0xFF;

// A decimal number within [low, high], digits only.
std::optional<uint32_t> parseBounded(const char* text, uint32_t low, uint32_t high) {
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::string_view view(text);
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (view.empty() || error != std::errc{} || end != view.data() + view.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

// A separation time code a flow control may carry.
std::optional<uint8_t> parseSeparationTime(const char* text) {
    const std::optional<uint32_t> code = parseBounded(text, 0, kMaxByte);
    if (!code || !SimIsoTpReceiver::isValidSeparationTime(static_cast<uint8_t>(*code))) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(*code);
}

// The traffic generator's identifier, as candump writes it.
std::optional<TrafficGenerator::Identifier> parseTrafficIdentifier(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return TrafficGenerator::parseIdentifier(text);
}
}  // namespace

SimConfig SimConfig::fromVariables(const Lookup& lookup) {
    SimConfig config;
    config.busRate = parseBounded(lookup("VTXPTS_SIM_BUSRATE"), kMinBusRate, kMaxBusRate)
                         .value_or(kDefaultBusRate);
    if (const auto latency = parseBounded(lookup("VTXPTS_SIM_USB_LATENCY_US"), 0, kMaxLatencyUs)) {
        config.usbLatency = std::chrono::microseconds(*latency);
    }
    const char* stuffing = lookup("VTXPTS_SIM_STUFFING");
    config.stuffing = stuffing != nullptr && std::string_view(stuffing) == "1" ? BitStuffing::Real
                                                                               : BitStuffing::None;
    const char* ecu = lookup("VTXPTS_SIM_ECU");
    config.ecu = ecu == nullptr || std::string_view(ecu) != "0";
    if (const auto blockSize = parseBounded(lookup("VTXPTS_SIM_ECU_BS"), 0, kMaxByte)) {
        config.ecuFlowControl.blockSize = static_cast<uint8_t>(*blockSize);
    }
    if (const auto separation = parseSeparationTime(lookup("VTXPTS_SIM_ECU_STMIN"))) {
        config.ecuFlowControl.separationTime = *separation;
    }
    if (const char* traffic = lookup("VTXPTS_SIM_TRAFFIC")) {
        config.traffic = TrafficGenerator::parseSetting(traffic);
    }
    if (const auto identifier = parseTrafficIdentifier(lookup("VTXPTS_SIM_TRAFFIC_ID"))) {
        config.trafficIdentifier = *identifier;
    }
    return config;
}

SimConfig SimConfig::fromEnvironment() {
    return fromVariables([](const char* name) -> const char* { return std::getenv(name); });
}

}  // namespace vtx::sim

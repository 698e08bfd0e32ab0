// The simulated ECU's diagnostic services (UDS), without the bus: a request (service byte on)
// and its bus time in, the answers and the bus time each is due out.
//
//   10 01/02/03  session control: default, programming, extended; answers 50 <session> 00 32 01 F4
//                (P2 50 ms, P2* 5000 ms). Entering another session locks and ends a download.
//   11 01        hard reset: answers 51 01; back to the default session, locked
//   3E 00        tester present: answers 7E 00
//   22 <DIDs>    read data: F190 the VIN, F18C the serial number, F195 the software version
//                ("SW-" and the CRC-32 of the flashed image in 8 uppercase hex digits, or
//                "SW-00000000"); answers 62 and each DID with its data, skipping unknown DIDs
//   27 01 / 02   security access (UdsSecurityAccess), in the programming or extended session
//   34, 36, 37   download (UdsFlashMemory), in the programming session once unlocked
//   31 01 FF 00  erase (UdsFlashMemory): 7F 31 78 (response pending) at once, the routine's
//                answer kEraseTime later
//   31 01 02 02  check the image (UdsFlashMemory)
//
// Bit 7 of the sub-function of 10, 11 and 3E suppresses the positive answer. Refusals, checked
// in this order: unknown service 7F sid 11; wrong session 7F sid 7F; locked 7F sid 33; wrong
// length 7F sid 13; unknown sub-function 7F sid 12; the service's own checks after that.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/CanNode.h"
#include "sim/UdsFlashMemory.h"
#include "sim/UdsSecurityAccess.h"

namespace vtx::sim {

class UdsServer {
  public:
    enum class Session : uint8_t { Default = 0x01, Programming = 0x02, Extended = 0x03 };

    // One answer (service byte on) and the bus time it is due.
    struct Answer {
        SimClock::time_point due;
        std::vector<uint8_t> payload;
    };

    static constexpr std::chrono::milliseconds kEraseTime{100};
    static constexpr std::size_t kMaxAnswerLength = 4095;
    static constexpr std::string_view kSerialNumber = "VTXSIM00000001";

    // vin: what F190 reads. seeds: where security access takes its seeds.
    UdsServer(std::string_view vin, UdsSecurityAccess::SeedSource seeds);

    // The answers to a request received at bus time now, in the order they are due; none for
    // an empty request or a suppressed positive answer.
    std::vector<Answer> handle(std::span<const uint8_t> request, SimClock::time_point now);

    Session session() const { return session_; }
    // What F195 reads.
    std::string softwareVersion() const;

  private:
    std::vector<uint8_t> dispatch(std::span<const uint8_t> request, SimClock::time_point now);
    std::vector<uint8_t> sessionControl(std::span<const uint8_t> request);
    std::vector<uint8_t> ecuReset(std::span<const uint8_t> request);
    std::vector<uint8_t> testerPresent(std::span<const uint8_t> request);
    std::vector<uint8_t> readData(std::span<const uint8_t> request);
    std::vector<uint8_t> securityAccess(std::span<const uint8_t> request, SimClock::time_point now);
    std::vector<uint8_t> download(std::span<const uint8_t> request);
    std::vector<uint8_t> routineControl(std::span<const uint8_t> request);
    bool appendDataRecord(uint16_t identifier, std::vector<uint8_t>& answer) const;
    void enterSession(Session session);

    const std::string vin_;
    Session session_ = Session::Default;
    UdsSecurityAccess security_;
    UdsFlashMemory memory_;
};

}  // namespace vtx::sim

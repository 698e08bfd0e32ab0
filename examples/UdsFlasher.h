// A reprogramming session over ISO15765 with a diagnostic session already open: programming
// session, security access, erase, request download, transfer data in the largest blocks the ECU
// grants, transfer exit, CRC check, reset, and the software version read back. Each step prints
// its outcome; the transfer can show a progress bar.
#pragma once

#include <cstdint>
#include <vector>

#include "examples/DiagnosticSession.h"

namespace examples {

class UdsFlasher {
  public:
    enum class Progress : uint8_t { Hidden, Bar };
    using Bytes = std::vector<uint8_t>;

    UdsFlasher(DiagnosticSession& session, Progress progress);

    // Flashes the image at address 0; whether every step succeeded and the CRC matched.
    bool run(const Bytes& image);
    // Seconds the transfer data (36) requests took, answers included.
    double transferSeconds() const { return transferSeconds_; }

  private:
    bool step(const Bytes& request, uint8_t positive, const char* what, uint32_t timeoutMs = 2000);
    std::string describeAnswer() const;
    bool unlock();
    bool erase(std::size_t size);
    bool download(const Bytes& image);
    bool transfer(const Bytes& image, std::size_t chunk);
    void showProgress(std::size_t done, std::size_t total, double seconds) const;
    bool checkImage(const Bytes& image);
    bool showSoftwareVersion();

    DiagnosticSession& session_;
    const Progress progress_;
    Bytes answer_;
    double transferSeconds_ = 0;
};

}  // namespace examples

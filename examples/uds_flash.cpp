// uds_flash: a reprogramming session over ISO15765 through any J2534 library, loaded by path:
// programming session, security access, erase, request download, transfer data in the largest
// blocks the ECU grants, transfer exit, CRC check, reset, and the software version read back.
// Prints each step, a progress bar and the payload rate.
//
//   uds_flash LIBRARY IMAGE     (VTXPTS_DEVICE=sim selects the simulated device and its ECU)
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/Crc32.h"
#include "examples/DiagnosticSession.h"

namespace {

using examples::DiagnosticSession;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFlashAddress = 0x00000000;
constexpr uint32_t kKeyMask = 0xA5C3E1F0;
constexpr int kKeyRotation = 11;
constexpr uint32_t kEraseTimeoutMs = 5000;
constexpr int kBarWidth = 40;

void appendWord(Bytes& bytes, uint32_t value) {
    for (const int shift : {24, 16, 8, 0}) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) << 24 |
           static_cast<uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
}

class Flasher {
  public:
    explicit Flasher(DiagnosticSession& session) : session_(session) {}

    bool run(const Bytes& image) {
        return step({0x10, 0x02}, 0x50, "programming session (10 02)") && unlock() &&
               erase(image.size()) && download(image) && checkImage(image) &&
               step({0x11, 0x01}, 0x51, "reset (11 01)") && showSoftwareVersion();
    }

  private:
    // One request whose answer must start with the positive service byte.
    bool step(const Bytes& request, uint8_t positive, const char* what, uint32_t timeoutMs = 2000) {
        answer_ = session_.request(DiagnosticSession::kPhysicalRequest, request, what, timeoutMs)
                      .value_or(Bytes{});
        const bool ok = !answer_.empty() && answer_[0] == positive;
        std::printf("%-44s %s\n", what, ok ? "ok" : describeAnswer().c_str());
        return ok;
    }

    std::string describeAnswer() const {
        if (answer_.size() >= 3 && answer_[0] == 0x7F) {
            char text[40];
            std::snprintf(text, sizeof text, "refused (NRC 0x%02X)", answer_[2]);
            return text;
        }
        return answer_.empty() ? "no answer" : "unexpected answer";
    }

    // Seed, then the key: the seed rotated left by 11 bits, XOR 0xA5C3E1F0.
    bool unlock() {
        if (!step({0x27, 0x01}, 0x67, "security access: seed (27 01)") || answer_.size() < 6) {
            return false;
        }
        const uint32_t key = std::rotl(wordAt(answer_, 2), kKeyRotation) ^ kKeyMask;
        Bytes request = {0x27, 0x02};
        appendWord(request, key);
        return step(request, 0x67, "security access: key (27 02)");
    }

    bool erase(std::size_t size) {
        Bytes request = {0x31, 0x01, 0xFF, 0x00};
        appendWord(request, kFlashAddress);
        appendWord(request, static_cast<uint32_t>(size));
        return step(request, 0x71, "erase (31 01 FF 00)", kEraseTimeoutMs);
    }

    bool download(const Bytes& image) {
        Bytes request = {0x34, 0x00, 0x44};
        appendWord(request, kFlashAddress);
        appendWord(request, static_cast<uint32_t>(image.size()));
        if (!step(request, 0x74, "request download (34)") || answer_.size() < 4) {
            return false;
        }
        // The longest block the ECU takes, service byte and counter included.
        const std::size_t lengthBytes = answer_[1] >> 4;
        std::size_t maxBlock = 0;
        for (std::size_t i = 0; i < lengthBytes && 2 + i < answer_.size(); ++i) {
            maxBlock = maxBlock << 8 | answer_[2 + i];
        }
        if (maxBlock <= 2) {
            return false;
        }
        return transfer(image, maxBlock - 2) && step({0x37}, 0x77, "transfer exit (37)");
    }

    bool transfer(const Bytes& image, std::size_t chunk) {
        const auto started = std::chrono::steady_clock::now();
        uint8_t counter = 1;
        for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
            const std::size_t n = std::min(chunk, image.size() - offset);
            Bytes request(2 + n);
            request[0] = 0x36;
            request[1] = counter;
            std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n,
                        request.begin() + 2);
            answer_ =
                session_
                    .request(DiagnosticSession::kPhysicalRequest, request, "PassThruWriteMsgs 36")
                    .value_or(Bytes{});
            if (answer_.size() < 2 || answer_[0] != 0x76 || answer_[1] != counter) {
                std::printf("\ntransfer data (36) block %u: %s\n", counter,
                            describeAnswer().c_str());
                return false;
            }
            showProgress(offset + n, image.size(), started);
            counter = static_cast<uint8_t>(counter + 1);
        }
        std::printf("\n");
        return true;
    }

    static void showProgress(std::size_t done, std::size_t total,
                             std::chrono::steady_clock::time_point started) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const int filled = static_cast<int>(kBarWidth * done / total);
        std::printf("\r[%s%s] %3zu%% %7.1f KiB/s", std::string(filled, '#').c_str(),
                    std::string(kBarWidth - filled, '.').c_str(), done * 100 / total,
                    seconds > 0 ? done / 1024.0 / seconds : 0.0);
        std::fflush(stdout);
    }

    bool checkImage(const Bytes& image) {
        Bytes request = {0x31, 0x01, 0x02, 0x02};
        appendWord(request, vtx::crc32(image));
        if (!step(request, 0x71, "check CRC (31 01 02 02)")) {
            return false;
        }
        const bool matches = answer_.size() >= 5 && answer_[4] == 0x00;
        std::printf("  CRC-32 0x%08X %s\n", vtx::crc32(image), matches ? "matches" : "differs");
        return matches;
    }

    bool showSoftwareVersion() {
        if (!step({0x22, 0xF1, 0x95}, 0x62, "software version (22 F1 95)")) {
            return false;
        }
        std::printf("  %s\n", std::string(answer_.begin() + 3, answer_.end()).c_str());
        return true;
    }

    DiagnosticSession& session_;
    Bytes answer_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: uds_flash LIBRARY IMAGE\n");
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    const Bytes image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "uds_flash: cannot read %s\n", argv[2]);
        return 1;
    }
    if (image.empty()) {
        std::fprintf(stderr, "uds_flash: %s is empty or missing\n", argv[2]);
        return 1;
    }
    ptcan::PassThruLibrary lib;
    if (!lib.load(argv[1])) {
        std::fprintf(stderr, "uds_flash: cannot load %s: %s\n", argv[1], lib.error().c_str());
        return 1;
    }
    DiagnosticSession session(lib, DiagnosticSession::Echo::Quiet);
    if (!session.open()) {
        return 1;
    }
    std::printf("flashing %zu bytes\n", image.size());
    const bool flashed = Flasher(session).run(image);
    session.close();
    return flashed ? 0 : 1;
}

#include "examples/UdsFlasher.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <string>

#include "base/Crc32.h"

namespace examples {

namespace {
constexpr uint32_t kFlashAddress = 0x00000000;
constexpr uint32_t kKeyMask = 0xA5C3E1F0;
constexpr int kKeyRotation = 11;
constexpr uint32_t kEraseTimeoutMs = 5000;
constexpr int kBarWidth = 40;
constexpr std::size_t kTransferHeader = 2;  // service byte and block counter

void appendWord(UdsFlasher::Bytes& bytes, uint32_t value) {
    for (const int shift : {24, 16, 8, 0}) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t wordAt(const UdsFlasher::Bytes& bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) << 24 |
           static_cast<uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
}
}  // namespace

UdsFlasher::UdsFlasher(DiagnosticSession& session, Progress progress)
    : session_(session), progress_(progress) {}

bool UdsFlasher::run(const Bytes& image) {
    return step({0x10, 0x02}, 0x50, "programming session (10 02)") && unlock() &&
           erase(image.size()) && download(image) && checkImage(image) &&
           step({0x11, 0x01}, 0x51, "reset (11 01)") && showSoftwareVersion();
}

// One request whose answer must start with the positive service byte.
bool UdsFlasher::step(const Bytes& request, uint8_t positive, const char* what,
                      uint32_t timeoutMs) {
    answer_ = session_.request(DiagnosticSession::kPhysicalRequest, request, what, timeoutMs)
                  .value_or(Bytes{});
    const bool ok = !answer_.empty() && answer_[0] == positive;
    std::printf("%-44s %s\n", what, ok ? "ok" : describeAnswer().c_str());
    return ok;
}

std::string UdsFlasher::describeAnswer() const {
    if (answer_.size() >= 3 && answer_[0] == 0x7F) {
        char text[40];
        std::snprintf(text, sizeof text, "refused (NRC 0x%02X)", answer_[2]);
        return text;
    }
    return answer_.empty() ? "no answer" : "unexpected answer";
}

// Seed, then the key: the seed rotated left by 11 bits, XOR 0xA5C3E1F0.
bool UdsFlasher::unlock() {
    if (!step({0x27, 0x01}, 0x67, "security access: seed (27 01)") || answer_.size() < 6) {
        return false;
    }
    const uint32_t key = std::rotl(wordAt(answer_, 2), kKeyRotation) ^ kKeyMask;
    Bytes request = {0x27, 0x02};
    appendWord(request, key);
    return step(request, 0x67, "security access: key (27 02)");
}

bool UdsFlasher::erase(std::size_t size) {
    Bytes request = {0x31, 0x01, 0xFF, 0x00};
    appendWord(request, kFlashAddress);
    appendWord(request, static_cast<uint32_t>(size));
    return step(request, 0x71, "erase (31 01 FF 00)", kEraseTimeoutMs);
}

bool UdsFlasher::download(const Bytes& image) {
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
    if (maxBlock <= kTransferHeader) {
        return false;
    }
    return transfer(image, maxBlock - kTransferHeader) && step({0x37}, 0x77, "transfer exit (37)");
}

bool UdsFlasher::transfer(const Bytes& image, std::size_t chunk) {
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    uint8_t counter = 1;
    for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
        const std::size_t n = std::min(chunk, image.size() - offset);
        Bytes request(kTransferHeader + n);
        request[0] = 0x36;
        request[1] = counter;
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n,
                    request.begin() + kTransferHeader);
        answer_ =
            session_.request(DiagnosticSession::kPhysicalRequest, request, "PassThruWriteMsgs 36")
                .value_or(Bytes{});
        if (answer_.size() < 2 || answer_[0] != 0x76 || answer_[1] != counter) {
            std::printf("\ntransfer data (36) block %u: %s\n", counter, describeAnswer().c_str());
            return false;
        }
        showProgress(offset + n, image.size(), elapsed());
        counter = static_cast<uint8_t>(counter + 1);
    }
    transferSeconds_ = elapsed();
    if (progress_ == Progress::Bar) {
        std::printf("\n");
    }
    return true;
}

void UdsFlasher::showProgress(std::size_t done, std::size_t total, double seconds) const {
    if (progress_ != Progress::Bar) {
        return;
    }
    const int filled = static_cast<int>(kBarWidth * done / total);
    std::printf("\r[%s%s] %3zu%% %7.1f KiB/s", std::string(filled, '#').c_str(),
                std::string(kBarWidth - filled, '.').c_str(), done * 100 / total,
                seconds > 0 ? done / 1024.0 / seconds : 0.0);
    std::fflush(stdout);
}

bool UdsFlasher::checkImage(const Bytes& image) {
    Bytes request = {0x31, 0x01, 0x02, 0x02};
    appendWord(request, vtx::crc32(image));
    if (!step(request, 0x71, "check CRC (31 01 02 02)")) {
        return false;
    }
    const bool matches = answer_.size() >= 5 && answer_[4] == 0x00;
    std::printf("  CRC-32 0x%08X %s\n", vtx::crc32(image), matches ? "matches" : "differs");
    return matches;
}

bool UdsFlasher::showSoftwareVersion() {
    if (!step({0x22, 0xF1, 0x95}, 0x62, "software version (22 F1 95)")) {
        return false;
    }
    std::printf("  %s\n", std::string(answer_.begin() + 3, answer_.end()).c_str());
    return true;
}

}  // namespace examples

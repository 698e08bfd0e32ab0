// The simulated ECU's program memory (kSize bytes of flash at address 0, erased to 0xFF) and the
// download into it: request download, transfer data, request transfer exit, and the two routines
// that go with them, erase memory and check the image's CRC-32.
//
//   34 00 44 <address 4> <size 4>  opens a download; answers 74 20 0F FF (blocks of up to
//                                  kMaxBlockLength bytes, service byte and counter included)
//   36 <counter> <data>            the counter starts at 1 and wraps from 0xFF to 0x00;
//                                  answers 76 <counter>
//   37                             closes a download whose bytes all came; answers 77
//   31 01 FF 00 <address 4> <size 4>  erases; answers 71 01 FF 00 00
//   31 01 02 02 <crc 4>            answers 71 01 02 02 00 when the CRC-32 of the bytes of the
//                                  last download matches, 01 otherwise; a match makes those
//                                  bytes the flashed image
//
// Session and security are the caller's to check; this class answers the requests that reach
// it, each request given from its service byte on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vtx::sim {

class UdsFlashMemory {
  public:
    static constexpr uint32_t kSize = 1u << 20;
    static constexpr std::size_t kMaxBlockLength = 0x0FFF;
    static constexpr uint8_t kErasedByte = 0xFF;

    UdsFlashMemory();

    std::vector<uint8_t> requestDownload(std::span<const uint8_t> request);
    std::vector<uint8_t> transferData(std::span<const uint8_t> request);
    std::vector<uint8_t> requestTransferExit(std::span<const uint8_t> request);
    std::vector<uint8_t> eraseMemory(std::span<const uint8_t> request);
    std::vector<uint8_t> checkImage(std::span<const uint8_t> request);

    // Drops a download in progress (session change, reset); what it wrote stays.
    void abortDownload();
    // The CRC-32 of the image the last successful check accepted.
    std::optional<uint32_t> flashedImageCrc() const { return flashedImageCrc_; }
    std::span<const uint8_t> contents() const { return memory_; }

  private:
    // A stretch of the memory.
    struct Region {
        uint32_t address = 0;
        uint32_t size = 0;
    };
    // The download in progress.
    struct Download {
        Region region;
        uint32_t received = 0;
        uint8_t nextCounter = 1;
    };

    static bool fitsMemory(const Region& region);
    static Region regionAt(std::span<const uint8_t> request, std::size_t offset);

    std::vector<uint8_t> memory_;
    std::optional<Download> download_;
    std::optional<Region> downloaded_;  // the bytes of the last download
    std::optional<uint32_t> flashedImageCrc_;
};

}  // namespace vtx::sim

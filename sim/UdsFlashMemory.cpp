#include "sim/UdsFlashMemory.h"

#include <algorithm>

#include "base/Crc32.h"
#include "sim/UdsCodes.h"

namespace vtx::sim {

namespace {

// Request download: no compression or encryption; 4-byte address and 4-byte size.
constexpr uint8_t kPlainData = 0x00;
constexpr uint8_t kFourByteAddressAndSize = 0x44;
constexpr std::size_t kDownloadRequestLength = 11;
constexpr std::size_t kDownloadFormatsLength = 3;
constexpr std::size_t kDownloadRegionOffset = 3;
// The answer's length format: the maximum block length in 2 bytes.
constexpr uint8_t kTwoByteBlockLength = 0x20;

constexpr std::size_t kTransferHeaderLength = 2;  // service byte and counter
constexpr std::size_t kExitRequestLength = 1;

// Routine control requests: service, sub-function, routine identifier (2), then the record.
constexpr std::size_t kRoutineHeaderLength = 4;
constexpr std::size_t kEraseRequestLength = 12;
constexpr std::size_t kCheckRequestLength = 8;
constexpr uint8_t kRoutineCompleted = 0x00;
constexpr uint8_t kImageCorrect = 0x00;
constexpr uint8_t kImageIncorrect = 0x01;

std::vector<uint8_t> routineAnswer(std::span<const uint8_t> request, uint8_t status) {
    std::vector<uint8_t> answer(request.begin(), request.begin() + kRoutineHeaderLength);
    answer[0] = uds::positiveService(uds::kRoutineControl);
    answer.push_back(status);
    return answer;
}

}  // namespace

UdsFlashMemory::UdsFlashMemory() : memory_(kSize, kErasedByte) {}

bool UdsFlashMemory::fitsMemory(const Region& region) {
    return region.size != 0 && uint64_t{region.address} + region.size <= kSize;
}

UdsFlashMemory::Region UdsFlashMemory::regionAt(std::span<const uint8_t> request,
                                                std::size_t offset) {
    return Region{uds::readBigEndian32(request, offset), uds::readBigEndian32(request, offset + 4)};
}

std::vector<uint8_t> UdsFlashMemory::requestDownload(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kRequestDownload;
    if (request.size() < kDownloadFormatsLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (request[1] != kPlainData || request[2] != kFourByteAddressAndSize) {
        return uds::negativeAnswer(kService, uds::kRequestOutOfRange);
    }
    if (request.size() != kDownloadRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (download_) {
        return uds::negativeAnswer(kService, uds::kConditionsNotCorrect);
    }
    const Region region = regionAt(request, kDownloadRegionOffset);
    if (!fitsMemory(region)) {
        return uds::negativeAnswer(kService, uds::kRequestOutOfRange);
    }
    download_ = Download{region};
    downloaded_ = Region{region.address, 0};
    return {uds::positiveService(kService), kTwoByteBlockLength,
            static_cast<uint8_t>(kMaxBlockLength >> 8), static_cast<uint8_t>(kMaxBlockLength)};
}

std::vector<uint8_t> UdsFlashMemory::transferData(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kTransferData;
    if (request.size() <= kTransferHeaderLength || request.size() > kMaxBlockLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (!download_) {
        return uds::negativeAnswer(kService, uds::kRequestSequenceError);
    }
    Download& download = *download_;
    const uint8_t counter = request[1];
    if (counter != download.nextCounter) {
        return uds::negativeAnswer(kService, uds::kWrongBlockSequenceCounter);
    }
    const std::span<const uint8_t> data = request.subspan(kTransferHeaderLength);
    if (data.size() > download.region.size - download.received) {
        return uds::negativeAnswer(kService, uds::kTransferDataSuspended);
    }
    const uint32_t at = download.region.address + download.received;
    std::copy(data.begin(), data.end(), memory_.begin() + at);
    download.received += static_cast<uint32_t>(data.size());
    downloaded_->size = download.received;
    ++download.nextCounter;  // wraps from 0xFF to 0x00
    return {uds::positiveService(kService), counter};
}

std::vector<uint8_t> UdsFlashMemory::requestTransferExit(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kRequestTransferExit;
    if (request.size() != kExitRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (!download_) {
        return uds::negativeAnswer(kService, uds::kRequestSequenceError);
    }
    if (download_->received != download_->region.size) {
        return uds::negativeAnswer(kService, uds::kConditionsNotCorrect);
    }
    download_.reset();
    return {uds::positiveService(kService)};
}

std::vector<uint8_t> UdsFlashMemory::eraseMemory(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kRoutineControl;
    if (request.size() != kEraseRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (download_) {
        return uds::negativeAnswer(kService, uds::kConditionsNotCorrect);
    }
    const Region region = regionAt(request, kRoutineHeaderLength);
    if (!fitsMemory(region)) {
        return uds::negativeAnswer(kService, uds::kRequestOutOfRange);
    }
    const auto first = memory_.begin() + region.address;
    std::fill(first, first + region.size, kErasedByte);
    return routineAnswer(request, kRoutineCompleted);
}

std::vector<uint8_t> UdsFlashMemory::checkImage(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kRoutineControl;
    if (request.size() != kCheckRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (download_) {
        return uds::negativeAnswer(kService, uds::kConditionsNotCorrect);
    }
    if (!downloaded_ || downloaded_->size == 0) {
        return uds::negativeAnswer(kService, uds::kRequestSequenceError);
    }
    const uint32_t expected = uds::readBigEndian32(request, kRoutineHeaderLength);
    const uint32_t actual =
        crc32(std::span<const uint8_t>(memory_).subspan(downloaded_->address, downloaded_->size));
    if (actual != expected) {
        return routineAnswer(request, kImageIncorrect);
    }
    flashedImageCrc_ = actual;
    return routineAnswer(request, kImageCorrect);
}

void UdsFlashMemory::abortDownload() {
    download_.reset();
}

}  // namespace vtx::sim

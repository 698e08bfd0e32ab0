#include "sim/UdsServer.h"

#include <cstdio>

#include "sim/UdsCodes.h"

namespace vtx::sim {

namespace {

constexpr std::size_t kSubFunctionRequestLength = 2;
constexpr uint8_t kHardReset = 0x01;
constexpr uint8_t kZeroSubFunction = 0x00;

// The timing the session answer announces: P2 in milliseconds, P2* in units of 10 ms.
constexpr uint16_t kP2Milliseconds = 50;
constexpr uint16_t kP2StarTensOfMilliseconds = 500;

constexpr std::size_t kIdentifierLength = 2;
constexpr uint16_t kVinIdentifier = 0xF190;
constexpr uint16_t kSerialNumberIdentifier = 0xF18C;
constexpr uint16_t kSoftwareVersionIdentifier = 0xF195;

constexpr uint8_t kStartRoutine = 0x01;
constexpr std::size_t kRoutineHeaderLength = 4;
constexpr uint16_t kEraseMemoryRoutine = 0xFF00;
constexpr uint16_t kCheckImageRoutine = 0x0202;

uint16_t readBigEndian16(std::span<const uint8_t> bytes, std::size_t offset) {
    return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

void appendBigEndian16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

void appendText(std::vector<uint8_t>& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

bool suppressesPositiveAnswer(std::span<const uint8_t> request) {
    return (request[1] & uds::kSuppressPositiveAnswer) != 0;
}

uint8_t subFunction(std::span<const uint8_t> request) {
    return request[1] & uds::kSubFunctionMask;
}

bool isDownloadService(uint8_t service) {
    return service == uds::kRequestDownload || service == uds::kTransferData ||
           service == uds::kRequestTransferExit || service == uds::kRoutineControl;
}

// Whether an answer is the erase routine's, which comes kEraseTime after a response pending.
bool isEraseAnswer(std::span<const uint8_t> answer) {
    return answer.size() > kRoutineHeaderLength &&
           answer[0] == uds::positiveService(uds::kRoutineControl) &&
           readBigEndian16(answer, 2) == kEraseMemoryRoutine;
}

}  // namespace

UdsServer::UdsServer(std::string_view vin, UdsSecurityAccess::SeedSource seeds)
    : vin_(vin), security_(std::move(seeds)) {}

std::vector<UdsServer::Answer> UdsServer::handle(std::span<const uint8_t> request,
                                                 SimClock::time_point now) {
    if (request.empty()) {
        return {};
    }
    std::vector<uint8_t> payload = dispatch(request, now);
    if (payload.empty()) {
        return {};
    }
    if (isEraseAnswer(payload)) {
        return {Answer{now, uds::negativeAnswer(uds::kRoutineControl, uds::kResponsePending)},
                Answer{now + kEraseTime, std::move(payload)}};
    }
    return {Answer{now, std::move(payload)}};
}

std::string UdsServer::softwareVersion() const {
    char text[] = "SW-00000000";
    std::snprintf(text, sizeof text, "SW-%08X",
                  static_cast<unsigned>(memory_.flashedImageCrc().value_or(0)));
    return text;
}

std::vector<uint8_t> UdsServer::dispatch(std::span<const uint8_t> request,
                                         SimClock::time_point now) {
    const uint8_t service = request[0];
    if (isDownloadService(service) && session_ != Session::Programming) {
        return uds::negativeAnswer(service, uds::kServiceNotSupportedInActiveSession);
    }
    if (isDownloadService(service) && !security_.unlocked()) {
        return uds::negativeAnswer(service, uds::kSecurityAccessDenied);
    }
    switch (service) {
        case uds::kSessionControl:
            return sessionControl(request);
        case uds::kEcuReset:
            return ecuReset(request);
        case uds::kTesterPresent:
            return testerPresent(request);
        case uds::kReadDataByIdentifier:
            return readData(request);
        case uds::kSecurityAccess:
            return securityAccess(request, now);
        case uds::kRoutineControl:
            return routineControl(request);
        case uds::kRequestDownload:
        case uds::kTransferData:
        case uds::kRequestTransferExit:
            return download(request);
        default:
            return uds::negativeAnswer(service, uds::kServiceNotSupported);
    }
}

std::vector<uint8_t> UdsServer::sessionControl(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kSessionControl;
    if (request.size() != kSubFunctionRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    const uint8_t requested = subFunction(request);
    if (requested < static_cast<uint8_t>(Session::Default) ||
        requested > static_cast<uint8_t>(Session::Extended)) {
        return uds::negativeAnswer(kService, uds::kSubFunctionNotSupported);
    }
    enterSession(static_cast<Session>(requested));
    if (suppressesPositiveAnswer(request)) {
        return {};
    }
    std::vector<uint8_t> answer{uds::positiveService(kService), requested};
    appendBigEndian16(answer, kP2Milliseconds);
    appendBigEndian16(answer, kP2StarTensOfMilliseconds);
    return answer;
}

std::vector<uint8_t> UdsServer::ecuReset(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kEcuReset;
    if (request.size() != kSubFunctionRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (subFunction(request) != kHardReset) {
        return uds::negativeAnswer(kService, uds::kSubFunctionNotSupported);
    }
    enterSession(Session::Default);
    security_.lock();
    memory_.abortDownload();
    if (suppressesPositiveAnswer(request)) {
        return {};
    }
    return {uds::positiveService(kService), kHardReset};
}

std::vector<uint8_t> UdsServer::testerPresent(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kTesterPresent;
    if (request.size() != kSubFunctionRequestLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (subFunction(request) != kZeroSubFunction) {
        return uds::negativeAnswer(kService, uds::kSubFunctionNotSupported);
    }
    if (suppressesPositiveAnswer(request)) {
        return {};
    }
    return {uds::positiveService(kService), kZeroSubFunction};
}

std::vector<uint8_t> UdsServer::readData(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kReadDataByIdentifier;
    const std::size_t identifierBytes = request.size() - 1;
    if (identifierBytes == 0 || identifierBytes % kIdentifierLength != 0) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    std::vector<uint8_t> answer{uds::positiveService(kService)};
    bool anyKnown = false;
    for (std::size_t at = 1; at < request.size(); at += kIdentifierLength) {
        anyKnown = appendDataRecord(readBigEndian16(request, at), answer) || anyKnown;
    }
    if (!anyKnown) {
        return uds::negativeAnswer(kService, uds::kRequestOutOfRange);
    }
    if (answer.size() > kMaxAnswerLength) {
        return uds::negativeAnswer(kService, uds::kResponseTooLong);
    }
    return answer;
}

std::vector<uint8_t> UdsServer::securityAccess(std::span<const uint8_t> request,
                                               SimClock::time_point now) {
    if (session_ == Session::Default) {
        return uds::negativeAnswer(uds::kSecurityAccess, uds::kServiceNotSupportedInActiveSession);
    }
    return security_.answer(request, now);
}

std::vector<uint8_t> UdsServer::download(std::span<const uint8_t> request) {
    switch (request[0]) {
        case uds::kRequestDownload:
            return memory_.requestDownload(request);
        case uds::kTransferData:
            return memory_.transferData(request);
        default:
            return memory_.requestTransferExit(request);
    }
}

std::vector<uint8_t> UdsServer::routineControl(std::span<const uint8_t> request) {
    constexpr uint8_t kService = uds::kRoutineControl;
    if (request.size() < kRoutineHeaderLength) {
        return uds::negativeAnswer(kService, uds::kIncorrectLength);
    }
    if (request[1] != kStartRoutine) {
        return uds::negativeAnswer(kService, uds::kSubFunctionNotSupported);
    }
    switch (readBigEndian16(request, 2)) {
        case kEraseMemoryRoutine:
            return memory_.eraseMemory(request);
        case kCheckImageRoutine:
            return memory_.checkImage(request);
        default:
            return uds::negativeAnswer(kService, uds::kRequestOutOfRange);
    }
}

// Appends the identifier and its data when the ECU knows it; whether it does.
bool UdsServer::appendDataRecord(uint16_t identifier, std::vector<uint8_t>& answer) const {
    switch (identifier) {
        case kVinIdentifier:
            appendBigEndian16(answer, identifier);
            appendText(answer, vin_);
            return true;
        case kSerialNumberIdentifier:
            appendBigEndian16(answer, identifier);
            appendText(answer, kSerialNumber);
            return true;
        case kSoftwareVersionIdentifier:
            appendBigEndian16(answer, identifier);
            appendText(answer, softwareVersion());
            return true;
        default:
            return false;
    }
}

void UdsServer::enterSession(Session session) {
    if (session != session_) {
        security_.lock();
        memory_.abortDownload();
    }
    session_ = session;
}

}  // namespace vtx::sim

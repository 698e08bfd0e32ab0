#include "base/ErrorTexts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/J2534.h"

namespace vtx {
namespace {

TEST(StatusCodeName, EveryCodeByteForByte) {
    const char* const expected[] = {
        "STATUS_NOERROR",           "ERR_NOT_SUPPORTED",
        "ERR_INVALID_CHANNEL_ID",   "ERR_INVALID_PROTOCOL_ID",
        "ERR_NULL_PARAMETER",       "ERR_INVALID_IOCTL_VALUE",
        "ERR_INVALID_FLAGS",        nullptr,
        "ERR_DEVICE_NOT_CONNECTED", "ERR_TIMEOUT",
        "ERR_INVALID_MSG",          "ERR_INVALID_TIME_INTERVAL",
        "ERR_EXCEEDED_LIMIT",       "ERR_INVALID_MSG_ID",
        "ERR_DEVICE_IN_USE",        "ERR_INVALID_IOCTL_ID",
        "ERR_BUFFER_EMPTY",         "ERR_BUFFER_FULL",
        "ERR_BUFFER_OVERFLOW",      "ERR_PIN_INVALID",
        "ERR_CHANNEL_IN_USE",       "ERR_MSG_PROTOCOL_ID",
        "ERR_INVALID_FILTER_ID",    "ERR_NO_FLOW_CONTROL",
        "ERR_NOT_UNIQUE",           "ERR_INVALID_BAUDRATE",
        "ERR_INVALID_DEVICE_ID",
    };
    static_assert(std::size(expected) == ERR_INVALID_DEVICE_ID + 1);
    for (uint32_t code = 0; code < std::size(expected); ++code) {
        if (expected[code] == nullptr) {
            EXPECT_EQ(statusCodeName(code), nullptr) << code;
        } else {
            ASSERT_NE(statusCodeName(code), nullptr) << code;
            EXPECT_STREQ(statusCodeName(code), expected[code]) << code;
        }
    }
    EXPECT_EQ(statusCodeName(0x1B), nullptr);
    EXPECT_EQ(statusCodeName(0xFFFFFFFF), nullptr);
}

TEST(ErrorTexts, AllFitTheDescriptionBuffer) {
    const char* const texts[] = {
        text::kConnectionClosed,    text::kThreadNotInitialized,    text::kDriverNotInstalled,
        text::kCanNotSupported,     text::kBitrateAlreadySet,       text::kWriteSettingsFailed,
        text::kInvalidTxFlags,      text::kTxFlagsInconsistent,     text::kVoltageNotAdmitted,
        text::kZeroIoctlElements,   text::kTermResistorReadFailed,  text::kOutOfMemory,
        text::kInternalError,       text::kTermResistorWriteFailed, text::kNoPassBlockOnIso15765,
        text::kNoFlowControlInTime, text::kWaitFrameLimit,          text::kReceiverOverflow,
        text::kInvalidFlowControl,  text::kTransferCleared,         text::kTransferTimedOut,
    };
    for (const char* t : texts) {
        EXPECT_LT(std::strlen(t), static_cast<std::size_t>(kErrorTextSize)) << t;
    }
    // The longest use the whole buffer.
    EXPECT_EQ(std::strlen(text::kWriteSettingsFailed), 79u);
    EXPECT_EQ(std::strlen(text::kTxFlagsInconsistent), 79u);
}

}  // namespace
}  // namespace vtx

// Drives one driver family's protocol class through its operations against a device whose
// replies come from a reply feed: init, then frame reads and command transfers in an order the
// feed's position picks, until the feed is used up. Checks what the protocol promises about the
// frame records it fills.
#pragma once

#include <cstddef>

#include "device/UsbProtocolDevice.h"
#include "fuzz/ReplyFeed.h"

namespace vtx::fuzz {

class ProtocolExerciser {
  public:
    // unreadMarker: the idCan of a record a read leaves unfilled (0 for records left zero).
    // maxLength: the largest lenDataCan a filled record may carry.
    ProtocolExerciser(UsbProtocolDevice& device, ReplyFeed& feed, uint32_t unreadMarker,
                      uint8_t maxLength);

    void run();

  private:
    void runOperation(std::size_t which);
    void readFrames(int maxCount);
    void writeThenReadFrames();
    void readIdentification();
    void programController();
    void commandTransfer();
    void checkRecords(const CanFrame* records, int filled, int count) const;

    UsbProtocolDevice& device_;
    ReplyFeed& feed_;
    const uint32_t unreadMarker_;
    const uint8_t maxLength_;
};

}  // namespace vtx::fuzz

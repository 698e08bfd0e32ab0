#include "operations/FirmwareVersionText.h"

#include <cstdio>

namespace vtx {

std::string firmwareVersionText(const char* productCode, uint32_t firmwareVersion,
                                uint32_t serialNumber) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " - N. %d - Ver FW %x.%x.%x.%x",
                  static_cast<int32_t>(serialNumber), (firmwareVersion >> 24) & 0xFF,
                  (firmwareVersion >> 16) & 0xFF, (firmwareVersion >> 8) & 0xFF,
                  firmwareVersion & 0xFF);
    // All five characters travel, a zero among them included.
    return std::string(productCode, 5) + numbers;
}

}  // namespace vtx

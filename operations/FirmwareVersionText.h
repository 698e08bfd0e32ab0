#pragma once

#include <cstdint>
#include <string>

namespace vtx {

// "VTX20 - N. 1234 - Ver FW 2.1.a.f": the product code's five characters, the serial number
// as a signed decimal, the four firmware components (most significant first) in lower-case
// hexadecimal without leading zeros.
std::string firmwareVersionText(const char* productCode, uint32_t firmwareVersion,
                                uint32_t serialNumber);

}  // namespace vtx

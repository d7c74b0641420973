// The device's own CRC-16 (polynomial 0x1021, MSB first, register preset to
// all ones, result inverted). The start value chains calls: the register
// starts at the complement of `start`, so feeding the result of one call
// into the next continues the same checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvo {

std::uint16_t DeviceCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t start = 0);

}  // namespace talvo

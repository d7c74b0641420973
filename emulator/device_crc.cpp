#include "emulator/device_crc.h"

#include <array>

namespace talvo {

namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x8000u) ? static_cast<std::uint16_t>((reg << 1) ^ 0x1021u)
                                  : static_cast<std::uint16_t>(reg << 1);
        }
        table[i] = reg;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

}  // namespace

std::uint16_t DeviceCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t start) {
    std::uint16_t reg = static_cast<std::uint16_t>(~start);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned index = ((reg >> 8) ^ data[i]) & 0xFFu;
        reg = static_cast<std::uint16_t>((reg << 8) ^ kTable[index]);
    }
    return static_cast<std::uint16_t>(~reg);
}

}  // namespace talvo

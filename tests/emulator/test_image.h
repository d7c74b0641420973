// A small builder of firmware images for the emulator's tests, written
// apart from the device's own checks: plain leading block and body with a
// pattern, checksums over the plain content, then scrambled with the key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talvo::test {

struct TestImageParams {
    std::string magic = "UASP";
    std::string version = "1.07";
    std::size_t bodySize = 4000;  // bytes after the header; a multiple of 4
    std::uint32_t key0 = 0x1A2B3C4Du;
    std::uint32_t key1 = 0x55AA0FF0u;
    std::uint32_t formatRevision = 6;
    std::uint32_t seed = 1;
};

std::vector<std::uint8_t> BuildTestImage(const TestImageParams& params);

// Recomputes the header checksum after a test changed header bytes.
void ResealHeader(std::vector<std::uint8_t>& image);

// CRC-16 written out bit by bit (no table), for cross-checking.
std::uint16_t BitwiseCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t start);

void PutLe16(std::vector<std::uint8_t>& v, std::size_t at, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t value);

}  // namespace talvo::test

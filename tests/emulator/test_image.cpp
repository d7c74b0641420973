#include "tests/emulator/test_image.h"

namespace talvo::test {

std::uint16_t BitwiseCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t start) {
    std::uint16_t reg = static_cast<std::uint16_t>(~start);
    for (std::size_t i = 0; i < length; ++i) {
        reg = static_cast<std::uint16_t>(reg ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            reg = static_cast<std::uint16_t>((reg & 0x8000) ? ((reg << 1) ^ 0x1021) : (reg << 1));
        }
    }
    return static_cast<std::uint16_t>(~reg);
}

void PutLe16(std::vector<std::uint8_t>& v, std::size_t at, std::uint16_t value) {
    v[at] = static_cast<std::uint8_t>(value & 0xFF);
    v[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        v[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

namespace {

void Scramble(std::vector<std::uint8_t>& v, std::size_t from, std::size_t to, std::uint32_t k0,
              std::uint32_t k1) {
    for (std::size_t at = from, word = 0; at + 4 <= to; at += 4, ++word) {
        const std::uint32_t key = (word & 1) ? k1 : k0;
        for (std::size_t b = 0; b < 4; ++b) {
            v[at + b] ^= static_cast<std::uint8_t>(key >> (8 * b));
        }
    }
}

}  // namespace

void ResealHeader(std::vector<std::uint8_t>& image) {
    PutLe16(image, 558, BitwiseCrc16(image.data() + 512, 46, 0));
}

std::vector<std::uint8_t> BuildTestImage(const TestImageParams& params) {
    const std::size_t total = 560 + params.bodySize;
    std::vector<std::uint8_t> image(total, 0);
    std::uint32_t state = params.seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < total; ++i) {
        if (i >= 512 && i < 560) {
            continue;
        }
        state = state * 1103515245u + 12345u;
        image[i] = static_cast<std::uint8_t>(state >> 16);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        image[512 + i] = static_cast<std::uint8_t>(i < params.magic.size() ? params.magic[i] : 0);
        image[516 + i] =
            static_cast<std::uint8_t>(i < params.version.size() ? params.version[i] : 0);
    }
    for (std::size_t i = 0; i < 8; ++i) {
        image[520 + i] = static_cast<std::uint8_t>(0xA0 + i);  // aux1
        image[548 + i] = static_cast<std::uint8_t>(0xC0 + i);  // aux3
    }
    PutLe32(image, 528, params.formatRevision);
    PutLe32(image, 532, params.key0);
    PutLe32(image, 536, params.key1);
    PutLe32(image, 540, 0xB0B1B2B3u);  // aux2
    PutLe32(image, 544, static_cast<std::uint32_t>(total));
    const std::uint16_t lead = BitwiseCrc16(image.data(), 512, 0);
    PutLe16(image, 556, BitwiseCrc16(image.data() + 560, total - 560, lead));
    ResealHeader(image);
    Scramble(image, 0, 512, params.key0, params.key1);
    Scramble(image, 560, total, params.key0, params.key1);
    return image;
}

}  // namespace talvo::test

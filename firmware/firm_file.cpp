#include "firmware/firm_file.h"

#include <cstring>
#include <new>

namespace talvo {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t reg = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x8000) ? (reg << 1) ^ 0x1021 : reg << 1;
        }
        table[i] = static_cast<std::uint16_t>(reg);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x1021 && kCrcTable[128] == 0x9188);

std::unique_ptr<std::uint8_t[]> AllocateCopy(const std::uint8_t* source, std::uint32_t length) {
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[length]);
    if (copy) {
        std::memcpy(copy.get(), source, length);
    }
    return copy;
}

}  // namespace

ImageType ImageTypeFromMagic(std::uint32_t magic) {
    switch (magic) {
        case kMagicFwup:
            return kImageTypeFwup;
        case kMagicNormal:
            return kImageTypeNormal;
        case kMagicDspMain:
            return kImageTypeDspMain;
        default:
            return kImageTypeNone;
    }
}

const char* ImageTypeLabel(std::int32_t type) {
    switch (type) {
        case kImageTypeFwup:
            return "Fwup";
        case kImageTypeNormal:
            return "Normal";
        case kImageTypeDspMain:
            return "DspMain";
        default:
            return "none";
    }
}

std::uint16_t Crc16Update(const std::uint8_t* data, std::uint32_t length, std::uint16_t start) {
    std::uint16_t reg = static_cast<std::uint16_t>(~start);
    for (std::uint32_t i = 0; i < length; ++i) {
        reg = static_cast<std::uint16_t>((reg << 8) ^ kCrcTable[((reg >> 8) ^ data[i]) & 0xFF]);
    }
    return static_cast<std::uint16_t>(~reg);
}

void XorWords(std::uint8_t* data, std::uint32_t length, const std::uint32_t* key) {
    const std::uint32_t whole = length / 4;
    for (std::uint32_t k = 0; k < whole; ++k) {
        std::uint8_t* word = data + 4 * k;
        WriteLe32(word, ReadLe32(word) ^ key[k & 1]);
    }
    // A partial last word: only the bytes that exist, with the low bytes of
    // its key word (the word is little-endian, so its first byte is the lowest).
    const std::uint32_t tailKey = key[whole & 1];
    for (std::uint32_t i = 0; i < length % 4; ++i) {
        data[4 * whole + i] ^= static_cast<std::uint8_t>(tailKey >> (8 * i));
    }
}

std::int32_t ulo_CFirmFile::Validate(const std::uint8_t* image, std::uint32_t size) {
    if (image == nullptr || size <= kBodyOffset) {
        return kFirmBadFormat;
    }
    const ImageType magicType = ImageTypeFromMagic(ReadLe32(image + kMagicOffset));
    if (magicType == kImageTypeNone) {
        return kFirmBadFormat;
    }
    type = magicType;
    if (ReadLe32(image + kFormatRevisionOffset) != kFormatRevision) {
        return kFirmBadFormat;
    }
    const std::uint32_t totalLength = ReadLe32(image + kTotalLengthOffset);
    // An image needs a body: a total length of 560 or less would leave
    // nothing (or less than nothing) to descramble after the header.
    if (totalLength > size || totalLength % 4 != 0 || totalLength <= kBodyOffset) {
        return kFirmBadFormat;
    }

    // The checksum covers the plain content; descramble a working copy only.
    {
        std::unique_ptr<std::uint8_t[]> work = AllocateCopy(image, totalLength);
        if (!work) {
            return kFirmNoMemory;
        }
        const std::uint32_t key[2] = {ReadLe32(image + kScrambleKeyOffset),
                                      ReadLe32(image + kScrambleKeyOffset + 4)};
        XorWords(work.get(), kLeadingBlockSize, key);
        XorWords(work.get() + kBodyOffset, totalLength - kBodyOffset, key);
        const std::uint16_t bodyCrc =
            Crc16Update(work.get() + kBodyOffset, totalLength - kBodyOffset,
                        Crc16Update(work.get(), kLeadingBlockSize, 0));
        if (bodyCrc != ReadLe16(image + kBodyCrcOffset)) {
            return kFirmBadChecksum;
        }
    }
    if (Crc16Update(image + kMagicOffset, kHeaderCrcCoverage, 0) !=
        ReadLe16(image + kHeaderCrcOffset)) {
        return kFirmBadChecksum;
    }

    FirmVersion version{};
    std::memcpy(version.data(), image + kVersionOffset, kVersionSize);

    keptImage.reset();
    keptLength = 0;
    keptImage = AllocateCopy(image, totalLength);
    if (!keptImage) {
        return kFirmNoMemory;
    }
    keptLength = totalLength;
    keptBodyCrc = ReadLe16(image + kBodyCrcOffset);
    keptVersion = version;
    return kFirmOk;
}

}  // namespace talvo

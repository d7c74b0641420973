#include "emulator/device_image.h"

#include <cstring>
#include <vector>

#include "emulator/device_crc.h"

namespace talvo {

using namespace image_layout;

std::uint32_t DeviceLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t DeviceLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

bool IsKnownTypeCode(int typeCode) {
    return typeCode == kTypeCodeUpdater || typeCode == kTypeCodeMain || typeCode == kTypeCodeDsp;
}

const char* MagicForTypeCode(int typeCode) {
    switch (typeCode) {
        case kTypeCodeUpdater:
            return "FWUP";
        case kTypeCodeMain:
            return "UASP";
        case kTypeCodeDsp:
            return "DSPA";
        default:
            return "";
    }
}

const char* ImageCheckName(ImageCheck check) {
    switch (check) {
        case ImageCheck::kOk:
            return "ok";
        case ImageCheck::kTooShort:
            return "too short";
        case ImageCheck::kWrongMagic:
            return "wrong magic";
        case ImageCheck::kWrongRevision:
            return "wrong format revision";
        case ImageCheck::kWrongLength:
            return "wrong length";
        case ImageCheck::kBodyCrcMismatch:
            return "body checksum mismatch";
        case ImageCheck::kHeaderCrcMismatch:
            return "header checksum mismatch";
        case ImageCheck::kAnnouncedCrcDiffers:
            return "body checksum differs from the announced one";
    }
    return "?";
}

void XorKeyWords(std::uint8_t* data, std::size_t length, std::uint32_t k0, std::uint32_t k1) {
    for (std::size_t word = 0; word * 4 + 4 <= length; ++word) {
        const std::uint32_t key = (word % 2 == 0) ? k0 : k1;
        std::uint8_t* p = data + word * 4;
        for (int b = 0; b < 4; ++b) {
            p[b] = static_cast<std::uint8_t>(p[b] ^ ((key >> (8 * b)) & 0xFFu));
        }
    }
}

std::string ImageVersionText(const std::uint8_t* data) {
    std::string text(reinterpret_cast<const char*>(data + kVersion), 4);
    const auto end = text.find('\0');
    if (end != std::string::npos) {
        text.resize(end);
    }
    return text;
}

ImageCheck CheckImage(const std::uint8_t* data, std::size_t size, int typeCode,
                      std::uint16_t announcedBodyCrc) {
    if (size <= kBody) {
        return ImageCheck::kTooShort;
    }
    const char* magic = MagicForTypeCode(typeCode);
    if (std::strlen(magic) != 4 || std::memcmp(data + kMagic, magic, 4) != 0) {
        return ImageCheck::kWrongMagic;
    }
    if (DeviceLe32(data + kFormatRevision) != kFormatRevisionValue) {
        return ImageCheck::kWrongRevision;
    }
    const std::uint32_t total = DeviceLe32(data + kTotalLength);
    if (total != size || total % 4 != 0) {
        return ImageCheck::kWrongLength;
    }
    // Descramble a working copy; the received bytes stay as they came.
    std::vector<std::uint8_t> plain(data, data + size);
    const std::uint32_t k0 = DeviceLe32(data + kKey0);
    const std::uint32_t k1 = DeviceLe32(data + kKey1);
    XorKeyWords(plain.data(), kLeadingBlockSize, k0, k1);
    XorKeyWords(plain.data() + kBody, size - kBody, k0, k1);
    const std::uint16_t lead = DeviceCrc16(plain.data(), kLeadingBlockSize, 0);
    const std::uint16_t body = DeviceCrc16(plain.data() + kBody, size - kBody, lead);
    const std::uint16_t storedBody = DeviceLe16(data + kBodyCrc);
    if (body != storedBody) {
        return ImageCheck::kBodyCrcMismatch;
    }
    if (DeviceCrc16(data + kMagic, kHeaderCrc - kMagic, 0) != DeviceLe16(data + kHeaderCrc)) {
        return ImageCheck::kHeaderCrcMismatch;
    }
    if (storedBody != announcedBodyCrc) {
        return ImageCheck::kAnnouncedCrcDiffers;
    }
    return ImageCheck::kOk;
}

}  // namespace talvo

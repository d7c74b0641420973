#include "tools/fw_image_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace talvo::fwtools {

namespace {

// splitmix64: small, fast, and fully determined by the seed.
std::uint64_t NextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

template <std::size_t N>
void Put(Bytes& image, std::uint32_t offset, const std::array<std::uint8_t, N>& field) {
    std::copy(field.begin(), field.end(), image.begin() + offset);
}

template <std::size_t N>
std::array<std::uint8_t, N> Get(const std::uint8_t* image, std::uint32_t offset) {
    std::array<std::uint8_t, N> field{};
    std::memcpy(field.data(), image + offset, N);
    return field;
}

}  // namespace

Bytes SeededBytes(std::uint64_t seed, std::size_t count) {
    Bytes bytes(count);
    std::uint64_t state = seed;
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 8 == 0) {
            word = NextRandom(state);
        }
        bytes[i] = static_cast<std::uint8_t>(word >> (8 * (i % 8)));
    }
    return bytes;
}

std::optional<std::array<std::uint8_t, 4>> MagicFromText(std::string_view text) {
    if (text.size() != 4) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> magic{};
    for (std::size_t i = 0; i < 4; ++i) {
        magic[i] = static_cast<std::uint8_t>(text[i]);
    }
    return magic;
}

std::array<std::uint8_t, 4> MagicOfType(ImageType type) {
    static constexpr std::uint32_t kMagics[kImageTypeCount] = {kMagicFwup, kMagicNormal,
                                                               kMagicDspMain};
    std::array<std::uint8_t, 4> magic{};
    WriteLe32(magic.data(), kMagics[type]);
    return magic;
}

ImageParams SeededImage(std::string_view magic, std::string_view version, std::uint32_t totalLength,
                        std::uint64_t seed, std::uint32_t key0, std::uint32_t key1) {
    ImageParams params;
    if (auto bytes = MagicFromText(magic)) {
        params.magic = *bytes;
    }
    params.version = {};
    for (std::size_t i = 0; i < params.version.size() && i < version.size(); ++i) {
        params.version[i] = static_cast<std::uint8_t>(version[i]);
    }
    params.key0 = key0;
    params.key1 = key1;
    const std::uint32_t length = std::max(totalLength, kBodyOffset);
    Bytes content = SeededBytes(seed, kLeadingBlockSize + (length - kBodyOffset));
    params.leadingBlock.assign(content.begin(), content.begin() + kLeadingBlockSize);
    params.body.assign(content.begin() + kLeadingBlockSize, content.end());
    return params;
}

Bytes BuildImage(const ImageParams& params) {
    Bytes image(kBodyOffset + params.body.size(), 0);
    std::copy_n(params.leadingBlock.begin(),
                std::min<std::size_t>(params.leadingBlock.size(), kLeadingBlockSize),
                image.begin());
    std::copy(params.body.begin(), params.body.end(), image.begin() + kBodyOffset);

    Put(image, kMagicOffset, params.magic);
    Put(image, kVersionOffset, params.version);
    Put(image, kAux1Offset, params.aux1);
    WriteLe32(&image[kFormatRevisionOffset], params.formatRevision);
    WriteLe32(&image[kScrambleKeyOffset], params.key0);
    WriteLe32(&image[kScrambleKeyOffset + 4], params.key1);
    Put(image, kAux2Offset, params.aux2);
    WriteLe32(&image[kTotalLengthOffset],
              params.totalLength.value_or(static_cast<std::uint32_t>(image.size())));
    Put(image, kAux3Offset, params.aux3);

    // Checksum of the plain content, then scramble it in place.
    const std::uint16_t bodyCrc =
        Crc16Update(image.data() + kBodyOffset, static_cast<std::uint32_t>(params.body.size()),
                    Crc16Update(image.data(), kLeadingBlockSize, 0));
    WriteLe16(&image[kBodyCrcOffset], params.bodyCrc.value_or(bodyCrc));
    const std::uint32_t key[2] = {params.key0, params.key1};
    XorWords(image.data(), kLeadingBlockSize, key);
    XorWords(image.data() + kBodyOffset, static_cast<std::uint32_t>(params.body.size()), key);
    WriteLe16(&image[kHeaderCrcOffset], params.headerCrc.value_or(ComputeHeaderCrc(image.data())));
    return image;
}

void RefreshChecksums(Bytes& image) {
    WriteLe16(&image[kBodyCrcOffset],
              ComputeBodyCrc(image.data(), static_cast<std::uint32_t>(image.size())));
    WriteLe16(&image[kHeaderCrcOffset], ComputeHeaderCrc(image.data()));
}

Bytes JoinImages(const std::vector<Bytes>& images) {
    Bytes package;
    for (const Bytes& image : images) {
        package.insert(package.end(), image.begin(), image.end());
    }
    return package;
}

std::optional<ImageHeader> ReadImageHeader(const std::uint8_t* image, std::size_t size) {
    if (image == nullptr || size < kBodyOffset) {
        return std::nullopt;
    }
    ImageHeader header;
    header.magic = Get<4>(image, kMagicOffset);
    header.version = Get<4>(image, kVersionOffset);
    header.aux1 = Get<8>(image, kAux1Offset);
    header.formatRevision = ReadLe32(image + kFormatRevisionOffset);
    header.key0 = ReadLe32(image + kScrambleKeyOffset);
    header.key1 = ReadLe32(image + kScrambleKeyOffset + 4);
    header.aux2 = Get<4>(image, kAux2Offset);
    header.totalLength = ReadLe32(image + kTotalLengthOffset);
    header.aux3 = Get<8>(image, kAux3Offset);
    header.bodyCrc = ReadLe16(image + kBodyCrcOffset);
    header.headerCrc = ReadLe16(image + kHeaderCrcOffset);
    return header;
}

std::uint16_t ComputeBodyCrc(const std::uint8_t* image, std::uint32_t length) {
    if (length <= kBodyOffset) {
        return 0;
    }
    Bytes work(image, image + length);
    const std::uint32_t key[2] = {ReadLe32(image + kScrambleKeyOffset),
                                  ReadLe32(image + kScrambleKeyOffset + 4)};
    XorWords(work.data(), kLeadingBlockSize, key);
    XorWords(work.data() + kBodyOffset, length - kBodyOffset, key);
    return Crc16Update(work.data() + kBodyOffset, length - kBodyOffset,
                       Crc16Update(work.data(), kLeadingBlockSize, 0));
}

std::uint16_t ComputeHeaderCrc(const std::uint8_t* image) {
    return Crc16Update(image + kMagicOffset, kHeaderCrcCoverage, 0);
}

std::string DescribeValidation(const std::uint8_t* image, std::uint32_t size, std::int32_t result) {
    switch (result) {
        case kFirmOk:
            return "valid";
        case kFirmNoMemory:
            return "out of memory for a copy of the image";
        case kFirmBadChecksum: {
            const std::uint32_t length = ReadLe32(image + kTotalLengthOffset);
            if (ComputeBodyCrc(image, length) != ReadLe16(image + kBodyCrcOffset)) {
                return "body checksum mismatch";
            }
            return "header checksum mismatch";
        }
        case kFirmBadFormat:
            break;
        default:
            return "unexpected result " + std::to_string(result);
    }
    if (size <= kBodyOffset) {
        return "too short: " + std::to_string(size) + " bytes, an image needs more than 560";
    }
    if (ImageTypeFromMagic(ReadLe32(image + kMagicOffset)) == kImageTypeNone) {
        return "unrecognised magic " + PrintableField(image + kMagicOffset, 4);
    }
    const std::uint32_t revision = ReadLe32(image + kFormatRevisionOffset);
    if (revision != kFormatRevision) {
        return "format revision " + std::to_string(revision) + ", expected 6";
    }
    const std::uint32_t length = ReadLe32(image + kTotalLengthOffset);
    if (length > size) {
        return "total length " + std::to_string(length) + " exceeds the " + std::to_string(size) +
               " bytes available";
    }
    if (length % 4 != 0) {
        return "total length " + std::to_string(length) + " is not a multiple of 4";
    }
    if (length <= kBodyOffset) {
        return "total length " + std::to_string(length) + " leaves no body (560 or less)";
    }
    return "not a well-formed image";
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

std::string PrintableField(const std::uint8_t* bytes, std::size_t count) {
    std::size_t used = count;
    while (used > 0 && bytes[used - 1] == 0) {
        --used;
    }
    for (std::size_t i = 0; i < used; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) {
            std::string hex = "0x";
            hex += HexBytes(bytes, count);
            return hex;
        }
    }
    std::string text = "\"";
    text.append(bytes, bytes + used);
    text += '"';
    return text;
}

}  // namespace talvo::fwtools

// Writes firmware images in exactly the device's format, with every field
// under the caller's control (so that tests can also make broken images),
// joins images into packages, and reads the header back for inspection.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firm_file.h"

namespace talvo::fwtools {

using Bytes = std::vector<std::uint8_t>;

// Everything an image is made of. The leading block and the body are given
// in plain; BuildImage scrambles them with the key words.
struct ImageParams {
    std::array<std::uint8_t, 4> magic{'U', 'A', 'S', 'P'};
    std::array<std::uint8_t, 4> version{'1', '.', '0', '7'};
    std::array<std::uint8_t, 8> aux1{};
    std::uint32_t formatRevision = kFormatRevision;
    std::uint32_t key0 = 0;
    std::uint32_t key1 = 0;
    std::array<std::uint8_t, 4> aux2{};
    std::array<std::uint8_t, 8> aux3{};
    Bytes leadingBlock;  // plain; cut or padded with zeros to 512 bytes
    Bytes body;          // plain; the image is 560 + body.size() bytes
    // By default the length field is the image's length and both checksums
    // are computed; set these to store something else.
    std::optional<std::uint32_t> totalLength;
    std::optional<std::uint16_t> bodyCrc;
    std::optional<std::uint16_t> headerCrc;
};

Bytes BuildImage(const ImageParams& params);

// `count` pseudo-random bytes that depend only on `seed` (same on every platform).
Bytes SeededBytes(std::uint64_t seed, std::size_t count);

// Parameters of an image of `totalLength` bytes (at least 560) whose plain
// leading block and body are the first bytes of SeededBytes(seed).
ImageParams SeededImage(std::string_view magic, std::string_view version, std::uint32_t totalLength,
                        std::uint64_t seed, std::uint32_t key0, std::uint32_t key1);

// Four bytes from a text of exactly 4 characters; nullopt otherwise.
std::optional<std::array<std::uint8_t, 4>> MagicFromText(std::string_view text);
// The magic of an image type (0, 1, 2).
std::array<std::uint8_t, 4> MagicOfType(ImageType type);

// Recomputes the body and header checksums of a built image in place, e.g.
// after a test changed a field on purpose. The image must be at least 560 bytes.
void RefreshChecksums(Bytes& image);

Bytes JoinImages(const std::vector<Bytes>& images);

// The plain header of an image, as stored.
struct ImageHeader {
    std::array<std::uint8_t, 4> magic{};
    std::array<std::uint8_t, 4> version{};
    std::array<std::uint8_t, 8> aux1{};
    std::uint32_t formatRevision = 0;
    std::uint32_t key0 = 0;
    std::uint32_t key1 = 0;
    std::array<std::uint8_t, 4> aux2{};
    std::uint32_t totalLength = 0;
    std::array<std::uint8_t, 8> aux3{};
    std::uint16_t bodyCrc = 0;
    std::uint16_t headerCrc = 0;
};

// Reads the header; needs at least 560 bytes.
std::optional<ImageHeader> ReadImageHeader(const std::uint8_t* image, std::size_t size);
// The checksum of the descrambled leading block and body of the first
// `length` bytes (length > 560) of `image`, computed on a copy.
std::uint16_t ComputeBodyCrc(const std::uint8_t* image, std::uint32_t length);
// The checksum of the 46 stored header bytes from the magic on.
std::uint16_t ComputeHeaderCrc(const std::uint8_t* image);

// Why Validate(image, size) gave `result`, in words (the checks in the order
// Validate makes them).
std::string DescribeValidation(const std::uint8_t* image, std::uint32_t size, std::int32_t result);

// Printable form of 4 header bytes: the text when all are printable ASCII,
// with a trailing run of zero bytes dropped; otherwise hex.
std::string PrintableField(const std::uint8_t* bytes, std::size_t count);
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace talvo::fwtools

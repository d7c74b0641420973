// What the device checks before it takes a received firmware image into
// flash: the magic fits the announced type code, the format revision, the
// length, the body checksum over the descrambled leading block and body, and
// the checksum of the stored header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace talvo {

// Layout of an image as the device reads it (little-endian fields).
namespace image_layout {
inline constexpr std::size_t kLeadingBlockSize = 512;
inline constexpr std::size_t kMagic = 512;
inline constexpr std::size_t kVersion = 516;
inline constexpr std::size_t kFormatRevision = 528;
inline constexpr std::size_t kKey0 = 532;
inline constexpr std::size_t kKey1 = 536;
inline constexpr std::size_t kTotalLength = 544;
inline constexpr std::size_t kBodyCrc = 556;
inline constexpr std::size_t kHeaderCrc = 558;
inline constexpr std::size_t kBody = 560;
inline constexpr std::uint32_t kFormatRevisionValue = 6;
}  // namespace image_layout

// Type codes the update group uses: 0 updater, 1 main firmware, 3 DSP.
inline constexpr std::uint8_t kTypeCodeUpdater = 0;
inline constexpr std::uint8_t kTypeCodeMain = 1;
inline constexpr std::uint8_t kTypeCodeDsp = 3;

bool IsKnownTypeCode(int typeCode);
// The four magic letters an image of this type code carries ("" if none).
const char* MagicForTypeCode(int typeCode);

enum class ImageCheck {
    kOk,
    kTooShort,             // no body after the header
    kWrongMagic,           // not the magic of the announced type code
    kWrongRevision,        // format revision other than 6
    kWrongLength,          // total length field differs from what was announced, or not whole words
    kBodyCrcMismatch,      // descrambled content does not give the stored body checksum
    kHeaderCrcMismatch,    // stored header does not give the header checksum
    kAnnouncedCrcDiffers,  // image body checksum is not the one announced before the transfer
};

const char* ImageCheckName(ImageCheck check);

// Checks `size` received bytes as an image of `typeCode` whose body checksum
// was announced as `announcedBodyCrc`.
ImageCheck CheckImage(const std::uint8_t* data, std::size_t size, int typeCode,
                      std::uint16_t announcedBodyCrc);

// XORs consecutive little-endian 32-bit words with k0, k1, k0, ... in place.
// `length` is a multiple of 4.
void XorKeyWords(std::uint8_t* data, std::size_t length, std::uint32_t k0, std::uint32_t k1);

// Little-endian field readers for the device side (kept apart from the host's).
std::uint32_t DeviceLe32(const std::uint8_t* p);
std::uint16_t DeviceLe16(const std::uint8_t* p);

// The 4-character version field of an image (caller checked the size).
std::string ImageVersionText(const std::uint8_t* data);

}  // namespace talvo

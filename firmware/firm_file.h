// One firmware image: its layout, the scrambling of its leading block and
// body, its CRC-16 checksums, and ulo_CFirmFile, which checks an image and
// keeps a copy of the last one that passed.
//
// Layout (little-endian throughout):
//   0..511    leading block, scrambled
//   512..559  header, plain: magic, version, aux1, format revision, key
//             words K0/K1, aux2, total length, aux3, body CRC, header CRC
//   560..     body, scrambled
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace talvo {

// Image type, decided by the magic; it also indexes the package slots.
enum ImageType : std::int32_t {
    kImageTypeNone = -1,
    kImageTypeFwup = 0,     // magic "FWUP"
    kImageTypeNormal = 1,   // magic "UASP"
    kImageTypeDspMain = 2,  // magic "DSPA"
};
inline constexpr int kImageTypeCount = 3;

// The magics read as 32-bit little-endian words.
inline constexpr std::uint32_t kMagicFwup = 0x50555746;     // "FWUP"
inline constexpr std::uint32_t kMagicNormal = 0x50534155;   // "UASP"
inline constexpr std::uint32_t kMagicDspMain = 0x41505344;  // "DSPA"

// Field offsets and sizes.
inline constexpr std::uint32_t kLeadingBlockSize = 512;
inline constexpr std::uint32_t kMagicOffset = 512;
inline constexpr std::uint32_t kVersionOffset = 516;
inline constexpr std::uint32_t kVersionSize = 4;
inline constexpr std::uint32_t kAux1Offset = 520;
inline constexpr std::uint32_t kFormatRevisionOffset = 528;
inline constexpr std::uint32_t kScrambleKeyOffset = 532;
inline constexpr std::uint32_t kAux2Offset = 540;
inline constexpr std::uint32_t kTotalLengthOffset = 544;
inline constexpr std::uint32_t kAux3Offset = 548;
inline constexpr std::uint32_t kBodyCrcOffset = 556;
inline constexpr std::uint32_t kHeaderCrcOffset = 558;
inline constexpr std::uint32_t kBodyOffset = 560;
// The header checksum covers the stored bytes from the magic up to the body CRC.
inline constexpr std::uint32_t kHeaderCrcCoverage = kHeaderCrcOffset - kMagicOffset;  // 46
inline constexpr std::uint32_t kFormatRevision = 6;

// Results of ulo_CFirmFile::Validate.
inline constexpr std::int32_t kFirmOk = 0;
inline constexpr std::int32_t kFirmNoMemory = -1;
inline constexpr std::int32_t kFirmBadFormat = -5;
inline constexpr std::int32_t kFirmBadChecksum = -8;

// The type a magic stands for, or kImageTypeNone.
ImageType ImageTypeFromMagic(std::uint32_t magic);
// "Fwup", "Normal", "DspMain", or "none" for anything else.
const char* ImageTypeLabel(std::int32_t type);

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
inline std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void WriteLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// CRC-16/GENIBUS (polynomial 0x1021, MSB first, initial 0xFFFF, final XOR
// 0xFFFF). `start` chains calls: 0 begins a new checksum, and passing the
// result of a previous call continues it as if both inputs were one.
std::uint16_t Crc16Update(const std::uint8_t* data, std::uint32_t length, std::uint16_t start);

// XORs consecutive 32-bit little-endian words of `data` alternately with
// key[0] (even words) and key[1] (odd words); its own inverse. A trailing
// partial word is XORed with the matching low bytes of its key word, and no
// byte at or past `length` is touched.
void XorWords(std::uint8_t* data, std::uint32_t length, const std::uint32_t* key);

// Version text as kept by ulo_CFirmFile: the 4 version bytes followed by 4
// zero bytes, so it always reads as a zero-terminated text.
using FirmVersion = std::array<char, 8>;

class ulo_CFirmFile {
  public:
    ulo_CFirmFile() = default;
    virtual ~ulo_CFirmFile() = default;
    ulo_CFirmFile(const ulo_CFirmFile&) = delete;
    ulo_CFirmFile& operator=(const ulo_CFirmFile&) = delete;

    // Checks the image at `image` (`size` bytes, read only). Returns kFirmOk
    // and keeps a copy of the image as stored, kFirmBadFormat for a malformed
    // image, kFirmBadChecksum for a checksum mismatch, or kFirmNoMemory. The
    // type is recorded as soon as the magic is recognised, so it may change
    // even when a later check fails; read GetType/GetVersion after kFirmOk.
    std::int32_t Validate(const std::uint8_t* image, std::uint32_t size);

    ImageType GetType() const { return type; }
    FirmVersion GetVersion() const { return keptVersion; }

    // The copy kept from the last image that passed (for diagnostics).
    const std::uint8_t* KeptImage() const { return keptImage.get(); }
    std::uint32_t KeptLength() const { return keptLength; }
    std::uint16_t KeptBodyCrc() const { return keptBodyCrc; }

  private:
    ImageType type = kImageTypeNone;
    std::unique_ptr<std::uint8_t[]> keptImage;
    std::uint32_t keptLength = 0;
    std::uint16_t keptBodyCrc = 0;
    FirmVersion keptVersion{};
};

}  // namespace talvo

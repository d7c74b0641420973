// The firmware package: up to three images in the format of firm_file.h,
// one after the other with no header, gap or trailer. Splitting places each
// image in the slot of its type; loading finds the package the executable
// carries (a "BIN" resource with id 131 on Windows, bytes linked into the
// binary elsewhere) and splits it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "firmware/firm_file.h"

namespace talvo {

inline constexpr int kPackageResourceId = 131;
inline constexpr int kPackageMaxPasses = 3;

// Slots indexed by ImageType (0 Fwup, 1 Normal, 2 DspMain).
struct FirmwarePackage {
    // Exact copies of the images as stored; null for an empty slot.
    std::array<std::unique_ptr<std::uint8_t[]>, kImageTypeCount> imageData;
    // Byte counts of those copies; 0 for an empty slot.
    std::array<std::uint32_t, kImageTypeCount> imageLength{};
    // Version text of each image; empty unless the image passed validation.
    std::array<std::u16string, kImageTypeCount> imageVersion;

    bool HasImage(int slot) const { return imageData[slot] != nullptr; }
    bool HasAnyImage() const;
    // Empties every slot: buffers, lengths and version texts.
    void Clear();
};

// Splits `size` bytes at `bytes` into `package`. Returns 1 when at least one
// slot holds an image afterwards, 0 otherwise. A package of 0 bytes leaves
// the slots untouched; otherwise the slots are emptied first. The scan takes
// at most three images and stops at an unrecognised magic, at a remainder
// too short for a header, and at an image whose total length is 0 or runs
// past the end of the package, so nothing outside the package is read.
// An image lands in its slot whether or not it validates; only a valid image
// gets its version text. A later image of the same type replaces an earlier one.
int SplitFirmwarePackage(const std::uint8_t* bytes, std::uint32_t size, FirmwarePackage& package);

// The package bytes the executable carries; false when there are none.
// The bytes stay valid for the life of the process and must not be written.
bool FindPackageResource(const std::uint8_t** bytes, std::uint32_t* size);

// Finds the carried package and splits it. Returns 0 with the slots
// untouched when there is no package or it is empty; else as SplitFirmwarePackage.
int LoadFirmwarePackage(FirmwarePackage& package);

// The kept version bytes (zero-terminated, at most 8) as UTF-16: through the
// ANSI code page on Windows, one code unit per byte elsewhere.
std::u16string VersionTextToUtf16(const FirmVersion& version);

}  // namespace talvo

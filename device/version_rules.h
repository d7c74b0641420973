// Version texts as numbers, and the rule that decides whether the device
// needs the package's firmware.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo {

// "M.ff" as M * 65536 + f1 * 256 + f2: the major part keeps its first two
// digits, the fraction its first two; further digits are skipped. Any other
// character (also a second point, or a point before any digit) ends the
// text. Empty or null text gives 0. The order of the numbers is the order
// of the versions.
std::uint32_t ParseVersionText(std::u16string_view text);
std::uint32_t ParseVersionText(const char16_t* text);

// Slots are indexed by image type (0 Fwup, 1 Normal, 2 DspMain).
using VersionSlots = std::array<std::u16string, 3>;

// An update is needed when the device's Normal and DspMain versions differ
// (exact comparison; also when one of them was not read), or when a package
// image is newer than the device's version of its type.
bool IsUpdateNeeded(const VersionSlots& deviceVersion, const VersionSlots& imageVersion,
                    const std::array<bool, 3>& hasImage);

}  // namespace talvo

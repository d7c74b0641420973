// USB identities of the TALVO, the one place they are defined.
//
// These IDs come from a test range and belong to no real product; a release
// build must carry the vendor ID and product IDs assigned to the device.
#pragma once

#include <cstdint>

namespace talvo {

inline constexpr std::uint16_t kTalvoVendorId = 0x1209;         // open vendor ID, test range
inline constexpr std::uint16_t kTalvoNormalProductId = 0x7A10;  // normal mode
inline constexpr std::uint16_t kTalvoUpdateProductId = kTalvoNormalProductId + 1;  // update mode

// Report data lengths without the report ID byte.
inline constexpr int kNormalReportLength = 16;
inline constexpr int kUpdateReportLength = 64;

}  // namespace talvo

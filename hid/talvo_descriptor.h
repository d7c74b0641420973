// The TALVO's HID identity in its two modes, defined once: vendor-defined
// usage page, one application collection, unnumbered input and output
// reports of 16 (normal mode) or 64 (update mode) data bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "hid/emulated_bus.h"

namespace talvo {

// reportLength: kNormalReportLength or kUpdateReportLength.
std::vector<std::uint8_t> TalvoReportDescriptor(int reportLength);

// The interface as the emulated bus presents it, for the given mode's
// report length: IDs, byte lengths (+1 for the ID byte), output report ID
// 0 and the report descriptor above.
EmulatedIdentity TalvoEmulatedIdentity(int reportLength);

}  // namespace talvo

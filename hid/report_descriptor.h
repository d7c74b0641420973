// Our own parser of HID report descriptors, for platforms that hand over
// the raw descriptor (hidraw) instead of parsed capabilities.
//
// It answers what the capability query answers elsewhere: the byte length
// of the largest report of each kind plus 1 for the report ID byte (0 when
// there is no report of that kind), and the report ID of the first output
// data item (the first output button field, or when there is none the
// first output value field). Bounded and allocation-free: any input,
// however malformed, is either parsed or refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvo {

struct HidReportLayout {
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::uint8_t outputReportId = 0;
    bool numberedReports = false;  // the descriptor declares report IDs
    // Usage page and usage of the first top-level collection (0 if none).
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
};

// Refuses (returns false) an empty or truncated descriptor, report ID 0
// or above 255, unbalanced collections, a pop without push, a push stack deeper
// than 16, and reports longer than 65534 bytes.
bool ParseReportDescriptor(const std::uint8_t* data, std::size_t length, HidReportLayout& layout);

}  // namespace talvo

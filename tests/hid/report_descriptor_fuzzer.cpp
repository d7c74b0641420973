// Feeds arbitrary bytes to the report descriptor parser; any result is
// fine, undefined behaviour and out-of-bounds access are not.
#include <cstddef>
#include <cstdint>

#include "hid/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talvo::HidReportLayout layout;
    if (talvo::ParseReportDescriptor(data, size, layout)) {
        // An accepted layout is self-consistent.
        if (layout.outputReportByteLength == 0 && layout.outputReportId != 0) {
            __builtin_trap();
        }
    }
    return 0;
}

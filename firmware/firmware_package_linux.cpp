// The package as bytes linked into the executable (see the
// talvo_firmware_package target), and version texts one code unit per byte.
#include "firmware/firmware_package.h"

// Defined by the generated source of an embedded package. Weak, so that an
// executable built without one links and simply has no package.
extern "C" {
extern const unsigned char talvo_embedded_package_begin __attribute__((weak));
extern const unsigned char talvo_embedded_package_end __attribute__((weak));
}

namespace talvo {

bool FindPackageResource(const std::uint8_t** bytes, std::uint32_t* size) {
    const unsigned char* begin = &talvo_embedded_package_begin;
    const unsigned char* end = &talvo_embedded_package_end;
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    const auto last = reinterpret_cast<std::uintptr_t>(end);
    if (begin == nullptr || end == nullptr || last < first) {
        return false;
    }
    *bytes = begin;
    *size = static_cast<std::uint32_t>(last - first);
    return true;
}

std::u16string VersionTextToUtf16(const FirmVersion& version) {
    std::u16string text;
    for (char c : version) {
        if (c == '\0') {
            break;
        }
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace talvo

#include "device/version_rules.h"

namespace talvo {

std::uint32_t ParseVersionText(std::u16string_view text) {
    std::uint32_t major = 0;
    std::uint32_t fraction = 0;
    bool inFraction = false;
    bool digitSeen = false;
    int count = 0;
    for (const char16_t c : text) {
        if (c >= u'0' && c <= u'9') {
            digitSeen = true;
            if (count < 2) {
                const std::uint32_t digit = static_cast<std::uint32_t>(c - u'0');
                if (!inFraction) {
                    major = major * 10 + digit;
                } else {
                    fraction += count == 0 ? digit * 256 : digit;
                }
                ++count;
            }
        } else if (c == u'.' && !inFraction && digitSeen) {
            inFraction = true;
            count = 0;
        } else {
            break;
        }
    }
    return major * 65536 + fraction;
}

std::uint32_t ParseVersionText(const char16_t* text) {
    return text == nullptr ? 0 : ParseVersionText(std::u16string_view(text));
}

bool IsUpdateNeeded(const VersionSlots& deviceVersion, const VersionSlots& imageVersion,
                    const std::array<bool, 3>& hasImage) {
    if (deviceVersion[1] != deviceVersion[2]) {
        return true;
    }
    for (std::size_t slot = 0; slot < 3; ++slot) {
        if (hasImage[slot] &&
            ParseVersionText(imageVersion[slot]) > ParseVersionText(deviceVersion[slot])) {
            return true;
        }
    }
    return false;
}

}  // namespace talvo

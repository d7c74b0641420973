#include "shell/locale_text.h"

#include <cctype>

namespace talvo {

std::uint32_t LcidFromLocaleName(std::string_view name) {
    // Language and territory, without encoding or modifier.
    const std::size_t cut = name.find_first_of(".@");
    std::string base(name.substr(0, cut));
    for (char& c : base) {
        if (c == '-') {
            c = '_';
        }
    }
    std::string language = base.substr(0, base.find('_'));
    for (char& c : language) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string territory =
        base.find('_') == std::string::npos ? std::string() : base.substr(base.find('_') + 1);
    if (base.empty() || base == "C" || base == "POSIX") {
        return 0x0409;
    }
    if (language == "en") {
        return 0x0409;
    }
    if (language == "ja") {
        return 0x0411;
    }
    if (language == "zh") {
        if (territory == "TW" || territory == "Hant" || territory == "Hant_TW") {
            return 0x0404;
        }
        if (territory == "HK") {
            return 0x0C04;
        }
        if (territory == "SG") {
            return 0x1004;
        }
        return 0x0804;
    }
    struct Pair {
        const char* language;
        std::uint32_t lcid;
    };
    static const Pair others[] = {{"de", 0x0407}, {"fr", 0x040C}, {"es", 0x0C0A}, {"it", 0x0410},
                                  {"ko", 0x0412}, {"nl", 0x0413}, {"pt", 0x0416}, {"ru", 0x0419}};
    for (const Pair& p : others) {
        if (language == p.language) {
            return p.lcid;
        }
    }
    return 0;
}

std::string LocaleNameFromEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return std::string();
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string ToTerminalText(std::u16string_view text) {
    std::string out = ToUtf8(text);
    std::string cleaned;
    cleaned.reserve(out.size());
    for (const char c : out) {
        if (c != '\r') {
            cleaned.push_back(c);
        }
    }
    return cleaned;
}

std::string AgreementToUtf8(const std::uint8_t* bytes, std::size_t size) {
    std::u16string text;
    std::size_t i = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        i = 2;
    }
    for (; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return ToTerminalText(text);
}

}  // namespace talvo

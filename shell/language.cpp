#include "shell/language.h"

#include "shell/app_data.h"
#include "resources/resource_ids.h"

namespace talvo {

namespace {
constexpr std::uint32_t kPrimaryEnglish = 0x09;
constexpr std::uint32_t kPrimaryJapanese = 0x11;
constexpr std::uint32_t kPrimaryChinese = 0x04;
constexpr std::uint32_t kSubLanguageChinesePrc = 0x02;
}  // namespace

LanguageIndex SelectLanguage(std::uint32_t lcid) {
    // The language identifier is the low word of the locale identifier; the
    // bits above it (sort order) play no part.
    const std::uint32_t langId = lcid & 0xFFFFu;
    const std::uint32_t primary = langId & 0x3FFu;
    const std::uint32_t sub = langId >> 10;
    switch (primary) {
        case kPrimaryEnglish:
            return kLanguageEnglish;
        case kPrimaryJapanese:
            return kLanguageJapanese;
        case kPrimaryChinese:
            return sub == kSubLanguageChinesePrc ? kLanguageChinese : kLanguageOther;
        default:
            return kLanguageOther;
    }
}

int LanguageOffset(LanguageIndex language) {
    switch (language) {
        case kLanguageJapanese:
            return kLanguageOffsetJapanese;
        case kLanguageChinese:
            return kLanguageOffsetChinese;
        default:
            return 0;
    }
}

int LocalizedId(int baseId, LanguageIndex language) {
    return baseId + LanguageOffset(language);
}

int LocalizedId(int baseId) {
    return LocalizedId(baseId, g_appData.languageIndex);
}

}  // namespace talvo

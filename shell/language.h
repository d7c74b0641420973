// Language of the user interface: chosen once at start-up from the user's
// default locale, and the rule that turns a string's base ID into the ID of
// that language's text.
#pragma once

#include <cstdint>

namespace talvo {

// 0 English, 1 Japanese, 2 Simplified Chinese, 3 any other language (shown
// with the English texts).
using LanguageIndex = std::int32_t;
inline constexpr LanguageIndex kLanguageEnglish = 0;
inline constexpr LanguageIndex kLanguageJapanese = 1;
inline constexpr LanguageIndex kLanguageChinese = 2;
inline constexpr LanguageIndex kLanguageOther = 3;

// The language for a locale identifier (as GetUserDefaultLCID gives it):
// English (primary language 0x09) → 0, Japanese (0x11) → 1, Chinese (0x04)
// with the People's Republic of China sub-language → 2, everything else → 3.
LanguageIndex SelectLanguage(std::uint32_t lcid);

// Offset of a language's string IDs: +10000 Japanese, +20000 Simplified
// Chinese, 0 for every other value.
int LanguageOffset(LanguageIndex language);

// The ID of a string's text in the given language.
int LocalizedId(int baseId, LanguageIndex language);
// The same in the language of the run (g_appData.languageIndex).
int LocalizedId(int baseId);

}  // namespace talvo

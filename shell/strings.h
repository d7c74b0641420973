// Texts of the string table in the language of the run. On Windows they are
// read from the executable's own string table (LoadStringW); elsewhere from
// the portable table generated from the same catalogue.
#pragma once

#include <string>

#include "shell/language.h"

namespace talvo {

// Text of LocalizedId(baseId, language); empty when the table has no such ID.
std::u16string LoadLocalizedString(int baseId, LanguageIndex language);
// The same in the language of the run (g_appData.languageIndex).
std::u16string LoadLocalizedString(int baseId);

// The product title: strings 502, 503 and 504 joined ("TALVO FW-Updater").
std::u16string LoadProductTitle(LanguageIndex language);
std::u16string LoadProductTitle();

}  // namespace talvo

// Catalogue texts as Qt strings. The texts come from the one string
// catalogue of the program (app/strings.h); only their form changes here:
// CR LF line breaks become the LF that Qt's widgets expect.
#pragma once

#include <QString>

#include "shell/language.h"

namespace talvo::qt {

// LoadLocalizedString(baseId, language) as a QString with LF line breaks.
QString Text(int baseId, LanguageIndex language);
// The product title ("TALVO FW-Updater").
QString ProductTitle(LanguageIndex language);
// The agreement of the language (the resource 130 + its offset) as text.
QString AgreementText(LanguageIndex language);

// The language of the user interface from the locale environment
// (LC_ALL, else LC_MESSAGES, else LANG), by the same rule as on Windows:
// Japanese, Simplified Chinese of the PRC, English otherwise.
LanguageIndex LanguageFromEnvironment();

}  // namespace talvo::qt

#include "programs/talvo-updater/qt_text.h"

#include <cstdlib>

#include "shell/strings.h"
#include "shell/locale_text.h"
#include "resources/catalogue.h"

namespace talvo::qt {

QString Text(int baseId, LanguageIndex language) {
    QString text = QString::fromStdU16String(LoadLocalizedString(baseId, language));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString ProductTitle(LanguageIndex language) {
    return QString::fromStdU16String(LoadProductTitle(language));
}

QString AgreementText(LanguageIndex language) {
    const auto bytes = FindAgreementText(kIdAgreementText + LanguageOffset(language));
    return QString::fromStdString(AgreementToUtf8(bytes.data(), bytes.size()));
}

LanguageIndex LanguageFromEnvironment() {
    return SelectLanguage(LcidFromLocaleName(LocaleNameFromEnvironment(
        std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"))));
}

}  // namespace talvo::qt

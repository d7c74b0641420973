// The parts of the string catalogue that are the same on every platform.
#include "shell/app_data.h"
#include "shell/strings.h"
#include "resources/resource_ids.h"

namespace talvo {

std::u16string LoadLocalizedString(int baseId) {
    return LoadLocalizedString(baseId, g_appData.languageIndex);
}

std::u16string LoadProductTitle(LanguageIndex language) {
    return LoadLocalizedString(kIdsTitlePart1, language) +
           LoadLocalizedString(kIdsTitlePart2, language) +
           LoadLocalizedString(kIdsTitlePart3, language);
}

std::u16string LoadProductTitle() {
    return LoadProductTitle(g_appData.languageIndex);
}

}  // namespace talvo

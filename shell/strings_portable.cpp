// String lookup over the portable table generated from the catalogue.
#include "shell/strings.h"
#include "resources/catalogue.h"

namespace talvo {

std::u16string LoadLocalizedString(int baseId, LanguageIndex language) {
    return std::u16string(FindString(LocalizedId(baseId, language)));
}

}  // namespace talvo

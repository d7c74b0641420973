// String lookup in the executable's own string table.
#include <windows.h>

#include "shell/strings.h"

namespace talvo {

std::u16string LoadLocalizedString(int baseId, LanguageIndex language) {
    const int id = LocalizedId(baseId, language);
    if (id < 0 || id > 0xFFFF) {
        return {};
    }
    // With a buffer size of 0 LoadStringW hands out a pointer to the resource
    // text itself and its length, so no text is ever cut to a buffer.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                   reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) {
        return {};
    }
    return std::u16string(reinterpret_cast<const char16_t*>(text),
                          static_cast<std::size_t>(length));
}

}  // namespace talvo

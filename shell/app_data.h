// The data every window reads for the whole run: the user-interface language
// and the product name and version from the executable's version block. It
// is written once on the UI thread during start-up (language first, then
// ReadVersionBlock) and only read afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "shell/language.h"

namespace talvo {

// The session-wide mutex of the Windows program, which the Windows console
// program takes too: one of our programs per session talks to the TALVO.
inline constexpr char16_t kSingleInstanceMutexName[] = u"TALVO-FW-UPDATER-MUTEX";

struct AppData {
    static constexpr int kProductNameUnits = 65;  // 64 characters and a terminator

    LanguageIndex languageIndex = kLanguageEnglish;
    std::int32_t productVersionMajor = 0;          // high word of the product version's high dword
    std::int32_t productVersionMinor = 0;          // low word of the product version's high dword
    std::int32_t productVersionBuild = 0;          // high word of the product version's low dword
    char16_t productName[kProductNameUnits] = {};  // "ProductName" of the version block

    std::u16string_view ProductName() const;
    // Stores a product name: at most 64 characters are kept (a longer name is
    // cut, never written past the member), and a NUL ends the name early.
    void SetProductName(std::u16string_view name);
};

// The application's one instance (held for the application object).
extern AppData g_appData;

// The about box's line, "%s  Version %d.%d%d": the name, two blanks,
// "Version ", the major number, a point, then the minor and the build number
// with nothing between them.
std::u16string FormatAboutLine(std::u16string_view productName, std::int32_t major,
                               std::int32_t minor, std::int32_t build);
std::u16string FormatAboutLine(const AppData& data);

}  // namespace talvo

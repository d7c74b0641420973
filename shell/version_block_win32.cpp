// Reading the version block of a module file with the version-information
// functions.
#include <windows.h>

#include <cstdlib>

#include "shell/version_block.h"

namespace talvo {

namespace {
constexpr DWORD kPathUnits = 260;
}

void ReadVersionBlockFromFile(const char16_t* path, AppData& data) {
    const auto* widePath = reinterpret_cast<const wchar_t*>(path);
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(widePath, &unused);
    if (size == 0) {
        return;
    }
    void* buffer = std::malloc(2 * (static_cast<std::size_t>(size) + 1));
    if (buffer == nullptr) {
        return;
    }
    if (!GetFileVersionInfoW(widePath, 0, size, buffer)) {
        std::free(buffer);
        return;
    }

    // Product name, in the language and code page of the first translation
    // entry. A reply shorter than one entry is not read (it would be read
    // past its end).
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(buffer, L"\\VarFileInfo\\Translation", &value, &length) == 1 &&
        value != nullptr && length >= 2 * sizeof(WORD)) {
        const WORD* translation = static_cast<const WORD*>(value);
        wchar_t key[64];
        wsprintfW(key, L"\\StringFileInfo\\%04x%04x\\ProductName", translation[0], translation[1]);
        wchar_t* name = nullptr;
        UINT nameLength = 0;
        if (VerQueryValueW(buffer, key, reinterpret_cast<void**>(&name), &nameLength) == 1 &&
            name != nullptr) {
            // Bounded copy: at most the returned length, and never more than
            // the 64 characters the member holds; a longer name is cut.
            data.SetProductName(
                std::u16string_view(reinterpret_cast<const char16_t*>(name), nameLength));
        }
    }

    // The fixed part, independently of the name.
    value = nullptr;
    length = 0;
    if (VerQueryValueW(buffer, L"\\", &value, &length) == 1 && value != nullptr &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        data.productVersionMajor = HIWORD(fixed->dwProductVersionMS);
        data.productVersionMinor = LOWORD(fixed->dwProductVersionMS);
        data.productVersionBuild = HIWORD(fixed->dwProductVersionLS);
    }
    std::free(buffer);
}

void ReadVersionBlock(AppData& data) {
    wchar_t path[kPathUnits];
    const DWORD n = GetModuleFileNameW(nullptr, path, kPathUnits);
    // A path that filled the whole buffer was cut; reading the block of
    // whatever file the cut path names would give a wrong result.
    if (n == 0 || n >= kPathUnits) {
        return;
    }
    ReadVersionBlockFromFile(reinterpret_cast<const char16_t*>(path), data);
}

}  // namespace talvo

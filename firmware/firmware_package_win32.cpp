// The package as the executable's own resource "BIN" 131, and version texts
// through the ANSI code page.
#include "firmware/firmware_package.h"

#include <windows.h>

namespace talvo {

bool FindPackageResource(const std::uint8_t** bytes, std::uint32_t* size) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kPackageResourceId), L"BIN");
    if (resource == nullptr) {
        return false;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) {
        return false;
    }
    const DWORD length = SizeofResource(module, resource);
    const void* data = LockResource(loaded);
    if (data == nullptr && length != 0) {
        return false;
    }
    *bytes = static_cast<const std::uint8_t*>(data);
    *size = length;
    return true;
}

std::u16string VersionTextToUtf16(const FirmVersion& version) {
    // The kept bytes always end in zeros, but count them anyway so that a
    // text without a terminator cannot make the conversion read further.
    int length = 0;
    while (length < static_cast<int>(version.size()) && version[length] != '\0') {
        ++length;
    }
    if (length == 0) {
        return {};
    }
    wchar_t wide[16];
    const int count =
        MultiByteToWideChar(CP_ACP, 0, version.data(), length, wide, static_cast<int>(16));
    if (count <= 0) {
        return {};
    }
    return std::u16string(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(count));
}

}  // namespace talvo

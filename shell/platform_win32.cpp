// The Windows answers: the user's locale, kernel mutex objects of the
// session and the resources linked into the executable.
#include <windows.h>

#include "shell/platform.h"

namespace talvo {
namespace {

class Win32AppPlatform final : public IAppPlatform {
  public:
    std::uint32_t UserDefaultLocale() override { return GetUserDefaultLCID(); }

    std::uintptr_t CreateNamedMutex(const std::u16string& name, bool& alreadyExists) override {
        HANDLE m = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()));
        alreadyExists = m != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
        return reinterpret_cast<std::uintptr_t>(m);
    }

    void CloseNamedMutex(std::uintptr_t handle) override {
        HANDLE m = reinterpret_cast<HANDLE>(handle);
        ReleaseMutex(m);
        CloseHandle(m);
    }

    std::vector<std::uint8_t> LoadRawResource(int type, int id) override {
        std::vector<std::uint8_t> bytes;
        HMODULE module = GetModuleHandleW(nullptr);
        HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
        if (res == nullptr) {
            return bytes;
        }
        HGLOBAL data = LoadResource(module, res);
        const DWORD size = SizeofResource(module, res);
        const void* p = data != nullptr ? LockResource(data) : nullptr;
        if (p != nullptr && size > 0) {
            const auto* b = static_cast<const std::uint8_t*>(p);
            bytes.assign(b, b + size);
        }
        return bytes;
    }
};

}  // namespace

IAppPlatform& BuildAppPlatform() {
    static Win32AppPlatform platform;
    return platform;
}

}  // namespace talvo

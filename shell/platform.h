// What the program asks of the operating system outside its windows: the
// user's locale, a named mutex of the session and the executable's raw
// resources. The Windows build asks the system (platform_win32.cpp); other
// builds answer from what the program carries (platform_posix.cpp). A test
// installs its own answers with ScopedAppPlatform, as it installs a window
// system with ScopedUiBackend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvo {

class IAppPlatform {
  public:
    virtual ~IAppPlatform() = default;

    // The user's default locale identifier (the regional format setting).
    virtual std::uint32_t UserDefaultLocale() = 0;

    // A named mutex of the session: a handle (0 when it could not be made)
    // and whether it existed already; Close releases and closes it.
    virtual std::uintptr_t CreateNamedMutex(const std::u16string& name, bool& alreadyExists) = 0;
    virtual void CloseNamedMutex(std::uintptr_t handle) = 0;

    // A raw resource of the executable (type 23 for the agreement texts);
    // empty when missing.
    virtual std::vector<std::uint8_t> LoadRawResource(int type, int id) = 0;
};

namespace AppPlatform {
// The installed platform, else the one of the build.
IAppPlatform& Current();
// Installs `platform` (null restores the build's own); returns the one
// installed before.
IAppPlatform* SetCurrent(IAppPlatform* platform);
}  // namespace AppPlatform

// Installs a platform for its life and puts back the one it replaced.
class ScopedAppPlatform {
  public:
    explicit ScopedAppPlatform(IAppPlatform& platform)
        : previous_(AppPlatform::SetCurrent(&platform)) {}
    ~ScopedAppPlatform() { AppPlatform::SetCurrent(previous_); }
    ScopedAppPlatform(const ScopedAppPlatform&) = delete;
    ScopedAppPlatform& operator=(const ScopedAppPlatform&) = delete;

  private:
    IAppPlatform* previous_;
};

// The user's default locale identifier.
std::uint32_t UserDefaultLocale();

// A raw resource of the executable; empty when missing.
std::vector<std::uint8_t> LoadRawResource(int type, int id);

// The note for a TALVO this user may not open: how to install the udev
// rule, or, when the rule is in place already (the package puts it in
// /usr/lib/udev/rules.d; by hand it goes to /etc/udev/rules.d), to plug the
// unit in again or trigger udev. Its base string ID; `root` prefixes the
// paths looked at.
int NoAccessMessageId(const std::string& root = std::string());

// A named mutex of the session, held while the object lives.
class NamedMutex {
  public:
    enum class Result { Created, AlreadyExists, Failed };
    NamedMutex() = default;
    ~NamedMutex() { Close(); }
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Makes or opens the mutex; a handle is held in both of the first cases.
    Result Create(const std::u16string& name);
    void Close();
    bool IsHeld() const { return handle_ != 0; }

  private:
    std::uintptr_t handle_ = 0;
};

}  // namespace talvo

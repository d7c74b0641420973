// The operating system's non-window answers for headless tests: a user
// locale a test chooses, named mutexes shared by the whole test process
// (never by other processes, so parallel tests and programs do not meet),
// and raw resources from a lookup (the generated catalogue by default).
// Install it with ScopedAppPlatform.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/platform.h"

namespace talvo {

class HeadlessPlatform final : public IAppPlatform {
  public:
    using ResourceLookup = std::function<std::vector<std::uint8_t>(int type, int id)>;

    // The raw resources the program is built with.
    static ResourceLookup ShippedResources();

    explicit HeadlessPlatform(ResourceLookup resources = ShippedResources())
        : resources_(std::move(resources)) {}

    // The locale UserDefaultLocale reports (English, United States at first).
    void SetUserLocale(std::uint32_t lcid) { userLocale_ = lcid; }

    std::uint32_t UserDefaultLocale() override { return userLocale_; }
    std::uintptr_t CreateNamedMutex(const std::u16string& name, bool& alreadyExists) override;
    void CloseNamedMutex(std::uintptr_t handle) override;
    std::vector<std::uint8_t> LoadRawResource(int type, int id) override;

  private:
    ResourceLookup resources_;
    std::atomic<std::uint32_t> userLocale_{0x0409};
};

}  // namespace talvo

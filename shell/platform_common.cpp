// The installed platform and the conveniences over it, on every system.
#include <atomic>
#include <filesystem>
#include <system_error>

#include "resources/resource_ids.h"
#include "shell/platform.h"

namespace talvo {

// The platform of the build (platform_win32.cpp / platform_posix.cpp).
IAppPlatform& BuildAppPlatform();

namespace {
std::atomic<IAppPlatform*> g_platform{nullptr};
}  // namespace

int NoAccessMessageId(const std::string& root) {
    for (const char* directory : {"/usr/lib/udev/rules.d/", "/etc/udev/rules.d/"}) {
        std::error_code error;
        if (std::filesystem::exists(root + directory + "70-talvo.rules", error)) {
            return kIdsNoAccessRuleInstalled;
        }
    }
    return kIdsNoAccess;
}

namespace AppPlatform {

IAppPlatform& Current() {
    IAppPlatform* p = g_platform.load(std::memory_order_acquire);
    return p != nullptr ? *p : BuildAppPlatform();
}

IAppPlatform* SetCurrent(IAppPlatform* platform) {
    return g_platform.exchange(platform, std::memory_order_acq_rel);
}

}  // namespace AppPlatform

std::uint32_t UserDefaultLocale() {
    return AppPlatform::Current().UserDefaultLocale();
}

std::vector<std::uint8_t> LoadRawResource(int type, int id) {
    return AppPlatform::Current().LoadRawResource(type, id);
}

NamedMutex::Result NamedMutex::Create(const std::u16string& name) {
    Close();
    bool existed = false;
    handle_ = AppPlatform::Current().CreateNamedMutex(name, existed);
    if (handle_ == 0) {
        return Result::Failed;
    }
    return existed ? Result::AlreadyExists : Result::Created;
}

void NamedMutex::Close() {
    if (handle_ != 0) {
        AppPlatform::Current().CloseNamedMutex(handle_);
        handle_ = 0;
    }
}

}  // namespace talvo

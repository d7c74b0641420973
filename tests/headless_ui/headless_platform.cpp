#include "tests/headless_ui/headless_platform.h"

#include <map>
#include <mutex>

#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace talvo {

namespace {
// Named mutexes are shared by every platform object of the process, as the
// real ones are by every process of the session: handles per name.
std::mutex g_mutexLock;
std::map<std::u16string, int> g_mutexHandles;
std::map<std::uintptr_t, std::u16string> g_mutexNames;
std::uintptr_t g_nextMutex = 1;
}  // namespace

HeadlessPlatform::ResourceLookup HeadlessPlatform::ShippedResources() {
    return [](int type, int id) {
        std::vector<std::uint8_t> bytes;
        if (type == kResourceTypeHtml) {
            auto span = FindAgreementText(id);
            bytes.assign(span.begin(), span.end());
        }
        return bytes;
    };
}

std::uintptr_t HeadlessPlatform::CreateNamedMutex(const std::u16string& name, bool& alreadyExists) {
    std::lock_guard lock(g_mutexLock);
    int& count = g_mutexHandles[name];
    alreadyExists = count > 0;
    ++count;
    const std::uintptr_t handle = g_nextMutex++;
    g_mutexNames[handle] = name;
    return handle;
}

void HeadlessPlatform::CloseNamedMutex(std::uintptr_t handle) {
    std::lock_guard lock(g_mutexLock);
    auto it = g_mutexNames.find(handle);
    if (it == g_mutexNames.end()) {
        return;
    }
    if (--g_mutexHandles[it->second] <= 0) {
        g_mutexHandles.erase(it->second);
    }
    g_mutexNames.erase(it);
}

std::vector<std::uint8_t> HeadlessPlatform::LoadRawResource(int type, int id) {
    return resources_ ? resources_(type, id) : std::vector<std::uint8_t>{};
}

}  // namespace talvo

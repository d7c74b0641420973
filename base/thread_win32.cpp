#include <windows.h>

#include <cstddef>

#include "base/thread.h"
#include "base/thread_platform.h"

namespace talvo::thread_platform {

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(::GetCurrentThreadId());
}

bool SetCurrentThreadPriority(int priority) {
    return ::SetThreadPriority(::GetCurrentThread(), priority) != FALSE;
}

void SetCurrentThreadName(const char16_t* name) {
    // Thread descriptions exist only on newer systems: look the call up.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return;
    }
    FARPROC proc = ::GetProcAddress(kernel, "SetThreadDescription");
    if (proc == nullptr) {
        return;
    }
    wchar_t wide[Thread::kNameCapacity];
    std::size_t i = 0;
    for (; i < Thread::kNameCapacity - 1 && name[i] != u'\0'; ++i) {
        wide[i] = static_cast<wchar_t>(name[i]);
    }
    wide[i] = L'\0';
    auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(proc));
    setDescription(::GetCurrentThread(), wide);
}

}  // namespace talvo::thread_platform

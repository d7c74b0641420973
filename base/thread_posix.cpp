#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>

#include "base/thread_platform.h"

namespace talvo::thread_platform {

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

bool SetCurrentThreadPriority(int priority) {
    // Worker priorities only matter to the Windows scheduler; here the known
    // values are accepted and left unapplied (raising a thread's priority
    // needs privileges a desktop user lacks).
    switch (priority) {
        case -15:
        case -2:
        case -1:
        case 0:
        case 1:
        case 2:
        case 15:
            return true;
        default:
            return false;
    }
}

void SetCurrentThreadName(const char16_t* name) {
    // The kernel keeps 15 bytes plus the terminator: encode as UTF-8 and stop
    // before the first character that does not fit whole.
    char buffer[16];
    std::size_t used = 0;
    for (std::size_t i = 0; name[i] != u'\0'; ++i) {
        char32_t c = name[i];
        if (c >= 0xD800 && c <= 0xDBFF && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        char bytes[4];
        std::size_t n = 0;
        if (c < 0x80) {
            bytes[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
            bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes[n++] = static_cast<char>(0xF0 | (c >> 18));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        if (used + n > sizeof(buffer) - 1) {
            break;
        }
        for (std::size_t k = 0; k < n; ++k) {
            buffer[used++] = bytes[k];
        }
    }
    buffer[used] = '\0';
    ::pthread_setname_np(::pthread_self(), buffer);
}

}  // namespace talvo::thread_platform

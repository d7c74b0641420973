// The answers outside Windows. No regional setting is read: the locale is
// English (United States). A named mutex is an advisory lock (flock) on a
// file of the user's session directory, so a second copy of the program (in
// this process or another) finds it taken; the lock is the kernel's, so it
// goes with the process however the process ends. The raw resources are the ones the
// Windows executable carries, from the generated catalogue.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "shell/platform.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace talvo {
namespace {

// The lock file of a mutex name: in $XDG_RUNTIME_DIR when set, else in
// $TMPDIR (or /tmp) with the user ID in its name; characters other than
// ASCII letters, digits, '-' and '.' become '_'.
std::string LockPath(const std::u16string& name) {
    std::string file;
    for (char16_t c : name) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
        file.push_back(plain ? static_cast<char>(c) : '_');
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/" + file + ".lock";
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    return dir + "/" + file + "-" + std::to_string(getuid()) + ".lock";
}

class PosixAppPlatform final : public IAppPlatform {
  public:
    std::uint32_t UserDefaultLocale() override { return 0x0409; }

    // The handle is the descriptor plus one. A symbolic link in the lock
    // file's place is not followed (in /tmp anyone may put one there), and
    // the file is never written. The lock belongs to the open
    // file, so a second open of the same name fails to take it also within
    // one process. A holder that found the mutex taken keeps its handle
    // without the lock; unlike a kernel mutex, the name is free again once
    // the lock's holder has closed it, whoever else still holds a handle.
    std::uintptr_t CreateNamedMutex(const std::u16string& name, bool& alreadyExists) override {
        alreadyExists = false;
        const int fd =
            open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            return 0;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                close(fd);
                return 0;
            }
            alreadyExists = true;
        }
        return static_cast<std::uintptr_t>(fd) + 1;
    }

    void CloseNamedMutex(std::uintptr_t handle) override {
        if (handle != 0) {
            close(static_cast<int>(handle - 1));  // releases the lock when held
        }
    }

    std::vector<std::uint8_t> LoadRawResource(int type, int id) override {
        std::vector<std::uint8_t> bytes;
        if (type == kResourceTypeHtml) {
            const auto text = FindAgreementText(id);
            bytes.assign(text.begin(), text.end());
        }
        return bytes;
    }
};

}  // namespace

IAppPlatform& BuildAppPlatform() {
    static PosixAppPlatform platform;
    return platform;
}

}  // namespace talvo

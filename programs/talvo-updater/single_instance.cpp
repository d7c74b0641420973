#include "programs/talvo-updater/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace talvo::qt {

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path) {
    if (fd_ >= 0) {
        return Result::kAcquired;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Result::kUnavailable;
    }
    // A lock of another open file description conflicts, also within one
    // process.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kUnavailable;
    }
    fd_ = fd;
    return Result::kAcquired;
}

std::string SingleInstanceLock::DefaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/talvo-updater.lock";
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    return dir + "/talvo-updater-" + std::to_string(getuid()) + ".lock";
}

}  // namespace talvo::qt

// One running updater per user: an advisory lock on a file in the user's
// runtime directory ($XDG_RUNTIME_DIR, else the temporary directory with the
// user ID in the name). The lock is the kernel's (flock), so it goes with
// the process however the process ends: a crashed updater never blocks the
// next start.
#pragma once

#include <string>

namespace talvo::qt {

class SingleInstanceLock {
  public:
    enum class Result {
        kAcquired,
        kHeldElsewhere,  // another updater of this user runs
        kUnavailable,    // the lock file could not be opened
    };

    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    Result Acquire(const std::string& path);
    Result Acquire() { return Acquire(DefaultPath()); }
    bool Held() const { return fd_ >= 0; }

    // "$XDG_RUNTIME_DIR/talvo-updater.lock", or the fallback above.
    static std::string DefaultPath();

  private:
    int fd_ = -1;
};

}  // namespace talvo::qt

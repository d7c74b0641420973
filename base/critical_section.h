// The recursive lock of the device side and the scoped guard that holds it.
//
// CriticalSectionLock may be entered again by the thread that holds it; each
// Enter needs its Leave. CriticalSection enters the lock it is given for the
// life of one scope; given null it does nothing at all.
#pragma once

#include <mutex>

namespace talvo {

class CriticalSectionLock {
  public:
    CriticalSectionLock() = default;
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    // Enters when no other thread holds the lock; returns whether it did.
    bool TryEnter() { return mutex_.try_lock(); }

  private:
    std::recursive_mutex mutex_;
};

class CriticalSection {
  public:
    explicit CriticalSection(CriticalSectionLock* lock) : section(lock) {
        if (section != nullptr) {
            section->Enter();
        }
    }
    virtual ~CriticalSection() {
        if (section != nullptr) {
            section->Leave();
            section = nullptr;
        }
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

  protected:
    CriticalSectionLock* section;  // the lock held, or null
};

}  // namespace talvo

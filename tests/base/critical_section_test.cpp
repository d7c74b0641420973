#include "base/critical_section.h"

#include <gtest/gtest.h>

#include <thread>

namespace talvo {
namespace {

// Whether another thread could enter the lock right now.
bool FreeForOtherThreads(CriticalSectionLock& lock) {
    bool entered = false;
    std::thread other([&] {
        entered = lock.TryEnter();
        if (entered) {
            lock.Leave();
        }
    });
    other.join();
    return entered;
}

TEST(CriticalSectionTest, GuardHoldsTheLockForItsScope) {
    CriticalSectionLock lock;
    EXPECT_TRUE(FreeForOtherThreads(lock));
    {
        CriticalSection outer(&lock);
        EXPECT_FALSE(FreeForOtherThreads(lock));
        {
            CriticalSection inner(&lock);  // the same thread may enter again
            EXPECT_FALSE(FreeForOtherThreads(lock));
        }
        EXPECT_FALSE(FreeForOtherThreads(lock));  // still held by the outer guard
    }
    EXPECT_TRUE(FreeForOtherThreads(lock));
}

TEST(CriticalSectionTest, NullGuardNeitherEntersNorLeaves) {
    CriticalSectionLock lock;
    lock.Enter();
    {
        CriticalSection none(nullptr);
        EXPECT_FALSE(FreeForOtherThreads(lock));
    }
    // The null guard's end must not have released anything.
    EXPECT_FALSE(FreeForOtherThreads(lock));
    lock.Leave();
    EXPECT_TRUE(FreeForOtherThreads(lock));
}

TEST(CriticalSectionTest, GuardSerialisesThreads) {
    CriticalSectionLock lock;
    long counter = 0;  // deliberately plain: only the guard protects it
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CriticalSection guard(&lock);
            counter = counter + 1;
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace talvo

// The DLL's own thread primitives (built into this program under names of
// their own, which the calls below use): mutexes that the runtime's headers
// initialise statically as recursive or error-checking.
#include <gtest/gtest.h>

#include <windows.h>
#include <errno.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

using Work = std::function<void()>;

DWORD WINAPI RunWork(void* work) {
    (*static_cast<const Work*>(work))();
    return 0;
}

HANDLE Start(const Work& work) { return CreateThread(nullptr, 0, &RunWork, const_cast<Work*>(&work), 0, nullptr); }

// Runs work on a thread of its own: false if it did not end within the bound,
// so a lock that waits for ever fails the test instead of hanging it.
bool RunOnOtherThread(const Work& work) {
    const HANDLE thread = Start(work);
    if (thread == nullptr) return false;
    const bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

TEST(RuntimeThreadsTest, StaticRecursiveMutexIsRetakenByItsOwnerAndHeldUntilTheLastUnlock) {
    static pthread_mutex_t mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER;
    const Work lockTwice = [] {
        EXPECT_EQ(pthread_mutex_lock(&mutex), 0);
        EXPECT_EQ(pthread_mutex_lock(&mutex), 0);
    };
    ASSERT_TRUE(RunOnOtherThread(lockTwice)) << "a statically initialised recursive mutex deadlocked";
    // Still held by the thread above, which has ended: nobody else may take
    // or give it back.
    EXPECT_EQ(pthread_mutex_unlock(&mutex), EPERM);

    static pthread_mutex_t held = PTHREAD_RECURSIVE_MUTEX_INITIALIZER;
    const HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(pthread_mutex_lock(&held), 0);
    ASSERT_EQ(pthread_mutex_lock(&held), 0);
    const Work other = [taken] {
        pthread_mutex_lock(&held);
        SetEvent(taken);
        pthread_mutex_unlock(&held);
    };
    const HANDLE thread = Start(other);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(pthread_mutex_unlock(&held), 0);
    EXPECT_EQ(WaitForSingleObject(taken, 100), static_cast<DWORD>(WAIT_TIMEOUT)) << "taken while still held once";
    EXPECT_EQ(pthread_mutex_unlock(&held), 0);
    EXPECT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0) << "not free after the last unlock";
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(taken);
    EXPECT_EQ(pthread_mutex_destroy(&held), 0);
}

TEST(RuntimeThreadsTest, StaticErrorCheckingMutexRefusesRelockAndForeignUnlock) {
    static pthread_mutex_t mutex = PTHREAD_ERRORCHECK_MUTEX_INITIALIZER;
    const Work misuse = [] {
        EXPECT_EQ(pthread_mutex_lock(&mutex), 0);
        EXPECT_EQ(pthread_mutex_lock(&mutex), EDEADLK);
        EXPECT_EQ(pthread_mutex_unlock(&mutex), 0);
        EXPECT_EQ(pthread_mutex_unlock(&mutex), EPERM);
        EXPECT_EQ(pthread_mutex_lock(&mutex), 0);
    };
    ASSERT_TRUE(RunOnOtherThread(misuse)) << "a statically initialised error-checking mutex deadlocked";
    EXPECT_EQ(pthread_mutex_unlock(&mutex), EPERM) << "unlocked by a thread that does not hold it";
    EXPECT_EQ(pthread_mutex_destroy(&mutex), EBUSY);
}

// The table of such mutexes is small: running out of it must stop the
// process, saying why, rather than hand out a mutex that is not one.
TEST(RuntimeThreadsDeathTest, MoreRecursiveMutexesThanTheTableHoldsStopTheProcessSayingWhy) {
    const Work lockMany = [] {
        static pthread_mutex_t many[64];
        for (pthread_mutex_t& mutex : many) {
            mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER;
            pthread_mutex_lock(&mutex);
        }
    };
    EXPECT_DEATH(
        {
            if (!RunOnOtherThread(lockMany)) {
                std::fputs("deadlocked\n", stderr);
                std::exit(1);
            }
        },
        "more recursive or error-checking mutexes in use at once");
}

}  // namespace

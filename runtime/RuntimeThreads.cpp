// The thread primitives that the statically linked C++ runtime calls (once,
// mutexes, thread-specific keys), on Win32 and in the DLL's own objects, so
// that the linker never takes the POSIX thread library's.
//
// Why: that library keeps state for each load that it never gives back when
// the DLL is freed, and a client that loads and frees the driver often enough
// runs out of slots and is aborted. What these keep is given back by
// ReleaseRuntimeThreads at unload. How the leak was found: docs/reliability.md.
#include "runtime/RuntimeThreads.h"

#include <windows.h>
#include <errno.h>
#include <pthread.h>

#include <climits>
#include <cstdlib>

namespace {

// A once-flag is a long: not run, running, done.
constexpr LONG kOnceNotRun = PTHREAD_ONCE_INIT;
constexpr LONG kOnceRunning = 1;
constexpr LONG kOnceDone = 2;

// A mutex is one pointer-sized slot, the size of a slim reader/writer lock,
// whose unlocked state is all zero bits. A statically initialised mutex holds
// the library's initialiser until its first use turns it into that state.
SRWLOCK* SlimLock(pthread_mutex_t* mutex) {
    static_assert(sizeof(pthread_mutex_t) == sizeof(SRWLOCK), "a mutex slot holds a slim lock");
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(mutex), nullptr,
                                      reinterpret_cast<PVOID>(PTHREAD_MUTEX_INITIALIZER));
    return reinterpret_cast<SRWLOCK*>(mutex);
}

// A recursive or error-checking mutex needs its owner beside the lock, more
// than the slot holds: it keeps its initialiser in the slot for good, and
// its state here, under the slot's address. Taken as a slim lock, the
// initialiser's bits would read as held, and the first lock would wait for
// ever.
struct OwnedMutex {
    pthread_mutex_t* mutex;  // null: a free entry
    SRWLOCK lock;
    volatile LONG owner;  // the holding thread's id, 0 when free
    ULONG depth;
};
constexpr int kMaxOwnedMutexes = 16;
OwnedMutex g_ownedMutexes[kMaxOwnedMutexes];
SRWLOCK g_ownedMutexesLock = SRWLOCK_INIT;

// No slim lock taken only exclusively ever holds either initialiser's bits.
bool IsOwnedMutex(const pthread_mutex_t* mutex) {
    const pthread_mutex_t kind = *static_cast<const volatile pthread_mutex_t*>(mutex);
    return kind == PTHREAD_RECURSIVE_MUTEX_INITIALIZER || kind == PTHREAD_ERRORCHECK_MUTEX_INITIALIZER;
}

// Said where a debugger and a console each look, as the process ends.
[[noreturn]] void StopProcess(const char* message) {
    OutputDebugStringA(message);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        WriteFile(error, message, static_cast<DWORD>(lstrlenA(message)), &written, nullptr);
    }
    std::abort();
}

OwnedMutex* FindOwnedMutex(pthread_mutex_t* mutex, bool create) {
    AcquireSRWLockExclusive(&g_ownedMutexesLock);
    OwnedMutex* found = nullptr;
    OwnedMutex* unused = nullptr;
    for (OwnedMutex& entry : g_ownedMutexes) {
        if (entry.mutex == mutex) {
            found = &entry;
            break;
        }
        if (entry.mutex == nullptr && unused == nullptr) unused = &entry;
    }
    if (found == nullptr && create && unused != nullptr) {
        unused->mutex = mutex;
        InitializeSRWLock(&unused->lock);
        unused->owner = 0;
        unused->depth = 0;
        found = unused;
    }
    ReleaseSRWLockExclusive(&g_ownedMutexesLock);
    return found;
}

int LockOwnedMutex(pthread_mutex_t* mutex) {
    OwnedMutex* entry = FindOwnedMutex(mutex, true);
    if (entry == nullptr) {
        // Never silently unlocked, never a wait that cannot end.
        StopProcess("TavrilenFocuser: more recursive or error-checking mutexes in use at once than "
                    "the driver's runtime holds; stopping the process.\n");
    }
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (entry->owner == self) {
        if (*mutex == PTHREAD_ERRORCHECK_MUTEX_INITIALIZER) return EDEADLK;
        if (entry->depth == ULONG_MAX) return EAGAIN;
        ++entry->depth;
        return 0;
    }
    AcquireSRWLockExclusive(&entry->lock);
    InterlockedExchange(&entry->owner, self);
    entry->depth = 1;
    return 0;
}

int UnlockOwnedMutex(pthread_mutex_t* mutex) {
    OwnedMutex* entry = FindOwnedMutex(mutex, false);
    if (entry == nullptr || entry->owner != static_cast<LONG>(GetCurrentThreadId())) return EPERM;
    if (--entry->depth == 0) {
        InterlockedExchange(&entry->owner, 0);
        ReleaseSRWLockExclusive(&entry->lock);
    }
    return 0;
}

int DestroyOwnedMutex(pthread_mutex_t* mutex) {
    AcquireSRWLockExclusive(&g_ownedMutexesLock);
    int result = 0;
    for (OwnedMutex& entry : g_ownedMutexes) {
        if (entry.mutex != mutex) continue;
        if (entry.owner != 0) {
            result = EBUSY;
        } else {
            entry.mutex = nullptr;
        }
        break;
    }
    ReleaseSRWLockExclusive(&g_ownedMutexesLock);
    return result;
}

// Thread-specific keys live in fiber-local storage, whose callback runs the
// key's destructor when a thread ends and when the index is freed. The runtime
// creates one key (its emulated thread-locals); a few spare cost nothing.
using Destructor = void (*)(void*);
constexpr LONG kMaxKeys = 4;
struct Key {
    DWORD index;
    Destructor destructor;
};
Key g_keys[kMaxKeys];
volatile LONG g_keysCreated = 0;

template <int N>
void WINAPI RunDestructor(void* value) {
    if (value != nullptr && g_keys[N].destructor != nullptr) g_keys[N].destructor(value);
}
const PFLS_CALLBACK_FUNCTION kDestructorCallbacks[kMaxKeys] = {RunDestructor<0>, RunDestructor<1>,
                                                                RunDestructor<2>, RunDestructor<3>};

bool ValidKey(pthread_key_t key) { return key < static_cast<pthread_key_t>(g_keysCreated) && key < kMaxKeys; }

}  // namespace

extern "C" {

int pthread_once(pthread_once_t* once, void (*function)(void)) {
    if (InterlockedCompareExchange(once, kOnceRunning, kOnceNotRun) == kOnceNotRun) {
        function();
        InterlockedExchange(once, kOnceDone);
        return 0;
    }
    // Another thread is running the initialiser, a few instructions long.
    while (InterlockedCompareExchange(once, kOnceDone, kOnceDone) != kOnceDone) SwitchToThread();
    return 0;
}

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
    InitializeSRWLock(reinterpret_cast<SRWLOCK*>(mutex));
    return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* mutex) {
    return IsOwnedMutex(mutex) ? DestroyOwnedMutex(mutex) : 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    if (IsOwnedMutex(mutex)) return LockOwnedMutex(mutex);
    AcquireSRWLockExclusive(SlimLock(mutex));
    return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    if (IsOwnedMutex(mutex)) return UnlockOwnedMutex(mutex);
    ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(mutex));
    return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
    const LONG slot = InterlockedIncrement(&g_keysCreated) - 1;
    if (slot >= kMaxKeys) {
        InterlockedDecrement(&g_keysCreated);
        return EAGAIN;
    }
    g_keys[slot].destructor = destructor;
    g_keys[slot].index = FlsAlloc(kDestructorCallbacks[slot]);
    if (g_keys[slot].index == FLS_OUT_OF_INDEXES) return EAGAIN;
    *key = static_cast<pthread_key_t>(slot);
    return 0;
}

// Called while exceptions are being raised: the caller's last error survives.
void* pthread_getspecific(pthread_key_t key) {
    if (!ValidKey(key)) return nullptr;
    const DWORD lastError = GetLastError();
    void* value = FlsGetValue(g_keys[key].index);
    SetLastError(lastError);
    return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
    if (!ValidKey(key)) return EINVAL;
    return FlsSetValue(g_keys[key].index, const_cast<void*>(value)) ? 0 : ENOMEM;
}

}  // extern "C"

void ReleaseRuntimeThreads() {
    // Freeing an index runs its destructor on every thread's value first.
    const LONG created = g_keysCreated < kMaxKeys ? g_keysCreated : kMaxKeys;
    for (LONG slot = 0; slot < created; ++slot) {
        if (g_keys[slot].index != FLS_OUT_OF_INDEXES) FlsFree(g_keys[slot].index);
        g_keys[slot].index = FLS_OUT_OF_INDEXES;
    }
}

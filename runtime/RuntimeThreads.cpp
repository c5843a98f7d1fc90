// The thread primitives that the statically linked C++ runtime asks for,
// built on Win32 so that the POSIX thread library is never linked into the DLL.
//
// Why: that library cannot be unloaded. The 32-bit runtime registers its
// unwind tables when the DLL loads, under a once-flag and a mutex; the first
// such call makes the thread library allocate a thread-local slot and a record
// of the loading thread (an event and a duplicate of the thread's handle), and
// nothing gives them back when the DLL is freed. Every load and unload then
// left two handles and a thread-local slot behind, and a program that frees
// and reloads the driver some thousand times ran out of slots and was aborted
// by the library. The runtime needs only the eight functions below; defining
// them here, in the DLL's own objects, keeps the linker from pulling the
// library in at all, and leaves nothing that outlives an unload but what
// ReleaseRuntimeThreads gives back.
#include "runtime/RuntimeThreads.h"

#include <windows.h>
#include <errno.h>
#include <pthread.h>

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

int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    AcquireSRWLockExclusive(SlimLock(mutex));
    return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
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

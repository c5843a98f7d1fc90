#pragma once
// The process's open handles, memory and thread-local and fiber-local slots,
// as the soak, the fault matrix and the unload test compare them before and
// after. Wine answers GetProcessHandleCount with 0 and leaves PrivateUsage at
// 0, so both fall back to what it does report: the handle values that are
// valid, and the page-file usage or working set. The bytes allocated from the
// process's heaps are counted block by block: a leaked buffer shows there even
// before its pages are touched.
#include <windows.h>
#include <psapi.h>

#include <vector>

namespace processcounts {

// Calls visit for every open handle of the process. Handle values are
// multiples of 4. Under Wine (which reports no handle count) the lowest free
// values are handed out, so the scan stops past a long run of free ones: each
// probe is a round trip to Wine's server, and in the emulated guest all 16,384
// took some 5 s.
template <class Visit>
void ForEachHandle(Visit visit) {
    DWORD total = 0;
    const bool dense = !(GetProcessHandleCount(GetCurrentProcess(), &total) && total != 0);
    DWORD flags = 0;
    DWORD free = 0;
    for (ULONG_PTR value = 4; value < 0x10000 && !(dense && free >= 1024); value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (!GetHandleInformation(handle, &flags)) {
            ++free;
            continue;
        }
        free = 0;
        visit(handle);
    }
}

inline DWORD Handles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    ForEachHandle([&](HANDLE) { ++count; });
    return count;
}

// Handles on which GetCommState succeeds: the serial ports this process has open.
inline DWORD SerialHandles() {
    DWORD count = 0;
    ForEachHandle([&](HANDLE handle) {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        if (GetFileType(handle) == FILE_TYPE_CHAR && GetCommState(handle, &dcb)) ++count;
    });
    return count;
}

inline SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory)) {
        return 0;
    }
    if (memory.PrivateUsage != 0) return memory.PrivateUsage;
    if (memory.PagefileUsage != 0) return memory.PagefileUsage;
    return memory.WorkingSetSize;
}

inline SIZE_T HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    SIZE_T inUse = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) inUse += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return inUse;
}

// The slots still free: a load that keeps one leaves one fewer, wherever the
// system hands out the next. Counted by taking all of them and giving them
// back, so no other thread of the process may want one meanwhile.
template <class Allocate, class Free>
DWORD FreeSlots(Allocate allocate, Free release, DWORD outOfIndexes) {
    std::vector<DWORD> taken;
    for (DWORD slot; taken.size() < 65536 && (slot = allocate()) != outOfIndexes;) taken.push_back(slot);
    for (DWORD slot : taken) release(slot);
    return static_cast<DWORD>(taken.size());
}

inline DWORD FreeTlsSlots() {
    return FreeSlots([] { return TlsAlloc(); }, [](DWORD slot) { TlsFree(slot); }, TLS_OUT_OF_INDEXES);
}

inline DWORD FreeFlsSlots() {
    return FreeSlots([] { return FlsAlloc(nullptr); }, [](DWORD slot) { FlsFree(slot); }, FLS_OUT_OF_INDEXES);
}

}  // namespace processcounts

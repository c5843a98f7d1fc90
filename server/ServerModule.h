#pragma once
// The module object: why the DLL must stay loaded (an atomic lock count), the
// work to do when the module terminates, and the lock that guards one-time
// initialisation of module-wide data. One per process, reached through
// ServerModule::Instance().
#include <windows.h>

class ServerModule {
public:
    using TermFunction = void (*)(void* argument);

    ServerModule();
    ~ServerModule();
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;

    static ServerModule& Instance();

    // Atomic; each returns the new count.
    LONG Lock();
    LONG Unlock();
    LONG GetLockCount() const;

    // Registers work for module termination; callbacks run newest first. False
    // when memory for the entry cannot be had.
    bool AddTermFunction(TermFunction function, void* argument);
    // Runs and discards every termination callback, newest first.
    void RunTermFunctions();

    // Re-entrant: a thread holding it may take it again (the dispatch binding
    // registers a termination callback while it holds it).
    void LockStaticData();
    void UnlockStaticData();

    // The module whose resources (dialog template, bitmap, registry script,
    // type library) belong to the driver: the DLL when loaded as one, the
    // program itself when the driver is linked into it.
    static HINSTANCE ResourceInstance();

private:
    struct TermEntry {
        TermFunction function;
        void* argument;
        TermEntry* next;
    };

    volatile LONG m_lockCount = 0;
    TermEntry* m_termFunctions = nullptr;
    CRITICAL_SECTION m_staticDataLock;
};

// Holds the static-data lock for a scope.
class StaticDataGuard {
public:
    StaticDataGuard() { ServerModule::Instance().LockStaticData(); }
    ~StaticDataGuard() { ServerModule::Instance().UnlockStaticData(); }
    StaticDataGuard(const StaticDataGuard&) = delete;
    StaticDataGuard& operator=(const StaticDataGuard&) = delete;
};

#pragma once
// The module object: why the DLL must stay loaded (an atomic lock count), the
// class table, the work to do when the module terminates, and the locks that
// guard one-time initialisation of module-wide data. One per process, reached
// through ServerModule::Instance().
#include <windows.h>
#include <unknwn.h>

#include <atomic>

// Creates an instance of a class, standalone (outer null) or aggregated.
using CreateInstanceFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

// One row of the class table. The table ends with a row whose clsid is null.
struct ClassEntry {
    const CLSID* clsid;
    // Writes (true) or removes (false) the class's registry entries.
    HRESULT (*updateRegistry)(bool registering);
    // Creates the class object for createInstance and asks it for iid.
    HRESULT (*createClassObject)(CreateInstanceFunction createInstance, REFIID iid,
                                 void** object);
    CreateInstanceFunction createInstance;
    // The class object, created on the first request and kept until the
    // module terminates; the reference held here belongs to the table.
    std::atomic<IUnknown*> classObject;
    // Called with true when the module starts and false when it terminates.
    void (*classInit)(bool initialising);
};

class ServerModule {
public:
    using TermFunction = void (*)(void* argument);

    ServerModule();
    ~ServerModule();
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;

    static ServerModule& Instance();

    // Records the class table and starts each class.
    void Init(ClassEntry* classTable);
    // Releases the cached class objects, stops each class and runs the
    // termination callbacks. At process exit the callbacks are discarded
    // instead: what they release lives in DLLs that may already be gone.
    void Term(bool processExiting);

    // The DllGetClassObject of the module's class table.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);

    ClassEntry* ClassTable() const { return m_classTable; }

    // Atomic; each returns the new count.
    LONG Lock();
    LONG Unlock();
    LONG GetLockCount() const;

    // Registers work for module termination; callbacks run newest first. False
    // when memory for the entry cannot be had.
    bool AddTermFunction(TermFunction function, void* argument);

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

    // Takes the list out under the lock; runs it outside, so a callback may
    // itself use the static-data lock.
    void RunTermFunctions(bool run);

    volatile LONG m_lockCount = 0;
    ClassEntry* m_classTable = nullptr;
    TermEntry* m_termFunctions = nullptr;
    CRITICAL_SECTION m_staticDataLock;
    // Serialises the first creation of a class object; never held together
    // with the static-data lock.
    CRITICAL_SECTION m_classObjectLock;
};

// Holds the static-data lock for a scope.
class StaticDataGuard {
public:
    StaticDataGuard() { ServerModule::Instance().LockStaticData(); }
    ~StaticDataGuard() { ServerModule::Instance().UnlockStaticData(); }
    StaticDataGuard(const StaticDataGuard&) = delete;
    StaticDataGuard& operator=(const StaticDataGuard&) = delete;
};

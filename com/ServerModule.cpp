#include "com/ServerModule.h"

#include <new>

namespace {
ServerModule* g_module = nullptr;
// The one module object of the process.
ServerModule g_moduleObject;
}  // namespace

ServerModule::ServerModule() {
    InitializeCriticalSection(&m_staticDataLock);
    InitializeCriticalSection(&m_classObjectLock);
    g_module = this;
}

// Termination is Term's work, not the destructor's: at process exit the
// system DLLs it would call into may already be gone.
ServerModule::~ServerModule() {
    DeleteCriticalSection(&m_classObjectLock);
    DeleteCriticalSection(&m_staticDataLock);
    if (g_module == this) g_module = nullptr;
}

ServerModule& ServerModule::Instance() { return *g_module; }

void ServerModule::Init(ClassEntry* classTable) {
    m_classTable = classTable;
    for (ClassEntry* entry = m_classTable; entry->clsid != nullptr; ++entry) {
        if (entry->classInit != nullptr) entry->classInit(true);
    }
}

void ServerModule::Term(bool processExiting) {
    if (m_classTable != nullptr) {
        for (ClassEntry* entry = m_classTable; entry->clsid != nullptr; ++entry) {
            IUnknown* classObject = entry->classObject.exchange(nullptr);
            if (classObject != nullptr) classObject->Release();
            if (entry->classInit != nullptr) entry->classInit(false);
        }
    }
    RunTermFunctions(!processExiting);
}

HRESULT ServerModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (m_classTable == nullptr) return CLASS_E_CLASSNOTAVAILABLE;

    for (ClassEntry* entry = m_classTable; entry->clsid != nullptr; ++entry) {
        if (entry->createClassObject == nullptr || !IsEqualCLSID(*entry->clsid, clsid)) continue;

        HRESULT hr = S_OK;
        IUnknown* classObject = entry->classObject.load();
        if (classObject == nullptr) {
            EnterCriticalSection(&m_classObjectLock);
            classObject = entry->classObject.load();
            if (classObject == nullptr) {
                IUnknown* created = nullptr;
                hr = entry->createClassObject(entry->createInstance, IID_IUnknown,
                                              reinterpret_cast<void**>(&created));
                if (SUCCEEDED(hr) && created != nullptr) {
                    classObject = created;
                    entry->classObject.store(created);
                }
            }
            LeaveCriticalSection(&m_classObjectLock);
        }
        if (classObject != nullptr) hr = classObject->QueryInterface(iid, object);
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

LONG ServerModule::Lock() { return InterlockedIncrement(&m_lockCount); }

LONG ServerModule::Unlock() { return InterlockedDecrement(&m_lockCount); }

LONG ServerModule::GetLockCount() const { return m_lockCount; }

bool ServerModule::AddTermFunction(TermFunction function, void* argument) {
    TermEntry* entry = new (std::nothrow) TermEntry{function, argument, nullptr};
    if (entry == nullptr) return false;
    LockStaticData();
    entry->next = m_termFunctions;
    m_termFunctions = entry;
    UnlockStaticData();
    return true;
}

void ServerModule::RunTermFunctions(bool run) {
    LockStaticData();
    TermEntry* entry = m_termFunctions;
    m_termFunctions = nullptr;
    UnlockStaticData();
    while (entry != nullptr) {
        TermEntry* next = entry->next;
        if (run) entry->function(entry->argument);
        delete entry;
        entry = next;
    }
}

void ServerModule::LockStaticData() { EnterCriticalSection(&m_staticDataLock); }

void ServerModule::UnlockStaticData() { LeaveCriticalSection(&m_staticDataLock); }

HINSTANCE ServerModule::ResourceInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ServerModule::ResourceInstance), &module);
    return module;
}

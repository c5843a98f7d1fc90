#include "server/ServerModule.h"

#include <new>

namespace {
ServerModule* g_module = nullptr;
// The one module object of the process.
ServerModule g_moduleObject;
}  // namespace

ServerModule::ServerModule() {
    InitializeCriticalSection(&m_staticDataLock);
    g_module = this;
}

// Termination callbacks are run by module termination, not here: at process
// exit the system DLLs they would call into may already be gone.
ServerModule::~ServerModule() {
    DeleteCriticalSection(&m_staticDataLock);
    if (g_module == this) g_module = nullptr;
}

ServerModule& ServerModule::Instance() { return *g_module; }

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

void ServerModule::RunTermFunctions() {
    LockStaticData();
    TermEntry* entry = m_termFunctions;
    m_termFunctions = nullptr;
    UnlockStaticData();
    while (entry != nullptr) {
        TermEntry* next = entry->next;
        entry->function(entry->argument);
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

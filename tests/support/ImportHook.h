#pragma once
// Redirects a system function that this test program imports (and so the
// driver code linked into it calls) to a test's replacement, for as long as
// the hook object lives. Used to watch and fail the serial-port calls, and in
// a loaded driver DLL to fail its allocations.
#include <windows.h>

class ImportHook {
public:
    // Patches every import of dll!function in the program's own import table.
    ImportHook(const char* dll, const char* function, void* replacement);
    // The same in another loaded module's import table; the hook must go
    // before the module is unloaded.
    ImportHook(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return m_slot != nullptr; }
    // The function that was there before.
    template <class F>
    F Original() const { return reinterpret_cast<F>(m_original); }

private:
    void** m_slot = nullptr;
    void* m_original = nullptr;
};

#pragma once
// What the tests of the in-process server share: the built DLLs, loaded by
// path and called through their exports; child processes run with a bounded
// wait; and reads of the registry as a client would see it.
#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <vector>

namespace servertest {

// Wine maps "Z:" to the host's root, so a host path becomes Z:\... there.
std::string WindowsPath(const std::string& path);
// The DLL of this build, and the 32-bit one built beside it.
std::string DllPath();
std::string Dll32Path();
std::wstring Wide(const std::string& text);

// The driver DLL loaded into this process.
class ServerDll {
public:
    ServerDll() = default;
    ~ServerDll() { Unload(); }
    ServerDll(const ServerDll&) = delete;
    ServerDll& operator=(const ServerDll&) = delete;

    bool Load(const std::string& path = DllPath());
    // FreeLibrary: the DLL is unloaded (its module terminated) when this was
    // the last load.
    void Unload();
    HMODULE Module() const { return m_module; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    HRESULT CanUnloadNow() const;
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;
    // A new instance through the class object (released again before return).
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) const;

private:
    using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using NoArgumentFunction = HRESULT(WINAPI*)();

    HMODULE m_module = nullptr;
    GetClassObjectFunction m_getClassObject = nullptr;
    NoArgumentFunction m_canUnloadNow = nullptr;
    NoArgumentFunction m_registerServer = nullptr;
    NoArgumentFunction m_unregisterServer = nullptr;
};

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false: killed after the time-out
    DWORD exitCode = 0;
    std::string output;     // standard output and error, as written
};
ProcessResult RunProcess(const std::string& commandLine, DWORD timeoutMs);

// A registry key of HKEY_CLASSES_ROOT (this process's view), or of another
// root with an explicit view.
bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0);
// A REG_SZ value (nullptr name: the default value); nothing when absent or of
// another type.
std::optional<std::string> StringValue(HKEY root, const std::string& path, const char* name,
                                       REGSAM view = 0);
std::vector<std::string> SubkeyNames(HKEY root, const std::string& path, REGSAM view = 0);
std::vector<std::string> ValueNames(HKEY root, const std::string& path, REGSAM view = 0);

// The class key and the registered type library's key.
constexpr const char kClassKey[] = "CLSID\\{3c9e52a1-7d4b-4f08-9b61-5e2a0d47c8f3}";
constexpr const char kTypeLibKey[] = "TypeLib\\{A71D2C94-6B3E-4E05-92F7-1D84B3C65E20}";

}  // namespace servertest

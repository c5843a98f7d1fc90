#include "tests/server/ServerTestSupport.h"

#include "driver/Focuser.h"

namespace servertest {

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

std::string DllPath() { return WindowsPath(FOCUSER_DLL_PATH); }
std::string Dll32Path() { return WindowsPath(FOCUSER_DLL32_PATH); }

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) - 1 : 0);
    return wide;
}

bool ServerDll::Load(const std::string& path) {
    Unload();
    m_module = LoadLibraryA(path.c_str());
    if (m_module == nullptr) return false;
    m_getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "DllGetClassObject")));
    m_canUnloadNow = reinterpret_cast<NoArgumentFunction>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "DllCanUnloadNow")));
    m_registerServer = reinterpret_cast<NoArgumentFunction>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "DllRegisterServer")));
    m_unregisterServer = reinterpret_cast<NoArgumentFunction>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "DllUnregisterServer")));
    return m_getClassObject && m_canUnloadNow && m_registerServer && m_unregisterServer;
}

void ServerDll::Unload() {
    if (m_module != nullptr) FreeLibrary(m_module);
    m_module = nullptr;
}

HRESULT ServerDll::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return m_getClassObject(clsid, iid, object);
}
HRESULT ServerDll::CanUnloadNow() const { return m_canUnloadNow(); }
HRESULT ServerDll::RegisterServer() const { return m_registerServer(); }
HRESULT ServerDll::UnregisterServer() const { return m_unregisterServer(); }

HRESULT ServerDll::CreateInstance(IUnknown* outer, REFIID iid, void** object) const {
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObject(CLSID_Focuser, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return hr;
}

ProcessResult RunProcess(const std::string& commandLine, DWORD timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    result.started = CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, TRUE,
                                    CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process) != 0;
    CloseHandle(writeEnd);
    if (!result.started) {
        CloseHandle(readEnd);
        return result;
    }

    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    auto drain = [&] {
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[512];
            DWORD got = 0;
            if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
            result.output.append(buffer, got);
        }
    };
    for (;;) {
        drain();
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            result.finished = true;
            break;
        }
        if (GetTickCount64() >= deadline) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    drain();
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    return result;
}

namespace {
HKEY OpenKey(HKEY root, const std::string& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}
}  // namespace

bool KeyExists(HKEY root, const std::string& path, REGSAM view) {
    HKEY key = OpenKey(root, path, view);
    if (key == nullptr) return false;
    RegCloseKey(key);
    return true;
}

std::optional<std::string> StringValue(HKEY root, const std::string& path, const char* name,
                                       REGSAM view) {
    HKEY key = OpenKey(root, path, view);
    if (key == nullptr) return std::nullopt;
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    return std::string(buffer);
}

namespace {

// The names a registry enumeration call yields for one key, in order.
template <class Enumerate>
std::vector<std::string> Names(HKEY root, const std::string& path, REGSAM view, Enumerate enumerate) {
    std::vector<std::string> names;
    HKEY key = OpenKey(root, path, view);
    if (key == nullptr) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (enumerate(key, i, name, &size) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
}

}  // namespace

std::vector<std::string> SubkeyNames(HKEY root, const std::string& path, REGSAM view) {
    return Names(root, path, view, [](HKEY key, DWORD i, char* name, DWORD* size) {
        return RegEnumKeyExA(key, i, name, size, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path, REGSAM view) {
    return Names(root, path, view, [](HKEY key, DWORD i, char* name, DWORD* size) {
        return RegEnumValueA(key, i, name, size, nullptr, nullptr, nullptr, nullptr);
    });
}

}  // namespace servertest

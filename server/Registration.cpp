#include "server/Registration.h"

#include <oleauto.h>

#include <new>
#include <string>
#include <vector>

#include "com/ServerModule.h"
#include "server/RegistryScript.h"
#include "settings/ProfileKey.h"

namespace {

constexpr HRESULT kPathTooLong = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, ERROR_INSUFFICIENT_BUFFER);

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// This module's full path; paths that do not fit MAX_PATH are refused rather
// than registered cut short.
HRESULT ModulePath(std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(ServerModule::ResourceInstance(), buffer, MAX_PATH);
    if (length == 0) return LastError();
    if (length >= MAX_PATH) return kPathTooLong;
    path.assign(buffer, length);
    return S_OK;
}

// The library from this module, or else from the ".tlb" file of the same name;
// path is where it was found.
HRESULT LoadOwnTypeLibrary(ITypeLib** library, std::wstring& path) {
    *library = nullptr;
    HRESULT hr = ModulePath(path);
    if (FAILED(hr)) return hr;
    hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
    if (SUCCEEDED(hr)) return hr;

    const size_t slash = path.find_last_of(L'\\');
    const size_t dot = path.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
        path.erase(dot);
    }
    path += L".tlb";
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

// Registration runs with administrator rights, and a user may have put a
// registry link in the profile key's place: the key is opened without
// following one, and a link is left alone.
void SetProfileDefaultValue() {
    HKEY key = nullptr;
    bool link = false;
    if (profilekey::Open(KEY_READ | KEY_WRITE, false, key, link) != ERROR_SUCCESS) return;
    if (!link) {
        static const char kName[] = "Tavrilen";
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kName), sizeof kName);
    }
    RegCloseKey(key);
}

}  // namespace

HRESULT UpdateRegistryFromResource(UINT resourceId, bool registering) {
    try {
        std::wstring path;
        HRESULT hr = ModulePath(path);
        if (FAILED(hr)) return hr;

        const HMODULE instance = ServerModule::ResourceInstance();
        const HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), L"REGISTRY");
        if (resource == nullptr) return LastError();
        const HGLOBAL loaded = LoadResource(instance, resource);
        const char* text = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        if (text == nullptr) return LastError();

        RegistryScript script;
        hr = script.Parse(text, SizeofResource(instance, resource),
                          registryscript::ModuleReplacements(path));
        if (FAILED(hr)) return hr;
        return registering ? script.Register() : script.Unregister();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RegisterTypeLibrary() {
    try {
        ITypeLib* library = nullptr;
        std::wstring path;
        HRESULT hr = LoadOwnTypeLibrary(&library, path);
        if (FAILED(hr)) return hr;

        // No help directory when the library cannot say; the folder of its
        // help file (empty when it names none) when it can.
        std::wstring helpDirectory;
        const wchar_t* helpDirectoryArgument = nullptr;
        BSTR helpFile = nullptr;
        if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile))) {
            if (helpFile != nullptr) {
                helpDirectory = helpFile;
                const size_t cut = helpDirectory.find_last_of(L"\\/:");
                helpDirectory.erase(cut == std::wstring::npos ? 0 : cut + 1);
                SysFreeString(helpFile);
            }
            helpDirectoryArgument = helpDirectory.c_str();
        }
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()),
                             const_cast<LPOLESTR>(helpDirectoryArgument));
        library->Release();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterTypeLibrary() {
    try {
        ITypeLib* library = nullptr;
        std::wstring path;
        HRESULT hr = LoadOwnTypeLibrary(&library, path);
        if (FAILED(hr)) return hr;
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (SUCCEEDED(hr)) {
            hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
            library->ReleaseTLibAttr(attributes);
        }
        library->Release();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RegisterServer() {
    HRESULT hr = S_OK;
    ClassEntry* table = ServerModule::Instance().ClassTable();
    for (ClassEntry* entry = table; entry != nullptr && entry->clsid != nullptr; ++entry) {
        hr = entry->updateRegistry(true);
        if (FAILED(hr)) break;
    }
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary();
    // Whatever the class registration gave: the profile key belongs to the
    // settings, not to the class.
    SetProfileDefaultValue();
    return hr;
}

HRESULT UnregisterServer() {
    ClassEntry* table = ServerModule::Instance().ClassTable();
    for (ClassEntry* entry = table; entry != nullptr && entry->clsid != nullptr; ++entry) {
        const HRESULT hr = entry->updateRegistry(false);
        if (FAILED(hr)) return hr;
    }
    return UnregisterTypeLibrary();
}

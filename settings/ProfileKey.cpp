#include "settings/ProfileKey.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "settings/DriverSettings.h"

namespace profilekey {

namespace {

// The system's own calls on a key handle. Looked up rather than imported, so
// that the driver DLL keeps to the system DLLs it imports today.
using NtDeleteKeyCall = LONG(NTAPI*)(HANDLE);
using NtQueryKeyCall = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using StatusToErrorCall = ULONG(NTAPI*)(LONG);
constexpr ULONG kKeyNameInformation = 3;

template <typename Call>
Call SystemCall(const char* name) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr ? reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

}  // namespace

std::wstring KeyName(HKEY key) {
    const auto query = SystemCall<NtQueryKeyCall>("NtQueryKey");
    if (query == nullptr) return {};
    std::vector<unsigned char> buffer(1024);
    ULONG size = 0;
    if (query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size) != 0 ||
        size < sizeof(ULONG)) {
        return {};
    }
    ULONG length = 0;
    std::memcpy(&length, buffer.data(), sizeof length);
    if (length > size - sizeof(ULONG)) return {};
    std::wstring name(length / sizeof(wchar_t), L'\0');
    std::memcpy(&name[0], buffer.data() + sizeof(ULONG), length);
    return name;
}

namespace {

// Opens the key NAME below PARENT without following a link, creating it when
// CREATE and missing. Creating cannot be told not to follow a link that
// appeared since the open failed, so the new key must prove by its own name
// that it stands where it was asked for; one made elsewhere is taken back.
LONG OpenChild(HKEY parent, const std::wstring& name, REGSAM access, bool create, HKEY& child) {
    child = nullptr;
    LONG rc = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, access, &child);
    if (rc != ERROR_FILE_NOT_FOUND || !create) return rc;

    DWORD disposition = 0;
    rc = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, access, nullptr, &child, &disposition);
    if (rc != ERROR_SUCCESS) return rc;
    const std::wstring parentName = KeyName(parent);
    const std::wstring expected = parentName + L"\\" + name;
    const std::wstring actual = KeyName(child);
    if (!parentName.empty() && _wcsicmp(actual.c_str(), expected.c_str()) == 0) return ERROR_SUCCESS;
    if (disposition == REG_CREATED_NEW_KEY) DeleteKey(child);
    RegCloseKey(child);
    child = nullptr;
    return kLinkOnPath;
}

}  // namespace

bool IsLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

LONG DeleteKey(HKEY key) {
    const auto remove = SystemCall<NtDeleteKeyCall>("NtDeleteKey");
    const auto translate = SystemCall<StatusToErrorCall>("RtlNtStatusToDosError");
    if (remove == nullptr || translate == nullptr) return ERROR_PROC_NOT_FOUND;
    return static_cast<LONG>(translate(remove(key)));
}

LONG Open(REGSAM access, bool create, HKEY& key, bool& link) {
    key = nullptr;
    link = false;
    std::vector<std::wstring> names(1);
    for (const char* c = kSettingsKeyPath; *c != '\0'; ++c) {
        if (*c == '\\') {
            names.emplace_back();
        } else {
            names.back() += static_cast<wchar_t>(*c);
        }
    }
    // The view's "Software" is the administrators' alone: only what lies
    // below it can have been replaced by a user.
    constexpr REGSAM kWalk = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
    HKEY parent = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, names.front().c_str(), 0,
                            kWalk | (create ? KEY_CREATE_SUB_KEY : 0) | KEY_WOW64_32KEY, &parent);
    for (size_t i = 1; rc == ERROR_SUCCESS && i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        const REGSAM wanted = last ? access | KEY_QUERY_VALUE : kWalk | (create ? KEY_CREATE_SUB_KEY : 0);
        HKEY child = nullptr;
        rc = OpenChild(parent, names[i], wanted, create, child);
        RegCloseKey(parent);
        parent = nullptr;
        if (rc != ERROR_SUCCESS) break;
        if (IsLink(child)) {
            if (!last) {
                RegCloseKey(child);
                return kLinkOnPath;
            }
            link = true;
        }
        parent = child;
    }
    if (rc == ERROR_SUCCESS) key = parent;
    return rc;
}

}  // namespace profilekey

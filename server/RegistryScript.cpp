#include "server/RegistryScript.h"

#include <new>
#include <string>
#include <utility>

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(error)); }

HKEY RootHandle(registryscript::RootKey key) {
    switch (key) {
        case registryscript::RootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
        case registryscript::RootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
        case registryscript::RootKey::CurrentUser: return HKEY_CURRENT_USER;
        case registryscript::RootKey::Users: return HKEY_USERS;
    }
    return nullptr;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return FromWin32(RegSetValueExW(key, name, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()), size));
}

// Closes a key when the scope ends, whichever way it ends.
class KeyHolder {
public:
    KeyHolder() = default;
    ~KeyHolder() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }
    void Close() {
        if (m_key != nullptr) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};

}  // namespace

HRESULT RegistryScript::Parse(const char* text, size_t length,
                              const std::vector<Replacement>& replacements) {
    m_roots.clear();
    try {
        std::wstring wide;
        if (length > 0) {
            const int size = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length),
                                                 nullptr, 0);
            if (size <= 0) return kSyntaxError;
            wide.resize(static_cast<size_t>(size));
            MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &wide[0], size);
        }
        std::wstring substituted;
        if (!registryscript::Substitute(wide, replacements, substituted)) return kSyntaxError;

        std::vector<Root> roots;
        if (!registryscript::ReadRoots(substituted, roots)) return kSyntaxError;
        m_roots = std::move(roots);
        return S_OK;
    } catch (const std::bad_alloc&) {
        m_roots.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT RegistryScript::Register() const {
    for (const Root& root : m_roots) {
        const HRESULT hr = RegisterEntries(RootHandle(root.key), root.entries);
        if (FAILED(hr)) {
            // Take out again what this root wrote, as far as the unregister
            // rules reach; the first failure is what the caller hears.
            UnregisterEntries(RootHandle(root.key), root.entries);
            return hr;
        }
    }
    return S_OK;
}

HRESULT RegistryScript::Unregister() const {
    for (const Root& root : m_roots) {
        const HRESULT hr = UnregisterEntries(RootHandle(root.key), root.entries);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RegistryScript::RegisterEntries(HKEY parent, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        const HRESULT hr = entry.isNamedValue
                               ? SetString(parent, entry.name.c_str(), entry.value)
                               : RegisterKey(parent, entry);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RegistryScript::RegisterKey(HKEY parent, const Entry& entry) {
    const wchar_t* name = entry.name.c_str();
    if (entry.marker == Marker::ForceRemove) RegDeleteTreeW(parent, name);

    KeyHolder key;
    if (RegOpenKeyExW(parent, name, 0, kReadWrite, key.Out()) != ERROR_SUCCESS &&
        RegOpenKeyExW(parent, name, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        const LONG rc = RegCreateKeyExW(parent, name, 0, nullptr, 0, kReadWrite, nullptr,
                                        key.Out(), nullptr);
        if (rc != ERROR_SUCCESS) return FromWin32(rc);
    }
    if (entry.hasValue) {
        const HRESULT hr = SetString(key.Get(), nullptr, entry.value);
        if (FAILED(hr)) return hr;
    }
    return RegisterEntries(key.Get(), entry.children);
}

HRESULT RegistryScript::UnregisterEntries(HKEY parent, const std::vector<Entry>& entries) {
    // The named values first: they sit on the parent itself.
    bool hasNamedValues = false;
    for (const Entry& entry : entries) hasNamedValues = hasNamedValues || entry.isNamedValue;
    if (hasNamedValues) {
        KeyHolder writable;
        const LONG rc = RegOpenKeyExW(parent, nullptr, 0, KEY_SET_VALUE, writable.Out());
        if (rc != ERROR_SUCCESS) return FromWin32(rc);
        for (const Entry& entry : entries) {
            if (!entry.isNamedValue) continue;
            const LONG deleted = RegDeleteValueW(writable.Get(), entry.name.c_str());
            if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return FromWin32(deleted);
        }
    }
    for (const Entry& entry : entries) {
        if (entry.isNamedValue) continue;
        const HRESULT hr = UnregisterKey(parent, entry);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RegistryScript::UnregisterKey(HKEY parent, const Entry& entry) {
    const wchar_t* name = entry.name.c_str();
    KeyHolder key;
    const LONG opened = RegOpenKeyExW(parent, name, 0, KEY_READ, key.Out());
    if (opened == ERROR_FILE_NOT_FOUND) return S_OK;  // already gone, and all below it
    if (opened != ERROR_SUCCESS) return FromWin32(opened);

    const HRESULT hr = UnregisterEntries(key.Get(), entry.children);
    if (FAILED(hr)) return hr;
    if (entry.marker == Marker::NoRemove) return S_OK;

    // Subkeys another program put here keep the key alive.
    DWORD subkeys = 0;
    const LONG queried = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) return FromWin32(queried);
    if (subkeys > 0) return S_OK;
    key.Close();
    const LONG deleted = RegDeleteKeyW(parent, name);
    return deleted == ERROR_SUCCESS ? S_OK : FromWin32(deleted);
}

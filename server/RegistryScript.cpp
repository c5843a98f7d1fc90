#include "server/RegistryScript.h"

#include <cwctype>
#include <new>

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(error)); }

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

bool SameName(const std::wstring& text, const wchar_t* name) {
    size_t i = 0;
    for (; i < text.size() && name[i] != L'\0'; ++i) {
        if (LowerAscii(text[i]) != LowerAscii(name[i])) return false;
    }
    return i == text.size() && name[i] == L'\0';
}

HKEY RootKey(const std::wstring& name) {
    struct Root {
        const wchar_t* shortName;
        const wchar_t* longName;
        HKEY key;
    };
    static const Root roots[] = {
        {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKU", L"HKEY_USERS", HKEY_USERS},
    };
    for (const Root& root : roots) {
        if (SameName(name, root.shortName) || SameName(name, root.longName)) return root.key;
    }
    return nullptr;
}

// %NAME% replaced from the table, %% by a single percent sign. False for an
// unknown name or a marker that is not closed.
bool Substitute(const std::wstring& text, const std::vector<RegistryScript::Replacement>& table,
                std::wstring& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            out += text[i];
            continue;
        }
        const size_t end = text.find(L'%', i + 1);
        if (end == std::wstring::npos) return false;
        const std::wstring name = text.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += L'%';
        } else {
            const RegistryScript::Replacement* found = nullptr;
            for (const auto& replacement : table) {
                if (SameName(name, replacement.name)) {
                    found = &replacement;
                    break;
                }
            }
            if (found == nullptr) return false;
            out += found->value;
        }
        i = end;
    }
    return true;
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

// Reads the substituted text token by token into roots and entries.
class RegistryScript::Reader {
public:
    explicit Reader(const std::wstring& text) : m_text(text) {}

    bool ReadRoots(std::vector<Root>& roots) {
        while (Next()) {
            if (m_quoted) return false;
            Root root{RootKey(m_token), {}};
            if (root.key == nullptr) return false;
            if (!Next() || !IsOpen()) return false;
            if (!ReadEntries(root.entries)) return false;
            roots.push_back(std::move(root));
        }
        return true;
    }

private:
    // Entries up to and including the closing brace.
    bool ReadEntries(std::vector<Entry>& entries) {
        for (;;) {
            if (!Next()) return false;
            if (IsClose()) return true;
            Entry entry;
            if (IsKeyword(L"NoRemove")) {
                entry.marker = Marker::NoRemove;
                if (!Next()) return false;
            } else if (IsKeyword(L"ForceRemove")) {
                entry.marker = Marker::ForceRemove;
                if (!Next()) return false;
            }
            if (IsKeyword(L"val")) {
                entry.isNamedValue = true;
                if (!Next()) return false;
            }
            if (!m_quoted && (IsOpen() || IsClose() || m_token == L"=")) return false;
            entry.name = m_token;

            const bool more = Next();
            bool pending = more;
            if (more && !m_quoted && m_token == L"=") {
                if (!Next() || !IsKeyword(L"s")) return false;
                if (!Next() || (!m_quoted && (IsOpen() || IsClose()))) return false;
                entry.hasValue = true;
                entry.value = m_token;
                pending = Next();
            }
            if (entry.isNamedValue && (!entry.hasValue || entry.marker != Marker::None)) {
                return false;
            }
            if (!pending) return false;  // the enclosing block is not closed
            if (IsOpen()) {
                if (entry.isNamedValue || !ReadEntries(entry.children)) return false;
                entries.push_back(std::move(entry));
                continue;
            }
            entries.push_back(std::move(entry));
            Back();
        }
    }

    bool Next() {
        if (m_hasBack) {
            m_hasBack = false;
            return true;
        }
        while (m_pos < m_text.size() && iswspace(m_text[m_pos])) ++m_pos;
        if (m_pos >= m_text.size()) return false;
        m_token.clear();
        m_quoted = m_text[m_pos] == L'\'';
        if (m_quoted) {
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size()) return false;
                const wchar_t c = m_text[m_pos++];
                if (c == L'\'') {
                    if (m_pos < m_text.size() && m_text[m_pos] == L'\'') {
                        ++m_pos;
                    } else {
                        return true;
                    }
                }
                m_token += c;
            }
        }
        while (m_pos < m_text.size() && !iswspace(m_text[m_pos])) m_token += m_text[m_pos++];
        return true;
    }
    // The current token is read again by the next Next().
    void Back() { m_hasBack = true; }

    bool IsKeyword(const wchar_t* keyword) const { return !m_quoted && SameName(m_token, keyword); }
    bool IsOpen() const { return !m_quoted && m_token == L"{"; }
    bool IsClose() const { return !m_quoted && m_token == L"}"; }

    const std::wstring& m_text;
    size_t m_pos = 0;
    std::wstring m_token;
    bool m_quoted = false;
    bool m_hasBack = false;
};

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
        if (!Substitute(wide, replacements, substituted)) return kSyntaxError;

        std::vector<Root> roots;
        Reader reader(substituted);
        if (!reader.ReadRoots(roots)) return kSyntaxError;
        m_roots = std::move(roots);
        return S_OK;
    } catch (const std::bad_alloc&) {
        m_roots.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT RegistryScript::Register() const {
    for (const Root& root : m_roots) {
        const HRESULT hr = RegisterEntries(root.key, root.entries);
        if (FAILED(hr)) {
            // Take out again what this root wrote, as far as the unregister
            // rules reach; the first failure is what the caller hears.
            UnregisterEntries(root.key, root.entries);
            return hr;
        }
    }
    return S_OK;
}

HRESULT RegistryScript::Unregister() const {
    for (const Root& root : m_roots) {
        const HRESULT hr = UnregisterEntries(root.key, root.entries);
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

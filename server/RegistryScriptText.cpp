#include "server/RegistryScriptText.h"

#include <cwctype>
#include <utility>

namespace registryscript {
namespace {

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

bool SameName(const std::wstring& text, const wchar_t* name) {
    size_t i = 0;
    for (; i < text.size() && name[i] != L'\0'; ++i) {
        if (LowerAscii(text[i]) != LowerAscii(name[i])) return false;
    }
    return i == text.size() && name[i] == L'\0';
}

bool FindRootKey(const std::wstring& name, RootKey& key) {
    struct Known {
        const wchar_t* shortName;
        const wchar_t* longName;
        RootKey key;
    };
    static const Known known[] = {
        {L"HKCR", L"HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
        {L"HKLM", L"HKEY_LOCAL_MACHINE", RootKey::LocalMachine},
        {L"HKCU", L"HKEY_CURRENT_USER", RootKey::CurrentUser},
        {L"HKU", L"HKEY_USERS", RootKey::Users},
    };
    for (const Known& root : known) {
        if (SameName(name, root.shortName) || SameName(name, root.longName)) {
            key = root.key;
            return true;
        }
    }
    return false;
}

// Reads the substituted text token by token into roots and entries.
class Reader {
public:
    explicit Reader(const std::wstring& text) : m_text(text) {}

    bool ReadRoots(std::vector<Root>& roots) {
        while (Next()) {
            if (m_quoted) return false;
            Root root{RootKey::ClassesRoot, {}};
            if (!FindRootKey(m_token, root.key)) return false;
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

// Inside the script the path sits between single quotes.
std::wstring DoubleQuotes(const std::wstring& text) {
    std::wstring doubled;
    for (const wchar_t c : text) {
        doubled += c;
        if (c == L'\'') doubled += c;
    }
    return doubled;
}

}  // namespace

std::vector<Replacement> ModuleReplacements(const std::wstring& modulePath) {
    const std::wstring module = DoubleQuotes(modulePath);
    return {{L"Module", module}, {L"Module_Raw", module}, {L"APPID", L""}};
}

bool Substitute(const std::wstring& text, const std::vector<Replacement>& table,
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
            const Replacement* found = nullptr;
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

bool ReadRoots(const std::wstring& text, std::vector<Root>& roots) {
    roots.clear();
    Reader reader(text);
    if (reader.ReadRoots(roots)) return true;
    roots.clear();
    return false;
}

}  // namespace registryscript

// Registry scripts. The first byte of the input chooses what the rest is:
//   0: a module path, one character per byte;
//   1: a module path in UTF-16 (two bytes, low first, per character);
//   2: a whole script, one character per byte, run with a module path's table.
// The real script is read from the source tree (FOCUSER_REGISTRY_SCRIPT).
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "server/RegistryScriptText.h"

namespace fuzzcheck {
namespace {

using registryscript::Entry;
using registryscript::Marker;
using registryscript::Root;

const std::wstring& RealScript() {
    static const std::wstring script = [] {
        std::ifstream file(FOCUSER_REGISTRY_SCRIPT, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (bytes.empty()) Fail(__FILE__, __LINE__, "cannot read " FOCUSER_REGISTRY_SCRIPT);
        return std::wstring(bytes.begin(), bytes.end());
    }();
    return script;
}

bool Parse(const std::wstring& text, const std::vector<registryscript::Replacement>& table,
           std::vector<Root>& roots) {
    std::wstring substituted;
    return registryscript::Substitute(text, table, substituted) &&
           registryscript::ReadRoots(substituted, roots);
}

bool SameEntries(const std::vector<Entry>& a, const std::vector<Entry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].marker != b[i].marker ||
            a[i].isNamedValue != b[i].isNamedValue || a[i].hasValue != b[i].hasValue ||
            a[i].value != b[i].value || !SameEntries(a[i].children, b[i].children)) {
            return false;
        }
    }
    return true;
}

bool SameRoots(const std::vector<Root>& a, const std::vector<Root>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || !SameEntries(a[i].entries, b[i].entries)) return false;
    }
    return true;
}

// Every entry whose default value is exactly this text.
void FindValue(std::vector<Entry>& entries, const std::wstring& value, std::vector<Entry*>& found) {
    for (Entry& entry : entries) {
        if (entry.hasValue && !entry.isNamedValue && entry.value == value) found.push_back(&entry);
        FindValue(entry.children, value, found);
    }
}

// The tree written back as a script with every name and value quoted.
std::wstring Quote(const std::wstring& text) {
    std::wstring quoted = L"'";
    for (const wchar_t c : text) {
        quoted += c;
        if (c == L'\'') quoted += c;
    }
    return quoted + L"'";
}

void Write(const std::vector<Entry>& entries, std::wstring& out) {
    for (const Entry& entry : entries) {
        if (entry.marker == Marker::NoRemove) out += L"NoRemove ";
        if (entry.marker == Marker::ForceRemove) out += L"ForceRemove ";
        if (entry.isNamedValue) out += L"val ";
        out += Quote(entry.name);
        if (entry.hasValue) out += L" = s " + Quote(entry.value);
        if (!entry.children.empty()) {
            out += L"\r\n{\r\n";
            Write(entry.children, out);
            out += L"}";
        }
        out += L"\r\n";
    }
}

std::wstring Write(const std::vector<Root>& roots) {
    static const wchar_t* const names[] = {L"HKCR", L"HKLM", L"HKCU", L"HKU"};
    std::wstring out;
    for (const Root& root : roots) {
        out += names[static_cast<int>(root.key)];
        out += L"\r\n{\r\n";
        Write(root.entries, out);
        out += L"}\r\n";
    }
    return out;
}

void CheckWellFormed(const std::vector<Entry>& entries, const std::string& shown) {
    for (const Entry& entry : entries) {
        if (entry.isNamedValue) {
            FUZZ_EXPECT(entry.hasValue && entry.marker == Marker::None && entry.children.empty(), shown);
        }
        CheckWellFormed(entry.children, shown);
    }
}

void CheckScript(const std::wstring& script) {
    const std::string shown = Quoted(script);
    std::vector<Root> roots;
    if (!Parse(script, registryscript::ModuleReplacements(L"C:\\x.dll"), roots)) {
        FUZZ_EXPECT(roots.empty(), shown);
        return;
    }
    for (const Root& root : roots) CheckWellFormed(root.entries, shown);
    // Whatever was read, written out again, reads as the same tree.
    const std::wstring written = Write(roots);
    std::vector<Root> again;
    FUZZ_EXPECT(registryscript::ReadRoots(written, again), shown + " written as " + Quoted(written));
    FUZZ_EXPECT(SameRoots(roots, again), shown + " written as " + Quoted(written));
}

}  // namespace

void CheckModulePath(const std::wstring& path) {
    const std::string shown = Quoted(path);
    static const std::wstring kPlainPath = L"C:\\Drivers\\TavrilenFocuser.dll";
    std::vector<Root> expected;
    if (!Parse(RealScript(), registryscript::ModuleReplacements(kPlainPath), expected)) {
        Fail(__FILE__, __LINE__, "the registry script does not read with a plain path");
        return;
    }
    std::vector<Entry*> modules;
    for (Root& root : expected) FindValue(root.entries, kPlainPath, modules);
    if (modules.size() != 1 || modules[0]->name != L"InprocServer32") {
        Fail(__FILE__, __LINE__, "the registry script names the module other than once, in InprocServer32");
        return;
    }
    modules[0]->value = path;

    // The same tree with the path in its place: nothing in it may end the
    // quoted value, open an entry or name another replacement.
    std::vector<Root> roots;
    FUZZ_EXPECT(Parse(RealScript(), registryscript::ModuleReplacements(path), roots), shown);
    FUZZ_EXPECT(SameRoots(roots, expected), shown);
}

void CheckRegistryScript(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    std::wstring text;
    if (mode == 1) {
        for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    } else {
        text.assign(data, data + size);
    }
    if (mode == 2) {
        CheckScript(text);
    } else {
        CheckModulePath(text);
    }
}

}  // namespace fuzzcheck

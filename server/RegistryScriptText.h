#pragma once
// The text half of the registry-script interpreter: %NAME% replacement and the
// reading of the script into roots and entries. Nothing here touches the
// registry (RegistryScript does that), so the language can be tested and
// fuzzed on any machine. The syntax is described in RegistryScript.h.
#include <string>
#include <vector>

namespace registryscript {

struct Replacement {
    const wchar_t* name;
    std::wstring value;
};

enum class Marker { None, NoRemove, ForceRemove };

// The predefined keys a script may start from.
enum class RootKey { ClassesRoot, LocalMachine, CurrentUser, Users };

struct Entry {
    std::wstring name;
    Marker marker = Marker::None;
    bool isNamedValue = false;  // "val": a value on the enclosing key
    bool hasValue = false;
    std::wstring value;
    std::vector<Entry> children;
};

struct Root {
    RootKey key;
    std::vector<Entry> entries;
};

// The table a module's scripts are run with: %MODULE% and %MODULE_RAW% stand
// for its path, which the script puts between single quotes, so every quote in
// the path is doubled here; %APPID% is empty.
std::vector<Replacement> ModuleReplacements(const std::wstring& modulePath);

// %NAME% replaced from the table (names compared without regard to case), %%
// by a single percent sign; replaced text is not looked at again. False for an
// unknown name or a marker that is not closed.
bool Substitute(const std::wstring& text, const std::vector<Replacement>& table,
                std::wstring& out);

// Reads substituted text. False, with roots left empty, when it is not a
// well-formed script. May throw std::bad_alloc.
bool ReadRoots(const std::wstring& text, std::vector<Root>& roots);

}  // namespace registryscript

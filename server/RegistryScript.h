#pragma once
// The interpreter for registry scripts: the text form in which a class lists
// the keys and values its registration writes, e.g.
//
//     HKCR
//     {
//         NoRemove CLSID
//         {
//             ForceRemove {guid} = s 'Description'
//             {
//                 InprocServer32 = s '%MODULE%'
//                 {
//                     val ThreadingModel = s 'Apartment'
//                 }
//             }
//         }
//     }
//
// Tokens are separated by white space; a quoted token ('...', with '' for a
// quote inside) is always a name or a value, never a keyword. %NAME% is
// replaced from a table before the text is read (%% gives one percent sign).
// Only string values (s) exist. Keywords (NoRemove, ForceRemove, val, s) are
// matched without regard to case.
//
// Registering writes every key and value; a ForceRemove key is deleted with
// everything below it first. If anything fails under a root, that root's
// entries are unregistered again. Unregistering removes each key once nothing
// is left below it, skips keys that are already gone and never removes a
// NoRemove key.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "server/RegistryScriptText.h"

class RegistryScript {
public:
    using Replacement = registryscript::Replacement;

    // A script that fails to parse; the registry has not been touched then.
    static constexpr HRESULT kSyntaxError =
        MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, ERROR_INVALID_DATA);

    // Replaces the %NAME% markers in the 8-bit text and reads it.
    HRESULT Parse(const char* text, size_t length, const std::vector<Replacement>& replacements);

    HRESULT Register() const;
    HRESULT Unregister() const;

private:
    using Marker = registryscript::Marker;
    using Entry = registryscript::Entry;
    using Root = registryscript::Root;

    static HRESULT RegisterEntries(HKEY parent, const std::vector<Entry>& entries);
    static HRESULT RegisterKey(HKEY parent, const Entry& entry);
    static HRESULT UnregisterEntries(HKEY parent, const std::vector<Entry>& entries);
    static HRESULT UnregisterKey(HKEY parent, const Entry& entry);

    std::vector<Root> m_roots;
};

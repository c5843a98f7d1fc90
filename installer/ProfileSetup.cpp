#include "installer/ProfileSetup.h"

#include <sddl.h>

#include "settings/DriverSettings.h"
#include "settings/ProfileKey.h"

namespace profilesetup {

namespace {

// Where an uninstall that keeps the settings puts them, outside the Chooser's
// list; only administrators may write below "Software".
constexpr wchar_t kKeptParent[] = L"Software\\Tavrilen";
constexpr wchar_t kKeptKey[] = L"Software\\Tavrilen\\Focuser settings";
constexpr REGSAM kView = KEY_WOW64_32KEY;

// What the uninstall question names: the trace switch is not kept, so that a
// reinstall does not turn tracing back on unasked, and nothing else a user
// may have put in the key travels into the next one.
constexpr const char* kKeptNames[] = {settingstext::kPortIndexName, settingstext::kMaxPositionName,
                                      settingstext::kStepSizeName, settingstext::kSpeedName};
constexpr const char* kDriverNames[] = {"",
                                        settingstext::kPortIndexName,
                                        settingstext::kMaxPositionName,
                                        settingstext::kStepSizeName,
                                        settingstext::kSpeedName,
                                        settingstext::kTraceName};

// Owner Administrators; a protected DACL: SYSTEM and Administrators full
// control, Users what the driver asks for and no more (no DELETE, WRITE_DAC,
// WRITE_OWNER or KEY_CREATE_LINK). None of it is inherited by subkeys.
constexpr wchar_t kDescriptor[] = L"O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;0x2001f;;;BU)";

// Longer than any setting the driver reads; a value past it is no setting.
constexpr DWORD kValueLimit = 1024;

// The key as the installer's details list names it.
const std::string kKeyText = std::string("HKLM\\") + kSettingsKeyPath + " (32-bit view)";

void Note(std::string& notes, const std::string& line) {
    notes += line + "\n";
}

std::string Error(LONG code) {
    return " (error " + std::to_string(code) + ")";
}

// Copies the named value from one key to the other as it is stored. A missing
// value is no failure.
LONG CopyValue(HKEY from, HKEY to, const char* name) {
    BYTE data[kValueLimit];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    const LONG rc = RegQueryValueExA(from, name, nullptr, &type, data, &size);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_MORE_DATA) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    return RegSetValueExA(to, name, 0, type, data, size);
}

LONG CopyKept(HKEY from, HKEY to) {
    for (const char* name : kKeptNames) {
        const LONG rc = CopyValue(from, to, name);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

void DeleteKeptParentIfEmpty() {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeptParent, 0, KEY_READ | kView, &parent) != ERROR_SUCCESS) return;
    DWORD subkeys = 1;
    DWORD values = 1;
    RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(parent);
    if (subkeys == 0 && values == 0) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKeptParent, kView, 0);
}

LONG SetDescriptor(HKEY key) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kDescriptor, SDDL_REVISION_1, &descriptor, nullptr)) {
        return static_cast<LONG>(GetLastError());
    }
    const LONG rc = RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return rc;
}

// Opens the key for the installer's work; a link in its place is removed,
// itself only, and the key made anew.
LONG OpenForInstall(HKEY& key, std::string& notes) {
    constexpr REGSAM kAccess = KEY_READ | KEY_WRITE | DELETE | WRITE_DAC | WRITE_OWNER;
    bool link = false;
    LONG rc = profilekey::Open(kAccess, true, key, link);
    if (rc == ERROR_SUCCESS && link) {
        rc = profilekey::DeleteKey(key);
        RegCloseKey(key);
        key = nullptr;
        if (rc != ERROR_SUCCESS) {
            Note(notes, kKeyText + " is a registry link to another key, and it could not be removed" + Error(rc));
            return rc;
        }
        Note(notes, "Removed a registry link that stood in place of " + kKeyText + "; what it pointed at is untouched");
        rc = profilekey::Open(kAccess, true, key, link);
        if (rc == ERROR_SUCCESS && link) {
            RegCloseKey(key);
            key = nullptr;
            rc = profilekey::kLinkOnPath;
        }
    }
    if (rc != ERROR_SUCCESS) {
        Note(notes, "Could not open or create " + kKeyText +
                        (rc == profilekey::kLinkOnPath ? ": a key above it is a registry link" : "") + Error(rc));
    }
    return rc;
}

}  // namespace

int Install(std::string& notes, Pause pause) {
    HKEY key = nullptr;
    if (OpenForInstall(key, notes) != ERROR_SUCCESS) return kFailed;
    if (pause != nullptr) pause();

    // Settings that an earlier uninstall kept come back; they are dropped
    // only once they are in.
    HKEY kept = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeptKey, 0, KEY_READ | kView, &kept) == ERROR_SUCCESS) {
        const LONG rc = CopyKept(kept, key);
        RegCloseKey(kept);
        if (rc != ERROR_SUCCESS) {
            Note(notes, "Could not move the kept settings back into " + kKeyText + Error(rc));
            RegCloseKey(key);
            return kFailed;
        }
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKeptKey, kView, 0);
        DeleteKeptParentIfEmpty();
    }
    const LONG rc = SetDescriptor(key);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        Note(notes, "Could not set the rights of " + kKeyText + Error(rc));
        return kRightsNotSet;
    }
    Note(notes, "Every user may change the focuser settings (" + kKeyText + ")");
    return kDone;
}

int Uninstall(bool keep, std::string& notes, Pause pause) {
    HKEY key = nullptr;
    bool link = false;
    LONG rc = profilekey::Open(KEY_READ | KEY_WRITE | DELETE, false, key, link);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKeptKey, kView, 0);
    if (rc == ERROR_FILE_NOT_FOUND) {
        DeleteKeptParentIfEmpty();
        return kDone;
    }
    if (rc != ERROR_SUCCESS) {
        Note(notes, "Left " + kKeyText +
                        (rc == profilekey::kLinkOnPath ? " alone: a key above it is a registry link"
                                                       : " alone: it could not be opened") +
                        Error(rc));
        return kFailed;
    }
    if (link) {
        // Nothing of what it points at is the driver's.
        rc = profilekey::DeleteKey(key);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) {
            Note(notes, "Left " + kKeyText +
                            " alone: it is a registry link to another key, and it could not be removed" + Error(rc));
            return kFailed;
        }
        Note(notes, "Removed a registry link that stood in place of " + kKeyText + "; what it pointed at is untouched");
        return kDone;
    }
    if (pause != nullptr) pause();

    int result = kDone;
    if (keep) {
        HKEY kept = nullptr;
        rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeptKey, 0, nullptr, 0, KEY_WRITE | kView, nullptr, &kept, nullptr);
        if (rc == ERROR_SUCCESS) {
            rc = CopyKept(key, kept);
            RegCloseKey(kept);
        }
        if (rc != ERROR_SUCCESS) {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKeptKey, kView, 0);
            Note(notes, "Could not keep the focuser settings of " + kKeyText + Error(rc));
            result = kFailed;
        } else {
            Note(notes, "Focuser settings kept in HKLM\\Software\\Tavrilen\\Focuser settings (32-bit view)");
        }
    }
    for (const char* name : kDriverNames) RegDeleteValueA(key, name);
    rc = profilekey::DeleteKey(key);
    // The subkeys' names alone, should it hold any: reading them opens none.
    std::string names;
    wchar_t name[256];
    for (DWORD i = 0; rc != ERROR_SUCCESS; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char narrow[512] = {};
        WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr);
        names += (i > 0 ? ", \"" : "\"") + std::string(narrow) + "\"";
    }
    if (!names.empty()) {
        Note(notes, "Left " + kKeyText +
                        " in place without the driver's values: it holds subkeys that the driver did not make (" +
                        names + "); an administrator may check them and remove the key");
    } else if (rc != ERROR_SUCCESS) {
        Note(notes, "Could not remove " + kKeyText + Error(rc));
        result = kFailed;
    }
    RegCloseKey(key);
    DeleteKeptParentIfEmpty();
    return result;
}

}  // namespace profilesetup

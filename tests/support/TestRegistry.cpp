#include "tests/support/TestRegistry.h"

#include <sddl.h>

#include "settings/DriverSettings.h"
#include "settings/ProfileKey.h"

namespace testregistry {

REGSAM SettingsView() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    return 0;
#endif
}

void DeleteSettingsKey() {
    // A link a failed test left goes first: deleting a tree follows it.
    RemoveLink("Software\\ASCOM\\Focuser Drivers");
    RemoveLink(kSettingsKeyPath);
    AllowSettingsWrites();  // whatever a failed test left
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKeyPath);  // native view of a 32-bit process
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\ASCOM\\Focuser Drivers", 0,
                      KEY_ALL_ACCESS | SettingsView(), &parent) == ERROR_SUCCESS) {
        RegDeleteTreeA(parent, "Tavrilen.Focuser");
        RegCloseKey(parent);
    }
}

bool PlantLink(const char* path, const char* target) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, target, 0, KEY_READ | SettingsView(), &key) != ERROR_SUCCESS) return false;
    const std::wstring native = profilekey::KeyName(key);
    RegCloseKey(key);
    if (native.empty() ||
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK | SettingsView(), nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    // The target's name without its terminating zero, as the system keeps it.
    const LONG rc = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                   reinterpret_cast<const BYTE*>(native.c_str()),
                                   static_cast<DWORD>(native.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void RemoveLink(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | DELETE | SettingsView(),
                      &key) != ERROR_SUCCESS) {
        return;
    }
    if (profilekey::IsLink(key)) profilekey::DeleteKey(key);
    RegCloseKey(key);
}

static HKEY Open(bool create) {
    HKEY key = nullptr;
    LONG rc;
    if (create) {
        rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0,
                             KEY_ALL_ACCESS | SettingsView(), nullptr, &key, nullptr);
    } else {
        rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ | SettingsView(), &key);
    }
    return rc == ERROR_SUCCESS ? key : nullptr;
}

bool SettingsKeyExists() {
    HKEY key = Open(false);
    if (key == nullptr) return false;
    RegCloseKey(key);
    return true;
}

void SetSettingsRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = Open(true);
    if (key == nullptr) return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void SetSettingsText(const char* name, const std::string& text) {
    SetSettingsRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

std::optional<std::string> GetSettingsText(const char* name) {
    HKEY key = Open(false);
    if (key == nullptr) return std::nullopt;
    char buffer[4096] = {};
    DWORD size = sizeof buffer - 1;
    const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return std::string(buffer);
}

DWORD CountSettingsValues() {
    HKEY key = Open(false);
    if (key == nullptr) return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

namespace {
constexpr char kParentPath[] = "Software\\ASCOM\\Focuser Drivers";
}

void MakeSettingsKeyUnusable() {
    DeleteSettingsKey();
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kParentPath, SettingsView(), 0);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParentPath, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | SettingsView(), nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

void RestoreSettingsParent() {
    DeleteSettingsKey();
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kParentPath, SettingsView(), 0);
}

namespace {

// Gives the existing settings key the rights the text describes.
void SetSettingsRights(const char* sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, WRITE_DAC | SettingsView(), &key) !=
        ERROR_SUCCESS) {
        return;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
}

}  // namespace

// Everyone may do anything but set values and create subkeys.
void DenySettingsWrites() { SetSettingsRights("D:(D;;0x6;;;WD)(A;;KA;;;WD)"); }
void AllowSettingsWrites() { SetSettingsRights("D:(A;;KA;;;WD)"); }

void StoreSettings(int portIndex, int maxPosition, const char* stepSize, int speed) {
    SetSettingsText("COM", std::to_string(portIndex));
    SetSettingsText("MaxPosition", std::to_string(maxPosition));
    SetSettingsText("StepSize", stepSize);
    SetSettingsText("Speed", std::to_string(speed));
}

}  // namespace testregistry

#include "settings/DriverSettings.h"

#include <windows.h>

#include <cstring>

namespace {

// Read and write access; the key is always opened this way, so a caller without
// write access to the machine-wide registry gets the initial values.
constexpr REGSAM kSettingsAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE
#ifdef _WIN64
    // One set of settings for both builds of the driver: the 64-bit one uses the
    // 32-bit registry view, where the 32-bit driver's key lives.
    | KEY_WOW64_32KEY
#endif
    ;

constexpr DWORD kValueBufferSize = 256;

HKEY OpenSettingsKey() {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0,
                                    kSettingsAccess, nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

// Reads one value as text. Returns nullptr when it is missing or unreadable
// (including data longer than the buffer). The extra byte keeps the text
// terminated when the data fills the buffer without a terminating zero.
const char* QueryText(HKEY key, const char* name, char (&buffer)[kValueBufferSize + 1]) {
    std::memset(buffer, 0, sizeof buffer);
    DWORD size = kValueBufferSize;
    const LONG rc = RegQueryValueExA(key, name, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(buffer), &size);
    return rc == ERROR_SUCCESS ? buffer : nullptr;
}

void SetText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
}

}  // namespace

DriverSettings LoadSettings() {
    using namespace settingstext;
    DriverSettings settings = kInitialSettings;
    HKEY key = OpenSettingsKey();
    if (key == nullptr) return settings;

    char buffer[kValueBufferSize + 1];
    settings.PortIndex = LoadPortIndex(QueryText(key, kPortIndexName, buffer));
    settings.MaxPosition = LoadMaxPosition(QueryText(key, kMaxPositionName, buffer));
    settings.StepSize = LoadStepSize(QueryText(key, kStepSizeName, buffer));
    settings.Speed = LoadSpeed(QueryText(key, kSpeedName, buffer));
    RegCloseKey(key);
    return settings;
}

void SaveSettings(const DriverSettings& settings) {
    using namespace settingstext;
    HKEY key = OpenSettingsKey();
    if (key == nullptr) return;

    char text[kTextCapacity];
    IntegerText(settings.PortIndex, text);
    SetText(key, kPortIndexName, text);
    IntegerText(settings.MaxPosition, text);
    SetText(key, kMaxPositionName, text);
    StepSizeText(settings.StepSize, text);
    SetText(key, kStepSizeName, text);
    IntegerText(settings.Speed, text);
    SetText(key, kSpeedName, text);
    RegCloseKey(key);
}

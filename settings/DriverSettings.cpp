#include "settings/DriverSettings.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

#ifdef _WIN64
// One set of settings for both builds of the driver: the 64-bit one uses the
// 32-bit registry view, where the 32-bit driver's key lives.
constexpr REGSAM kSettingsView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kSettingsView = 0;
#endif

constexpr DWORD kValueBufferSize = 256;

// Read and write access, creating the key if absent. The registry's result;
// key is set only on success.
LONG OpenSettingsKeyForWriting(HKEY& key) {
    const REGSAM access = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE | kSettingsView;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0, access, nullptr,
                           &key, nullptr);
}

HKEY OpenSettingsKeyForReading() {
    HKEY key = nullptr;
    const LONG rc =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ | kSettingsView, &key);
    return rc == ERROR_SUCCESS ? key : nullptr;
}

// The key as loading uses it: for reading and writing as always, so that a
// first load creates it; where the machine-wide registry is closed to the
// caller's writes (an unelevated program), for reading, so that the stored
// settings still count.
HKEY OpenSettingsKeyToLoad() {
    HKEY key = nullptr;
    const LONG rc = OpenSettingsKeyForWriting(key);
    if (rc == ERROR_SUCCESS) return key;
    return rc == ERROR_ACCESS_DENIED ? OpenSettingsKeyForReading() : nullptr;
}

// Reads one value as text. Returns nullptr when it is missing or unreadable
// (including data longer than the buffer). The extra byte keeps the text
// terminated when the data fills the buffer without a terminating zero. The
// value's type goes to *type when asked for.
const char* QueryText(HKEY key, const char* name, char (&buffer)[kValueBufferSize + 1],
                      DWORD* type = nullptr) {
    std::memset(buffer, 0, sizeof buffer);
    DWORD size = kValueBufferSize;
    const LONG rc = RegQueryValueExA(key, name, nullptr, type,
                                     reinterpret_cast<BYTE*>(buffer), &size);
    return rc == ERROR_SUCCESS ? buffer : nullptr;
}

bool SetText(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

}  // namespace

DriverSettings LoadSettings() {
    using namespace settingstext;
    DriverSettings settings = kInitialSettings;
    HKEY key = OpenSettingsKeyToLoad();
    if (key == nullptr) return settings;

    char buffer[kValueBufferSize + 1];
    settings.PortIndex = LoadPortIndex(QueryText(key, kPortIndexName, buffer));
    settings.MaxPosition = LoadMaxPosition(QueryText(key, kMaxPositionName, buffer));
    settings.StepSize = LoadStepSize(QueryText(key, kStepSizeName, buffer));
    settings.Speed = LoadSpeed(QueryText(key, kSpeedName, buffer));
    RegCloseKey(key);
    return settings;
}

bool SaveSettings(const DriverSettings& settings) {
    using namespace settingstext;
    HKEY key = nullptr;
    if (OpenSettingsKeyForWriting(key) != ERROR_SUCCESS) return false;

    // Every value is attempted, whatever became of the one before.
    bool saved = true;
    char text[kTextCapacity];
    IntegerText(settings.PortIndex, text);
    saved &= SetText(key, kPortIndexName, text);
    IntegerText(settings.MaxPosition, text);
    saved &= SetText(key, kMaxPositionName, text);
    StepSizeText(settings.StepSize, text);
    saved &= SetText(key, kStepSizeName, text);
    IntegerText(settings.Speed, text);
    saved &= SetText(key, kSpeedName, text);
    RegCloseKey(key);
    return saved;
}

// The switch is a number however it was stored: "reg add ... /t REG_DWORD /d 1"
// is as likely as the text "1".
bool LoadTraceSwitch() {
    HKEY key = OpenSettingsKeyForReading();
    if (key == nullptr) return false;
    char buffer[kValueBufferSize + 1];
    DWORD type = REG_NONE;
    const char* text = QueryText(key, settingstext::kTraceName, buffer, &type);
    RegCloseKey(key);
    if (text != nullptr && (type == REG_DWORD || type == REG_QWORD)) {
        // The buffer was zeroed: the number's bytes, little-endian, are all it holds.
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer);
        return std::any_of(bytes, bytes + sizeof(unsigned long long), [](unsigned char b) { return b != 0; });
    }
    return settingstext::LoadTraceSwitch(text);
}

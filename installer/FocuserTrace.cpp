// FocuserTrace.exe on|off: what the Start-menu entries "Focuser Trace On" and
// "Focuser Trace Off" run. It sets the driver's "Trace" value and nothing else.
//
// Ordinary users may only set values in the driver's profile key, not change
// its rights or delete it, so the switch opens the key for setting a value
// alone: a general registry tool may ask for more and be refused. It never
// creates the key, which would put a nameless entry in the Chooser after an
// uninstall. A windowless program, so the entries flash no console; a failure
// says why in a message box.
//
// Exit code 0 when the value is set, 2 on a bad command line, otherwise the
// Windows error code of the step that failed.
#include <windows.h>

#include <cwchar>

#include "settings/DriverSettings.h"

namespace {

constexpr wchar_t kTitle[] = L"Tavrilen Astrograph Focuser";

int Fail(const wchar_t* what, LONG code) {
    wchar_t reason[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(code), 0, reason, 256, nullptr);
    wchar_t text[512];
    std::swprintf(text, 512, L"%ls\n\n%ls(error %ld)", what, reason, static_cast<long>(code));
    MessageBoxW(nullptr, text, kTitle, MB_ICONEXCLAMATION | MB_OK);
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool on = argc == 2 && _wcsicmp(argv[1], L"on") == 0;
    if (argc != 2 || (!on && _wcsicmp(argv[1], L"off") != 0)) {
        MessageBoxW(nullptr, L"Usage: FocuserTrace.exe on|off", kTitle, MB_ICONINFORMATION | MB_OK);
        return 2;
    }
    const wchar_t* failed = on ? L"Could not turn on the focuser driver's trace log."
                               : L"Could not turn off the focuser driver's trace log.";
    HKEY key = nullptr;
    // Both builds of the driver read their settings in the 32-bit view.
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key);
    if (result != ERROR_SUCCESS) {
        return Fail(failed, result);
    }
    // The text form a user types by hand, which every build of the driver reads.
    const char* data = on ? "1" : "0";
    result = RegSetValueExA(key, settingstext::kTraceName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), 2);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : Fail(failed, result);
}

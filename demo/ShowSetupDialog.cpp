// The demo's look at the setup dialog: opens it as a settings program does
// (the driver created by its ProgID, unlinked, SetupDialog called by name),
// saves a picture of it once it is painted, and closes it with Cancel, so no
// setting changes.
//
//   ShowSetupDialog PICTURE.bmp
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "devtools/WindowImage.h"

namespace {

constexpr DWORD kAppearMs = 30000;
constexpr DWORD kPaintMs = 1500;
constexpr DWORD kCloseMs = 10000;

struct Search {
    DWORD process;
    HWND dialog;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (process == search->process && IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0) {
        search->dialog = window;
        return FALSE;
    }
    return TRUE;
}

// This program's first visible dialog, or null when none shows up in time.
HWND WaitForDialog() {
    const ULONGLONG deadline = GetTickCount64() + kAppearMs;
    Search search = {GetCurrentProcessId(), nullptr};
    while (GetTickCount64() < deadline) {
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.dialog != nullptr) return search.dialog;
        Sleep(100);
    }
    return nullptr;
}

// A member called by name, without arguments, as a script would.
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* result) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none = {};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ShowSetupDialog PICTURE.bmp\n");
        return 2;
    }
    const char* picture = argv[1];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    CLSID clsid;
    IDispatch* focuser = nullptr;
    if (FAILED(CLSIDFromProgID(L"Tavrilen.Focuser", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&focuser)))) {
        std::printf("FAILED: the driver Tavrilen.Focuser cannot be created\n");
        return 1;
    }
    VARIANT link;
    VariantInit(&link);
    if (SUCCEEDED(CallByName(focuser, L"Link", DISPATCH_PROPERTYGET, &link)) && link.vt == VT_BOOL) {
        std::printf("Linked: %s, so the dialog offers settings only\n", link.boolVal ? "True" : "False");
    }

    std::atomic<bool> saved{false};
    std::string caption;
    std::thread user([&] {
        HWND dialog = WaitForDialog();
        if (dialog == nullptr) return;
        char text[128] = {};
        GetWindowTextA(dialog, text, sizeof text);
        caption = text;
        // Nothing tells another thread that a dialog has finished painting.
        Sleep(kPaintMs);
        saved = SaveWindowImage(dialog, picture);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        const ULONGLONG deadline = GetTickCount64() + kCloseMs;
        while (IsWindow(dialog) && GetTickCount64() < deadline) Sleep(50);
        if (IsWindow(dialog)) {
            std::printf("FAILED: the dialog did not close on Cancel\n");
            std::fflush(stdout);
            ExitProcess(1);
        }
    });

    std::printf("Opening the setup dialog (SetupDialog) ...\n");
    std::fflush(stdout);
    const HRESULT result = CallByName(focuser, L"SetupDialog", DISPATCH_METHOD, nullptr);
    user.join();
    focuser->Release();
    CoUninitialize();

    if (caption.empty()) {
        std::printf("FAILED: no dialog appeared (SetupDialog returned 0x%08lx)\n", static_cast<unsigned long>(result));
        return 1;
    }
    std::printf("Shown: \"%s\"; %s\n", caption.c_str(), saved ? "picture taken" : "FAILED: no picture taken");
    std::printf("Closed with Cancel: SetupDialog returned 0x%08lx\n", static_cast<unsigned long>(result));
    return saved && result == S_OK ? 0 : 1;
}

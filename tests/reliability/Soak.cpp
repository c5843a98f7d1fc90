// Long runs that would show a leak: connect/disconnect cycles and member calls
// against an emulated controller over the null-modem, and create/release
// cycles through the DLL's exports. Handle, GDI and USER counts must come back
// to where they were after a warm-up; the bytes in use in the process's heaps
// and the private bytes are printed and may grow by a small tolerance (Wine's
// own caches and tables).
//
//   soak [--cycles N] [--calls M] [--creates K] [--dialogs D]
//
// D setup dialog open/close cycles (default none) need a display.
//
// Exit code 0: all counts back, every DllCanUnloadNow S_OK; 1: a leak or a
// failed call; 2: no emulator or DLL.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "com/ComObject.h"
#include "driver/CFocuser.h"
#include "sim/ControllerEmulator.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/OwnDesktop.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/TestRegistry.h"

namespace {

constexpr SIZE_T kPrivateBytesTolerance = 1024 * 1024;
constexpr SIZE_T kHeapBytesTolerance = 256 * 1024;
constexpr char kDesktopName[] = "SoakDialogs";

struct Usage {
    DWORD handles = 0;
    DWORD gdi = 0;
    DWORD user = 0;
    SIZE_T privateBytes = 0;
    SIZE_T heapBytes = 0;
};

Usage Measure() {
    Usage usage;
    usage.handles = processcounts::Handles();
    // Wine's GetGuiResources answers 0: on Wine these two only prove nothing
    // went wrong in the call; on Windows they are the real counts.
    usage.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    usage.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    usage.privateBytes = processcounts::PrivateBytes();
    usage.heapBytes = processcounts::HeapBytesInUse();
    return usage;
}

// The usage after a phase. Threads of this process that are mid-call (the
// emulator's reads, Wine's own services) hold a handle for a moment, and on a
// slow machine a count can catch one: a handle more than before is counted
// again for up to a second, and only one that stays is a leak.
Usage MeasureAfter(const Usage& before) {
    Usage after = Measure();
    for (int retry = 0; retry < 10 && after.handles > before.handles; ++retry) {
        Sleep(100);
        after = Measure();
    }
    return after;
}

// Prints the figures; false when a count did not come back.
bool Report(const char* phase, const Usage& before, const Usage& after, double seconds) {
    const long long growth = static_cast<long long>(after.privateBytes) -
                             static_cast<long long>(before.privateBytes);
    const long long heapGrowth = static_cast<long long>(after.heapBytes) - static_cast<long long>(before.heapBytes);
    std::printf("%-28s handles %lu -> %lu  GDI %lu -> %lu  USER %lu -> %lu  private %.1f -> %.1f KiB (%+lld B)"
                "  heap in use %+lld B  %.1f s\n",
                phase, static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles),
                static_cast<unsigned long>(before.gdi), static_cast<unsigned long>(after.gdi),
                static_cast<unsigned long>(before.user), static_cast<unsigned long>(after.user),
                before.privateBytes / 1024.0, after.privateBytes / 1024.0, growth, heapGrowth, seconds);
    std::fflush(stdout);
    bool ok = true;
    // Fewer is no leak: a handle that was in use for a moment when the phase
    // began.
    if (after.handles > before.handles) { std::printf("  LEAK: handles\n"); ok = false; }
    if (after.gdi != before.gdi) { std::printf("  LEAK: GDI objects\n"); ok = false; }
    if (after.user != before.user) { std::printf("  LEAK: USER objects\n"); ok = false; }
    if (growth > static_cast<long long>(kPrivateBytesTolerance)) {
        std::printf("  LEAK: private bytes grew by more than %lu B\n",
                    static_cast<unsigned long>(kPrivateBytesTolerance));
        ok = false;
    }
    if (heapGrowth > static_cast<long long>(kHeapBytesTolerance)) {
        std::printf("  LEAK: heap in use grew by more than %lu B\n", static_cast<unsigned long>(kHeapBytesTolerance));
        ok = false;
    }
    return ok;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool ConnectCycles(IFocuser* focuser, long count) {
    for (long i = 0; i < count; ++i) {
        if (focuser->put_Link(VARIANT_TRUE) != S_OK || focuser->put_Link(VARIANT_FALSE) != S_OK) {
            std::printf("connect cycle %ld failed\n", i);
            return false;
        }
    }
    return true;
}

bool MemberCalls(IFocuser* focuser, long count) {
    for (long i = 0; i < count; ++i) {
        LONG position = 0;
        float temperature = 0;
        VARIANT_BOOL moving = VARIANT_TRUE;
        HRESULT hr = S_OK;
        const double started = NowMs();
        switch (i % 4) {
            case 0: hr = focuser->get_Position(&position); break;
            case 1: hr = focuser->get_IsMoving(&moving); break;
            case 2: hr = focuser->get_Temperature(&temperature); break;
            case 3: hr = focuser->Move(i % 2000); break;
        }
        if (hr != S_OK) {
            // What failed, and after how long: a reply that never came takes
            // the whole read window, a refused or garbled one does not.
            std::printf("member call %ld failed after %.1f ms: 0x%08lx %s\n", i, NowMs() - started,
                        static_cast<unsigned long>(hr), TakeErrorInfo().description.c_str());
            return false;
        }
    }
    return true;
}

bool CreateReleaseCycles(long count) {
    for (long i = 0; i < count; ++i) {
        servertest::ServerDll dll;
        if (!dll.Load()) {
            std::printf("cannot load %s\n", servertest::DllPath().c_str());
            return false;
        }
        IUnknown* object = nullptr;
        if (dll.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)) != S_OK) {
            std::printf("create %ld failed\n", i);
            return false;
        }
        if (dll.CanUnloadNow() != S_FALSE) {
            std::printf("create %ld: DllCanUnloadNow is not S_FALSE while an object lives\n", i);
            return false;
        }
        object->Release();
        if (dll.CanUnloadNow() != S_OK) {
            std::printf("create %ld: DllCanUnloadNow is not S_OK after the release\n", i);
            return false;
        }
    }
    return true;
}

// Closes every setup dialog this process shows with Cancel, as a user would,
// until told to stop. A dialog that never appears ends the program: a hang is
// a failure, not a stall.
struct DialogCloser {
    std::atomic<bool> stop{false};
    std::atomic<long> closed{0};
    std::atomic<long> expected{0};

    static BOOL CALLBACK Find(HWND window, LPARAM found) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (pid == GetCurrentProcessId() && IsWindowVisible(window) && std::strcmp(name, "#32770") == 0) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }

    void Run() {
        if (!owndesktop::Use(kDesktopName)) {
            std::printf("the dialog closer cannot reach the soak's desktop\n");
            std::fflush(stdout);
            ExitProcess(1);
        }
        auto waitingSince = std::chrono::steady_clock::now();
        while (!stop) {
            HWND dialog = nullptr;
            EnumWindows(&Find, reinterpret_cast<LPARAM>(&dialog));
            if (dialog != nullptr) {
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                while (!stop && IsWindow(dialog)) Sleep(1);
                ++closed;
                waitingSince = std::chrono::steady_clock::now();
            } else if (closed < expected && Seconds(waitingSince) > 20.0) {
                std::printf("setup dialog %ld did not appear or close within 20 s\n", closed.load());
                std::fflush(stdout);
                ExitProcess(1);
            }
            Sleep(2);
        }
    }
};

bool DialogCycles(IFocuser* focuser, DialogCloser& closer, long count) {
    closer.expected += count;
    for (long i = 0; i < count; ++i) {
        if (focuser->SetupDialog() != S_OK) {
            std::printf("setup dialog %ld failed\n", i);
            return false;
        }
    }
    return true;
}

long Argument(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const long cycles = Argument(argc, argv, "--cycles", 10000);
    const long calls = Argument(argc, argv, "--calls", 100000);
    const long creates = Argument(argc, argv, "--creates", 1000);
    const long dialogs = Argument(argc, argv, "--dialogs", 0);
    // The dialogs open on a desktop of the soak's own, made before anything
    // can give this thread a window.
    HDESK desktop = dialogs > 0 ? owndesktop::Create(kDesktopName) : nullptr;
    if (dialogs > 0 && desktop == nullptr) {
        std::printf("no desktop for the setup dialogs (error %lu)\n", GetLastError());
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    testregistry::DeleteSettingsKey();
    testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3, medium speed
    ControllerEmulator emulator;
    emulator.SetKeepHistory(false);
    emulator.SetResponder(ControllerEmulator::Fixed(
        {{"FG0000000", "FD0001234"}, {"FU0000000", "FU0000000"}, {"FT0000000", "FT021.50#"},
         {"FCS000020", "FC0000000"}},
        "FC0000000"));
    if (!emulator.Start("//./COM13")) {
        std::printf("null-modem far end (COM13) not available\n");
        return 2;
    }

    std::printf("soak: %ld connect/disconnect cycles, %ld member calls, %ld create/release cycles\n",
                cycles, calls, creates);
    bool ok = true;
    IFocuser* focuser = NewFocuser();
    if (focuser == nullptr) return 2;

    // Warm-up: Wine and the runtime allocate their caches on first use.
    ok = ConnectCycles(focuser, 20) && ok;
    Usage before = Measure();
    auto start = std::chrono::steady_clock::now();
    ok = ConnectCycles(focuser, cycles) && ok;
    ok = Report("connect/disconnect", before, MeasureAfter(before), Seconds(start)) && ok;

    focuser->put_Link(VARIANT_TRUE);
    ok = MemberCalls(focuser, 200) && ok;
    before = Measure();
    start = std::chrono::steady_clock::now();
    ok = MemberCalls(focuser, calls) && ok;
    ok = Report("member calls (linked)", before, MeasureAfter(before), Seconds(start)) && ok;
    focuser->put_Link(VARIANT_FALSE);
    focuser->Release();

    {
        // The same with the DLL kept loaded: what the objects cost, apart from
        // loading and unloading the module.
        servertest::ServerDll held;
        if (held.Load()) {
            ok = CreateReleaseCycles(10) && ok;
            before = Measure();
            start = std::chrono::steady_clock::now();
            ok = CreateReleaseCycles(creates) && ok;
            ok = Report("create/release (DLL held)", before, MeasureAfter(before), Seconds(start)) && ok;
        }
    }
    ok = CreateReleaseCycles(10) && ok;
    before = Measure();
    start = std::chrono::steady_clock::now();
    ok = CreateReleaseCycles(creates) && ok;
    ok = Report("create/release (load each)", before, MeasureAfter(before), Seconds(start)) && ok;

    emulator.Stop();

    // The setup dialog, unlinked, through the DLL (whose resources hold its
    // template): needs a display.
    if (dialogs > 0) {
        servertest::ServerDll dll;
        IFocuser* driver = nullptr;
        if (!dll.Load() || dll.CreateInstance(nullptr, IID_IFocuser, reinterpret_cast<void**>(&driver)) != S_OK) {
            std::printf("cannot create the driver through the DLL\n");
            ok = false;
        } else {
            DialogCloser closer;
            std::thread closing([&closer] { closer.Run(); });
            ok = DialogCycles(driver, closer, 5) && ok;
            const auto shown = std::chrono::steady_clock::now();
            while (closer.closed < closer.expected && Seconds(shown) < 2.0) Sleep(10);
            if (closer.closed == 0) {
                // SetupDialog returns S_OK whether or not its window appeared.
                std::printf("setup dialog: no window appeared (is there a display?)\n");
                ok = false;
            } else {
                before = Measure();
                start = std::chrono::steady_clock::now();
                ok = DialogCycles(driver, closer, dialogs) && ok;
                ok = Report("setup dialog open/close", before, MeasureAfter(before), Seconds(start)) && ok;
                const auto settle = std::chrono::steady_clock::now();
                while (closer.closed < closer.expected && Seconds(settle) < 5.0) Sleep(10);
                std::printf("setup dialogs shown and closed: %ld of %ld\n", closer.closed.load(),
                            closer.expected.load());
                if (closer.closed != closer.expected) ok = false;
            }
            closer.stop = true;
            closing.join();
            driver->Release();
        }
    }

    testregistry::DeleteSettingsKey();
    CoUninitialize();
    if (desktop != nullptr) CloseDesktop(desktop);
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

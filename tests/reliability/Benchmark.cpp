// Medians of what the driver's calls cost. Printed beside their targets; never
// a pass or fail (a shared machine is too noisy for that).
//
// The driver's own cost: under Wine an exchange through the pseudo-terminals
// costs tens of times what the driver does, so the serial line is taken out: ReadFile and
// WriteFile (on this thread only) are redirected to an in-process controller
// that answers at once. What is left is the driver's own work plus the real
// PurgeComm it makes. The same calls over the null-modem to the emulator are
// printed too, with the emulator's own turnaround, for comparison.
//
// Paced: the emulator paces every byte as a 9600 baud 8N1 line would, and each
// call is set against the wire bound of its exchanges: 9 bytes out and 9 back
// at 1.0417 ms a byte, 18.75 ms an exchange; a bare exchange made by hand on
// the same port shows what the line and the emulator cost without the driver.
//
//   benchmark [--quick]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "com/ComObject.h"
#include "driver/CFocuser.h"
#include "settings/DriverSettings.h"
#include "sim/ControllerEmulator.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/ImportHook.h"
#include "tests/support/TestRegistry.h"
#include "trace/TraceLog.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kExchangeWireMs = 2 * 9 * ControllerEmulator::kByteMs;  // 18.75 ms

std::map<std::string, std::string> Replies() {
    return {{"FG0000000", "FD0001234"}, {"FU0000000", "FU0000000"}, {"FT0000000", "FT021.50#"},
            {"FCS000020", "FC0000000"}};
}
constexpr const char kOtherwise[] = "FC0000000";  // every move is accepted

double Median(std::vector<double> samples) {
    if (samples.empty()) return 0.0;
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2.0;
}

// Median ms of a call, over count samples after a few unmeasured calls. A
// sample times batch calls in a row: Wine's clock ticks in 100 ns, coarser
// than the quickest calls.
double Time(int count, const std::function<void()>& call, int batch = 1) {
    for (int i = 0; i < 5; ++i) call();
    std::vector<double> samples;
    samples.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        for (int j = 0; j < batch; ++j) call();
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count() / batch);
    }
    return Median(samples);
}

// --- The in-process controller behind the redirected ReadFile/WriteFile -------
DWORD g_benchThread = 0;
std::string g_lastCommand;
ImportHook* g_readHook = nullptr;
ImportHook* g_writeHook = nullptr;

BOOL WINAPI InstantWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    if (GetCurrentThreadId() != g_benchThread) {
        return g_writeHook->Original<decltype(&WriteFile)>()(file, buffer, count, written, overlapped);
    }
    g_lastCommand.assign(static_cast<const char*>(buffer), strnlen(static_cast<const char*>(buffer), count));
    if (written != nullptr) *written = count;
    return TRUE;
}

BOOL WINAPI InstantReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
    if (GetCurrentThreadId() != g_benchThread) {
        return g_readHook->Original<decltype(&ReadFile)>()(file, buffer, count, read, overlapped);
    }
    static const std::map<std::string, std::string> replies = Replies();
    const auto found = replies.find(g_lastCommand);
    const std::string reply = found != replies.end() ? found->second : kOtherwise;
    const DWORD n = static_cast<DWORD>(std::min<size_t>(count, reply.size()));
    std::memcpy(buffer, reply.data(), n);
    if (read != nullptr) *read = n;
    return TRUE;
}

void Row(const char* what, double ms, int exchanges, const char* target) {
    std::printf("  %-34s %11.6f ms", what, ms);
    if (exchanges > 0) std::printf("  %10.6f ms/exchange", ms / exchanges);
    std::printf("  %s\n", target);
}

struct Calls {
    IFocuser* focuser;
    void Position() const { LONG v = 0; focuser->get_Position(&v); }
    void IsMoving() const { VARIANT_BOOL v = 0; focuser->get_IsMoving(&v); }
    void Temperature() const { float v = 0; focuser->get_Temperature(&v); }
    void Move() const { focuser->Move(500); }
    void Connect() const { focuser->put_Link(VARIANT_TRUE); focuser->put_Link(VARIANT_FALSE); }
};

void DriverOwnCost(IFocuser* focuser, int count) {
    std::printf("\nUnpaced, in-process controller answering at once (the driver's own cost):\n");
    g_benchThread = GetCurrentThreadId();
    ImportHook write("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&InstantWriteFile));
    ImportHook read("kernel32.dll", "ReadFile", reinterpret_cast<void*>(&InstantReadFile));
    g_writeHook = &write;
    g_readHook = &read;
    if (!write.Installed() || !read.Installed()) {
        std::printf("  (cannot redirect ReadFile/WriteFile: skipped)\n");
        return;
    }
    const Calls c{focuser};
    focuser->put_Link(VARIANT_TRUE);
    Row("Position", Time(count, [&] { c.Position(); }, 20), 1, "target <= 0.5 ms/exchange");
    Row("IsMoving", Time(count, [&] { c.IsMoving(); }, 20), 1, "target <= 0.5 ms/exchange");
    Row("Temperature", Time(count, [&] { c.Temperature(); }, 20), 1, "target <= 0.5 ms/exchange");
    Row("Move (3 exchanges)", Time(count, [&] { c.Move(); }), 3, "target <= 0.5 ms/exchange");
    focuser->put_Link(VARIANT_FALSE);
    Row("connect + disconnect (2 exchanges)", Time(count / 4, [&] { c.Connect(); }), 2,
        "(includes opening and setting up the port)");
    g_benchThread = 0;
}

void OverNullModem(IFocuser* focuser, ControllerEmulator& emulator, int count) {
    std::printf("\nUnpaced, over the null-modem to the emulator (Wine's pty latency included):\n");
    const Calls c{focuser};
    focuser->put_Link(VARIANT_TRUE);
    Row("Position", Time(count, [&] { c.Position(); }), 1, "");
    Row("IsMoving", Time(count, [&] { c.IsMoving(); }), 1, "");
    Row("Temperature", Time(count, [&] { c.Temperature(); }), 1, "");
    Row("Move (3 exchanges)", Time(count, [&] { c.Move(); }), 3, "");
    focuser->put_Link(VARIANT_FALSE);
    Row("connect + disconnect (2 exchanges)", Time(count / 4, [&] { c.Connect(); }), 2, "");

    // What a user who switched the trace on pays: a line appended per exchange.
    testregistry::SetSettingsText("Trace", "1");
    focuser->put_Link(VARIANT_TRUE);
    Row("Position, trace on", Time(count, [&] { c.Position(); }), 1, "(one line written each)");
    focuser->put_Link(VARIANT_FALSE);
    wchar_t traceFile[TraceLog::kPathCapacity];
    if (TraceLog::TodaysFile(traceFile)) DeleteFileW(traceFile);
    // The same with the day's folder unusable (a file stands in its place, as
    // a share gone offline would fail): a line is dropped, not waited for.
    const std::wstring folder = BlockTraceFolder();
    if (!folder.empty()) {
        focuser->put_Link(VARIANT_TRUE);
        Row("Position, trace on, folder unusable", Time(count, [&] { c.Position(); }), 1,
            "(lines dropped; tried again every 5 s)");
        focuser->put_Link(VARIANT_FALSE);
        DeleteFileW(folder.c_str());
    }
    testregistry::SetSettingsText("Trace", "0");

    // The emulator's turnaround: from a frame complete to its reply on the line.
    focuser->put_Link(VARIANT_TRUE);
    emulator.SetKeepHistory(true);
    emulator.ClearFrames();
    for (int i = 0; i < 50; ++i) c.Position();
    focuser->put_Link(VARIANT_FALSE);
    std::vector<double> turnaround;
    double commandAt = -1;
    for (const auto& entry : emulator.Trace()) {
        if (entry.kind == ControllerEmulator::TraceEntry::Kind::Command) commandAt = entry.atMs;
        if (entry.kind == ControllerEmulator::TraceEntry::Kind::Reply && commandAt >= 0) {
            turnaround.push_back(entry.atMs - commandAt);
            commandAt = -1;
        }
    }
    Row("emulator turnaround per exchange", Median(turnaround), 0, "(frame in -> reply written)");
}

// The reference: one exchange made by hand on the driver's port, with the
// driver's line settings and time-outs but none of its code: purge, write the
// nine bytes, read the nine back. What is left is the line and the emulator.
class BareExchange {
public:
    BareExchange() {
        m_port = CreateFileA("//./COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (m_port == INVALID_HANDLE_VALUE) return;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_port, &dcb);
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        COMMTIMEOUTS timeouts = {200, 4, 100, 0, 0};
        SetCommState(m_port, &dcb);
        SetCommTimeouts(m_port, &timeouts);
    }
    ~BareExchange() {
        if (m_port != INVALID_HANDLE_VALUE) CloseHandle(m_port);
    }
    bool Open() const { return m_port != INVALID_HANDLE_VALUE; }
    void operator()() const {
        char reply[9];
        DWORD count = 0;
        PurgeComm(m_port, PURGE_RXCLEAR | PURGE_TXCLEAR);
        WriteFile(m_port, "FU0000000", 9, &count, nullptr);
        ReadFile(m_port, reply, sizeof reply, &count, nullptr);
    }

private:
    HANDLE m_port = INVALID_HANDLE_VALUE;
};

// Each call, and the bare exchange beside them, against the wire bound of its
// exchanges, all in one run with the emulator pacing every byte.
void Paced(IFocuser* focuser, ControllerEmulator& emulator, int count) {
    std::printf("\nPaced at 9600 baud 8N1 (wire bound %.2f ms per exchange: 9 bytes out, 9 back):\n",
                kExchangeWireMs);
    emulator.SetPaced(true);
    const Calls c{focuser};
    const auto row = [](const char* name, int exchanges, double ms, const char* goal) {
        const double bound = exchanges * kExchangeWireMs;
        std::printf("  %-34s %9.3f ms  bound %7.2f ms  ratio %.3f  %s\n", name, ms, bound, ms / bound, goal);
    };
    {
        const BareExchange bare;
        if (bare.Open()) {
            row("bare exchange (reference)", 1, Time(count, [&] { bare(); }), "(the line and the emulator alone)");
        } else {
            std::printf("  (cannot open COM3 for the bare exchange: skipped)\n");
        }
    }
    focuser->put_Link(VARIANT_TRUE);
    row("Position", 1, Time(count, [&] { c.Position(); }), "goal <= 1.02");
    row("IsMoving", 1, Time(count, [&] { c.IsMoving(); }), "goal <= 1.02");
    row("Temperature", 1, Time(count, [&] { c.Temperature(); }), "goal <= 1.02");
    row("Move (3 exchanges)", 3, Time(count, [&] { c.Move(); }), "goal <= 1.03");
    focuser->put_Link(VARIANT_FALSE);
    row("connect + disconnect (2 exchanges)", 2, Time(count / 4, [&] { c.Connect(); }), "");
    emulator.SetPaced(false);
}

// The registry calls a settings load cannot do without, made directly: open
// (or create) the key as the driver does, read the four values, close it.
void BareRegistryLoad() {
    REGSAM access = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
#ifdef _WIN64
    access |= KEY_WOW64_32KEY;
#endif
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, 0, access, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const char* name : {settingstext::kPortIndexName, settingstext::kMaxPositionName,
                             settingstext::kStepSizeName, settingstext::kSpeedName}) {
        char buffer[257] = {};
        DWORD size = 256;
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    }
    RegCloseKey(key);
}

void SettingsLoad(int count) {
    std::printf("\nSettings:\n");
    volatile long sink = 0;
    const double load = Time(count, [&] { sink = sink + LoadSettings().MaxPosition; });
    const double registry = Time(count, BareRegistryLoad);
    // What the driver does besides the registry calls: turning the four texts
    // into the record.
    const double parse = Time(count, [&] {
        using namespace settingstext;
        sink = sink + LoadPortIndex("2") + LoadMaxPosition("20000") + LoadSpeed("1") +
               static_cast<long>(LoadStepSize("1.27"));
    }, 100);
    Row("LoadSettings", load, 0, "target <= 0.1 ms");
    Row("its six registry calls alone", registry, 0, "the system's share");
    Row("parsing the four values", parse, 0, "the driver's own share");
}

void Dispatch(int count) {
    std::printf("\nLate and early binding (the DLL, registered in the prefix):\n");
    servertest::ServerDll dll;
    if (!dll.Load() || dll.RegisterServer() != S_OK) {
        std::printf("  (cannot load or register %s: skipped)\n", servertest::DllPath().c_str());
        return;
    }
    IDispatch* dispatch = nullptr;
    IFocuser* focuser = nullptr;
    ITypeInfo* info = nullptr;
    if (dll.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)) == S_OK &&
        dispatch->QueryInterface(IID_IFocuser, reinterpret_cast<void**>(&focuser)) == S_OK &&
        dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info) == S_OK) {
        wchar_t name[] = L"Absolute";
        LPOLESTR names[] = {name};
        DISPID id = 0;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        const double early = Time(count, [&] { VARIANT_BOOL v = 0; focuser->get_Absolute(&v); }, 100);
        const double late = Time(count, [&] {
            DISPID found = 0;
            dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &found);
            VARIANT result;
            VariantInit(&result);
            dispatch->Invoke(found, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                             nullptr, nullptr);
        }, 100);
        const double cached = Time(count, [&] {
            dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        }, 100);
        const double typeInfo = Time(count, [&] { info->GetIDsOfNames(names, 1, &id); }, 100);
        Row("early-bound get_Absolute", early, 0, "");
        Row("late-bound GetIDsOfNames + Invoke", late, 0, "");
        std::printf("  late / early: %.1fx\n", early > 0 ? late / early : 0.0);
        Row("cached GetIDsOfNames", cached, 0, "");
        Row("ITypeInfo::GetIDsOfNames", typeInfo, 0, "");
        std::printf("  type information / cached: %.1fx  (target >= 10x)\n", cached > 0 ? typeInfo / cached : 0.0);
    } else {
        std::printf("  (cannot create the object through the DLL: skipped)\n");
    }
    if (info != nullptr) info->Release();
    if (focuser != nullptr) focuser->Release();
    if (dispatch != nullptr) dispatch->Release();
    dll.UnregisterServer();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int count = quick ? 200 : 2000;
    const int nullModemCount = quick ? 50 : 300;
    const int pacedCount = quick ? 20 : 100;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    testregistry::DeleteSettingsKey();
    testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3, medium speed
    ControllerEmulator emulator;
    emulator.SetKeepHistory(false);
    emulator.SetResponder(ControllerEmulator::Fixed(Replies(), kOtherwise));
    if (!emulator.Start("//./COM13")) {
        std::printf("null-modem far end (COM13) not available\n");
        return 2;
    }
    IFocuser* focuser = NewFocuser();
    if (focuser == nullptr) return 2;

    std::printf("Medians; figures are the machine's, targets are printed beside them and not checked.\n");
    DriverOwnCost(focuser, count);
    OverNullModem(focuser, emulator, nullModemCount);
    Paced(focuser, emulator, pacedCount);
    SettingsLoad(count);
    focuser->Release();
    emulator.Stop();
    Dispatch(count);

    testregistry::DeleteSettingsKey();
    CoUninitialize();
    return 0;
}

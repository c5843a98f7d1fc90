#include "tests/support/SerialCallLog.h"

#include <algorithm>

namespace {

SerialCallLog* g_log = nullptr;
// The watched thread. Other threads may still be inside a hook after the log
// is gone, so they decide by this alone and never touch the log.
volatile DWORD g_ownerThread = 0;

// The system's own functions. Calls written as ::CreateFileA inside the hooks
// would go through the patched import table straight back into the hooks.
struct RealFunctions {
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::GetCommState) GetCommState;
    decltype(&::SetCommTimeouts) SetCommTimeouts;
    decltype(&::SetCommState) SetCommState;
    decltype(&::PurgeComm) PurgeComm;
    decltype(&::ClearCommError) ClearCommError;
    decltype(&::WriteFile) WriteFile;
    decltype(&::ReadFile) ReadFile;
    decltype(&::CloseHandle) CloseHandle;
} g_real;

template <class F>
void Resolve(F& function, const char* name) {
    function = reinterpret_cast<F>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

}  // namespace

struct SerialHooks {
    static SerialCallLog& Log() { return *g_log; }

    static HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                     DWORD flags, HANDLE templateFile) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.CreateFileA(name, access, share, security, disposition, flags, templateFile);
        SerialCallLog::Call call;
        call.function = "CreateFileA";
        call.name = name;
        call.access = access;
        call.share = share;
        call.disposition = disposition;
        call.flags = flags;
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (!Log().ShouldFail("CreateFileA")) {
            handle = g_real.CreateFileA(name, access, share, security, disposition, flags, templateFile);
        }
        call.handle = handle;
        Log().Record(call);
        return handle;
    }

    static BOOL WINAPI GetCommState(HANDLE handle, LPDCB dcb) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.GetCommState(handle, dcb);
        SerialCallLog::Call call;
        call.function = "GetCommState";
        call.handle = handle;
        BOOL ok = FALSE;
        if (!Log().ShouldFail("GetCommState")) ok = g_real.GetCommState(handle, dcb);
        if (ok && Log().m_editDeviceState) Log().m_editDeviceState(*dcb);
        if (ok) call.dcb = *dcb;
        Log().Record(call);
        return ok;
    }

    static BOOL WINAPI SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.SetCommTimeouts(handle, timeouts);
        SerialCallLog::Call call;
        call.function = "SetCommTimeouts";
        call.handle = handle;
        call.timeouts = *timeouts;
        Log().Record(call);
        return Log().ShouldFail("SetCommTimeouts") ? FALSE : g_real.SetCommTimeouts(handle, timeouts);
    }

    static BOOL WINAPI SetCommState(HANDLE handle, LPDCB dcb) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.SetCommState(handle, dcb);
        SerialCallLog::Call call;
        call.function = "SetCommState";
        call.handle = handle;
        call.dcb = *dcb;
        Log().Record(call);
        return Log().ShouldFail("SetCommState") ? FALSE : g_real.SetCommState(handle, dcb);
    }

    static BOOL WINAPI PurgeComm(HANDLE handle, DWORD flags) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.PurgeComm(handle, flags);
        SerialCallLog::Call call;
        call.function = "PurgeComm";
        call.handle = handle;
        call.count = flags;
        Log().Record(call);
        return Log().ShouldFail("PurgeComm") ? FALSE : g_real.PurgeComm(handle, flags);
    }

    static BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.ClearCommError(handle, errors, status);
        SerialCallLog::Call call;
        call.function = "ClearCommError";
        call.handle = handle;
        Log().Record(call);
        return Log().ShouldFail("ClearCommError") ? FALSE : g_real.ClearCommError(handle, errors, status);
    }

    static BOOL WINAPI WriteFile(HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD written,
                                 LPOVERLAPPED overlapped) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.WriteFile(handle, bytes, count, written, overlapped);
        SerialCallLog::Call call;
        call.function = "WriteFile";
        call.handle = handle;
        call.count = count;
        call.bytes.assign(static_cast<const char*>(bytes), count);
        Log().Record(call);
        if (Log().ShouldFail("WriteFile")) return FALSE;
        if (Log().m_swallowWrites) {
            if (written != nullptr) *written = count;
            return TRUE;
        }
        return g_real.WriteFile(handle, bytes, count, written, overlapped);
    }

    static BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received,
                                LPOVERLAPPED overlapped) {
        // Other threads (an emulator on the far end) pass straight through.
        if (GetCurrentThreadId() != g_ownerThread) return g_real.ReadFile(handle, buffer, count, received, overlapped);
        SerialCallLog::Call call;
        call.function = "ReadFile";
        call.handle = handle;
        call.count = count;
        Log().Record(call);
        if (Log().ShouldFail("ReadFile")) return FALSE;
        return g_real.ReadFile(handle, buffer, count, received, overlapped);
    }

    static BOOL WINAPI CloseHandle(HANDLE handle) {
        if (GetCurrentThreadId() != g_ownerThread) return g_real.CloseHandle(handle);
        SerialCallLog::Call call;
        call.function = "CloseHandle";
        call.handle = handle;
        Log().Record(call);
        return g_real.CloseHandle(handle);
    }
};

SerialCallLog::SerialCallLog() {
    g_log = this;
    g_ownerThread = GetCurrentThreadId();
    Resolve(g_real.CreateFileA, "CreateFileA");
    Resolve(g_real.GetCommState, "GetCommState");
    Resolve(g_real.SetCommTimeouts, "SetCommTimeouts");
    Resolve(g_real.SetCommState, "SetCommState");
    Resolve(g_real.PurgeComm, "PurgeComm");
    Resolve(g_real.ClearCommError, "ClearCommError");
    Resolve(g_real.WriteFile, "WriteFile");
    Resolve(g_real.ReadFile, "ReadFile");
    Resolve(g_real.CloseHandle, "CloseHandle");
    const struct {
        const char* name;
        void* hook;
    } hooks[] = {
        {"CreateFileA", reinterpret_cast<void*>(&SerialHooks::CreateFileA)},
        {"GetCommState", reinterpret_cast<void*>(&SerialHooks::GetCommState)},
        {"SetCommTimeouts", reinterpret_cast<void*>(&SerialHooks::SetCommTimeouts)},
        {"SetCommState", reinterpret_cast<void*>(&SerialHooks::SetCommState)},
        {"PurgeComm", reinterpret_cast<void*>(&SerialHooks::PurgeComm)},
        {"ClearCommError", reinterpret_cast<void*>(&SerialHooks::ClearCommError)},
        {"WriteFile", reinterpret_cast<void*>(&SerialHooks::WriteFile)},
        {"ReadFile", reinterpret_cast<void*>(&SerialHooks::ReadFile)},
        {"CloseHandle", reinterpret_cast<void*>(&SerialHooks::CloseHandle)},
    };
    for (const auto& hook : hooks) {
        m_hooks.push_back(std::make_unique<ImportHook>("kernel32.dll", hook.name, hook.hook));
    }
}

SerialCallLog::~SerialCallLog() {
    g_ownerThread = 0;
    m_hooks.clear();
    g_log = nullptr;
}

bool SerialCallLog::ShouldFail(const char* function) const {
    return std::find(m_failing.begin(), m_failing.end(), function) != m_failing.end();
}

std::vector<std::string> SerialCallLog::Sequence() const {
    std::vector<std::string> names;
    for (const Call& call : m_calls) names.push_back(call.function);
    return names;
}

size_t SerialCallLog::CountOf(const std::string& function) const {
    return static_cast<size_t>(std::count_if(m_calls.begin(), m_calls.end(),
                                             [&](const Call& c) { return c.function == function; }));
}

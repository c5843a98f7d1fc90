#pragma once
// Watches the serial-port system calls the driver makes (through ImportHook),
// records them in order with their arguments, and can make chosen ones fail.
// One instance at a time, watching the thread that created it; the calls
// still reach the system unless failed.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ImportHook.h"

class SerialCallLog {
public:
    struct Call {
        std::string function;
        HANDLE handle = nullptr;
        std::string name;          // CreateFileA
        DWORD access = 0, share = 0, disposition = 0, flags = 0;  // CreateFileA
        DWORD count = 0;           // WriteFile/ReadFile: bytes asked for; PurgeComm: flags
        std::string bytes;         // WriteFile: bytes written
        COMMTIMEOUTS timeouts = {};
        DCB dcb = {};              // GetCommState: as read; SetCommState: as set
    };

    SerialCallLog();
    ~SerialCallLog();

    // Makes the next calls of function (e.g. "GetCommState") fail.
    void Fail(const std::string& function) { m_failing.push_back(function); }

    std::vector<Call> Calls() const { return m_calls; }
    // Function names in call order.
    std::vector<std::string> Sequence() const;
    size_t CountOf(const std::string& function) const;
    void Clear() { m_calls.clear(); }

private:
    friend struct SerialHooks;
    bool ShouldFail(const char* function) const;
    void Record(Call call) { m_calls.push_back(std::move(call)); }

    std::vector<Call> m_calls;
    std::vector<std::string> m_failing;
    std::vector<std::unique_ptr<ImportHook>> m_hooks;
};

#pragma once
// Watches the serial-port system calls the driver makes (through ImportHook),
// records them in order with their arguments, and can make chosen ones fail.
// One instance at a time, watching the thread that created it; the calls
// still reach the system unless failed.
#include <windows.h>

#include <functional>
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
    // Makes the next writes report every byte written without sending any: a
    // USB-serial adapter that takes a frame into its own buffer while flow
    // control holds the line.
    void SwallowWrites() { m_swallowWrites = true; }
    // What GetCommState reads passes through edit first: the line settings
    // another program left on the device.
    void EditDeviceState(std::function<void(DCB&)> edit) { m_editDeviceState = std::move(edit); }

    // Runs action in the watched thread at the next call of function, before
    // the call goes on: a test can look at the process from there, or hold the
    // driver at that step. Once only, so the action's own calls pass.
    void Before(const std::string& function, std::function<void()> action) {
        m_beforeFunction = function;
        m_before = std::move(action);
    }

    std::vector<Call> Calls() const { return m_calls; }
    // Function names in call order.
    std::vector<std::string> Sequence() const;
    size_t CountOf(const std::string& function) const;
    void Clear() { m_calls.clear(); }

private:
    friend struct SerialHooks;
    bool ShouldFail(const char* function) const;
    void Record(Call call) {
        std::function<void()> action;
        if (m_before && call.function == m_beforeFunction) action.swap(m_before);
        m_calls.push_back(std::move(call));
        if (action) action();
    }

    std::vector<Call> m_calls;
    std::vector<std::string> m_failing;
    bool m_swallowWrites = false;
    std::function<void(DCB&)> m_editDeviceState;
    std::string m_beforeFunction;
    std::function<void()> m_before;
    std::vector<std::unique_ptr<ImportHook>> m_hooks;
};

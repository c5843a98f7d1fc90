// The trace log as a user who switched it on reads it after a session with
// the simulator on the far end of COM3; switched off, there is no file.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/FocuserSimulator.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/ImportHook.h"
#include "tests/support/TestRegistry.h"
#include "trace/TraceLog.h"

namespace {

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// This program's file name, as the trace names the program on each line.
std::string ProgramName() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string whole = path;
    const size_t slash = whole.find_last_of("\\/");
    return slash == std::string::npos ? whole : whole.substr(slash + 1);
}

// The event of each line, after checking the stamp, program and process ID
// in front of it.
std::vector<std::string> Events(const std::string& text) {
    const std::string name = ProgramName();
    const std::string program = "[" + std::to_string(GetCurrentProcessId()) + "] ";
    std::vector<std::string> events;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        // "2026-12-08 11:52:03.417 trace_tests.exe[1234] ..."
        const bool stamped = line.size() > 24 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                             line[4] == '-' && line[10] == ' ' && line[13] == ':' &&
                             line[19] == '.' && line[23] == ' ';
        const size_t at = line.find(program);
        EXPECT_TRUE(stamped && at != std::string::npos &&
                    line.compare(24, at - 24, name) == 0)
            << line;
        if (at != std::string::npos) events.push_back(line.substr(at + program.size()));
    }
    EXPECT_EQ(start, text.size()) << "the file ends in the middle of a line";
    return events;
}

class TraceLogTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3
        wchar_t path[TraceLog::kPathCapacity];
        ASSERT_TRUE(TraceLog::TodaysFile(path));
        file = path;
        DeleteFileW(file.c_str());
    }
    void TearDown() override {
        DeleteFileW(file.c_str());
        testregistry::DeleteSettingsKey();
    }

    // Links, reads the position, asks for a move out of range, moves,
    // unlinks, and meets an error outside the link.
    void Session() {
        FocuserSimulator simulator;
        ASSERT_TRUE(simulator.Start("//./COM13")) << "no null-modem pair COM3-COM13";
        IFocuser* focuser = NewFocuser();
        ASSERT_NE(focuser, nullptr);
        EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
        LONG position = 0;
        EXPECT_EQ(focuser->get_Position(&position), S_OK);
        EXPECT_EQ(focuser->Move(30000), DISP_E_EXCEPTION);
        EXPECT_EQ(focuser->Move(1500), S_OK);
        EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
        EXPECT_EQ(focuser->put_TempComp(VARIANT_TRUE), DISP_E_EXCEPTION);
        focuser->Release();
        simulator.Stop();
    }
    size_t IndexOf(const std::vector<std::string>& events, const std::string& start) {
        const auto found = std::find_if(events.begin(), events.end(), [&](const std::string& e) {
            return e.compare(0, start.size(), start) == 0;
        });
        EXPECT_NE(found, events.end()) << "no event " << start;
        return static_cast<size_t>(found - events.begin());
    }

    std::wstring file;
};

TEST_F(TraceLogTest, ASessionWithTheTraceOnIsWrittenAsItHappened) {
    testregistry::SetSettingsText("Trace", "1");
    Session();
    const std::vector<std::string> events = Events(ReadFile(file));
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events.front(), "connect //./COM3");
    EXPECT_EQ(events[1].compare(0, 35, "exchange FG0000000 reply \"FD0010000"), 0) << events[1];
    EXPECT_NE(events[1].find(" ms: position 10000"), std::string::npos) << events[1];
    const size_t refused = IndexOf(events, "error Value out of range");
    const size_t move = IndexOf(events, "exchange FA001500# reply \"");
    const size_t disconnect = IndexOf(events, "disconnect //./COM3");
    EXPECT_LT(refused, move);
    EXPECT_LT(move, disconnect);
    EXPECT_EQ(disconnect + 2, events.size());
    EXPECT_EQ(events.back(), "error Not Supported") << "an error outside the link";
}

TEST_F(TraceLogTest, WithTheTraceOffNoFileIsWritten) {
    Session();
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TraceLogTest, TheDayFileStopsAtItsCapWithOneLastLine) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = TraceLog::kSizeCap - 10;
    SetFilePointerEx(handle, size, nullptr, FILE_BEGIN);
    SetEndOfFile(handle);
    CloseHandle(handle);

    TraceLog log;
    log.SetOn(true);
    log.Write("error", "first");
    log.Write("error", "second");
    const std::string text = ReadFile(file);
    const std::vector<std::string> events = Events(text.substr(TraceLog::kSizeCap - 10));
    EXPECT_EQ(events, (std::vector<std::string>{"error first",
                                                "trace stopped: the file reached 16 MB"}));
}

int g_fileOpens = 0;
ImportHook* g_createFileHook = nullptr;
HANDLE WINAPI CountingCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
    ++g_fileOpens;
    return g_createFileHook->Original<decltype(&CreateFileW)>()(name, access, share, security,
                                                                 disposition, flags, templateFile);
}

TEST_F(TraceLogTest, AnUnusableFolderIsTriedOnceAndAgainOnlyAfterAPause) {
    // The day's folder is a file: neither the folder nor the trace file can be
    // made, as on a share that went offline.
    const std::wstring folder = BlockTraceFolder();
    ASSERT_FALSE(folder.empty());

    TraceLog log;
    log.SetOn(true);
    {
        ImportHook hook("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&CountingCreateFileW));
        ASSERT_TRUE(hook.Installed());
        g_createFileHook = &hook;
        g_fileOpens = 0;
        for (int i = 0; i < 100; ++i) log.Write("error", "lost");
        EXPECT_EQ(g_fileOpens, 1) << "each line of an exchange would wait on the dead folder";
        g_createFileHook = nullptr;
    }

    ASSERT_TRUE(DeleteFileW(folder.c_str()));
    Sleep(static_cast<DWORD>(TraceLog::kRetryMs) + 200);
    log.Write("error", "back");
    EXPECT_EQ(Events(ReadFile(file)), std::vector<std::string>{"error back"});
}

// A share that is slow to fail: each open takes longer than the pause
// before it fails. The clock is the test's own, so the wait costs nothing.
ULONGLONG g_clockMs = 1000000;
ULONGLONG WINAPI TestClock() { return g_clockMs; }
HANDLE WINAPI SlowFailingCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE) {
    ++g_fileOpens;
    g_clockMs += TraceLog::kRetryMs + 1000;
    SetLastError(ERROR_BAD_NETPATH);
    return INVALID_HANDLE_VALUE;
}

TEST_F(TraceLogTest, TheRetryPauseCountsFromTheEndOfAnOpenThatWasSlowToFail) {
    TraceLog log;
    log.SetOn(true);
    ImportHook clock("kernel32.dll", "GetTickCount64", reinterpret_cast<void*>(&TestClock));
    ImportHook open("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&SlowFailingCreateFileW));
    ASSERT_TRUE(clock.Installed() && open.Installed());
    g_fileOpens = 0;
    for (int i = 0; i < 3; ++i) log.Write("error", "lost");
    EXPECT_EQ(g_fileOpens, 1) << "every line would wait on the share again";
}

}  // namespace

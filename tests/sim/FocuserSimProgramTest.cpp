// FocuserSim.exe as a user runs it: its usage text and refusals, and a run on
// COM13 serving the real driver object on COM3, steered through its console.
#include <gtest/gtest.h>

#include <string>

#include "tests/server/ServerTestSupport.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/TestRegistry.h"

namespace {

using servertest::ProcessResult;
using servertest::RunProcess;

std::string SimCommand(const std::string& arguments) {
    return "\"" + servertest::WindowsPath(FOCUSER_SIM_EXE) + "\" " + arguments;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::string TemporaryFile(const char* prefix) {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, prefix, 0, path);
    return path;
}

// FocuserSim running in the background: its console input is a pipe of ours,
// its output goes to a file.
class SimProcess {
public:
    ~SimProcess() {
        if (m_process.hProcess != nullptr) {
            if (WaitForSingleObject(m_process.hProcess, 0) != WAIT_OBJECT_0) {
                TerminateProcess(m_process.hProcess, 1);
                WaitForSingleObject(m_process.hProcess, 5000);
            }
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
        if (m_input != nullptr) CloseHandle(m_input);
        DeleteFileA(m_outputPath.c_str());
    }

    bool Start(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        if (!CreatePipe(&readEnd, &m_input, &inherit, 0)) return false;
        SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
        m_outputPath = TemporaryFile("sim");
        const HANDLE output = CreateFileA(m_outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = readEnd;
        startup.hStdOutput = output;
        startup.hStdError = output;
        std::string line = SimCommand(arguments);
        const bool started = output != INVALID_HANDLE_VALUE &&
                             CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                            nullptr, &startup, &m_process) != 0;
        CloseHandle(readEnd);
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
        return started;
    }

    std::string Output() const { return ReadWholeFile(m_outputPath); }

    // Waits until the output holds text; false on time-out or when the
    // program ended first.
    bool WaitForOutput(const std::string& text, DWORD timeoutMs) const {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (!Contains(Output(), text)) {
            if (GetTickCount64() >= deadline) return false;
            if (WaitForSingleObject(m_process.hProcess, 50) == WAIT_OBJECT_0) return Contains(Output(), text);
        }
        return true;
    }

    void Type(const std::string& line) {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(m_input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    // The exit code, or nothing when it is still running after timeoutMs.
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode) const {
        if (WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
        return GetExitCodeProcess(m_process.hProcess, &exitCode) != 0;
    }

private:
    PROCESS_INFORMATION m_process = {};
    HANDLE m_input = nullptr;
    std::string m_outputPath;
};

TEST(FocuserSimProgramTest, HelpExitsZeroAndExplainsItself) {
    const ProcessResult result = RunProcess(SimCommand("--help"), 30000);
    ASSERT_TRUE(result.finished) << result.output;
    EXPECT_EQ(result.exitCode, 0u);
    for (const char* part : {"Usage: FocuserSim [options] PORT", "null-modem", "--no-pacing", "--fault=MODE",
                             "garbled", "stop-after", "--trace=FILE", "--duration=SECONDS", "Ctrl+C"}) {
        EXPECT_TRUE(Contains(result.output, part)) << part << " missing from:\n" << result.output;
    }
}

TEST(FocuserSimProgramTest, ABadCommandLineExitsNonZeroAndSaysWhy) {
    ProcessResult result = RunProcess(SimCommand("--fault=noisy COM13"), 30000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_TRUE(Contains(result.output, "unknown fault \"noisy\"")) << result.output;
    EXPECT_TRUE(Contains(result.output, "--help")) << result.output;

    result = RunProcess(SimCommand(""), 30000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_TRUE(Contains(result.output, "no port")) << result.output;
}

TEST(FocuserSimProgramTest, APortThatCannotBeOpenedEndsTheProgramWithAReason) {
    const ProcessResult result = RunProcess(SimCommand("COM199 --duration=5"), 30000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(Contains(result.output, "cannot open COM199")) << result.output;
}

class FocuserSimSessionTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        testregistry::StoreSettings(2, 20000, "1.27", 2);  // COM3, fast
        focuser = NewFocuser();
        ASSERT_NE(focuser, nullptr);
    }
    void TearDown() override {
        if (focuser) focuser->Release();
        testregistry::DeleteSettingsKey();
        DeleteFileA(tracePath.c_str());
    }

    IFocuser* focuser = nullptr;
    std::string tracePath = TemporaryFile("trc");
};

TEST_F(FocuserSimSessionTest, ServesTheDriverMutesOnRequestAndQuitsCleanly) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start("COM13 --position=4321 --duration=120 \"--trace=" + tracePath + "\""));
    ASSERT_TRUE(sim.WaitForOutput("FocuserSim: ready on COM13", 30000)) << sim.Output();

    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK) << sim.Output();
    LONG position = 0;
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(position, 4321);
    ASSERT_EQ(focuser->Move(4400), S_OK) << TakeErrorInfo().description << "\n" << sim.Output();
    VARIANT_BOOL moving = VARIANT_TRUE;
    for (int polls = 0; polls < 200 && moving == VARIANT_TRUE; ++polls) {
        Sleep(25);
        focuser->get_IsMoving(&moving);
    }
    EXPECT_EQ(moving, VARIANT_FALSE);
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(position, 4400);

    sim.Type("mute");
    ASSERT_TRUE(sim.WaitForOutput("FocuserSim: not answering", 10000)) << sim.Output();
    EXPECT_EQ(focuser->get_Position(&position), DISP_E_EXCEPTION);
    sim.Type("answer");
    ASSERT_TRUE(sim.WaitForOutput("FocuserSim: answering", 10000)) << sim.Output();
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);

    sim.Type("quit");
    DWORD exitCode = 99;
    ASSERT_TRUE(sim.WaitForExit(10000, exitCode)) << "quit did not end it:\n" << sim.Output();
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Contains(sim.Output(), "FocuserSim: stopped after")) << sim.Output();

    const std::string trace = ReadWholeFile(tracePath);
    for (const char* line : {"in       FG0000000", "out      FD0004321", "in       FCS000030",
                             "in       FA004400#", "out      FD0004400"}) {
        EXPECT_TRUE(Contains(trace, line)) << line << " missing from the trace:\n" << trace;
    }
}

}  // namespace

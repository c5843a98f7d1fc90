// FocuserSim.exe: the focuser controller simulator as a console program, for
// trying the driver and the programs that use it without the hardware.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/FocuserSimulator.h"
#include "sim/SimulatorOptions.h"

namespace {

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        SetEvent(g_stop);
        return TRUE;
    }
    return FALSE;
}

std::string SystemMessage(DWORD code) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

// Commands typed while it runs. Read with the system call, not the C library:
// a thread blocked inside the library's stdin would hold its lock at exit.
void ReadCommands(FocuserSimulator& simulator) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
    std::string pending;
    char buffer[128];
    DWORD count = 0;
    while (ReadFile(input, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        FeedTypedCommands(pending, buffer, count, [&simulator](const std::string& line) {
            if (line == "mute") {
                simulator.Faults().StopAnswering();
                std::printf("FocuserSim: not answering\n");
            } else if (line == "answer") {
                simulator.Faults().ResumeAnswering();
                std::printf("FocuserSim: answering\n");
            } else if (line == "quit") {
                SetEvent(g_stop);
            } else if (!line.empty()) {
                std::printf("FocuserSim: commands are mute, answer and quit\n");
            }
            std::fflush(stdout);
            return true;
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    SimulatorOptions options;
    std::string error;
    if (!ParseSimulatorOptions(arguments, options, error)) {
        std::fprintf(stderr, "FocuserSim: %s\nFocuserSim --help explains the options.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimulatorUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("FocuserSim %s\n", FOCUSER_VERSION);
        return 0;
    }

    FILE* trace = stdout;
    if (options.trace && !options.traceFile.empty()) {
        trace = std::fopen(options.traceFile.c_str(), "w");
        if (trace == nullptr) {
            std::fprintf(stderr, "FocuserSim: cannot write the trace to %s\n", options.traceFile.c_str());
            return 1;
        }
    }

    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    FocuserSimulator simulator(options.settings);
    // An all-night session would otherwise keep every frame in memory.
    simulator.Line().SetKeepHistory(false);
    if (options.trace) {
        simulator.SetTraceSink([trace](const ControllerEmulator::TraceEntry& entry) {
            std::fprintf(trace, "%s\n", ControllerEmulator::TraceLine(entry).c_str());
            std::fflush(trace);
        });
    }
    if (!simulator.Start(options.device)) {
        const DWORD code = GetLastError();
        std::fprintf(stderr,
                     "FocuserSim: cannot open %s: %s\n"
                     "Is it one end of a virtual null-modem pair, and not in use by another program?\n",
                     options.portName.c_str(), SystemMessage(code).c_str());
        if (trace != stdout) std::fclose(trace);
        return 1;
    }

    const FaultSettings& fault = options.settings.fault;
    std::printf("FocuserSim: ready on %s, %s, position %ld, %.1f C, fault: %s",
                options.portName.c_str(),
                options.settings.paced ? "paced at 9600 baud" : "not paced",
                static_cast<long>(options.settings.startPosition), options.settings.startTemperature,
                FaultName(fault.fault));
    if (fault.amount != 0) std::printf(":%u", fault.amount);
    std::printf("\n");
    if (options.trace) {
        std::printf("FocuserSim: trace (ms since start; in: from the driver, out: reply) %s%s\n",
                    options.traceFile.empty() ? "follows" : "goes to ", options.traceFile.c_str());
    }
    std::printf("FocuserSim: %s; type quit or press Ctrl+C to stop\n",
                options.durationSeconds ? ("runs for " + std::to_string(options.durationSeconds) + " s").c_str()
                                        : "runs until stopped");
    std::fflush(stdout);

    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    std::thread(ReadCommands, std::ref(simulator)).detach();
    WaitForSingleObject(g_stop, options.durationSeconds ? options.durationSeconds * 1000u : INFINITE);

    simulator.Stop();
    std::printf("FocuserSim: stopped after %lu commands, at position %ld\n",
                static_cast<unsigned long>(simulator.Line().FrameCount()),
                static_cast<long>(simulator.Position()));
    if (trace != stdout) std::fclose(trace);
    std::fflush(nullptr);
    // The command reader may still be blocked on the console and holds a
    // reference to the simulator: end the process before anything is torn down.
    ExitProcess(0);
}

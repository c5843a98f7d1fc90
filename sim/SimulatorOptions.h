#pragma once
// The simulator's command line, FocuserSim.exe's on a COM port and
// focuser-sim's on a pty: what it means and the text that explains it.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "sim/FocuserSimulator.h"

struct SimulatorOptions {
    std::string device;         // "//./COM13"
    std::string portName;       // "COM13", as shown to the user
    SimulatorSettings settings;
    bool trace = true;
    std::string traceFile;      // empty: standard output
    unsigned durationSeconds = 0;  // 0: until Ctrl+C or "quit"
    bool help = false;
    bool version = false;
    // focuser-sim alone: --pty asked for, and the path of a symbolic link kept
    // pointing at the current pty (empty: none).
    bool pty = false;
    std::string link;
};

// Which program reads the options: FocuserSim.exe names a COM port,
// focuser-sim makes a pty with --pty.
enum class SimulatorFront { ComPort, Pty };

// Parses the arguments after the program name. False with a one-line reason
// in error when they make no sense.
bool ParseSimulatorOptions(const std::vector<std::string>& arguments, SimulatorOptions& options,
                           std::string& error, SimulatorFront front = SimulatorFront::ComPort);

const char* SimulatorUsage(SimulatorFront front = SimulatorFront::ComPort);

// Commands typed while it runs arrive in pieces: adds count bytes to pending
// and hands each complete line (its end left off, and cut at 64 characters)
// to command, which returns false to stop there. False once it has.
bool FeedTypedCommands(std::string& pending, const char* bytes, size_t count,
                       const std::function<bool(const std::string&)>& command);

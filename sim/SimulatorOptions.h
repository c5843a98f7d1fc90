#pragma once
// FocuserSim.exe's command line: what it means and the text that explains it.
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
};

// Parses the arguments after the program name. False with a one-line reason
// in error when they make no sense.
bool ParseSimulatorOptions(const std::vector<std::string>& arguments, SimulatorOptions& options,
                           std::string& error);

const char* SimulatorUsage();

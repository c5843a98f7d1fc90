#include "sim/SimulatorOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

const char kComPortHead[] =
    "Usage: FocuserSim [options] PORT\n"
    "\n"
    "Simulates the Tavrilen Astrograph focuser controller on a serial port, so\n"
    "that the focuser driver, and any program that uses it, can be tried without\n"
    "the hardware. Create a virtual null-modem pair of COM ports (two ports wired\n"
    "back to back), run FocuserSim on one of them, and choose the other one as\n"
    "the driver's COM port in its setup dialog.\n"
    "\n";

const char kPtyHead[] =
    "Usage: focuser-sim --pty [options]\n"
    "\n"
    "Simulates the Tavrilen Astrograph focuser controller on a pseudo-terminal,\n"
    "so that the focuser's device server, and any program that uses it, can be\n"
    "tried without the hardware. The first line on standard output is the\n"
    "device to use, for example: focuser-alpaca --serial /dev/pts/3. Messages\n"
    "and the trace go to standard error. It runs until SIGTERM, Ctrl+C or \"quit\",\n"
    "or until its standard input closes.\n"
    "\n";

const char kModel[] =
    "The simulated focuser moves at the speed the driver sets (Slow 200, Medium\n"
    "1000, Fast 4000 steps a second), reports itself as moving while it moves,\n"
    "zeroes its position, runs a homing move to 0 that takes time, and reports a\n"
    "temperature that drifts slowly down.\n"
    "\n";

const char kComPortArgument[] =
    "  PORT                  the simulator's end of the pair, for example COM13\n";

const char kPtyArguments[] =
    "  --pty                 make a pseudo-terminal pair and play the controller there\n"
    "  --link=PATH           keep a symbolic link PATH to the current device, which\n"
    "                        stays the same when \"vanish\" and \"appear\" change it\n";

const char kOptions[] =
    "  --position=N          start position in steps, 0 to 99999 (default 10000)\n"
    "  --temperature=C       start temperature in degrees Celsius, -40 to 60\n"
    "                        (default 12.5)\n"
    "  --no-pacing           answer at once; by default every byte takes as long\n"
    "                        as on a real 9600 baud line (about 1 ms)\n"
    "  --fault=MODE[:N]      misbehave, to try how a program copes:\n"
    "      silent            never answer\n"
    "      garbled           answer with corrupted bytes\n"
    "      short[:N]         send only the first N bytes of each reply (1-8, default 4)\n"
    "      slow[:MS]         answer MS ms late (default 300; the driver waits 136 ms)\n"
    "      refuse[:CODE]     refuse every move and setting with completion code CODE\n"
    "                        (default 1)\n"
    "      stop-after[:N]    answer N commands, then fall silent (default 10)\n"
    "      chatter[:MS]      MS ms after each reply, send an unrequested position\n"
    "                        report FD0099999 (default 20)\n"
    "  --trace=FILE          write the trace of every frame in and out, with its\n"
    "                        time in ms, to FILE; - is the console (the default)\n"
    "  --quiet               no trace\n"
    "  --duration=SECONDS    stop after SECONDS (default: run until Ctrl+C)\n"
    "  --help                this text\n"
    "  --version             the simulator's version, which is the driver's\n"
    "\n"
    "While it runs, type a command and press Enter:\n"
    "  mute      stop answering, as if the cable were pulled\n"
    "  answer    answer again\n";

const char kComPortTail[] =
    "  quit      stop\n"
    "\n"
    "Example: FocuserSim COM13 --position=5000 --trace=focuser.log\n";

const char kPtyTail[] =
    "  hold      hold the line: what the other end writes waits, as under flow\n"
    "            control, until \"release\"\n"
    "  release   let the line go again\n"
    "  vanish    close the pseudo-terminal, as if the adapter were unplugged\n"
    "  appear    make a new one and print its device on standard output\n"
    "  quit      stop\n"
    "\n"
    "Example: focuser-sim --pty --position=5000 --link=/tmp/focuser\n";

bool ParseUnsigned(const std::string& text, unsigned long lowest, unsigned long highest,
                   unsigned long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value >= lowest && value <= highest;
}

bool ParseTemperature(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && value >= -40.0 && value <= 60.0;
}

// "COM13", "com13", "//./COM13" or "\\.\COM13".
bool ParsePort(std::string text, SimulatorOptions& options) {
    if (text.compare(0, 4, "//./") == 0 || text.compare(0, 4, "\\\\.\\") == 0) text.erase(0, 4);
    if (text.size() < 4) return false;
    for (size_t i = 0; i < 3; ++i) text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    unsigned long number = 0;
    if (text.compare(0, 3, "COM") != 0 || text[3] == '0' || !ParseUnsigned(text.substr(3), 1, 255, number)) {
        return false;
    }
    options.portName = text;
    // The device prefix also reaches ports above COM9.
    options.device = "//./" + text;
    return true;
}

bool ParseFault(const std::string& text, FaultSettings& fault, std::string& error) {
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const bool hasAmount = colon != std::string::npos;
    const std::string amountText = hasAmount ? text.substr(colon + 1) : std::string();

    struct Known {
        Fault fault;
        unsigned long lowest;
        unsigned long highest;  // 0: takes no amount
    };
    static const Known kKnown[] = {
        {Fault::None, 0, 0},           {Fault::Silent, 0, 0},
        {Fault::Garbled, 0, 0},        {Fault::Short, 1, 8},
        {Fault::Slow, 1, 60000},       {Fault::Refusing, 1, 9999999},
        {Fault::StopAfter, 0, 1000000}, {Fault::Chatter, 0, 10000},
    };
    for (const Known& known : kKnown) {
        if (name != FaultName(known.fault)) continue;
        fault.fault = known.fault;
        fault.amount = DefaultFaultAmount(known.fault);
        if (!hasAmount) return true;
        unsigned long amount = 0;
        if (known.highest == 0) {
            error = "the fault " + name + " takes no number";
            return false;
        }
        if (!ParseUnsigned(amountText, known.lowest, known.highest, amount)) {
            error = "the number of --fault=" + name + " must be from " + std::to_string(known.lowest) +
                    " to " + std::to_string(known.highest);
            return false;
        }
        fault.amount = static_cast<unsigned>(amount);
        return true;
    }
    error = "unknown fault \"" + name + "\"";
    return false;
}

}  // namespace

const char* SimulatorUsage(SimulatorFront front) {
    static const std::string comPort = std::string(kComPortHead) + kModel + kComPortArgument +
                                       kOptions + kComPortTail;
    static const std::string pty =
        std::string(kPtyHead) + kModel + kPtyArguments + kOptions + kPtyTail;
    return (front == SimulatorFront::Pty ? pty : comPort).c_str();
}

bool ParseSimulatorOptions(const std::vector<std::string>& arguments, SimulatorOptions& options,
                           std::string& error, SimulatorFront front) {
    const bool pty = front == SimulatorFront::Pty;
    options = SimulatorOptions();
    bool havePort = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h" || argument == "/?") {
            options.help = true;
            return true;
        }
        if (argument == "--version") {
            options.version = true;
            return true;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool hasValue = equals != std::string::npos;
        const std::string value = hasValue ? argument.substr(equals + 1) : std::string();
        unsigned long number = 0;

        if (argument.compare(0, 2, "--") != 0) {
            if (pty) {
                error = "focuser-sim makes its own device with --pty and takes no port: " +
                        argument;
                return false;
            }
            if (havePort) {
                error = "more than one port: " + options.portName + " and " + argument;
                return false;
            }
            if (!ParsePort(argument, options)) {
                error = "not a COM port: " + argument + " (expected a name like COM13)";
                return false;
            }
            havePort = true;
        } else if (pty && name == "--pty" && !hasValue) {
            options.pty = true;
        } else if ((name == "--no-pacing" || name == "--quiet") && !hasValue) {
            if (name == "--quiet") options.trace = false;
            else options.settings.paced = false;
        } else if (!hasValue || value.empty()) {
            error = "unknown option " + argument + " (options with a value are written --name=value)";
            return false;
        } else if (name == "--position") {
            if (!ParseUnsigned(value, 0, FocuserModel::kMaxTarget, number)) {
                error = "--position must be a whole number from 0 to 99999";
                return false;
            }
            options.settings.startPosition = static_cast<int32_t>(number);
        } else if (name == "--temperature") {
            if (!ParseTemperature(value, options.settings.startTemperature)) {
                error = "--temperature must be a number from -40 to 60";
                return false;
            }
        } else if (name == "--fault") {
            if (!ParseFault(value, options.settings.fault, error)) return false;
        } else if (name == "--trace") {
            options.trace = true;
            options.traceFile = value == "-" ? std::string() : value;
        } else if (pty && name == "--link") {
            options.link = value;
        } else if (name == "--duration") {
            if (!ParseUnsigned(value, 1, 7u * 24u * 3600u, number)) {
                error = "--duration must be a whole number of seconds from 1 to 604800";
                return false;
            }
            options.durationSeconds = static_cast<unsigned>(number);
        } else {
            error = "unknown option " + argument;
            return false;
        }
    }
    if (pty && !options.pty) {
        error = "no --pty given (for example: focuser-sim --pty)";
        return false;
    }
    if (!pty && !havePort) {
        error = "no port given (for example: FocuserSim COM13)";
        return false;
    }
    return true;
}

bool FeedTypedCommands(std::string& pending, const char* bytes, size_t count,
                       const std::function<bool(const std::string&)>& command) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r') {
            if (pending.size() < 64) pending += bytes[i];
            continue;
        }
        const std::string line = pending;
        pending.clear();
        if (!command(line)) return false;
    }
    return true;
}

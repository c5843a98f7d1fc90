// The null-modem bridge's command line: which ports to pair in which prefix,
// where to say it is ready, and the signals that stop it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/nullmodem/Bridge.h"
#include "tests/nullmodem/Files.h"

using namespace nullmodem;

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

void Usage(FILE* out) {
    std::fprintf(out,
        "usage: nullmodem --dosdevices DIR --pair comA:comB [--pair comC:comD ...]\n"
        "                 [--control-file FILE] [--pid-file FILE]\n"
        "\n"
        "Joins COM ports of a Wine prefix back to back. Each port becomes a link\n"
        "DIR/comN to a pseudo-terminal; bytes written on one port of a pair are\n"
        "read on the other.\n"
        "\n"
        "  --dosdevices DIR     the prefix's dosdevices folder\n"
        "  --pair A:B           join ports A and B (for example com3:com13)\n"
        "  --control-file FILE  once ready, write there the TCP port of the control\n"
        "                       socket on 127.0.0.1\n"
        "  --pid-file FILE      write the process id there\n"
        "\n"
        "Control commands, one per line, one reply line each (\"ok\" or \"error ...\"):\n"
        "  ping           answers ok\n"
        "  drain          answers once every byte written so far has crossed\n"
        "  unplug comN    the port vanishes: open handles fail, opening it fails\n"
        "  plug comN      the port is back, on a fresh terminal\n"
        "\n"
        "SIGTERM or SIGINT stops it and removes its links.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dosdevices, controlFile, pidFile;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            Log("%s needs a value", option.c_str());
            Usage(stderr);
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--dosdevices") {
            dosdevices = value;
        } else if (option == "--control-file") {
            controlFile = value;
        } else if (option == "--pid-file") {
            pidFile = value;
        } else if (option == "--pair") {
            const size_t colon = value.find(':');
            const std::string a = PortName(value.substr(0, colon));
            const std::string b = colon == std::string::npos ? std::string()
                                                             : PortName(value.substr(colon + 1));
            if (a.empty() || b.empty()) {
                Log("bad pair '%s': expected comA:comB", value.c_str());
                return 2;
            }
            bool taken = a == b;
            for (const auto& pair : pairs)
                for (const std::string& used : {pair.first, pair.second})
                    taken = taken || used == a || used == b;
            if (taken) {
                Log("each port may be in one pair only ('%s')", value.c_str());
                return 2;
            }
            pairs.emplace_back(a, b);
        } else {
            Log("unknown option %s", option.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (dosdevices.empty() || pairs.empty()) {
        Usage(stderr);
        return 2;
    }
    struct stat folder;
    if (stat(dosdevices.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        Log("%s is not a folder", dosdevices.c_str());
        return 2;
    }
    while (dosdevices.size() > 1 && dosdevices.back() == '/') dosdevices.pop_back();

    // Stop signals stay blocked except inside ppoll, so none is lost between
    // checking the flag and going back to wait.
    sigset_t stopSignals, runMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, &runMask);
    sigdelset(&runMask, SIGTERM);
    sigdelset(&runMask, SIGINT);
    sigdelset(&runMask, SIGHUP);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // A folder is not a terminal, and Wine refuses to open one as a file, so
    // an unplugged port fails at CreateFile as a missing device does.
    Bridge bridge(dosdevices, ".");
    bool ready = bridge.Listen();
    for (const auto& pair : pairs) ready = ready && bridge.AddPair(pair.first, pair.second);
    if (ready && !pidFile.empty() && !WriteFileAtomically(pidFile, std::to_string(getpid()) + "\n")) {
        Log("cannot write %s: %s", pidFile.c_str(), std::strerror(errno));
        ready = false;
    }
    if (ready && !controlFile.empty() &&
        !WriteFileAtomically(controlFile, std::to_string(bridge.ControlPort()) + "\n")) {
        Log("cannot write %s: %s", controlFile.c_str(), std::strerror(errno));
        ready = false;
    }
    const bool ran = ready && bridge.Run(runMask, g_stopSignal);
    bridge.RemoveLinks();
    if (!controlFile.empty()) unlink(controlFile.c_str());
    if (!pidFile.empty()) unlink(pidFile.c_str());
    return ran ? 0 : 1;
}

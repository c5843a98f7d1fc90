// focuser-alpaca: the focuser as a network device on Linux. It owns the
// serial line and answers any number of clients over HTTP, with discovery
// and setup pages; see docs/alpaca.md.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "alpaca/AlpacaServer.h"
#include "alpaca/DiscoveryResponder.h"
#include "alpaca/EventLog.h"
#include "alpaca/FocuserDevice.h"
#include "alpaca/ServerSettings.h"
#include "link/PosixSerialPort.h"

namespace {

constexpr const char kUsage[] =
    "usage: focuser-alpaca [--serial DEVICE] [--listen ADDRESS:PORT] [--discovery-port N|off]\n"
    "                      [--settings FILE] [--trace]\n"
    "       focuser-alpaca --help | --version\n"
    "\n"
    "Serves the Tavrilen focuser on DEVICE (a serial port such as /dev/ttyUSB0) to\n"
    "network clients over HTTP, with discovery and setup pages.\n"
    "\n"
    "  --serial DEVICE        the controller's serial device (default: the settings\n"
    "                         file's, else /dev/ttyUSB0)\n"
    "  --listen ADDRESS:PORT  where to serve (default 127.0.0.1:11111, this machine\n"
    "                         only); 0.0.0.0:11111 opens it to the network, [::1]:PORT\n"
    "                         for IPv6; port 0 takes a free port\n"
    "  --discovery-port N|off UDP discovery port (default 32227), or no discovery\n"
    "  --settings FILE        settings file (default\n"
    "                         $XDG_CONFIG_HOME/tavrilen-focuser/alpaca.conf)\n"
    "  --trace                also log every serial exchange\n"
    "\n"
    "Prints \"listening on http://ADDRESS:PORT\" when ready; logs to standard error.\n"
    "SIGTERM or SIGINT stop it.\n";

struct Options {
    std::string serial;
    std::string host = "127.0.0.1";
    int port = 11111;
    int discoveryPort = 32227;  // -1: off
    std::string settings;
    bool trace = false;
};

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = std::atoi(text.c_str());
    return port <= 65535;
}

bool ParseListen(const std::string& text, Options& options) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.back() != ']' || host.size() < 3) return false;
        host = host.substr(1, host.size() - 2);
    }
    options.host = host;
    return ParsePort(text.substr(colon + 1), options.port);
}

std::string DefaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (config != nullptr && *config != '\0') folder = config;
    else if (home != nullptr && *home != '\0') folder = std::string(home) + "/.config";
    else return "alpaca.conf";
    ::mkdir(folder.c_str(), 0700);
    folder += "/tavrilen-focuser";
    ::mkdir(folder.c_str(), 0700);
    return folder + "/alpaca.conf";
}

// 1: exit 0 (help, version); 2: usage error; 0: carry on.
int ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if (option == "--version") {
            std::puts("focuser-alpaca " FOCUSER_VERSION);
            return 1;
        }
        if (option == "--trace") {
            options.trace = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "focuser-alpaca: %s needs a value\n%s", option.c_str(), kUsage);
            return 2;
        }
        const std::string value = argv[++i];
        bool valid = true;
        if (option == "--serial") options.serial = value;
        else if (option == "--settings") options.settings = value;
        else if (option == "--listen") valid = ParseListen(value, options);
        else if (option == "--discovery-port") {
            if (value == "off") options.discoveryPort = -1;
            else valid = ParsePort(value, options.discoveryPort);
        } else {
            std::fprintf(stderr, "focuser-alpaca: unknown option %s\n%s", option.c_str(), kUsage);
            return 2;
        }
        if (!valid) {
            std::fprintf(stderr, "focuser-alpaca: bad value for %s: %s\n", option.c_str(),
                         value.c_str());
            return 2;
        }
    }
    return 0;
}

std::unique_ptr<Line> OpenSerial(const char* device, std::string& reason) {
    auto port = std::make_unique<PosixSerialPort>();
    if (!port->Open(device, reason)) return nullptr;
    return port;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed != 0) return parsed == 1 ? 0 : 2;

    // Signals are taken by sigwait below, never by a handler in the middle
    // of a save; every thread started from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    EventLog log("focuser-alpaca");
    log.SetTrace(options.trace);
    if (options.settings.empty()) options.settings = DefaultSettingsPath();
    ServerSettings store(options.settings);
    std::string warning;
    ServerSettingsValues settings = store.Load(warning);
    if (!warning.empty()) log.Write("warning: " + warning + "; using defaults where needed");
    if (!options.serial.empty()) settings.device = options.serial;
    log.Write("start: focuser-alpaca " FOCUSER_VERSION ", device " + settings.device +
              ", settings " + options.settings);

    char machineName[256] = {};
    gethostname(machineName, sizeof machineName - 1);
    FocuserDevice device(OpenSerial, store, settings, log);
    AlpacaServer server(device, log, machineName);
    std::string error;
    if (!server.Bind(options.host, options.port, error)) {
        log.Write("error: " + error);
        return 1;
    }
    const bool loopback = options.host == "127.0.0.1" || options.host == "::1" ||
                          options.host == "localhost";
    DiscoveryResponder discovery;
    if (options.discoveryPort >= 0) {
        if (discovery.Start(static_cast<uint16_t>(options.discoveryPort), loopback, server.Port(),
                            error)) {
            log.Write("discovery: answering on UDP port " + std::to_string(discovery.Port()) +
                      (loopback ? " (this machine only)" : ""));
        } else {
            log.Write("warning: " + error + "; running without discovery");
        }
    }

    std::promise<void> served;
    std::future<void> servedFuture = served.get_future();
    std::thread serving([&server, &served] {
        server.Serve();
        served.set_value();
    });
    const std::string address =
        options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    const std::string url = "http://" + address + ":" + std::to_string(server.Port());
    log.Write("listening on " + url);
    std::printf("listening on %s\n", url.c_str());
    std::fflush(stdout);

    int signalNumber = 0;
    while (sigwait(&stopSignals, &signalNumber) != 0) {
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    log.Write(std::string("stop: ") + (signalNumber == SIGTERM ? "SIGTERM" : "SIGINT"));
    server.Stop();
    discovery.Stop();
    device.Shutdown();
    if (servedFuture.wait_until(deadline) != std::future_status::ready) {
        // Connections still open are the kernel's to close; nothing of ours
        // is half-written, since saves are atomic and the line is closed.
        log.Write("stop: leaving slow connections to close with the process");
        std::fflush(stdout);
        std::_Exit(0);
    }
    serving.join();
    log.Write("stopped");
    return 0;
}

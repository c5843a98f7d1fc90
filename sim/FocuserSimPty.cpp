// focuser-sim: the focuser controller simulator on a pseudo-terminal, for
// trying the device server and its clients on Linux without the hardware.
// One thread plays the controller; this one takes typed commands and signals.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "sim/FocuserSimulator.h"
#include "sim/SimulatorOptions.h"

namespace {

// Written by the signal handler, read by the command loop's poll().
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 0;
    (void)!write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// The master end, as the emulator's line.
class MasterPort final : public ControllerEmulator::Port {
public:
    explicit MasterPort(int fd) : m_fd(fd) {}
    ~MasterPort() override { close(m_fd); }

    // Paced bytes fall due every 1.04 ms: the wait is slept to the
    // microsecond rather than spun on, which would starve a busy machine.
    size_t Read(char* buffer, size_t count, double waitMs, bool& failed) override {
        pollfd entry = {m_fd, POLLIN, 0};
        const long us = static_cast<long>(waitMs * 1000.0);
        const timespec wait = {us / 1000000, (us % 1000000) * 1000};
        const int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready <= 0) return 0;
        const ssize_t got = read(m_fd, buffer, count);
        failed = got < 0 && errno != EAGAIN && errno != EINTR;
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

    // The master does not block: with the other end not reading, what does
    // not fit is lost, as on a wire.
    void Write(const char* bytes, size_t count) override { (void)!write(m_fd, bytes, count); }

private:
    const int m_fd;
};

// A pty pair. The slave stays open here, so the other end's program can close
// and reopen it without the master seeing a hang-up, and so the line can be
// held from this side.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    bool Open(std::string& error) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname(master) == nullptr) {
            error = std::strerror(errno);
            Close();
            return false;
        }
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios line = {};
        if (slave < 0 || tcgetattr(slave, &line) != 0) {
            error = std::strerror(errno);
            Close();
            return false;
        }
        cfmakeraw(&line);
        cfsetispeed(&line, B9600);
        cfsetospeed(&line, B9600);
        tcsetattr(slave, TCSANOW, &line);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        return true;
    }
    void Close() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
        slave = master = -1;
    }
};

class PtySimulator {
public:
    PtySimulator(const SimulatorOptions& options, FILE* trace)
        : m_options(options), m_simulator(options.settings) {
        // An all-night session would otherwise keep every frame in memory.
        m_simulator.Line().SetKeepHistory(false);
        if (trace != nullptr) {
            m_simulator.SetTraceSink([trace](const ControllerEmulator::TraceEntry& entry) {
                std::fprintf(trace, "%s\n", ControllerEmulator::TraceLine(entry).c_str());
                std::fflush(trace);
            });
        }
    }
    ~PtySimulator() {
        Vanish();
    }

    // Makes a pty and starts answering on it; prints the device to use.
    bool Appear(std::string& error) {
        if (m_pty.master >= 0) return true;
        if (!m_pty.Open(error)) return false;
        if (!m_options.link.empty()) {
            const std::string temporary = m_options.link + ".new";
            unlink(temporary.c_str());
            if (symlink(m_pty.path.c_str(), temporary.c_str()) != 0 ||
                rename(temporary.c_str(), m_options.link.c_str()) != 0) {
                error = "cannot make the link " + m_options.link + ": " + std::strerror(errno);
                m_pty.Close();
                return false;
            }
        }
        m_simulator.Start(std::make_unique<MasterPort>(m_pty.master));
        std::printf("%s\n", m_options.link.empty() ? m_pty.path.c_str() : m_options.link.c_str());
        std::fflush(stdout);
        return true;
    }

    // Closes the pty: the other end's reads and writes fail from now on.
    void Vanish() {
        if (m_pty.master < 0) return;
        m_simulator.Stop();  // closes the master with its port
        m_pty.master = -1;
        m_pty.Close();
        if (!m_options.link.empty()) unlink(m_options.link.c_str());
    }

    // One typed command; false for quit.
    bool Command(const std::string& command) {
        std::string error;
        if (command == "mute") {
            m_simulator.Faults().StopAnswering();
            Say("not answering");
        } else if (command == "answer") {
            m_simulator.Faults().ResumeAnswering();
            Say("answering");
        } else if (command == "hold" || command == "release") {
            const bool hold = command == "hold";
            if (m_pty.slave >= 0 && tcflow(m_pty.slave, hold ? TCOOFF : TCOON) == 0) {
                Say(hold ? "line held" : "line released");
            } else {
                Say("no line to hold or release");
            }
        } else if (command == "vanish") {
            Vanish();
            Say("device gone");
        } else if (command == "appear") {
            if (!Appear(error)) Say(("cannot make a pseudo-terminal: " + error).c_str());
        } else if (command == "quit") {
            return false;
        } else if (!command.empty()) {
            Say("commands are mute, answer, hold, release, vanish, appear and quit");
        }
        return true;
    }

    FocuserSimulator& Simulator() { return m_simulator; }

    static void Say(const char* text) { std::fprintf(stderr, "focuser-sim: %s\n", text); }

private:
    const SimulatorOptions& m_options;
    FocuserSimulator m_simulator;
    Pty m_pty;
};

// Reads typed commands until quit, a signal, the end of standard input or the
// duration's end.
void RunCommands(PtySimulator& simulator, unsigned durationSeconds) {
    const long long endMs = durationSeconds * 1000LL;
    long long elapsedMs = 0;
    std::string line;
    for (;;) {
        pollfd entries[2] = {{STDIN_FILENO, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        const int wait = durationSeconds ? static_cast<int>(endMs - elapsedMs) : -1;
        const double startMs = simulator.Simulator().Line().NowMs();
        const int ready = poll(entries, 2, wait);
        elapsedMs += static_cast<long long>(simulator.Simulator().Line().NowMs() - startMs);
        if (ready < 0 && errno != EINTR) return;
        if (durationSeconds && elapsedMs >= endMs) return;
        if (entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        char buffer[128];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0 && !(got < 0 && errno == EINTR)) return;
        if (got > 0 && !FeedTypedCommands(line, buffer, static_cast<size_t>(got),
                                          [&](const std::string& command) {
                                              return simulator.Command(command);
                                          })) {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    SimulatorOptions options;
    std::string error;
    if (!ParseSimulatorOptions(arguments, options, error, SimulatorFront::Pty)) {
        std::fprintf(stderr, "focuser-sim: %s\nfocuser-sim --help explains the options.\n",
                     error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimulatorUsage(SimulatorFront::Pty), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("focuser-sim %s\n", FOCUSER_VERSION);
        return 0;
    }

    FILE* trace = options.trace ? stderr : nullptr;
    if (options.trace && !options.traceFile.empty()) {
        trace = std::fopen(options.traceFile.c_str(), "we");
        if (trace == nullptr) {
            std::fprintf(stderr, "focuser-sim: cannot write the trace to %s\n",
                         options.traceFile.c_str());
            return 1;
        }
    }

    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A reader of standard output that went away must not kill the simulator
    // in the middle of a write.
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        PtySimulator simulator(options, trace);
        if (!simulator.Appear(error)) {
            std::fprintf(stderr, "focuser-sim: cannot make a pseudo-terminal: %s\n", error.c_str());
            status = 1;
        } else {
            const FaultSettings& fault = options.settings.fault;
            std::fprintf(stderr, "focuser-sim: ready, %s, position %ld, %.1f C, fault: %s",
                         options.settings.paced ? "paced at 9600 baud" : "not paced",
                         static_cast<long>(options.settings.startPosition),
                         options.settings.startTemperature, FaultName(fault.fault));
            if (fault.amount != 0) std::fprintf(stderr, ":%u", fault.amount);
            std::fprintf(stderr, "\n");
            RunCommands(simulator, options.durationSeconds);
            simulator.Vanish();
            std::fprintf(stderr, "focuser-sim: stopped after %lu commands, at position %ld\n",
                         static_cast<unsigned long>(simulator.Simulator().Line().FrameCount()),
                         static_cast<long>(simulator.Simulator().Position()));
        }
    }
    if (trace != nullptr && trace != stderr) std::fclose(trace);
    return status;
}

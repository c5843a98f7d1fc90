// focuser-sim as its users run it: a child process on a pty, driven through
// the focuser session over the POSIX line, with its faults switched by typed
// commands; and its command line. Bounds are checked with generous slack.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/FocuserSession.h"
#include "link/PosixSerialPort.h"
#include "sim/SimulatorOptions.h"

namespace {

using Clock = std::chrono::steady_clock;
using Arguments = std::vector<std::string>;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// focuser-sim with its standard input and output on pipes; standard error is
// the test's own.
class SimProcess {
public:
    explicit SimProcess(Arguments arguments) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        arguments.insert(arguments.begin(), FOCUSER_SIM_PROGRAM);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& argument : arguments) argv.push_back(&argument[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~SimProcess() {
        if (m_pid > 0 && !Exited(0)) kill(m_pid, SIGTERM);
        if (m_pid > 0 && !Exited(1000)) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        CloseInput();
        if (m_out >= 0) close(m_out);
    }

    // The next line of standard output, or "" after timeoutMs.
    std::string ReadLine(int timeoutMs = 3000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                const std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            pollfd entry = {m_out, POLLIN, 0};
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count());
            if (left <= 0 || poll(&entry, 1, left) <= 0) return "";
            char chunk[256];
            const ssize_t got = read(m_out, chunk, sizeof chunk);
            if (got <= 0) return "";
            m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }
    void Type(const std::string& command) {
        const std::string line = command + "\n";
        ASSERT_EQ(write(m_in, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        usleep(100000);  // taken on the simulator's own time
    }
    void CloseInput() {
        if (m_in >= 0) close(m_in);
        m_in = -1;
    }
    void Signal(int number) { kill(m_pid, number); }
    // Whether it has exited within timeoutMs; its status in status.
    bool Exited(int timeoutMs, int* status = nullptr) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            int result = 0;
            if (waitpid(m_pid, &result, WNOHANG) == m_pid) {
                m_pid = -1;
                if (status != nullptr) *status = result;
                return true;
            }
            usleep(10000);
        } while (Clock::now() < deadline);
        return false;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buffer;
};

FocuserSession::Opener PosixOpener() {
    return [](const char* device, std::string& reason) -> std::unique_ptr<Line> {
        auto port = std::make_unique<PosixSerialPort>();
        if (!port->Open(device, reason)) return nullptr;
        return port;
    };
}

TEST(FocuserSimPty, PlaysTheControllerAndItsFaultsOnTypedCommands) {
    const std::string link = testing::TempDir() + "focuser-sim-test-link";
    SimProcess sim({"--pty", "--quiet", "--position=4321", "--link=" + link});
    const std::string device = sim.ReadLine();
    ASSERT_EQ(device, link);

    FocuserSession session;
    std::string reason;
    ASSERT_EQ(session.Connect(PosixOpener(), device.c_str(), 2, reason), ConnectResult::Connected)
        << reason;
    int32_t position = 0;
    const char* message = nullptr;
    ASSERT_TRUE(session.ReadPosition(position, message));
    EXPECT_EQ(position, 4321);

    // Each fault fails a read within the line's bounds; its cure heals it.
    struct Case {
        const char* fault;
        const char* cure;
    } cases[] = {{"mute", "answer"}, {"hold", "release"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim.Type(c.fault);
        const auto start = Clock::now();
        EXPECT_FALSE(session.ReadPosition(position, message));
        EXPECT_LT(MsSince(start), 1000.0);
        sim.Type(c.cure);
        EXPECT_TRUE(session.ReadPosition(position, message));
    }

    sim.Type("vanish");
    struct stat unused;
    EXPECT_NE(lstat(link.c_str(), &unused), 0) << "the link goes with the device";
    const auto start = Clock::now();
    EXPECT_FALSE(session.ReadPosition(position, message));
    EXPECT_LT(MsSince(start), 400.0) << "a vanished device fails at once";
    session.Disconnect();

    sim.Type("appear");
    EXPECT_EQ(sim.ReadLine(), link);
    ASSERT_EQ(session.Connect(PosixOpener(), device.c_str(), 2, reason), ConnectResult::Connected)
        << reason;
    EXPECT_TRUE(session.ReadPosition(position, message));
    EXPECT_EQ(position, 4321);
}

TEST(FocuserSimPty, EndsWithinASecondOnASignalOrTheEndOfItsInput) {
    for (const int ending : {SIGTERM, SIGINT, 0}) {
        SCOPED_TRACE(ending);
        SimProcess sim({"--pty", "--quiet"});
        const std::string device = sim.ReadLine();
        ASSERT_EQ(device.compare(0, 9, "/dev/pts/"), 0) << device;
        if (ending != 0) {
            sim.Signal(ending);
        } else {
            sim.CloseInput();
        }
        int status = -1;
        ASSERT_TRUE(sim.Exited(1000, &status));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(access(device.c_str(), F_OK), 0) << "the pty is gone";
    }
}

TEST(FocuserSimPty, AnswersHelpAndVersionAndRefusesAPort) {
    SimProcess version({"--version"});
    EXPECT_EQ(version.ReadLine(), std::string("focuser-sim ") + FOCUSER_VERSION);
    const std::string usage = SimulatorUsage(SimulatorFront::Pty);
    for (const char* word : {"--pty", "--link=", "--fault=", "hold", "release", "vanish", "appear"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }

    struct Case {
        Arguments arguments;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {{"--pty", "--fault=garbled", "--no-pacing"}, nullptr},
        {{"--pty", "--link=/tmp/f"}, nullptr},
        {{"--fault=silent"}, "no --pty given (for example: focuser-sim --pty)"},
        {{"--pty", "COM3"}, "focuser-sim makes its own device with --pty and takes no port: COM3"},
    };
    for (const Case& c : cases) {
        SimulatorOptions options;
        std::string error;
        EXPECT_EQ(ParseSimulatorOptions(c.arguments, options, error, SimulatorFront::Pty),
                  c.error == nullptr);
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
        }
    }
    SimulatorOptions options;
    std::string error;
    EXPECT_FALSE(ParseSimulatorOptions({"--pty"}, options, error)) << "FocuserSim has no --pty";
}

}  // namespace

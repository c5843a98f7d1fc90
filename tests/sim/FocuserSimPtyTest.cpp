// focuser-sim as its users run it: a child process on a pty, driven through
// the focuser session over the POSIX line, its faults switched by typed
// commands. Bounds are checked with generous slack.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/FocuserSession.h"
#include "link/PosixSerialPort.h"
#include "sim/SimulatorOptions.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

const std::string kLink = testing::TempDir() + "focuser-sim-test-link";

// focuser-sim --pty with its standard input on a pipe; it is found through
// its --link, which it makes before it answers.
struct SimProcess {
    SimProcess() {
        unlink(kLink.c_str());  // a killed run's link
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(in[0], STDIN_FILENO);
            execl(FOCUSER_SIM_PROGRAM, FOCUSER_SIM_PROGRAM, "--pty", "--quiet", "--position=4321",
                  ("--link=" + kLink).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        input = in[1];
        for (int i = 0; i < 300 && access(kLink.c_str(), F_OK) != 0; ++i) usleep(10000);
    }
    ~SimProcess() {
        if (input >= 0) close(input);
        if (pid > 0 && !EndsCleanly(1000)) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    void Type(const std::string& command) {
        const std::string line = command + "\n";
        ASSERT_EQ(write(input, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        usleep(100000);  // taken on the simulator's own time
    }
    // Whether it ended, with status 0, within timeoutMs.
    bool EndsCleanly(int timeoutMs) {
        int status = -1;
        for (int waited = 0; waited < timeoutMs; waited += 10, usleep(10000)) {
            if (waitpid(pid, &status, WNOHANG) != pid) continue;
            pid = -1;
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        return false;
    }
    pid_t pid = -1;
    int input = -1;
};

ConnectResult Connect(FocuserSession& session) {
    std::string reason;
    return session.Connect(
        [](const char* device, std::string& why) -> std::unique_ptr<Line> {
            auto port = std::make_unique<PosixSerialPort>();
            return port->Open(device, why) ? std::move(port) : nullptr;
        },
        kLink.c_str(), 2, reason);
}

// Each fault fails a read within the line's bounds, and its cure heals it.
TEST(FocuserSimPty, PlaysTheControllerAndItsFaultsOnTypedCommands) {
    SimProcess sim;
    FocuserSession session;
    ASSERT_EQ(Connect(session), ConnectResult::Connected);
    int32_t position = 0;
    const char* message = nullptr;
    ASSERT_TRUE(session.ReadPosition(position, message));
    EXPECT_EQ(position, 4321);

    struct Case {
        const char* fault;
        const char* cure;
        double leastMs, mostMs;
    } cases[] = {
        {"mute", "answer", 120, 1000},     // the read window
        {"hold", "release", 80, 1000},     // the write bound
        {"vanish", "appear", 0, 400},      // at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim.Type(c.fault);
        const auto start = Clock::now();
        EXPECT_FALSE(session.ReadPosition(position, message));
        EXPECT_GT(MsSince(start), c.leastMs);
        EXPECT_LT(MsSince(start), c.mostMs);
        sim.Type(c.cure);
        if (!session.ReadPosition(position, message)) {
            session.Disconnect();
            ASSERT_EQ(Connect(session), ConnectResult::Connected) << "a new device opens";
        }
        EXPECT_TRUE(session.ReadPosition(position, message));
    }
}

TEST(FocuserSimPty, EndsWithinASecondOnASignalOrTheEndOfItsInput) {
    for (const int ending : {SIGTERM, SIGINT, 0}) {
        SCOPED_TRACE(ending);
        SimProcess sim;
        ASSERT_EQ(access(kLink.c_str(), F_OK), 0);
        if (ending != 0) {
            kill(sim.pid, ending);
        } else {
            close(sim.input);
            sim.input = -1;
        }
        EXPECT_TRUE(sim.EndsCleanly(1000));
        EXPECT_NE(access(kLink.c_str(), F_OK), 0) << "the device is gone";
    }
}

TEST(FocuserSimPty, CommandLine) {
    FILE* version = popen(FOCUSER_SIM_PROGRAM " --version", "r");
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, version), nullptr);
    EXPECT_EQ(std::string(line), std::string("focuser-sim ") + FOCUSER_VERSION + "\n");
    pclose(version);

    struct Case {
        std::vector<std::string> arguments;
        SimulatorFront front;
        bool accepted;
    } cases[] = {
        {{"--pty", "--fault=garbled", "--link=/tmp/f"}, SimulatorFront::Pty, true},
        {{"--fault=silent"}, SimulatorFront::Pty, false},
        {{"--pty", "COM3"}, SimulatorFront::Pty, false},
        {{"COM3", "--pty"}, SimulatorFront::ComPort, false},
    };
    for (const Case& c : cases) {
        SimulatorOptions options;
        std::string error;
        EXPECT_EQ(ParseSimulatorOptions(c.arguments, options, error, c.front), c.accepted)
            << c.arguments.back();
    }
}

}  // namespace

// PosixSerialPort on a pseudo-terminal this test holds the other end of: the
// line settings it leaves, the exchange, its exclusivity and the read window
// (checked with generous slack). Its other bounds, on a held and a vanished
// line, are tried against focuser-sim (tests/sim/FocuserSimPtyTest.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "link/PosixSerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A pty pair; the test keeps a slave descriptor of its own, as the simulator
// does, so the port's closing never hangs the line up.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    std::string ReadMaster() {
        char buffer[64];
        usleep(20000);
        const ssize_t got = read(master, buffer, sizeof buffer);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
    }
    int master = -1;
    int slave = -1;
    std::string path;
};

TEST(PosixSerialPort, OpensRaw9600EightNOneWithoutFlowControlAndExchanges) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    PosixSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path.c_str(), error)) << error;

    termios line = {};
    ASSERT_EQ(tcgetattr(pty.slave, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);

    ASSERT_TRUE(port.Write("FG0000000", 9));
    EXPECT_EQ(pty.ReadMaster(), "FG0000000");
    ASSERT_EQ(write(pty.master, "FD0001234", 9), 9);
    char reply[10] = {};
    EXPECT_EQ(port.Read(reply, 9), 9u);
    EXPECT_STREQ(reply, "FD0001234");

    ASSERT_EQ(write(pty.master, "stale", 5), 5);
    usleep(20000);
    EXPECT_TRUE(port.Purge());
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(reply, 9), 0u) << "purged input is gone";
    EXPECT_GT(MsSince(start), 120.0) << "a silent line is waited on for its window";
    EXPECT_LT(MsSince(start), 600.0);
}

TEST(PosixSerialPort, OpenFailuresSayWhyAndLeaveNothingOpen) {
    Pty pty;
    PosixSerialPort first;
    std::string error;
    ASSERT_TRUE(first.Open(pty.path.c_str(), error)) << error;

    struct Case {
        std::string device;
        std::string why;
    } cases[] = {
        {pty.path, "in use by another program"},
        {"/dev/null", "not a serial device"},
        {"/dev/no-such-tty", "No such file or directory"},
    };
    for (const Case& c : cases) {
        PosixSerialPort second;
        error.clear();
        EXPECT_FALSE(second.Open(c.device.c_str(), error)) << c.device;
        EXPECT_EQ(error, c.why) << c.device;
        EXPECT_FALSE(second.IsOpen());
    }
    first.Close();
    PosixSerialPort again;
    EXPECT_TRUE(again.Open(pty.path.c_str(), error)) << "closing frees it: " << error;
}

}  // namespace

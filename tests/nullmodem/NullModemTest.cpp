// The null-modem bridge, driven from Linux as Wine would drive it: through the
// links it makes in a dosdevices folder and through its control socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Generous bounds: they only stop a broken bridge from hanging the suite.
constexpr int kStartMs = 5000;
constexpr int kPromptMs = 2000;
constexpr int kExitMs = 5000;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int Get() const { return m_fd; }
    void Reset() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status, or -1 if the process has not exited within the bound.
int WaitExit(pid_t pid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPromptMs);
    while (done < bytes.size() && Clock::now() < deadline) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        else poll(nullptr, 0, 1);
    }
    return done == bytes.size();
}

// Reads until count bytes have come or timeoutMs has passed.
std::string ReadFor(int fd, size_t count, int timeoutMs) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

Fd Connect(unsigned short port) {
    Fd s(socket(AF_INET, SOCK_STREAM, 0));
    timeval timeout = {kPromptMs / 1000, 0};
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) s.Reset();
    return s;
}

// Sends text and reads back lines until `lines` have come (or the bound passes).
std::string Exchange(int s, const std::string& text, int lines = 1) {
    if (send(s, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
        return "send failed";
    std::string reply;
    char c;
    while (lines > 0 && recv(s, &c, 1, 0) == 1) {
        reply += c;
        if (c == '\n') --lines;
    }
    return reply;
}

class NullModemTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nullmodem-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_dosdevices = m_dir + "/dosdevices";
        ASSERT_EQ(mkdir(m_dosdevices.c_str(), 0755), 0);
        m_control = m_dir + "/control";
        m_pidFile = m_dir + "/pid";
        m_pid = Spawn({NULLMODEM_EXE, "--dosdevices", m_dosdevices, "--pair", "com3:com13",
                       "--pair", "com4:com14", "--control-file", m_control, "--pid-file",
                       m_pidFile},
                      m_dir + "/log");
        ASSERT_GT(m_pid, 0);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kStartMs);
        while (!Exists(m_control) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(Exists(m_control)) << ReadText(m_dir + "/log");
        m_port = static_cast<unsigned short>(std::atoi(ReadText(m_control).c_str()));
        ASSERT_GT(m_port, 0);
    }

    void TearDown() override {
        if (m_pid > 0 && WaitExit(m_pid, 0) < 0) {
            kill(m_pid, SIGTERM);
            if (WaitExit(m_pid, kExitMs) < 0) {
                kill(m_pid, SIGKILL);
                WaitExit(m_pid, kExitMs);
            }
        }
        for (const char* name : {"/dosdevices/com3", "/dosdevices/com13", "/dosdevices/com4",
                                 "/dosdevices/com14", "/dosdevices", "/control", "/pid", "/log"})
            remove((m_dir + name).c_str());
        rmdir(m_dir.c_str());
    }

    std::string Link(const char* port) const { return m_dosdevices + "/" + port; }

    Fd Open(const char* port) const {
        return Fd(open(Link(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    }

    std::string Command(const std::string& line) const {
        Fd s = Connect(m_port);
        return s.Get() < 0 ? "no connection" : Exchange(s.Get(), line + "\n");
    }

    // Bytes written on one port arrive, unchanged, on the other.
    void ExpectCarried(const char* from, const char* to, const std::string& bytes) const {
        Fd in = Open(to), out = Open(from);
        ASSERT_GE(in.Get(), 0);
        ASSERT_GE(out.Get(), 0);
        ASSERT_TRUE(WriteAll(out.Get(), bytes));
        EXPECT_EQ(ReadFor(in.Get(), bytes.size(), kPromptMs), bytes) << from << " -> " << to;
    }

    std::string m_dir, m_dosdevices, m_control, m_pidFile;
    pid_t m_pid = -1;
    unsigned short m_port = 0;
};

TEST_F(NullModemTest, LinksEachPortToARawTerminalOnceReady) {
    EXPECT_EQ(std::atoi(ReadText(m_pidFile).c_str()), m_pid);
    for (const char* port : {"com3", "com13", "com4", "com14"}) {
        char target[256] = {};
        ASSERT_GT(readlink(Link(port).c_str(), target, sizeof target - 1), 0) << port;
        EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u) << target;
        Fd fd = Open(port);
        ASSERT_TRUE(isatty(fd.Get())) << port;
        termios mode;
        ASSERT_EQ(tcgetattr(fd.Get(), &mode), 0);
        EXPECT_EQ(mode.c_lflag & (ECHO | ICANON | ISIG), 0u) << port;
        EXPECT_EQ(mode.c_iflag & (ICRNL | IXON | ISTRIP), 0u) << port;
        EXPECT_EQ(mode.c_oflag & OPOST, 0u) << port;
    }
}

TEST_F(NullModemTest, CarriesEveryByteValueBothWaysWithoutEcho) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    ExpectCarried("com3", "com13", all);
    ExpectCarried("com13", "com3", all);
    ExpectCarried("com14", "com4", all);

    Fd writer = Open("com3"), reader = Open("com13");
    ASSERT_TRUE(WriteAll(writer.Get(), std::string("F#\0\0\0\0\0\0\0", 9)));
    EXPECT_EQ(ReadFor(reader.Get(), 9, kPromptMs).size(), 9u);
    EXPECT_EQ(ReadFor(writer.Get(), 1, 100), "") << "the writer hears its own bytes";
}

TEST_F(NullModemTest, KeepsPairsApart) {
    Fd com3 = Open("com3"), com4 = Open("com4"), com14 = Open("com14"), com13 = Open("com13");
    ASSERT_TRUE(WriteAll(com3.Get(), "for com13"));
    EXPECT_EQ(ReadFor(com13.Get(), 9, kPromptMs), "for com13");
    EXPECT_EQ(ReadFor(com4.Get(), 1, 100), "");
    EXPECT_EQ(ReadFor(com14.Get(), 1, 100), "");
}

TEST_F(NullModemTest, PortSurvivesBeingClosedAndReopened) {
    Fd far = Open("com13");
    for (int round = 0; round < 5; ++round) {
        Fd near = Open("com3");
        ASSERT_GE(near.Get(), 0) << "round " << round;
        ASSERT_TRUE(WriteAll(near.Get(), "ping " + std::to_string(round)));
        EXPECT_EQ(ReadFor(far.Get(), 6, kPromptMs), "ping " + std::to_string(round));
        ASSERT_TRUE(WriteAll(far.Get(), "pong"));
        EXPECT_EQ(ReadFor(near.Get(), 4, kPromptMs), "pong");
    }
    // Both ends closed at once is the normal state between two test programs.
    far.Reset();
    EXPECT_EQ(Command("ping"), "ok\n");
    ExpectCarried("com13", "com3", "still here");
}

TEST_F(NullModemTest, ReaderThatFallsBehindStallsNeitherDirection) {
    Fd near = Open("com3"), far = Open("com13");
    const std::string flood(1 << 20, 'x');
    size_t written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPromptMs);
    while (written < flood.size() && Clock::now() < deadline) {
        const ssize_t n = write(near.Get(), flood.data() + written, flood.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        else poll(nullptr, 0, 1);
    }
    EXPECT_EQ(written, flood.size()) << "the bridge stopped taking bytes from com3";

    ASSERT_TRUE(WriteAll(far.Get(), "reply"));
    EXPECT_EQ(ReadFor(near.Get(), 5, kPromptMs), "reply");
    EXPECT_EQ(Command("ping"), "ok\n");

    // What the slow reader finds after purging is a bounded remnant, not the
    // whole flood delivered late.
    tcflush(far.Get(), TCIFLUSH);
    EXPECT_LE(ReadFor(far.Get(), flood.size(), 300).size(), 8192u);
}

TEST_F(NullModemTest, UnpluggedPortVanishesUntilPluggedAgain) {
    Fd near = Open("com3"), far = Open("com13");
    ASSERT_EQ(Command("unplug com3"), "ok\n");

    // An open handle loses its device...
    char byte;
    const ssize_t got = read(near.Get(), &byte, 1);
    EXPECT_TRUE(got == 0 || (got < 0 && errno != EAGAIN)) << got;
    EXPECT_EQ(write(near.Get(), "x", 1), -1);
    // ...and opening the port no longer finds a terminal, while the link
    // stays so that Wine does not fall back to a real serial port.
    struct stat resolved;
    EXPECT_EQ(stat(Link("com3").c_str(), &resolved), 0) << "a dangling link counts as no link";
    Fd reopened = Open("com3");
    EXPECT_FALSE(reopened.Get() >= 0 && isatty(reopened.Get()));
    reopened.Reset();
    // What the other end sends meanwhile goes nowhere.
    ASSERT_TRUE(WriteAll(far.Get(), "lost"));
    EXPECT_EQ(Command("unplug com3"), "ok\n");
    EXPECT_EQ(Command("ping"), "ok\n");

    ASSERT_EQ(Command("plug com3"), "ok\n");
    EXPECT_EQ(Command("plug com3"), "ok\n");
    near = Open("com3");
    ASSERT_TRUE(isatty(near.Get()));
    EXPECT_EQ(ReadFor(near.Get(), 4, 200), "");
    ASSERT_TRUE(WriteAll(near.Get(), "back"));
    EXPECT_EQ(ReadFor(far.Get(), 4, kPromptMs), "back");
    ASSERT_TRUE(WriteAll(far.Get(), "again"));
    EXPECT_EQ(ReadFor(near.Get(), 5, kPromptMs), "again");
}

TEST_F(NullModemTest, ControlSocketAnswersEachLineAndRefusesNonsense) {
    EXPECT_EQ(Command("ping"), "ok\n");
    EXPECT_EQ(Command("unplug com99").rfind("error", 0), 0u);
    EXPECT_EQ(Command("unplug ../../etc/passwd").rfind("error", 0), 0u);
    EXPECT_EQ(Command("plug").rfind("error", 0), 0u);
    EXPECT_EQ(Command("").rfind("error", 0), 0u);
    EXPECT_EQ(Command("unplug COM4"), "ok\n") << "port names are not case sensitive";
    EXPECT_EQ(Command("plug com4"), "ok\n");

    // Several lines on one connection, with Windows line ends, each answered.
    Fd s = Connect(m_port);
    EXPECT_EQ(Exchange(s.Get(), "ping\r\nbogus\nping\n", 3).substr(0, 3), "ok\n");

    // A client that never finishes its line neither blocks others nor grows
    // without bound.
    Fd silent = Connect(m_port);
    ASSERT_EQ(send(silent.Get(), "pi", 2, MSG_NOSIGNAL), 2);
    EXPECT_EQ(Command("ping"), "ok\n");
    Fd babbler = Connect(m_port);
    EXPECT_EQ(Exchange(babbler.Get(), std::string(300, 'p')).rfind("error", 0), 0u);
    EXPECT_EQ(Command("ping"), "ok\n");
}

class NullModemSignalTest : public NullModemTest, public testing::WithParamInterface<int> {};

TEST_P(NullModemSignalTest, StopsCleanlyAndRemovesItsLinks) {
    Fd open = Open("com3");  // a port in use must not hold it up
    ASSERT_EQ(kill(m_pid, GetParam()), 0);
    EXPECT_EQ(WaitExit(m_pid, kExitMs), 0);
    m_pid = -1;
    for (const char* port : {"com3", "com13", "com4", "com14"})
        EXPECT_FALSE(Exists(Link(port))) << port;
    EXPECT_FALSE(Exists(m_control));
    EXPECT_FALSE(Exists(m_pidFile));
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, NullModemSignalTest, testing::Values(SIGTERM, SIGINT));

TEST(NullModemArguments, RefusesBadArgumentsWithoutTouchingTheFolder) {
    char pattern[] = "/tmp/nullmodem-args.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string log = dir + ".log";
    const std::vector<std::vector<std::string>> cases = {
        {"--dosdevices", dir},
        {"--pair", "com3:com13"},
        {"--dosdevices", dir, "--pair", "com3"},
        {"--dosdevices", dir, "--pair", "com3:../com13"},
        {"--dosdevices", dir, "--pair", "com0:com13"},
        {"--dosdevices", dir, "--pair", "com3:com3"},
        {"--dosdevices", dir, "--pair", "com3:com13", "--pair", "com13:com14"},
        {"--dosdevices", dir + "/missing", "--pair", "com3:com13"},
        {"--dosdevices", dir, "--pair", "com3:com13", "--bogus", "x"},
        {"--dosdevices", dir, "--pair"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> command = {NULLMODEM_EXE};
        command.insert(command.end(), args.begin(), args.end());
        const pid_t pid = Spawn(command, log);
        ASSERT_GT(pid, 0);
        const int status = WaitExit(pid, kExitMs);
        if (status < 0) kill(pid, SIGKILL), WaitExit(pid, kExitMs);
        std::string shown;
        for (const auto& arg : args) shown += arg + " ";
        EXPECT_GT(status, 0) << shown;
        EXPECT_FALSE(Exists(dir + "/com3")) << shown;
        EXPECT_FALSE(Exists(dir + "/com13")) << shown;
    }

    const pid_t help = Spawn({NULLMODEM_EXE, "--help"}, log);
    EXPECT_EQ(WaitExit(help, kExitMs), 0);
    EXPECT_NE(ReadText(log).find("--control-file"), std::string::npos);
    remove(log.c_str());
    rmdir(dir.c_str());
}

}  // namespace

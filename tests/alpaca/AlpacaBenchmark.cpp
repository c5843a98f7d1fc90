// The device server's figures against focuser-sim at the real 9600-baud
// pace, as ratios to the bare serial exchange measured in the same run:
// one client, eight clients polling, eight alternating two reads, the idle
// server's memory, CPU and wake-ups, and its start. Printed beside their
// targets, never checked.
//
//   alpaca_benchmark [--seconds N]   (default 20 per many-client row)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/ControllerLink.h"
#include "link/PosixSerialPort.h"
#include "tests/alpaca/ServerRig.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double BareExchangeMs(const std::string& device, int count) {
    auto port = std::make_unique<PosixSerialPort>();
    std::string error;
    if (!port->Open(device.c_str(), error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(), error.c_str());
        std::exit(1);
    }
    ControllerLink link;
    if (!link.Connect(std::move(port))) std::exit(1);
    int32_t position = 0;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) link.ReadPosition(position);
    return Ms(Clock::now() - start) / count;
}

struct Polling {
    long answers = 0;
    double worstMs = 0.0;       // once connected
    double worstFirstMs = 0.0;  // a client's first answer, its connection set up with it
    double seconds = 0.0;
};

Polling Poll(uint16_t port, int clients, double seconds, bool alternate) {
    std::atomic<long> answers{0};
    std::mutex mutex;
    double worst = 0.0, worstFirst = 0.0;
    std::vector<std::thread> threads;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(10, 0);
            double local = 0.0, first = 0.0;
            for (long i = 0; Clock::now() < end; ++i) {
                const char* member = alternate && (i + c) % 2 ? "ismoving" : "position";
                const auto sent = Clock::now();
                auto result = client.Get((std::string("/api/v1/focuser/0/") + member +
                                          "?ClientID=" + std::to_string(c + 1)).c_str());
                if (!result || result->body.find("\"ErrorNumber\":0") == std::string::npos) {
                    std::fprintf(stderr, "a failed answer: %s\n",
                                 result ? result->body.c_str() : httplib::to_string(result.error()).c_str());
                    continue;
                }
                (i == 0 ? first : local) = std::max(i == 0 ? first : local, Ms(Clock::now() - sent));
                ++answers;
            }
            std::lock_guard<std::mutex> lock(mutex);
            worst = std::max(worst, local);
            worstFirst = std::max(worstFirst, first);
        });
    }
    for (std::thread& thread : threads) thread.join();
    return Polling{answers.load(), worst, worstFirst, Ms(Clock::now() - start) / 1000.0};
}

// Summed over the process's threads: CPU ticks and voluntary switches.
void Usage(pid_t pid, long& ticks, long& switches, long& rssKb) {
    ticks = switches = rssKb = 0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::atol(field.c_str());
    }
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    const std::string list = "ls " + tasks;
    FILE* ls = popen(list.c_str(), "r");
    char tid[32];
    while (ls != nullptr && std::fscanf(ls, "%31s", tid) == 1) {
        std::ifstream status(tasks + "/" + tid + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) switches += std::atol(line.c_str() + 24);
        }
    }
    if (ls != nullptr) pclose(ls);
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) rssKb = std::atol(line.c_str() + 6);
    }
}

// Fork to the "listening on" line, read through a pipe as a supervisor would.
double StartMs(const ServerRig& rig) {
    int out[2];
    if (pipe(out) != 0) return -1;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(out[0]);
        execl(FOCUSER_ALPACA_EXE, FOCUSER_ALPACA_EXE, "--serial", rig.device.c_str(), "--listen",
              "127.0.0.1:0", "--discovery-port", "off", "--settings", rig.settingsFile.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char buffer[256];
    std::string seen;
    pollfd ready = {out[0], POLLIN, 0};
    while (seen.find('\n') == std::string::npos && poll(&ready, 1, 5000) == 1) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<size_t>(n));
    }
    const double ms = Ms(Clock::now() - start);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    return seen.rfind("listening on", 0) == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    if (argc == 3 && std::string(argv[1]) == "--seconds") seconds = std::atof(argv[2]);
    ServerRig rig;
    if (!rig.Start({"--position=500"}, {"--discovery-port", "off"})) {
        std::fprintf(stderr, "cannot start the simulator and the server\n");
        return 1;
    }
    std::printf("focuser-alpaca against focuser-sim --pty at 9600 baud\n");
    long ticks0, switches0, rss0;
    std::vector<double> starts;
    for (int i = 0; i < 5; ++i) starts.push_back(StartMs(rig));
    std::sort(starts.begin(), starts.end());

    const double bare = BareExchangeMs(rig.device, 200);
    std::printf("%-52s %8.2f ms\n", "bare serial exchange (position), mean of 200", bare);

    if (!rig.Connect(1)) return 1;
    const Polling one = Poll(rig.port, 1, seconds / 4, false);
    const double oneMs = one.seconds * 1000.0 / one.answers;
    const double oneRate = one.answers / one.seconds;
    std::printf("%-52s %8.2f ms  %5.3f x bare  (target <= 1.05)\n", "one client, position over HTTP",
                oneMs, oneMs / bare);

    const Polling eight = Poll(rig.port, 8, seconds, false);
    std::printf("%-52s %8.1f /s  %5.2f x one  (target >= 6)\n", "eight clients, position",
                eight.answers / eight.seconds, eight.answers / eight.seconds / oneRate);
    std::printf("%-52s %8.1f ms  %5.2f exchanges  (target <= 2.1)\n", "  slowest answer",
                eight.worstMs, eight.worstMs / bare);
    std::printf("%-52s %8.1f ms  %5.2f exchanges\n", "  slowest first answer (connecting)",
                eight.worstFirstMs, eight.worstFirstMs / bare);

    const Polling mixed = Poll(rig.port, 8, seconds, true);
    std::printf("%-52s %8.1f /s  %5.2f x one  (target >= 3)\n",
                "eight clients, position and ismoving alternating", mixed.answers / mixed.seconds,
                mixed.answers / mixed.seconds / oneRate);
    std::printf("%-52s %8.1f ms  %5.2f exchanges\n", "  slowest answer", mixed.worstMs,
                mixed.worstMs / bare);

    rig.Put("disconnect", "ClientID=1");
    // Kept-alive connections end after their 2 s; then the server is idle.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    Usage(rig.server.Pid(), ticks0, switches0, rss0);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    long ticks1, switches1, rss1;
    Usage(rig.server.Pid(), ticks1, switches1, rss1);
    std::printf("%-52s %8ld kB  (aim < 10240)\n", "idle server, resident memory", rss1);
    std::printf("%-52s %8.2f %% of a core, %ld wake-ups in 10 s  (aim 0)\n", "idle server, CPU",
                100.0 * (ticks1 - ticks0) / sysconf(_SC_CLK_TCK) / 10.0, switches1 - switches0);
    std::printf("%-52s %8.1f ms  (median of 5; target < 200)\n", "start to \"listening on\"",
                starts[2]);
    return 0;
}

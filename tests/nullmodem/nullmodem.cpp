// A virtual null-modem for Wine: each pair joins two COM ports of a Wine prefix
// back to back, so a program on one port talks to a program on the other. Each
// port is a pseudo-terminal whose slave the prefix's dosdevices link points at;
// the bridge copies whatever one master yields into the other. A small control
// socket lets tests pull a port's plug and put it back.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Bytes held for a port whose reader is not keeping up. Past this the line
// overruns and new bytes are dropped: blocking would stall the other direction,
// and a large backlog would surface after the reader has purged its port.
constexpr size_t kMaxBacklog = 4096;
constexpr size_t kMaxControlClients = 8;
constexpr size_t kMaxCommandLength = 256;

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "nullmodem: %s\n", text);
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Writes the whole text to a sibling file and renames it into place, so a
// reader never sees a half-written file.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Points link at target, replacing whatever link was there in one step: a
// program opening the port at that moment finds either the old or the new one.
bool PointLink(const std::string& link, const std::string& target) {
    const std::string temporary = link + ".tmp." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) return false;
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string ReadLink(const std::string& link) {
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    return length < 0 ? std::string() : std::string(target, static_cast<size_t>(length));
}

// A port name as Wine's dosdevices folder spells it ("com3"), or empty when
// the text is not one. The name becomes a file name, so nothing else passes.
std::string PortName(const std::string& text) {
    std::string name;
    for (const char c : text) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "com") != 0 || name[3] == '0')
        return std::string();
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::string();
    const long number = std::strtol(name.c_str() + 3, nullptr, 10);
    return number >= 1 && number <= 256 ? name : std::string();
}

// One end of a pair: the port a Wine program opens.
struct Side {
    std::string name;  // "com3"
    std::string link;  // <dosdevices>/com3
    int master = -1;
    // Held open for as long as the port is plugged: once every slave descriptor
    // is closed the master reads EIO, and the Wine program on this port closes
    // and reopens it as it pleases.
    int slave = -1;
    std::string slavePath;
    std::string backlog;  // bytes from the peer waiting for this master to take them
    size_t dropped = 0;
    Side* peer = nullptr;

    bool Plugged() const { return master >= 0; }
};

bool OpenPty(Side& side) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return false;
    const char* name = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || !(name = ptsname(master)) ||
        !SetNonBlocking(master)) {
        close(master);
        return false;
    }
    const std::string path = name;
    const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        return false;
    }
    // Raw both ways: the protocol is binary, NULs and control bytes included.
    termios raw = {};
    if (tcgetattr(slave, &raw) != 0) {
        close(slave);
        close(master);
        return false;
    }
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(slave, TCSANOW, &raw) != 0) {
        close(slave);
        close(master);
        return false;
    }
    side.master = master;
    side.slave = slave;
    side.slavePath = path;
    side.backlog.clear();
    return true;
}

void ClosePty(Side& side) {
    CloseFd(side.master);
    CloseFd(side.slave);
    side.slavePath.clear();
    side.backlog.clear();
}

class Bridge {
public:
    Bridge(std::string dosdevices, std::string unpluggedTarget)
        : m_dosdevices(std::move(dosdevices)), m_unplugged(std::move(unpluggedTarget)) {}
    ~Bridge();

    bool AddPair(const std::string& a, const std::string& b);
    bool Listen();
    unsigned short ControlPort() const { return m_controlPort; }
    // Runs until a stop signal; false on a fault that leaves it unable to go on.
    bool Run(const sigset_t& runMask);
    void RemoveLinks();

private:
    struct Client {
        int fd = -1;
        std::string input;
    };

    Side* Find(const std::string& name);
    bool Plug(Side& side);
    bool Unplug(Side& side);
    void Pump(Side& from);
    void Flush(Side& to);
    void Restart(Side& side, const char* why);
    void Accept();
    bool ServeClient(Client& client);  // false: close it
    std::string Execute(const std::string& line);

    std::string m_dosdevices;
    std::string m_unplugged;
    std::vector<std::unique_ptr<Side>> m_sides;
    int m_listener = -1;
    unsigned short m_controlPort = 0;
    std::vector<Client> m_clients;
};

Bridge::~Bridge() {
    for (auto& side : m_sides) ClosePty(*side);
    for (Client& client : m_clients) CloseFd(client.fd);
    CloseFd(m_listener);
}

Side* Bridge::Find(const std::string& name) {
    for (auto& side : m_sides)
        if (side->name == name) return side.get();
    return nullptr;
}

bool Bridge::AddPair(const std::string& a, const std::string& b) {
    auto first = std::make_unique<Side>();
    auto second = std::make_unique<Side>();
    first->name = a;
    second->name = b;
    first->link = m_dosdevices + "/" + a;
    second->link = m_dosdevices + "/" + b;
    first->peer = second.get();
    second->peer = first.get();
    m_sides.push_back(std::move(first));
    m_sides.push_back(std::move(second));
    return Plug(*m_sides[m_sides.size() - 2]) && Plug(*m_sides.back());
}

bool Bridge::Plug(Side& side) {
    if (side.Plugged()) return true;
    if (!OpenPty(side)) {
        Log("%s: cannot create a pseudo-terminal: %s", side.name.c_str(), std::strerror(errno));
        return false;
    }
    if (!PointLink(side.link, side.slavePath)) {
        Log("%s: cannot link %s: %s", side.name.c_str(), side.link.c_str(), std::strerror(errno));
        ClosePty(side);
        return false;
    }
    return true;
}

bool Bridge::Unplug(Side& side) {
    // The link stays: without one Wine would fall back to a real serial port
    // of the same number. It points where no terminal is, so opening fails.
    if (!PointLink(side.link, m_unplugged)) {
        Log("%s: cannot unlink: %s", side.name.c_str(), std::strerror(errno));
        return false;
    }
    ClosePty(side);
    return true;
}

void Bridge::RemoveLinks() {
    for (auto& side : m_sides) {
        // Only our own: a newer bridge may have taken the port over.
        const std::string target = ReadLink(side->link);
        if (target == side->slavePath || target == m_unplugged) unlink(side->link.c_str());
    }
}

void Bridge::Restart(Side& side, const char* why) {
    Log("%s: %s; giving it a fresh pseudo-terminal", side.name.c_str(), why);
    ClosePty(side);
    if (!Plug(side)) Unplug(side);
}

void Bridge::Flush(Side& to) {
    while (!to.backlog.empty() && to.Plugged()) {
        const ssize_t written = write(to.master, to.backlog.data(), to.backlog.size());
        if (written > 0) {
            to.backlog.erase(0, static_cast<size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                Restart(to, std::strerror(errno));
            return;
        }
    }
}

void Bridge::Pump(Side& from) {
    char buffer[4096];
    Side& to = *from.peer;
    // A few reads per round, so one chatty port cannot starve the others.
    for (int round = 0; round < 16; ++round) {
        const ssize_t got = read(from.master, buffer, sizeof buffer);
        if (got > 0) {
            if (!to.Plugged()) continue;  // nobody on the far end: the bytes are lost, as on a wire
            const size_t room = kMaxBacklog - std::min(kMaxBacklog, to.backlog.size());
            const size_t kept = std::min(room, static_cast<size_t>(got));
            to.backlog.append(buffer, kept);
            if (kept < static_cast<size_t>(got)) {
                if (to.dropped == 0) Log("%s: not being read; dropping bytes", to.name.c_str());
                to.dropped += static_cast<size_t>(got) - kept;
            }
            Flush(to);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // EOF or EIO: our own slave descriptor should prevent both, so the
        // terminal is beyond use. The port stays; only its terminal is new.
        Restart(from, got == 0 ? "end of file" : std::strerror(errno));
        return;
    }
}

bool Bridge::Listen() {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Log("control socket: %s", std::strerror(errno));
        return false;
    }
    m_controlPort = ntohs(address.sin_port);
    return true;
}

void Bridge::Accept() {
    for (;;) {
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        if (m_clients.size() >= kMaxControlClients) {
            static const char busy[] = "error busy\n";
            send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL);
            close(fd);
            continue;
        }
        m_clients.push_back(Client{fd, std::string()});
    }
}

std::string Bridge::Execute(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
        size_t end = at;
        while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end;
    }
    if (words.empty()) return "error empty command";
    const std::string& verb = words[0];
    if (verb == "ping" && words.size() == 1) return "ok";
    if (verb == "drain" && words.size() == 1) {
        // Whatever was written on any port before this command arrived is
        // readable at its terminal now: move it across before answering.
        bool moved = true;
        for (auto& side : m_sides) {
            if (side->Plugged()) Pump(*side);
        }
        for (auto& side : m_sides) moved = moved && side->backlog.empty();
        return moved ? "ok" : "error backlog";
    }
    if ((verb == "plug" || verb == "unplug") && words.size() == 2) {
        Side* side = Find(PortName(words[1]));
        if (!side) return "error no such port";
        const bool done = verb == "plug" ? Plug(*side) : Unplug(*side);
        if (done) Log("%s %s", verb.c_str(), side->name.c_str());
        return done ? "ok" : "error " + verb + " failed";
    }
    return "error unknown command";
}

bool Bridge::ServeClient(Client& client) {
    char buffer[512];
    for (;;) {
        const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        client.input.append(buffer, static_cast<size_t>(got));
        size_t newline;
        while ((newline = client.input.find('\n')) != std::string::npos) {
            std::string line = client.input.substr(0, newline);
            client.input.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string reply = Execute(line) + "\n";
            // Replies are a few bytes; a client that cannot take them is gone.
            if (send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(reply.size()))
                return false;
        }
        if (client.input.size() > kMaxCommandLength) {
            static const char tooLong[] = "error command too long\n";
            send(client.fd, tooLong, sizeof tooLong - 1, MSG_NOSIGNAL);
            return false;
        }
    }
}

bool Bridge::Run(const sigset_t& runMask) {
    std::vector<pollfd> fds;
    while (!g_stopSignal) {
        fds.clear();
        for (auto& side : m_sides) {
            if (!side->Plugged()) continue;
            const short events = static_cast<short>(POLLIN | (side->backlog.empty() ? 0 : POLLOUT));
            fds.push_back(pollfd{side->master, events, 0});
        }
        const size_t firstSocket = fds.size();
        fds.push_back(pollfd{m_listener, POLLIN, 0});
        for (const Client& client : m_clients) fds.push_back(pollfd{client.fd, POLLIN, 0});

        // Stop signals are let through only while waiting here.
        if (ppoll(fds.data(), fds.size(), nullptr, &runMask) < 0) {
            if (errno == EINTR) continue;
            Log("poll: %s", std::strerror(errno));
            return false;
        }

        for (size_t i = 0; i < firstSocket; ++i) {
            if (!fds[i].revents) continue;
            // Find the side by descriptor: an earlier side's restart may have
            // replaced this one's terminal within this round.
            for (auto& side : m_sides) {
                if (side->master != fds[i].fd) continue;
                if (fds[i].revents & POLLOUT) Flush(*side);
                if (side->master == fds[i].fd &&
                    (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
                    Pump(*side);
                break;
            }
        }
        for (size_t i = firstSocket + 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            for (size_t c = 0; c < m_clients.size(); ++c) {
                if (m_clients[c].fd != fds[i].fd) continue;
                if (!ServeClient(m_clients[c])) {
                    close(m_clients[c].fd);
                    m_clients.erase(m_clients.begin() + static_cast<long>(c));
                }
                break;
            }
        }
        if (fds[firstSocket].revents) Accept();
    }
    return true;
}

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
    const bool ran = ready && bridge.Run(runMask);
    bridge.RemoveLinks();
    if (!controlFile.empty()) unlink(controlFile.c_str());
    if (!pidFile.empty()) unlink(pidFile.c_str());
    return ran ? 0 : 1;
}

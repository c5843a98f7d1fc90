// The pty half of the bridge: each port's terminal, and the bytes carried
// from one end of a pair to the other.
#include "tests/nullmodem/Bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tests/nullmodem/Files.h"

namespace nullmodem {

namespace {

// Bytes held for a port whose reader is not keeping up. Past this the line
// overruns and new bytes are dropped: blocking would stall the other direction,
// and a large backlog would surface after the reader has purged its port.
constexpr size_t kMaxBacklog = 4096;

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

}  // namespace

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

bool Bridge::Run(const sigset_t& runMask, const volatile sig_atomic_t& stop) {
    std::vector<pollfd> fds;
    while (!stop) {
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

}  // namespace nullmodem

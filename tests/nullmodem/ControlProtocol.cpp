// The bridge's control socket on 127.0.0.1: one command a line, one reply line
// each, so that tests can pull a port's plug, put it back, and wait until
// every byte written has crossed.
#include "tests/nullmodem/Bridge.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "tests/nullmodem/Files.h"

namespace nullmodem {

namespace {

constexpr size_t kMaxControlClients = 8;
constexpr size_t kMaxCommandLength = 256;

}  // namespace

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

}  // namespace nullmodem

#include "tests/support/NullModemControl.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace nullmodem {
namespace {

// Generous for a bridge on the same machine, short enough that a test with a
// wedged bridge fails instead of hanging.
constexpr long kTimeoutMs = 3000;

class Winsock {
public:
    Winsock() {
        WSADATA data;
        m_ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
        if (m_ready) WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool Ready() const { return m_ready; }

private:
    bool m_ready = false;
};

class Socket {
public:
    Socket() : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

// The bridge's address from the environment; false when unset or malformed.
bool ControlAddress(sockaddr_in& address) {
    const char* text = std::getenv("FOCUSER_NULLMODEM_CONTROL");
    if (!text) return false;
    const char* colon = std::strrchr(text, ':');
    if (!colon || colon == text || colon - text >= 64) return false;
    char host[64];
    std::memcpy(host, text, static_cast<size_t>(colon - text));
    host[colon - text] = '\0';
    char* end = nullptr;
    const long port = std::strtol(colon + 1, &end, 10);
    if (end == colon + 1 || *end != '\0' || port <= 0 || port > 65535) return false;

    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    return inet_pton(AF_INET, host, &address.sin_addr) == 1;
}

// Waits until the socket is readable (or writable); false on time-out or error.
bool WaitFor(SOCKET s, bool writable, long timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, writable ? nullptr : &set, writable ? &set : nullptr, &failed,
                             &timeout);
    return ready > 0 && FD_ISSET(s, &set) && !FD_ISSET(s, &failed);
}

// Sends one command line and returns whether the bridge answered "ok".
bool Command(const std::string& command) {
    sockaddr_in address;
    if (!ControlAddress(address)) return false;
    Winsock winsock;
    if (!winsock.Ready()) return false;
    Socket connection;
    const SOCKET s = connection.Get();
    if (s == INVALID_SOCKET) return false;

    // Connect without blocking so the wait for it is ours to bound.
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return false;
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    if (!WaitFor(s, true, kTimeoutMs)) return false;
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0)
        return false;

    const std::string line = command + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        if (!WaitFor(s, true, kTimeoutMs)) return false;
        const int n = send(s, line.data() + sent, static_cast<int>(line.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }

    std::string reply;
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    while (reply.find('\n') == std::string::npos) {
        const ULONGLONG now = GetTickCount64();
        const long left = now < deadline ? static_cast<long>(deadline - now) : 0;
        if (left <= 0 || reply.size() > 256 || !WaitFor(s, false, left)) return false;
        char buffer[128];
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        reply.append(buffer, static_cast<size_t>(n));
    }
    reply.erase(reply.find('\n'));
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    return reply == "ok";
}

bool ValidPort(const char* port) {
    if (!port || !*port) return false;
    for (const char* c = port; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c))) return false;
    return std::strlen(port) < 16;
}

}  // namespace

bool Unplug(const char* port) { return ValidPort(port) && Command(std::string("unplug ") + port); }

bool Plug(const char* port) { return ValidPort(port) && Command(std::string("plug ") + port); }

bool Available() { return Command("ping"); }

bool Drain() { return Command("drain"); }

}  // namespace nullmodem

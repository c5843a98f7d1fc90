#include "alpaca/DiscoveryResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

namespace {

constexpr const char kRequest[] = "alpacadiscovery1";
constexpr const char kMulticastGroup[] = "ff12::a1:9aca";

int OpenSocket(int family) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    // Every discovery responder on the machine binds the same port.
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    if (family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    return fd;
}

}  // namespace

bool DiscoveryResponder::IsRequest(const char* data, size_t size) {
    const size_t length = sizeof kRequest - 1;
    return size >= length && std::memcmp(data, kRequest, length) == 0;
}

std::string DiscoveryResponder::Reply(uint16_t alpacaPort) {
    return nlohmann::json{{"AlpacaPort", alpacaPort}}.dump();
}

bool DiscoveryResponder::Start(uint16_t port, bool loopbackOnly, uint16_t alpacaPort,
                               std::string& error) {
    m_alpacaPort = alpacaPort;
    const int v4 = OpenSocket(AF_INET);
    sockaddr_in address4 = {};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(port);
    address4.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    socklen_t length = sizeof address4;
    if (v4 < 0 || ::bind(v4, reinterpret_cast<sockaddr*>(&address4), sizeof address4) != 0 ||
        ::getsockname(v4, reinterpret_cast<sockaddr*>(&address4), &length) != 0) {
        error = std::string("discovery: cannot use UDP port ") + std::to_string(port) + ": " +
                std::strerror(errno);
        if (v4 >= 0) ::close(v4);
        return false;
    }
    m_sockets.push_back(v4);
    m_port = ntohs(address4.sin_port);

    const int v6 = OpenSocket(AF_INET6);
    sockaddr_in6 address6 = {};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(m_port);
    address6.sin6_addr = loopbackOnly ? in6addr_loopback : in6addr_any;
    if (v6 >= 0 && ::bind(v6, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0) {
        if (!loopbackOnly) {
            ipv6_mreq group = {};
            inet_pton(AF_INET6, kMulticastGroup, &group.ipv6mr_multiaddr);
            // Interface 0: the kernel's choice; a machine without IPv6
            // routes simply keeps IPv4 discovery.
            ::setsockopt(v6, IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof group);
        }
        m_sockets.push_back(v6);
    } else if (v6 >= 0) {
        ::close(v6);
    }

    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_stopFd < 0) {
        error = std::string("discovery: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void DiscoveryResponder::Stop() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        const ssize_t ignored = ::write(m_stopFd, &one, sizeof one);
        (void)ignored;
        m_thread.join();
    }
    for (int fd : m_sockets) ::close(fd);
    m_sockets.clear();
    if (m_stopFd >= 0) ::close(m_stopFd);
    m_stopFd = -1;
}

void DiscoveryResponder::Serve() {
    std::vector<pollfd> fds;
    fds.push_back({m_stopFd, POLLIN, 0});
    for (int fd : m_sockets) fds.push_back({fd, POLLIN, 0});
    const std::string reply = Reply(m_alpacaPort);
    for (;;) {
        // No time-out: the thread sleeps until a datagram or the stop comes.
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;
        for (size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            char data[kRequestCapacity];
            sockaddr_storage sender = {};
            socklen_t senderLength = sizeof sender;
            const ssize_t n = ::recvfrom(fds[i].fd, data, sizeof data, MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (n <= 0 || !IsRequest(data, static_cast<size_t>(n))) continue;
            // Only ever back to the one who asked.
            ::sendto(fds[i].fd, reply.data(), reply.size(), MSG_DONTWAIT,
                     reinterpret_cast<sockaddr*>(&sender), senderLength);
        }
    }
}

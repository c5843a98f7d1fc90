#pragma once
// Answers discovery datagrams with the HTTP port, so that clients on the
// network (or on this machine) find the server. The sockets share the port
// with other servers on the machine and need no root rights.
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class DiscoveryResponder {
public:
    // The standard reserves 64 bytes for a request; the first 16 name it.
    static constexpr size_t kRequestCapacity = 64;
    static bool IsRequest(const char* data, size_t size);
    // {"AlpacaPort":N}
    static std::string Reply(uint16_t alpacaPort);

    DiscoveryResponder() = default;
    ~DiscoveryResponder() { Stop(); }
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // loopbackOnly: 127.0.0.1 and ::1, for a server that listens on loopback;
    // otherwise every IPv4 address, and IPv6 with the link-local multicast
    // group joined. port 0 takes a free one (tests). False with the reason
    // when not even IPv4 can be had; IPv6 is best effort.
    bool Start(uint16_t port, bool loopbackOnly, uint16_t alpacaPort, std::string& error);
    uint16_t Port() const { return m_port; }
    void Stop();

private:
    void Serve();

    std::vector<int> m_sockets;
    int m_stopFd = -1;
    uint16_t m_port = 0;
    uint16_t m_alpacaPort = 0;
    std::thread m_thread;
};

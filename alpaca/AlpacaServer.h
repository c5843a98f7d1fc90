#pragma once
// The HTTP side: the device API, the management API and the setup pages on
// cpp-httplib, with the limits that keep a server left running for nights
// safe from slow, idle or too many clients.
#include <atomic>
#include <cstdint>
#include <string>

#include <httplib.h>

#include "alpaca/EventLog.h"
#include "alpaca/FocuserDevice.h"
#include "alpaca/SetupPages.h"

class AlpacaServer {
public:
    // Connections served at once; one more gets 503 from a spare thread.
    static constexpr size_t kConnectionCap = 32;
    static constexpr size_t kSpareThreads = 2;
    static constexpr size_t kBodyLimit = 8192;

    AlpacaServer(FocuserDevice& device, EventLog& log, std::string machineName);

    // Binds host:port (port 0: any free one) and starts listening. False
    // with the reason when it cannot.
    bool Bind(const std::string& host, int port, std::string& error);
    uint16_t Port() const { return m_port; }
    // Serves until Stop(); run it on a thread of its own.
    bool Serve() { return m_http.listen_after_bind(); }
    void Stop() { m_http.stop(); }

private:
    void Routes();
    void Api(const httplib::Request& request, httplib::Response& response);
    void Management(const httplib::Request& request, httplib::Response& response,
                    const nlohmann::json& value);
    void Setup(const httplib::Request& request, httplib::Response& response);
    bool FromThisServer(const httplib::Request& request, httplib::Response& response);
    uint32_t NextTransaction();

    // The library listens with a backlog of 5, so that a few clients
    // connecting at once would wait for SYN retries; this widens it.
    class Http : public httplib::Server {
    public:
        void WidenBacklog(int backlog);
    };

    FocuserDevice& m_device;
    EventLog& m_log;
    std::string m_machineName;
    SetupPages m_pages;
    Http m_http;
    uint16_t m_port = 0;
    std::atomic<uint32_t> m_transaction{0};
};

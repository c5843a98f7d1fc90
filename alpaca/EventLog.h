#pragma once
// What the server does, one line per event on standard error, so that a
// service manager's journal holds it; with tracing on, every serial exchange
// too, in the DLL's trace-log form.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "link/ExchangeObserver.h"

class EventLog : public ExchangeObserver {
public:
    explicit EventLog(std::string program, int fd = 2) : m_program(std::move(program)), m_fd(fd) {}

    // Thread-safe; each event goes out as one write, so lines never mix.
    void Write(const std::string& event);
    void SetTrace(bool on) { m_trace = on; }

    // The last exchange in the trace's form, for error lines. Called only
    // from the thread that owns the line, as are the two below.
    std::string LastExchange() const;

    void ExchangeStarting() override;
    void ExchangeEnded(const char* command, const char* reply, size_t replyLength,
                       const protocol::DecodedReply& decoded) override;

private:
    std::string m_program;
    int m_fd;
    std::atomic<bool> m_trace{false};
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_exchangeStart;
    std::string m_lastExchange;
};

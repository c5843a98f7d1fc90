#include "alpaca/EventLog.h"

#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "trace/TraceText.h"

namespace {

tracetext::Stamp Now() {
    timeval now = {};
    gettimeofday(&now, nullptr);
    tm local = {};
    localtime_r(&now.tv_sec, &local);
    return tracetext::Stamp{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace

void EventLog::Write(const std::string& event) {
    char line[tracetext::kLineCapacity];
    size_t length = tracetext::Line(Now(), m_program.c_str(), static_cast<unsigned long>(getpid()),
                                    event.c_str(), line, sizeof line);
    // The trace file's lines end in CRLF; a journal wants a bare newline.
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    if (length >= sizeof line) length = sizeof line - 1;
    line[length++] = '\n';
    std::lock_guard<std::mutex> lock(m_mutex);
    // Standard error is unbuffered and blocking; a failed write has nowhere
    // else to be reported.
    const ssize_t ignored = ::write(m_fd, line, length);
    (void)ignored;
}

void EventLog::ExchangeStarting() { m_exchangeStart = std::chrono::steady_clock::now(); }

void EventLog::ExchangeEnded(const char* command, const char* reply, size_t replyLength,
                             const protocol::DecodedReply& decoded) {
    const auto elapsed = std::chrono::steady_clock::now() - m_exchangeStart;
    // Rounded, as the DLL's trace rounds: the wire's 18.75 ms shows as 19.
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    char event[tracetext::kLineCapacity];
    tracetext::ExchangeEvent(command, reply, replyLength, static_cast<unsigned long>((us + 500) / 1000),
                             decoded, event, sizeof event);
    m_lastExchange = event;
    if (m_trace) Write(event);
}

std::string EventLog::LastExchange() const {
    return m_lastExchange.empty() ? std::string("no exchange yet") : "last " + m_lastExchange;
}

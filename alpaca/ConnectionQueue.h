#pragma once
// The HTTP server's connections, served by a fixed set of threads. One beyond
// the cap is not left waiting for a thread: a small spare set of threads
// answers it at once with 503 (the routes ask Refusing()), so an overloaded
// server says so instead of hanging or growing without end.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

class ConnectionQueue : public httplib::TaskQueue {
public:
    ConnectionQueue(size_t workers, size_t spares);
    ~ConnectionQueue() override;

    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

    // True on a spare thread: the connection it serves is one too many.
    static bool Refusing();

private:
    void Work(bool spare);

    size_t m_workers;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_normal;
    std::deque<std::function<void()>> m_overflow;
    size_t m_busy = 0;  // connections taken by, or queued for, the workers
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

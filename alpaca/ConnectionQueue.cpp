#include "alpaca/ConnectionQueue.h"

namespace {
thread_local bool t_spare = false;
}

ConnectionQueue::ConnectionQueue(size_t workers, size_t spares) : m_workers(workers) {
    for (size_t i = 0; i < workers + spares; ++i) {
        const bool spare = i >= workers;
        m_threads.emplace_back([this, spare] { Work(spare); });
    }
}

ConnectionQueue::~ConnectionQueue() { shutdown(); }

bool ConnectionQueue::Refusing() { return t_spare; }

void ConnectionQueue::enqueue(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy < m_workers) {
            ++m_busy;
            m_normal.push_back(std::move(fn));
        } else {
            m_overflow.push_back(std::move(fn));
        }
    }
    m_ready.notify_all();
}

void ConnectionQueue::shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping && m_threads.empty()) return;
        m_stopping = true;
    }
    m_ready.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) thread.join();
    }
    m_threads.clear();
}

void ConnectionQueue::Work(bool spare) {
    t_spare = spare;
    std::deque<std::function<void()>>& queue = spare ? m_overflow : m_normal;
    for (;;) {
        std::function<void()> fn;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [&] { return m_stopping || !queue.empty(); });
            // Queued connections are still served (each closes its socket).
            if (queue.empty()) return;
            fn = std::move(queue.front());
            queue.pop_front();
        }
        fn();
        if (!spare) {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_busy;
        }
    }
}

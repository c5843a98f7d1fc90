#include "alpaca/ReadScheduler.h"

uint64_t ReadScheduler::Request(ReadKind kind) {
    const int k = Index(kind);
    ++m_joined[k];
    if (!m_queued[k]) {
        m_queued[k] = true;
        m_order.push_back(k);
    }
    return m_started[k] + 1;
}

void ReadScheduler::RequestJob() { m_order.push_back(kJob); }

ReadScheduler::Turn ReadScheduler::Next(ReadKind& kind) {
    if (m_order.empty()) return Turn::None;
    const int k = m_order.front();
    m_order.pop_front();
    if (k == kJob) return Turn::Job;
    m_queued[k] = false;
    ++m_started[k];
    m_serving[k] = m_joined[k];
    m_joined[k] = 0;
    kind = static_cast<ReadKind>(k);
    return Turn::Read;
}

void ReadScheduler::Finished(ReadKind kind) {
    const int k = Index(kind);
    m_finished[k] = m_started[k];
    m_expected[k] = m_serving[k] + m_joined[k];
}

bool ReadScheduler::Gathering(ReadKind& kind) const {
    if (m_order.empty() || m_order.front() == kJob) return false;
    const int k = m_order.front();
    kind = static_cast<ReadKind>(k);
    return m_joined[k] < m_expected[k];
}

bool ReadScheduler::Answered(ReadKind kind, uint64_t ticket) const {
    return m_finished[Index(kind)] >= ticket;
}

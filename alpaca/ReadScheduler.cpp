#include "alpaca/ReadScheduler.h"

uint64_t ReadScheduler::Request(ReadKind kind) {
    const int k = Index(kind);
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
    kind = static_cast<ReadKind>(k);
    return Turn::Read;
}

void ReadScheduler::Finished(ReadKind kind) { m_finished[Index(kind)] = m_started[Index(kind)]; }

bool ReadScheduler::Answered(ReadKind kind, uint64_t ticket) const {
    return m_finished[Index(kind)] >= ticket;
}

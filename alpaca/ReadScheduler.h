#pragma once
// The order of work on the line and the sharing of status reads. A read that
// arrives while the line is busy is answered by the next exchange of its kind
// that starts after it arrived, shared with every other read of that kind
// waiting then; never by one that had already begun. Pure bookkeeping, so the
// rule is tested without a thread or a line.
#include <cstdint>
#include <deque>

enum class ReadKind { Position, Moving, Temperature };

class ReadScheduler {
public:
    static constexpr int kKinds = 3;

    // A read of kind arrives: the ticket names the exchange that will answer
    // it. Joins a read of that kind already waiting for its turn, if any.
    uint64_t Request(ReadKind kind);
    // Something other than a status read (a move, a connect) arrives; it
    // keeps its place among the reads.
    void RequestJob();

    enum class Turn { None, Read, Job };
    // The next piece of work, in order of arrival. A Read turn counts as the
    // start of that kind's exchange, so later requests get a later ticket.
    Turn Next(ReadKind& kind);
    // The exchange that last started for kind has ended.
    void Finished(ReadKind kind);
    bool Answered(ReadKind kind, uint64_t ticket) const;

    // True when the next turn is a read of kind that fewer requests wait
    // for than were about when its last exchange ended (those it answered,
    // and those already waiting for the next): the clients it answered are
    // most likely on their way back, and a moment's wait lets one exchange
    // serve them all again. Counting the ones already waiting keeps clients
    // from settling into two groups that take every other exchange.
    bool Gathering(ReadKind& kind) const;

private:
    static int Index(ReadKind kind) { return static_cast<int>(kind); }
    static constexpr int kJob = -1;

    std::deque<int> m_order;
    bool m_queued[kKinds] = {};
    uint64_t m_started[kKinds] = {};
    uint64_t m_finished[kKinds] = {};
    unsigned m_joined[kKinds] = {};      // waiting for the queued exchange
    unsigned m_serving[kKinds] = {};     // waiting for the one on the line
    unsigned m_expected[kKinds] = {};    // about when the last one ended
};

#include "alpaca/ReadScheduler.h"

#include <gtest/gtest.h>

namespace {

ReadScheduler::Turn Start(ReadScheduler& scheduler, ReadKind& kind) {
    return scheduler.Next(kind);
}

TEST(ReadScheduler, ARequestIsNeverAnsweredByAnExchangeThatBeganBeforeIt) {
    ReadScheduler scheduler;
    ReadKind kind;
    const uint64_t first = scheduler.Request(ReadKind::Position);
    ASSERT_EQ(Start(scheduler, kind), ReadScheduler::Turn::Read);
    EXPECT_EQ(kind, ReadKind::Position);
    // Arrives while that exchange is on the wire.
    const uint64_t late = scheduler.Request(ReadKind::Position);
    scheduler.Finished(ReadKind::Position);
    EXPECT_TRUE(scheduler.Answered(ReadKind::Position, first));
    EXPECT_FALSE(scheduler.Answered(ReadKind::Position, late));
    ASSERT_EQ(Start(scheduler, kind), ReadScheduler::Turn::Read);
    scheduler.Finished(ReadKind::Position);
    EXPECT_TRUE(scheduler.Answered(ReadKind::Position, late));
    EXPECT_EQ(Start(scheduler, kind), ReadScheduler::Turn::None);
}

TEST(ReadScheduler, WaitingRequestsOfAKindShareOneExchange) {
    ReadScheduler scheduler;
    ReadKind kind;
    uint64_t tickets[8];
    for (uint64_t& ticket : tickets) ticket = scheduler.Request(ReadKind::Moving);
    ASSERT_EQ(Start(scheduler, kind), ReadScheduler::Turn::Read);
    EXPECT_EQ(Start(scheduler, kind), ReadScheduler::Turn::None) << "one exchange for all eight";
    scheduler.Finished(ReadKind::Moving);
    for (uint64_t ticket : tickets) EXPECT_TRUE(scheduler.Answered(ReadKind::Moving, ticket));
}

TEST(ReadScheduler, ANextReadGathersTheClientsTheLastOneAnswered) {
    ReadScheduler scheduler;
    ReadKind kind;
    for (int i = 0; i < 3; ++i) scheduler.Request(ReadKind::Position);
    EXPECT_FALSE(scheduler.Gathering(kind)) << "nothing answered yet: no one to wait for";
    scheduler.Next(kind);
    scheduler.Finished(ReadKind::Position);
    const bool expected[] = {true, true, false};  // after one, two, three are back
    for (bool gathering : expected) {
        scheduler.Request(ReadKind::Position);
        EXPECT_EQ(scheduler.Gathering(kind), gathering);
    }
    scheduler.RequestJob();
    scheduler.Next(kind);
    EXPECT_FALSE(scheduler.Gathering(kind)) << "a job next: nothing to gather";
}

TEST(ReadScheduler, ClientsWaitingAlreadyCountAmongThoseToGather) {
    // Four clients on the line, four more waiting for the next exchange: the
    // next one waits for all eight, or they would take every other exchange.
    ReadScheduler scheduler;
    ReadKind kind;
    for (int i = 0; i < 4; ++i) scheduler.Request(ReadKind::Position);
    scheduler.Next(kind);
    for (int i = 0; i < 4; ++i) scheduler.Request(ReadKind::Position);
    scheduler.Finished(ReadKind::Position);
    for (int back = 0; back < 4; ++back) {
        EXPECT_TRUE(scheduler.Gathering(kind)) << back << " of the four answered are back";
        scheduler.Request(ReadKind::Position);
    }
    EXPECT_FALSE(scheduler.Gathering(kind)) << "all eight are in";
}

TEST(ReadScheduler, WorkIsTakenInOrderOfArrival) {
    ReadScheduler scheduler;
    scheduler.Request(ReadKind::Temperature);
    scheduler.RequestJob();
    scheduler.Request(ReadKind::Position);
    scheduler.Request(ReadKind::Temperature);  // joins the first
    const ReadScheduler::Turn expected[] = {ReadScheduler::Turn::Read, ReadScheduler::Turn::Job,
                                            ReadScheduler::Turn::Read, ReadScheduler::Turn::None};
    const ReadKind kinds[] = {ReadKind::Temperature, ReadKind::Temperature, ReadKind::Position,
                              ReadKind::Position};
    for (size_t i = 0; i < 4; ++i) {
        ReadKind kind = ReadKind::Moving;
        EXPECT_EQ(scheduler.Next(kind), expected[i]) << i;
        if (expected[i] == ReadScheduler::Turn::Read) {
            EXPECT_EQ(kind, kinds[i]) << i;
        }
    }
}

}  // namespace

// The controller operations over a scripted line: every exchange, and every
// way a reply can come too early, too late, short, garbled or unasked, happens
// the same way on every run.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "link/ControllerLink.h"
#include "devtools/ScriptedLine.h"

namespace {

using Commands = std::vector<std::string>;

TEST(ControllerLinkWithoutLine, EveryOperationFailsAndLeavesItsOutputsAlone) {
    ControllerLink link;
    int32_t position = -5;
    float temperature = -5.0f;
    ControllerStatus status;
    for (bool& flag : status.flags) flag = true;
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.SendCommand("FG0000000"));
    EXPECT_FALSE(link.ReadPosition(position));
    EXPECT_FALSE(link.ReadTemperature(temperature));
    EXPECT_FALSE(link.ReadStatus(status));
    EXPECT_FALSE(link.QueryMoving());
    EXPECT_FALSE(link.FindHome());
    EXPECT_FALSE(link.ZeroPosition());
    EXPECT_FALSE(link.ApplySpeed(1));
    EXPECT_FALSE(link.MoveTo(1500));
    EXPECT_EQ(position, -5);
    EXPECT_EQ(temperature, -5.0f);
    for (const bool flag : status.flags) EXPECT_TRUE(flag);
}

class ControllerLinkTest : public testing::Test {
protected:
    // Connects through a controller at position 100, then forgets the record.
    void Connect() {
        line.AnswerNext({"FD0000100"});
        ASSERT_TRUE(link.Connect(line.Open()));
        line.ClearRecord();
    }

    ScriptedLine line;
    ControllerLink link;
};

TEST_F(ControllerLinkTest, ConnectAsksForThePositionOnceAndKeepsTheLineOnlyWhenAnswered) {
    line.Answer("FG0000000", {"FD0001234"});
    ASSERT_TRUE(link.Connect(line.Open()));
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(line.Commands(), Commands{"FG0000000"});
    int32_t position = 0;
    line.Answer("FG0000000", {"FT0000000"});
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 1234) << "the handshake's position is kept";

    link.Disconnect();
    EXPECT_EQ(line.Closes(), 1u);
    line.Answer("FG0000000", {""});
    EXPECT_FALSE(link.Connect(line.Open())) << "a silent controller";
    EXPECT_FALSE(link.IsConnected());
    EXPECT_EQ(line.Closes(), 2u) << "the line is released at once";
}

TEST_F(ControllerLinkTest, EveryExchangePurgesWritesNineBytesAndReadsNine) {
    Connect();
    line.Answer("FU0000000", {"FU0000000"});
    EXPECT_FALSE(link.QueryMoving());
    EXPECT_EQ(line.Calls(), (Commands{"Purge", "Write 9", "Read 9"}));

    line.ClearRecord();
    link.SendCommand("FCS00001");
    EXPECT_EQ(line.Frames(), Commands{std::string("FCS00001\0", 9)}) << "padded with NULs";

    line.ClearRecord();
    EXPECT_FALSE(link.SendCommand("FA0100000#")) << "ten characters";
    EXPECT_TRUE(line.Calls().empty()) << "nothing purged, written or read";
}

// A move reported as failed must never start later, when a held line is
// released: whatever the failed exchange left queued is purged at its end.
TEST_F(ControllerLinkTest, AFailedExchangeEndsWithAPurgeSoNothingQueuedGoesOutLater) {
    struct Case {
        const char* what;
        bool held, buffered;
        std::string reply;
        Commands calls;
    };
    const Case cases[] = {
        {"a held line, the write short", true, false, "", {"Purge", "Write 9 held", "Purge"}},
        {"a held line, the write taken by the adapter", true, true, "",
         {"Purge", "Write 9 held", "Read 9", "Purge"}},
        {"a silent controller", false, false, "", {"Purge", "Write 9", "Read 9", "Purge"}},
        {"an answer", false, false, "FC0000000", {"Purge", "Write 9", "Read 9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Connect();
        line.Answer("FA001500#", {c.reply});
        line.SetHeld(c.held);
        line.SetBuffered(c.buffered);
        EXPECT_EQ(link.SendCommand("FA001500#"), !c.reply.empty());
        EXPECT_EQ(line.Calls(), c.calls);
        line.SetHeld(false);
        EXPECT_EQ(line.Commands().size(), c.held ? 0u : 1u) << "the move went out late";
        link.Disconnect();
    }
}

TEST_F(ControllerLinkTest, StaleInputIsPurgedBeforeACommand) {
    Connect();
    line.Answer("FG0000000", {"FD0000042"});
    int32_t position = 0;
    line.Inject("FD0000777");
    ASSERT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 42);

    // Without the purge the noise would be taken for the answer.
    line.SetPurgeWorks(false);
    line.Inject("FD0000777");
    ASSERT_TRUE(link.ReadPosition(position)) << "a failed purge is not an error of its own";
    EXPECT_EQ(position, 777);
}

TEST_F(ControllerLinkTest, AReplyAfterTheReadWindowFailsItsExchangeAndIsPurgedFromTheNext) {
    Connect();
    line.AnswerNext({"FD0000055", true});
    int32_t position = 0;
    EXPECT_FALSE(link.ReadPosition(position));
    EXPECT_EQ(position, 0);
    line.Answer("FT0000000", {"FT012.00#"});
    float temperature = 0.0f;
    EXPECT_TRUE(link.ReadTemperature(temperature));
    EXPECT_EQ(temperature, 12.0f);
    line.Answer("FG0000000", {"FS0000000"});
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 100) << "the late position was never decoded";
}

TEST_F(ControllerLinkTest, BytesBeyondTheFrameWaitAndArePurged) {
    Connect();
    line.Answer("FG0000000", {"FD0000042FT099.00#"});
    line.Answer("FT0000000", {"FT012.00#"});
    int32_t position = 0;
    float temperature = 0.0f;
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_TRUE(link.ReadTemperature(temperature));
    EXPECT_EQ(position, 42);
    EXPECT_EQ(temperature, 12.0f);
}

TEST_F(ControllerLinkTest, ShortAndGarbledReplies) {
    Connect();
    line.Answer("FG0000000", {"FD12"});
    line.Answer("FU0000000", {"FU0011"});
    int32_t position = 0;
    EXPECT_TRUE(link.ReadPosition(position)) << "decoded from what arrived";
    EXPECT_EQ(position, 12);
    ControllerStatus status;
    for (bool& flag : status.flags) flag = true;
    EXPECT_TRUE(link.ReadStatus(status));
    EXPECT_EQ(std::vector<bool>(std::begin(status.flags), std::end(status.flags)),
              (std::vector<bool>{false, true, true, false, false}));

    line.Answer("FG0000000", {"xx"});
    position = -1;
    EXPECT_FALSE(link.ReadPosition(position));
    EXPECT_EQ(position, -1);
    line.Answer("FU0000000", {std::string("FU\0" "1111111", 9)});
    EXPECT_TRUE(link.ReadStatus(status));
    EXPECT_FALSE(status.Moving()) << "nothing after a NUL is read";
}

TEST_F(ControllerLinkTest, AReplyOfAnotherKindCountsAndWritesItsOwnState) {
    Connect();
    line.Answer("FG0000000", {"FT023.50#"});
    line.Answer("FT0000000", {"FD0000321"});
    int32_t position = 0;
    float temperature = 0.0f;
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 100) << "the older position is what there is";
    EXPECT_TRUE(link.ReadTemperature(temperature));
    EXPECT_EQ(temperature, 23.5f) << "written by the answer to the position query";
    line.Answer("FG0000000", {"FP0000000"});
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 321);
}

TEST_F(ControllerLinkTest, CompletionCodes) {
    Connect();
    line.Answer("FCR000000", {"FCR000001"});
    line.Answer("FCP000000", {"FC0000000"});
    EXPECT_FALSE(link.FindHome());
    EXPECT_TRUE(link.ZeroPosition());
    line.Answer("FCP000000", {"FC"});
    EXPECT_TRUE(link.ZeroPosition()) << "no digits read as code 0";
    EXPECT_EQ(line.Commands(), (Commands{"FCR000000", "FCP000000", "FCP000000"}));
}

TEST_F(ControllerLinkTest, MoveToChecksMotionAndTheCommandLength) {
    Connect();
    line.Answer("FU0000000", {"FU0000000"});
    line.Answer("FA099999#", {"FD0099999"});
    EXPECT_TRUE(link.MoveTo(99999));
    EXPECT_EQ(line.Commands(), (Commands{"FU0000000", "FA099999#"}));

    line.ClearRecord();
    EXPECT_FALSE(link.MoveTo(100000));
    EXPECT_FALSE(link.MoveTo(-10000));
    EXPECT_EQ(line.Commands(), (Commands{"FU0000000", "FU0000000"})) << "too long to send";

    line.ClearRecord();
    line.Answer("FU0000000", {"FU0010000"});
    EXPECT_FALSE(link.MoveTo(10));
    line.Answer("FU0000000", {""});
    EXPECT_FALSE(link.MoveTo(10)) << "a silent status query does not stop the move";
    EXPECT_EQ(line.Commands(), (Commands{"FU0000000", "FU0000000", "FA000010#"}));
}

TEST_F(ControllerLinkTest, ApplySpeedSendsTheCommandForTheSpeedItIsGiven) {
    Connect();
    for (int32_t speed : {0, 1, 2, 3, -1}) link.ApplySpeed(speed);
    EXPECT_EQ(line.Commands(),
              (Commands{"FCS000010", "FCS000020", "FCS000030", "FCS000020", "FCS000020"}));
}

TEST_F(ControllerLinkTest, ControllerStateSurvivesDisconnectAndReconnect) {
    Connect();
    line.Answer("FT0000000", {"FT-05.25#"});
    float temperature = 0.0f;
    ASSERT_TRUE(link.ReadTemperature(temperature));
    link.Disconnect();
    line.Answer("FG0000000", {"xx"});
    ASSERT_FALSE(link.Connect(line.Open()));
    line.Answer("FG0000000", {"FS0000000"});
    ASSERT_TRUE(link.Connect(line.Open())) << "any recognised reply links";

    line.Answer("FT0000000", {"FS0000000"});
    int32_t position = 0;
    temperature = 0.0f;
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_TRUE(link.ReadTemperature(temperature));
    EXPECT_EQ(position, 100);
    EXPECT_EQ(temperature, -5.25f);
}

// What the trace log is shown of each exchange: the command, exactly the bytes
// that arrived (a short reply is not padded, a silent one is empty) and the
// decoder's reading.
TEST_F(ControllerLinkTest, AnObserverSeesEachExchangeAsItHappened) {
    struct Seen : ExchangeObserver {
        void ExchangeStarting() override { ++started; }
        void ExchangeEnded(const char* command, const char* reply, size_t length,
                           const protocol::DecodedReply& decoded) override {
            exchanges.push_back(std::string(command) + "|" + std::string(reply, length) + "|" +
                                std::to_string(static_cast<int>(decoded.kind)));
        }
        int started = 0;
        Commands exchanges;
    } seen;
    Connect();
    link.SetObserver(&seen);
    line.AnswerNext({"FD12"});
    line.AnswerNext({""});
    line.AnswerNext({"FC1"});
    int32_t position = 0;
    link.ReadPosition(position);
    link.ReadPosition(position);
    link.FindHome();
    link.SetObserver(nullptr);
    link.ReadPosition(position);
    EXPECT_EQ(seen.started, 3);
    EXPECT_EQ(seen.exchanges, (Commands{"FG0000000|FD12|2", "FG0000000||0", "FCR000000|FC1|6"}));
}

}  // namespace

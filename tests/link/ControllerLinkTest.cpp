// The controller operations over the null-modem, with an emulated controller
// on the far end recording every frame the driver sends.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "link/ControllerLink.h"
#include "sim/ControllerEmulator.h"
#include "tests/support/SerialCallLog.h"
#include "tests/support/TestRegistry.h"

namespace {

using Commands = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

class TestLink : public ControllerLink {
public:
    ~TestLink() { Disconnect(); }
    using ControllerLink::m_position;
    using ControllerLink::m_status;
    using ControllerLink::m_temperature;
};

TEST(ControllerLinkWithoutPort, EveryOperationFailsWithoutTouchingAnything) {
    SerialCallLog log;
    TestLink link;
    int32_t position = -5;
    bool flags[5] = {true, true, true, true, true};
    EXPECT_FALSE(link.SendCommand("FG0000000"));
    EXPECT_FALSE(link.ReadPosition(position));
    EXPECT_EQ(position, -5) << "output untouched on failure";
    EXPECT_FALSE(link.ReadStatus(flags[0], flags[1], flags[2], flags[3], flags[4]));
    EXPECT_TRUE(flags[1]);
    EXPECT_FALSE(link.QueryMoving());
    EXPECT_FALSE(link.ReadTemperature());
    EXPECT_FALSE(link.FindHome());
    EXPECT_FALSE(link.ZeroPosition());
    EXPECT_FALSE(link.ApplySpeed());
    EXPECT_FALSE(link.MoveTo(1500));
    EXPECT_TRUE(log.Calls().empty());
}

class ControllerLinkTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        ASSERT_TRUE(emulator.Start("//./COM13")) << "null-modem far end not available";
    }
    void TearDown() override {
        link.Disconnect();
        emulator.Stop();
        testregistry::DeleteSettingsKey();
    }

    void Answer(std::map<std::string, std::string> replies) {
        emulator.SetResponder(ControllerEmulator::Fixed(std::move(replies)));
    }
    void ConnectAnswering(std::map<std::string, std::string> replies) {
        replies.emplace("FG0000000", "FD0000100");
        Answer(replies);
        ASSERT_EQ(link.Connect("//./COM3"), ControllerLink::ConnectResult::Connected);
        emulator.ClearFrames();
    }
    Commands Sent(size_t expected) {
        emulator.WaitForFrames(expected, 2000);
        return emulator.Commands();
    }

    ControllerEmulator emulator;
    TestLink link;
};

TEST_F(ControllerLinkTest, ConnectAsksForThePositionOnce) {
    Answer({{"FG0000000", "FD0001234"}});
    EXPECT_EQ(link.Connect("//./COM3"), ControllerLink::ConnectResult::Connected);
    EXPECT_TRUE(link.HasPort());
    EXPECT_EQ(link.m_position, 1234);
    EXPECT_EQ(Sent(1), Commands{"FG0000000"});
}

TEST_F(ControllerLinkTest, SilentControllerFailsTheConnectWithinTheReadBound) {
    SerialCallLog log;
    emulator.SetResponder(ControllerEmulator::Silent());
    const auto start = Clock::now();
    EXPECT_EQ(link.Connect("//./COM3"), ControllerLink::ConnectResult::NoResponse);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(ms, 1000.0) << "one query bounded by about 136 ms";
    EXPECT_FALSE(link.HasPort());
    EXPECT_EQ(log.CountOf("CloseHandle"), 1u) << "the port is released";
    EXPECT_EQ(Sent(1), Commands{"FG0000000"});
}

TEST_F(ControllerLinkTest, EveryExchangePurgesWritesNineBytesAndReadsNine) {
    ConnectAnswering({{"FU0000000", "FU0000000"}});
    SerialCallLog log;
    EXPECT_FALSE(link.QueryMoving());
    const std::vector<std::string> expected = {"PurgeComm", "WriteFile", "ReadFile"};
    EXPECT_EQ(log.Sequence(), expected);
    const auto calls = log.Calls();
    EXPECT_EQ(calls[1].count, 9u);
    EXPECT_EQ(calls[1].bytes, "FU0000000");
    EXPECT_EQ(calls[2].count, 9u);
}

TEST_F(ControllerLinkTest, CommandLengthLimits) {
    ConnectAnswering({});
    {
        SerialCallLog log;
        EXPECT_FALSE(link.SendCommand("FA0100000#"));  // ten characters
        EXPECT_TRUE(log.Calls().empty()) << "nothing purged, written or read";
    }
    link.SendCommand("FCS00001");
    ASSERT_TRUE(emulator.WaitForFrames(1, 2000));
    EXPECT_EQ(emulator.Frames()[0].bytes, std::string("FCS00001\0", 9));
}

TEST_F(ControllerLinkTest, StaleInputIsDiscardedBeforeACommand) {
    ConnectAnswering({{"FG0000000", "FD0000042"}});
    emulator.Inject("FD0000777");
    Sleep(100);  // let the noise reach the driver's side
    int32_t position = 0;
    ASSERT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 42);
}

TEST_F(ControllerLinkTest, AReplyOfAnotherKindStillCountsAndWritesItsOwnState) {
    ConnectAnswering({});
    ASSERT_EQ(link.m_position, 100);
    Answer({{"FG0000000", "FT023.50#"}});
    int32_t position = 0;
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 100) << "the older position is what there is";
    EXPECT_FLOAT_EQ(link.m_temperature, 23.5f);
}

TEST_F(ControllerLinkTest, ShortRepliesAreDecodedAfterTheReadWindow) {
    ConnectAnswering({{"FG0000000", "FD12"}, {"FU0000000", "FU0011"}});
    int32_t position = 0;
    EXPECT_TRUE(link.ReadPosition(position));
    EXPECT_EQ(position, 12);
    bool f[5] = {true, true, true, true, true};
    EXPECT_TRUE(link.ReadStatus(f[0], f[1], f[2], f[3], f[4]));
    EXPECT_FALSE(f[0]);
    EXPECT_TRUE(f[1]);
    EXPECT_TRUE(f[2]);
    EXPECT_FALSE(f[3]);
    EXPECT_FALSE(f[4]);
}

TEST_F(ControllerLinkTest, CompletionCodes) {
    ConnectAnswering({{"FCR000000", "FCR000001"}, {"FCP000000", "FC0000000"}});
    EXPECT_FALSE(link.FindHome());
    EXPECT_TRUE(link.ZeroPosition());
    Answer({{"FCP000000", "FC"}});
    EXPECT_TRUE(link.ZeroPosition()) << "no digits read as code 0";
    EXPECT_EQ(Sent(3), (Commands{"FCR000000", "FCP000000", "FCP000000"}));
}

TEST_F(ControllerLinkTest, MoveToChecksMotionAndTheCommandLength) {
    ConnectAnswering({{"FU0000000", "FU0000000"}, {"FA099999#", "FD0099999"}});
    EXPECT_TRUE(link.MoveTo(99999));
    EXPECT_EQ(Sent(2), (Commands{"FU0000000", "FA099999#"}));

    emulator.ClearFrames();
    EXPECT_FALSE(link.MoveTo(100000));
    EXPECT_EQ(Sent(1), Commands{"FU0000000"});

    emulator.ClearFrames();
    Answer({{"FU0000000", "FU0010000"}});
    EXPECT_FALSE(link.MoveTo(10));
    EXPECT_EQ(Sent(1), Commands{"FU0000000"});
}

TEST_F(ControllerLinkTest, SpeedCommandFollowsTheStoredSpeedOnEveryCall) {
    ConnectAnswering({});
    const std::pair<const char*, const char*> cases[] = {
        {"0", "FCS000010"}, {"1", "FCS000020"}, {"2", "FCS000030"}, {"7", "FCS000030"},
        {"-4", "FCS000010"}, {"x", "FCS000010"}};
    Commands expected;
    for (const auto& c : cases) {
        testregistry::SetSettingsText("Speed", c.first);
        link.ApplySpeed();
        expected.push_back(c.second);
    }
    // With the settings key unusable the speed is -1, sent as medium.
    testregistry::MakeSettingsKeyUnusable();
    link.ApplySpeed();
    testregistry::RestoreSettingsParent();
    expected.push_back("FCS000020");
    EXPECT_EQ(Sent(expected.size()), expected);
}

TEST_F(ControllerLinkTest, ControllerStateSurvivesDisconnectAndReconnect) {
    ConnectAnswering({{"FT0000000", "FT-05.25#"}, {"FU0000000", "FU0101111"}});
    ASSERT_TRUE(link.ReadTemperature());
    ASSERT_FALSE(link.QueryMoving());
    link.Disconnect();
    EXPECT_EQ(link.m_position, 100);
    EXPECT_FLOAT_EQ(link.m_temperature, -5.25f);
    EXPECT_TRUE(link.m_status[0]);
    EXPECT_FALSE(link.m_status[1]);
    EXPECT_TRUE(link.m_status[4]);
    Answer({{"FG0000000", "xx"}});
    EXPECT_EQ(link.Connect("//./COM3"), ControllerLink::ConnectResult::NoResponse);
    EXPECT_EQ(link.m_position, 100);
}

}  // namespace

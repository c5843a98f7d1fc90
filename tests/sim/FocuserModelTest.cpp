// The simulated controller's behaviour, on its own clock: motion at the rate
// of the speed command, the moving flag, homing, zeroing, completion codes and
// the temperature's drift.
#include <gtest/gtest.h>

#include <string>

#include "sim/FocuserModel.h"

namespace {

// The model's answer to a command text, NUL-padded to a frame as the driver
// sends it.
std::string Send(FocuserModel& model, const std::string& command, double atMs) {
    std::string frame = command;
    frame.resize(9, '\0');
    return model.Answer(frame, atMs);
}

// Flag 2 of a status reply: its fifth character.
bool MovingFlag(const std::string& status) { return status.size() >= 5 && status[4] == '1'; }

struct SpeedCase {
    const char* command;
    double stepsPerSecond;
};

class SpeedTest : public testing::TestWithParam<SpeedCase> {};

TEST_P(SpeedTest, AMoveRunsAtTheRateOfTheSpeedCommandWithTheMovingFlagSet) {
    const SpeedCase& speed = GetParam();
    FocuserModel model;
    model.SetPosition(1000);
    ASSERT_EQ(Send(model, speed.command, 0), "FC0000000");
    ASSERT_EQ(Send(model, "FA002000#", 0), "FC0000000");

    const double travelMs = 1000.0 / speed.stepsPerSecond * 1000.0;
    EXPECT_EQ(Send(model, "FG0000000", travelMs / 2), "FD0001500");
    EXPECT_TRUE(MovingFlag(Send(model, "FU0000000", travelMs / 2)));
    EXPECT_TRUE(model.IsMovingAt(travelMs - 1));
    EXPECT_EQ(Send(model, "FU0000000", travelMs + 1), "FU0000000") << "at rest, every flag clear";
    EXPECT_EQ(Send(model, "FG0000000", travelMs + 1000), "FD0002000") << "no overshoot";
}

INSTANTIATE_TEST_SUITE_P(Speeds, SpeedTest,
                         testing::Values(SpeedCase{"FCS000010", 200.0}, SpeedCase{"FCS000020", 1000.0},
                                         SpeedCase{"FCS000030", 4000.0}),
                         [](const testing::TestParamInfo<SpeedCase>& info) {
                             return std::string(info.param.command);
                         });

TEST(FocuserModelTest, MovesDownwardsAsWellAndAChangeOfSpeedAppliesMidMove) {
    FocuserModel model;  // medium until told otherwise
    model.SetPosition(3000);
    ASSERT_EQ(Send(model, "FA000000#", 0), "FC0000000");
    EXPECT_EQ(model.PositionAt(1000), 2000);
    ASSERT_EQ(Send(model, "FCS000030", 1000), "FC0000000");
    EXPECT_EQ(model.PositionAt(1250), 1000);
    EXPECT_TRUE(model.IsMovingAt(1499));
    EXPECT_FALSE(model.IsMovingAt(1501));
    EXPECT_EQ(model.PositionAt(1501), 0);
}

TEST(FocuserModelTest, MotionCommandsWhileMovingAreRefusedAsBusyAndChangeNothing) {
    FocuserModel model;
    model.SetPosition(0);
    ASSERT_EQ(Send(model, "FA001000#", 0), "FC0000000");
    EXPECT_EQ(Send(model, "FA000500#", 100), "FC0000002");
    EXPECT_EQ(Send(model, "FCP000000", 100), "FC0000002");
    EXPECT_EQ(Send(model, "FCR000000", 100), "FC0000002");
    EXPECT_EQ(Send(model, "FCS000020", 100), "FC0000000") << "a speed is taken while moving";
    EXPECT_EQ(model.PositionAt(1000), 1000) << "still bound for the first target";
    EXPECT_FALSE(model.IsMovingAt(1000));
}

TEST(FocuserModelTest, HomingRunsToZeroThenSettlesWhileStillReportedMoving) {
    FocuserModel model;
    model.SetPosition(2000);
    ASSERT_EQ(Send(model, "FCS000030", 0), "FC0000000");
    ASSERT_EQ(Send(model, "FCR000000", 0), "FC0000000");

    EXPECT_EQ(model.PositionAt(250), 1000);
    EXPECT_TRUE(model.IsHomingAt(250));
    // At the switch after 500 ms; the back-off and settling follow.
    EXPECT_EQ(Send(model, "FG0000000", 600), "FD0000000");
    EXPECT_TRUE(MovingFlag(Send(model, "FU0000000", 600)));
    EXPECT_EQ(Send(model, "FA000100#", 900), "FC0000002");
    EXPECT_TRUE(model.IsMovingAt(999));
    EXPECT_FALSE(model.IsMovingAt(500 + FocuserModel::kHomeSettleMs));
    EXPECT_FALSE(model.IsHomingAt(1000));
    EXPECT_EQ(Send(model, "FA000100#", 1000), "FC0000000") << "free to move again";
}

TEST(FocuserModelTest, HomingFromZeroStillTakesTheSettlingTime) {
    FocuserModel model;
    model.SetPosition(0);
    ASSERT_EQ(Send(model, "FCR000000", 100), "FC0000000");
    EXPECT_TRUE(MovingFlag(Send(model, "FU0000000", 100 + FocuserModel::kHomeSettleMs / 2)));
    EXPECT_FALSE(model.IsMovingAt(100 + FocuserModel::kHomeSettleMs));
    EXPECT_EQ(model.PositionAt(1000), 0);
}

TEST(FocuserModelTest, ZeroingAtRestRenumbersWithoutMotion) {
    FocuserModel model;
    model.SetPosition(4321);
    EXPECT_EQ(Send(model, "FCP000000", 10), "FC0000000");
    EXPECT_FALSE(model.IsMovingAt(10));
    EXPECT_EQ(Send(model, "FG0000000", 20), "FD0000000");
    EXPECT_EQ(Send(model, "FA099999#", 30), "FC0000000") << "the widest target a command carries";
    EXPECT_TRUE(model.IsMovingAt(40));
}

TEST(FocuserModelTest, UnknownAndMalformedCommandsAreRejectedWithoutEffect) {
    FocuserModel model;
    model.SetPosition(500);
    for (const char* command : {"FA0-0001#", "FA01234X#", "FA0123456", "FA00123#", "FX0000000",
                                "FCS000040", "FCS00001", "fg0000000", "FCR000001", ""}) {
        EXPECT_EQ(Send(model, command, 10), "FC0000001") << '"' << command << '"';
    }
    EXPECT_FALSE(model.IsMovingAt(20));
    EXPECT_EQ(model.PositionAt(20), 500);
    EXPECT_EQ(model.Rate(), FocuserModel::kMediumRate);
}

TEST(FocuserModelTest, TemperatureDriftsSlowlyDownAndIsAlwaysANineByteReply) {
    FocuserModel model;
    model.SetStartTemperature(12.5);
    EXPECT_EQ(Send(model, "FT0000000", 0), "FT012.50#");
    const double minute = 60000.0;
    const double afterMinute = model.TemperatureAt(minute);
    EXPECT_LT(afterMinute, 12.5);
    EXPECT_GT(afterMinute, 12.5 - 0.1) << "a drift, not a jump";
    EXPECT_LT(model.TemperatureAt(60 * minute), afterMinute);
    EXPECT_GT(model.TemperatureAt(24 * 60 * minute), 12.5 - 3.01) << "it levels off";

    model.SetStartTemperature(-5.25);
    EXPECT_EQ(Send(model, "FT0000000", 0), "FT-05.25#");
    model.SetStartTemperature(250.0);
    EXPECT_EQ(Send(model, "FT0000000", 0), "FT099.99#") << "no wider than the reply";
}

}  // namespace

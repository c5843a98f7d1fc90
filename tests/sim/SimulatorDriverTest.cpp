// The real driver object linked through the null-modem pair COM3-COM13 to
// the paced simulator: a healthy controller, and each of the simulator's
// faults as a client of the driver meets it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/ControllerLink.h"
#include "link/SerialPort.h"
#include "sim/FocuserSimulator.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/NullModemControl.h"
#include "tests/support/TestRegistry.h"

namespace {

using Kind = ControllerEmulator::TraceEntry::Kind;


#define EXPECT_FAILS_WITH(call, message)                       \
    do {                                                       \
        SetErrorInfo(0, nullptr);                              \
        EXPECT_EQ((call), DISP_E_EXCEPTION) << #call;          \
        EXPECT_EQ(TakeErrorInfo().description, message) << #call;          \
    } while (0)

class SimulatorDriverTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3, medium
    }
    void TearDown() override {
        if (focuser) focuser->Release();  // unlinks
        if (simulator) simulator->Stop();
        testregistry::DeleteSettingsKey();
    }

    void Start(const SimulatorSettings& settings = {}) {
        simulator = std::make_unique<FocuserSimulator>(settings);
        ASSERT_TRUE(simulator->Start("//./COM13")) << "no null-modem pair COM3-COM13";
        focuser = NewFocuser();
        ASSERT_NE(focuser, nullptr);
    }
    void StartLinked(const SimulatorSettings& settings = {}) {
        Start(settings);
        if (HasFatalFailure()) return;
        ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    }
    void SetFault(Fault fault) { simulator->Faults().SetFault({fault, DefaultFaultAmount(fault)}); }
    // The setup dialog's commands reach the controller only through the
    // driver's link; the test takes the port over with a link of its own, as
    // the unlinked driver leaves it.
    void ConnectOwnLink() {
        ASSERT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
        auto port = std::make_unique<SerialPort>();
        ASSERT_TRUE(port->Open("//./COM3", protocol::kBaudRate));
        ASSERT_TRUE(ownLink.Connect(std::move(port)));
    }

    bool Linked() {
        VARIANT_BOOL link = VARIANT_FALSE;
        focuser->get_Link(&link);
        return link == VARIANT_TRUE;
    }
    bool Moving() {
        VARIANT_BOOL moving = VARIANT_FALSE;
        EXPECT_EQ(focuser->get_IsMoving(&moving), S_OK);
        return moving == VARIANT_TRUE;
    }
    LONG Position() {
        LONG position = -1;
        EXPECT_EQ(focuser->get_Position(&position), S_OK);
        return position;
    }
    // Polls as an imaging program does until the focuser is at rest. A
    // status query that misses its read window on a starved machine reads
    // False too, so the wait ends only when the controller itself has
    // stopped; the driver must then say so.
    void WaitUntilAtRest() {
        const double deadline = NowMs() + 15000;
        while ((Moving() || simulator->IsMoving()) && NowMs() < deadline) Sleep(50);
        EXPECT_FALSE(simulator->IsMoving()) << "still moving after 15 s";
        EXPECT_FALSE(Moving());
    }
    size_t RepliesTraced(Kind kind) {
        size_t count = 0;
        for (const auto& entry : simulator->Line().Trace()) count += entry.kind == kind;
        return count;
    }

    std::unique_ptr<FocuserSimulator> simulator;
    ControllerLink ownLink;
    IFocuser* focuser = nullptr;
};

// --- A healthy controller --------------------------------------------------------------

TEST_F(SimulatorDriverTest, MovesAtTheStoredSpeedReportingMotionUntilItArrives) {
    testregistry::StoreSettings(2, 20000, "1.27", 2);  // fast
    SimulatorSettings settings;
    settings.startPosition = 1000;
    settings.startTemperature = 8.5;
    StartLinked(settings);
    EXPECT_EQ(simulator->Rate(), FocuserModel::kFastRate);
    EXPECT_EQ(Position(), 1000);
    float temperature = 0;
    EXPECT_EQ(focuser->get_Temperature(&temperature), S_OK);
    EXPECT_NEAR(temperature, 8.5, 0.02);

    const double moved = NowMs();
    ASSERT_EQ(focuser->Move(3000), S_OK);
    EXPECT_TRUE(Moving()) << "moving from the moment Move returns";
    EXPECT_FAILS_WITH(focuser->Move(5000), "Focuser already in motion");
    WaitUntilAtRest();
    // However few polls a slow machine manages, the motion itself takes its time.
    EXPECT_GE(NowMs() - moved, 450.0) << "2000 steps at 4000 a second take half a second";
    EXPECT_EQ(Position(), 3000);
    EXPECT_FAILS_WITH(focuser->Move(20001), "Value out of range");
    EXPECT_EQ(simulator->Position(), 3000);
}

TEST_F(SimulatorDriverTest, FindHomeTakesTimeAndEndsAtZeroAndZeroPositionRenumbers) {
    SimulatorSettings settings;
    settings.startPosition = 300;
    StartLinked(settings);

    ConnectOwnLink();
    const double started = NowMs();
    ASSERT_TRUE(ownLink.FindHome());
    ownLink.Disconnect();
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK) << "the controller answers while homing";
    EXPECT_TRUE(Moving());
    WaitUntilAtRest();
    EXPECT_GE(NowMs() - started, 300.0 + FocuserModel::kHomeSettleMs - 50.0)
        << "300 steps at medium speed, then the settling";
    EXPECT_EQ(Position(), 0);

    ASSERT_EQ(focuser->Move(700), S_OK);
    WaitUntilAtRest();
    EXPECT_EQ(Position(), 700);
    ConnectOwnLink();
    EXPECT_TRUE(ownLink.ZeroPosition());
    ownLink.Disconnect();
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_FALSE(Moving());
    EXPECT_EQ(Position(), 0);
}

// --- Faults -------------------------------------------------------------------------------

TEST_F(SimulatorDriverTest, ASilentControllerFailsTheLink) {
    SimulatorSettings settings;
    settings.fault = {Fault::Silent, 0};
    Start(settings);
    EXPECT_FAILS_WITH(focuser->put_Link(VARIANT_TRUE), "Focuser did not respond");
    EXPECT_FALSE(Linked());
    EXPECT_EQ(simulator->Line().Commands(), (std::vector<std::string>{"FG0000000"}));
}

TEST_F(SimulatorDriverTest, GarbledRepliesFailTheLinkAndEveryReadButLeaveALinkStanding) {
    SimulatorSettings settings;
    settings.fault = {Fault::Garbled, 0};
    Start(settings);
    EXPECT_FAILS_WITH(focuser->put_Link(VARIANT_TRUE), "Focuser did not respond");

    SetFault(Fault::None);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    SetFault(Fault::Garbled);
    LONG position = 0;
    float temperature = 0;
    EXPECT_FAILS_WITH(focuser->get_Position(&position), "Link fail");
    EXPECT_FAILS_WITH(focuser->get_Temperature(&temperature), "No response");
    EXPECT_FAILS_WITH(focuser->Move(10100), "Link fail");
    EXPECT_TRUE(Linked());
    EXPECT_TRUE(simulator->IsMoving()) << "the controller heard the move; only its answer was lost";
}

TEST_F(SimulatorDriverTest, ShortRepliesKeepTheDriverWaitingForTheWholeReadWindow) {
    StartLinked();
    SetFault(Fault::Short);
    LONG position = -1;
    const double started = NowMs();
    const HRESULT result = focuser->get_Position(&position);
    EXPECT_GE(NowMs() - started, 100.0) << "the driver waits for the missing bytes";
    // Four bytes of "FD0010000" still begin like a position: whatever the
    // driver makes of them, it is not the controller's position.
    if (result == S_OK) {
        EXPECT_NE(position, 10000);
    }
    ASSERT_TRUE(simulator->Line().WaitForTrace(1, 1000));
    const auto trace = simulator->Line().Trace();
    EXPECT_EQ(trace.back().bytes, "FD00");
    EXPECT_TRUE(Linked());
}

TEST_F(SimulatorDriverTest, RepliesSlowerThanTheReadWindowFailAndAreDiscardedLater) {
    StartLinked();
    SetFault(Fault::Slow);
    LONG position = 0;
    const double started = NowMs();
    EXPECT_FAILS_WITH(focuser->get_Position(&position), "Link fail");
    EXPECT_GE(NowMs() - started, 100.0);
    EXPECT_FALSE(Moving()) << "no status in time: not moving";
    EXPECT_TRUE(Linked());

    SetFault(Fault::None);
    // The late reply lands between exchanges.
    ASSERT_TRUE(simulator->Line().WaitUntilSent(DefaultFaultAmount(Fault::Slow) + 2000) && nullmodem::Drain());
    EXPECT_EQ(Position(), 10000);
    float temperature = 0;
    EXPECT_EQ(focuser->get_Temperature(&temperature), S_OK);
}

TEST_F(SimulatorDriverTest, ARefusingControllerLinksButEveryMoveFails) {
    SimulatorSettings settings;
    settings.fault = {Fault::Refusing, 5};
    Start(settings);
    EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK) << "a refused speed does not undo the link";
    EXPECT_FAILS_WITH(focuser->Move(10500), "Link fail");
    EXPECT_FALSE(simulator->IsMoving());
    EXPECT_EQ(Position(), 10000);
    ConnectOwnLink();
    EXPECT_FALSE(ownLink.ZeroPosition());
    ownLink.Disconnect();
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Position(), 10000);
}

TEST_F(SimulatorDriverTest, AControllerThatStopsAnsweringLeavesTheLinkUpButEveryCallFails) {
    SimulatorSettings settings;
    settings.fault = {Fault::StopAfter, 4};  // the connect takes two
    StartLinked(settings);
    EXPECT_EQ(Position(), 10000);
    EXPECT_FALSE(Moving());
    LONG position = 0;
    EXPECT_FAILS_WITH(focuser->get_Position(&position), "Link fail");
    EXPECT_FALSE(Moving());
    EXPECT_FAILS_WITH(focuser->Move(10100), "Link fail");
    EXPECT_TRUE(Linked()) << "the driver does not notice by itself";

    ASSERT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_FAILS_WITH(focuser->put_Link(VARIANT_TRUE), "Focuser did not respond");
}

TEST_F(SimulatorDriverTest, AControllerMutedOnDemandIsReachedAgainWithoutRelinking) {
    StartLinked();
    simulator->Faults().StopAnswering();
    LONG position = 0;
    EXPECT_FAILS_WITH(focuser->get_Position(&position), "Link fail");
    EXPECT_TRUE(Linked());
    simulator->Faults().ResumeAnswering();
    EXPECT_EQ(Position(), 10000);
}

TEST_F(SimulatorDriverTest, BytesArrivingUnaskedBetweenExchangesAreDiscarded) {
    SimulatorSettings settings;
    settings.fault = {Fault::Chatter, 5};
    StartLinked(settings);
    for (size_t i = 0; i < 5; ++i) {
        // Every command so far (two to connect, one a read) answered and
        // followed by its chatter, and all of it across the line: in, out, unasked.
        ASSERT_TRUE(simulator->Line().WaitForTrace(3 * (2 + i), 1000) && nullmodem::Drain());
        EXPECT_EQ(Position(), 10000) << "read " << i;
    }
    EXPECT_GE(RepliesTraced(Kind::Unasked), 5u);
}

}  // namespace

// The controller's faults, played by the simulator: every member answers
// within its bound with the driver's error, and works again when the fault
// ends.
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "tests/alpaca/ServerRig.h"

namespace {

using Clock = std::chrono::steady_clock;

// One exchange is at most a 100 ms write and a 136 ms read; a move makes
// two. Generous slack for a loaded machine.
constexpr long kBoundMs = 1500;

struct Fault {
    const char* name;
    const char* start;  // typed to the simulator
    const char* end;
    bool reconnect;     // the line is gone: clients connect again to recover
};

class AlpacaFault : public ::testing::TestWithParam<Fault> {};

int Timed(const std::function<nlohmann::json()>& call, long& ms) {
    const auto start = Clock::now();
    const nlohmann::json body = call();
    ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    return body.is_object() ? body.value("ErrorNumber", -1) : -2;
}

TEST_P(AlpacaFault, MembersFailInTimeAndRecover) {
    const Fault& fault = GetParam();
    ServerRig rig;
    ASSERT_TRUE(rig.Start({"--position=500"}));
    ASSERT_TRUE(rig.Connect(1));
    ASSERT_EQ(rig.Get("position")["Value"], 500);

    rig.sim.Send(fault.start);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    struct Member {
        std::function<nlohmann::json()> call;
        int error;
    } members[] = {
        {[&] { return rig.Get("position"); }, 0x502},
        {[&] { return rig.Get("ismoving"); }, 0x502},
        {[&] { return rig.Get("temperature"); }, 0x503},
        {[&] { return rig.Put("move", "Position=700"); }, 0x502},
        {[&] { return rig.Get("maxstep"); }, 0},
    };
    for (const Member& member : members) {
        long ms = 0;
        EXPECT_EQ(Timed(member.call, ms), member.error) << fault.name;
        EXPECT_LT(ms, kBoundMs) << fault.name;
    }
    const nlohmann::json state = rig.Get("devicestate");
    EXPECT_EQ(state["ErrorNumber"], 0) << "never an error, values left out";
    EXPECT_TRUE(state["Value"].empty()) << state.dump();

    rig.sim.Send(fault.end);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (fault.reconnect) {
        EXPECT_EQ(rig.Put("disconnect", "ClientID=1")["ErrorNumber"], 0);
        EXPECT_TRUE(rig.Connect(1));
    }
    EXPECT_EQ(rig.Get("position")["Value"], 500) << fault.name;
    EXPECT_EQ(rig.Put("move", "Position=600")["ErrorNumber"], 0) << fault.name;
}

INSTANTIATE_TEST_SUITE_P(Faults, AlpacaFault,
                         ::testing::Values(Fault{"silent", "mute", "answer", false},
                                           Fault{"held", "hold", "release", false},
                                           Fault{"vanished", "vanish", "appear", true}),
                         [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

TEST(AlpacaFaults, GarbledRepliesRefuseTheConnection) {
    ServerRig rig;
    ASSERT_TRUE(rig.Start({"--fault=garbled"}));
    const nlohmann::json body = rig.Put("connect", "ClientID=1");
    EXPECT_EQ(body["ErrorNumber"], 0x501);
    EXPECT_EQ(body["ErrorMessage"], "Focuser did not respond");
    EXPECT_EQ(rig.Get("connected")["Value"], false);
}

}  // namespace

// Every way a controller or its line lets the driver down, against every member
// that talks to the controller: each call must give the member's documented
// result and message, return within a bound set by its exchanges, leave Link
// as it should be, work again once the fault is gone, and leave no port open
// after Link = False. The outcome table is printed when the program ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "com/ComObject.h"
#include "driver/CFocuser.h"
#include "sim/ControllerEmulator.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/NullModemControl.h"
#include "tests/support/ProcessCounts.h"
#include "tests/support/TestRegistry.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reading gives up after 136 ms; a write at 9600 baud takes under 10 ms. A
// second per exchange is far beyond both, yet far short of a hang.
constexpr double kBoundPerExchangeMs = 1000.0;

struct Cell {
    std::string fault;
    std::string member;
    std::string outcome;
    double ms;
};
std::vector<Cell> g_table;

class PrintTable : public testing::Environment {
public:
    void TearDown() override {
        if (g_table.empty()) return;
        std::printf("\n| fault | member | outcome | ms |\n|---|---|---|---:|\n");
        for (const Cell& cell : g_table) {
            std::printf("| %s | %s | %s | %.0f |\n", cell.fault.c_str(), cell.member.c_str(),
                        cell.outcome.c_str(), cell.ms);
        }
        std::fflush(stdout);
    }
};
const bool g_registered = (testing::AddGlobalTestEnvironment(new PrintTable), true);


// Open serial-port handles in this process: the emulator's own, and the
// driver's while it is linked. (The count of all handles is no measure of the
// driver here: Wine 8's ProgIDFromCLSID, which every failing member calls for
// its error source, leaves a handle open per call.)
DWORD SerialHandles() { return processcounts::SerialHandles(); }


bool Linked(IFocuser* focuser) {
    VARIANT_BOOL link = VARIANT_FALSE;
    focuser->get_Link(&link);
    return link == VARIANT_TRUE;
}

// A controller at rest at 1234, 21.5 degrees, acknowledging speed and moves.
std::map<std::string, std::string> Healthy() {
    return {{"FG0000000", "FD0001234"}, {"FU0000000", "FU0000000"}, {"FT0000000", "FT021.50#"},
            {"FCS000020", "FC0000000"}, {"FA000500#", "FC0000000"}};
}

enum class Member { Link, Position, Temperature, IsMoving, Move };
const char* Name(Member member) {
    switch (member) {
        case Member::Link: return "Link=True";
        case Member::Position: return "Position";
        case Member::Temperature: return "Temperature";
        case Member::IsMoving: return "IsMoving";
        case Member::Move: return "Move(500)";
    }
    return "?";
}
// The most exchanges the member makes: Link reads the position then sets the
// speed; Move asks for the status twice, then sends the target.
int Exchanges(Member member) {
    switch (member) {
        case Member::Link: return 2;
        case Member::Move: return 3;
        default: return 1;
    }
}

// What a call gave: "OK <value>" or "fail: <message>".
struct Result {
    HRESULT hr = E_UNEXPECTED;
    std::string text;
};

Result Call(IFocuser* focuser, Member member) {
    SetErrorInfo(0, nullptr);
    Result result;
    char value[64] = "";
    switch (member) {
        case Member::Link:
            result.hr = focuser->put_Link(VARIANT_TRUE);
            break;
        case Member::Position: {
            LONG position = -1;
            result.hr = focuser->get_Position(&position);
            std::snprintf(value, sizeof value, " %ld", static_cast<long>(position));
            break;
        }
        case Member::Temperature: {
            float temperature = -99.0f;
            result.hr = focuser->get_Temperature(&temperature);
            std::snprintf(value, sizeof value, " %.2f", temperature);
            break;
        }
        case Member::IsMoving: {
            VARIANT_BOOL moving = 12345;
            result.hr = focuser->get_IsMoving(&moving);
            std::snprintf(value, sizeof value, " %s",
                          moving == VARIANT_TRUE ? "True" : moving == VARIANT_FALSE ? "False" : "?");
            break;
        }
        case Member::Move:
            result.hr = focuser->Move(500);
            break;
    }
    if (result.hr == S_OK) {
        result.text = std::string("OK") + value;
    } else if (result.hr == DISP_E_EXCEPTION) {
        result.text = "fail: " + TakeErrorInfo().description;
    } else {
        char code[32];
        std::snprintf(code, sizeof code, "hr 0x%08lx", static_cast<unsigned long>(result.hr));
        result.text = code;
    }
    return result;
}

// What every member gives when its exchanges bring back nothing usable.
std::string NoAnswer(Member member) {
    switch (member) {
        case Member::Link: return "fail: Focuser did not respond";
        case Member::Position: return "fail: Link fail";
        case Member::Temperature: return "fail: No response";
        case Member::IsMoving: return "OK False";
        case Member::Move: return "fail: Link fail";
    }
    return "?";
}
// What every member gives from a healthy controller.
std::string Answer(Member member) {
    switch (member) {
        case Member::Link: return "OK";
        case Member::Position: return "OK 1234";
        case Member::Temperature: return "OK 21.50";
        case Member::IsMoving: return "OK False";
        case Member::Move: return "OK";
    }
    return "?";
}

struct Fault {
    const char* name;
    // Puts the fault in place (the object is linked unless the member is Link).
    std::function<void(ControllerEmulator&)> apply;
    // Takes it away again.
    std::function<void(ControllerEmulator&)> clear;
    std::function<std::string(Member)> expected;
    // Whether Link should read True after the call.
    std::function<bool(Member)> linkedAfter;
};

ControllerEmulator::Responder Garbage(std::string reply, unsigned delayMs = 0) {
    return [reply, delayMs](const std::string&, double) {
        return ControllerEmulator::Response(reply, delayMs);
    };
}

void Restore(ControllerEmulator& emulator) { emulator.SetResponder(ControllerEmulator::Fixed(Healthy())); }

// XON/XOFF output flow control on the driver's port, set through a handle of
// our own (Wine lets a second one open), as another program or the device's
// settings may have left it: the driver keeps it.
bool SetOutputFlowControl(bool on) {
    HANDLE port = CreateFileA("//./COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    bool done = GetCommState(port, &dcb) != FALSE;
    dcb.fOutX = on;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    done = done && SetCommState(port, &dcb);
    CloseHandle(port);
    return done;
}

bool LinkedUnlessFailedConnect(Member member) { return member != Member::Link; }

std::vector<Fault> Faults() {
    std::vector<Fault> faults;
    faults.push_back({"silent", [](ControllerEmulator& e) { e.SetResponder(ControllerEmulator::Silent()); },
                      Restore, NoAnswer, LinkedUnlessFailedConnect});
    faults.push_back({"garbled", [](ControllerEmulator& e) { e.SetResponder(Garbage("#?x!~0Z%q")); },
                      Restore, NoAnswer, LinkedUnlessFailedConnect});
    // The first four bytes of each healthy reply, then nothing: the read runs
    // out its window and what came is decoded like a full reply.
    faults.push_back({"short reply",
                      [](ControllerEmulator& e) {
                          auto replies = Healthy();
                          for (auto& entry : replies) entry.second.resize(4);
                          e.SetResponder(ControllerEmulator::Fixed(replies, "FC00"));
                      },
                      Restore,
                      [](Member m) {
                          switch (m) {
                              case Member::Position: return std::string("OK 0");    // "FD00"
                              case Member::Temperature: return std::string("OK 2.00");  // "FT02"
                              default: return Answer(m);
                          }
                      },
                      [](Member) { return true; }});
    // Good replies, 340 ms late: past the read window, so a one-exchange member
    // fails. Move's two status queries each run out their 136 ms; the first
    // one's late reply then lands in the middle of the move command's window
    // (272 to 408 ms), and since any recognised reply counts, Move succeeds.
    // (Any delay between one and two windows would put a reply on the edge
    // of the next window, and the outcome would be a matter of chance.)
    faults.push_back({"reply after the read window",
                      [](ControllerEmulator& e) {
                          auto healthy = ControllerEmulator::Fixed(Healthy());
                          e.SetResponder([healthy](const std::string& frame, double now) {
                              ControllerEmulator::Response response = healthy(frame, now);
                              response.delayMs = 340;
                              return response;
                          });
                      },
                      [](ControllerEmulator& e) {
                          // The late replies are in before the next cell.
                          EXPECT_TRUE(e.WaitUntilSent(2000) && nullmodem::Drain());
                          Restore(e);
                      },
                      [](Member m) { return m == Member::Move ? Answer(m) : NoAnswer(m); },
                      LinkedUnlessFailedConnect});
    // Reads answer; the speed and the move are refused with code 5.
    faults.push_back({"completion code 5",
                      [](ControllerEmulator& e) {
                          auto replies = Healthy();
                          replies["FCS000020"] = "FC0000005";
                          replies["FA000500#"] = "FC0000005";
                          e.SetResponder(ControllerEmulator::Fixed(replies));
                      },
                      Restore,
                      [](Member m) { return m == Member::Move ? NoAnswer(m) : Answer(m); },
                      [](Member) { return true; }});
    // The controller goes away altogether (its end of the line closed). For
    // Link it answers the position and is gone before the speed.
    faults.push_back({"controller stops",
                      [](ControllerEmulator& e) {
                          e.Stop();
                      },
                      [](ControllerEmulator& e) {
                          Restore(e);
                          e.Start("//./COM13");
                      },
                      NoAnswer, LinkedUnlessFailedConnect});
    // Noise in the receive buffer before each command: the driver must not
    // take it for the reply.
    faults.push_back({"bytes before the command",
                      [](ControllerEmulator& e) {
                          Restore(e);
                          e.Inject("FD0009999");
                          e.Inject("FT099.00#");
                          // On the driver's side before the call.
                          EXPECT_TRUE(e.WaitUntilSent(1000) && nullmodem::Drain());
                      },
                      Restore, Answer, [](Member) { return true; }});
    // One XOFF from the controller's side stops the driver's writes: each
    // gives up after its time-out, and what it left queued must never reach
    // the controller once XON releases the line.
    faults.push_back({"held line",
                      [](ControllerEmulator& e) {
                          Restore(e);
                          EXPECT_TRUE(SetOutputFlowControl(true));
                          e.Inject("\x13");
                          EXPECT_TRUE(e.WaitUntilSent(1000) && nullmodem::Drain());
                          e.ClearFrames();
                      },
                      [](ControllerEmulator& e) {
                          e.Inject("\x11");
                          EXPECT_TRUE(e.WaitUntilSent(1000) && nullmodem::Drain() && nullmodem::Drain());
                          EXPECT_FALSE(e.WaitForFrames(1, 250)) << "a failed command went out later";
                          EXPECT_TRUE(SetOutputFlowControl(false));
                      },
                      NoAnswer, LinkedUnlessFailedConnect});
    faults.push_back({"port vanishes",
                      [](ControllerEmulator&) { EXPECT_TRUE(nullmodem::Unplug("com3")); },
                      [](ControllerEmulator&) { EXPECT_TRUE(nullmodem::Plug("com3")); },
                      [](Member m) {
                          return m == Member::Link ? std::string("fail: Could not open port //./COM3")
                                                   : NoAnswer(m);
                      },
                      LinkedUnlessFailedConnect});
    return faults;
}

class FaultMatrix : public testing::TestWithParam<Member> {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3, medium speed
        ASSERT_TRUE(emulator.Start("//./COM13")) << "null-modem far end not available";
        Restore(emulator);
    }
    void TearDown() override {
        emulator.Stop();
        testregistry::DeleteSettingsKey();
    }

    ControllerEmulator emulator;
};

TEST_P(FaultMatrix, EveryFaultFailsWithinItsBoundAndIsSurvived) {
    const Member member = GetParam();
    if (!nullmodem::Available()) GTEST_SKIP() << "no null-modem control";

    for (const Fault& fault : Faults()) {
        SCOPED_TRACE(fault.name);
        const DWORD handlesBefore = SerialHandles();
        IFocuser* focuser = NewFocuser();
        ASSERT_NE(focuser, nullptr);
        if (member != Member::Link) {
            ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
        }

        // For Link, "controller stops" means it goes silent after the first
        // answer: the unacknowledged speed does not undo the link.
        const bool stopsMidConnect = member == Member::Link && std::string(fault.name) == "controller stops";
        if (stopsMidConnect) {
            auto replies = Healthy();
            replies.erase("FCS000020");
            emulator.SetResponder(ControllerEmulator::Fixed(replies));
        } else {
            fault.apply(emulator);
        }

        const auto start = Clock::now();
        const Result result = Call(focuser, member);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        g_table.push_back({fault.name, Name(member), result.text, ms});

        const std::string expected = stopsMidConnect ? Answer(member) : fault.expected(member);
        const bool linkedAfter = stopsMidConnect || fault.linkedAfter(member);
        EXPECT_EQ(result.text, expected);
        EXPECT_LT(ms, kBoundPerExchangeMs * Exchanges(member) * TimeoutScale());
        EXPECT_EQ(Linked(focuser), linkedAfter);

        // The fault goes away: the object works again. A port that vanished
        // leaves the object linked on a dead handle until Link = False.
        if (stopsMidConnect) {
            Restore(emulator);
        } else {
            fault.clear(emulator);
        }
        if (std::string(fault.name) == "port vanishes" && Linked(focuser)) {
            EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
        }
        if (!Linked(focuser)) {
            EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
        }
        const Result healthy = Call(focuser, member == Member::Link ? Member::Position : member);
        EXPECT_EQ(healthy.text, Answer(member == Member::Link ? Member::Position : member));

        EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
        EXPECT_FALSE(Linked(focuser));
        EXPECT_EQ(focuser->Release(), 0u);
        EXPECT_EQ(SerialHandles(), handlesBefore) << "a port left open";
    }
}

INSTANTIATE_TEST_SUITE_P(Members, FaultMatrix,
                         testing::Values(Member::Link, Member::Position, Member::Temperature,
                                         Member::IsMoving, Member::Move),
                         [](const testing::TestParamInfo<Member>& info) {
                             switch (info.param) {
                                 case Member::Link: return std::string("Link");
                                 case Member::Position: return std::string("Position");
                                 case Member::Temperature: return std::string("Temperature");
                                 case Member::IsMoving: return std::string("IsMoving");
                                 case Member::Move: return std::string("Move");
                             }
                             return std::string("Unknown");
                         });

}  // namespace

namespace {

// Many failed connects in a row against a silent controller: each opens the
// port and must close it again.
TEST(FaultMatrixHandles, RepeatedFailedConnectsLeaveNoPortOpen) {
    testregistry::DeleteSettingsKey();
    testregistry::StoreSettings(2, 20000, "1.27", 1);
    ControllerEmulator emulator;
    ASSERT_TRUE(emulator.Start("//./COM13"));
    emulator.SetResponder(ControllerEmulator::Silent());
    IFocuser* focuser = NewFocuser();
    ASSERT_NE(focuser, nullptr);
    const DWORD before = SerialHandles();
    ASSERT_GE(before, 1u) << "the emulator's own port is not counted";
    emulator.SetResponder(ControllerEmulator::Fixed(Healthy()));
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_EQ(SerialHandles(), before + 1) << "the driver's port is not counted";
    ASSERT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_EQ(SerialHandles(), before);

    emulator.SetResponder(ControllerEmulator::Silent());
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), DISP_E_EXCEPTION);
        EXPECT_FALSE(Linked(focuser));
    }
    EXPECT_EQ(SerialHandles(), before);
    focuser->Release();
    emulator.Stop();
    testregistry::DeleteSettingsKey();
}

}  // namespace

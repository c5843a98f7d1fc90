// The driver object created directly (no DLL, no registration), linked through
// the null-modem to an emulated controller. What the driver sent is read from
// its own serial calls, so nothing has to wait for bytes still on the wire.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "com/ComObject.h"
#include "driver/CFocuser.h"
#include "link/SerialPort.h"
#include "sim/ControllerEmulator.h"
#include "sim/FocuserModel.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/NullModemControl.h"
#include "tests/support/SerialCallLog.h"
#include "tests/support/TestRegistry.h"

// Lets a test make the driver's next SerialPort allocation fail.
namespace {
volatile bool g_failPortAllocation = false;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failPortAllocation && size == sizeof(SerialPort)) {
        g_failPortAllocation = false;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

void operator delete(void* pointer, const std::nothrow_t&) noexcept { std::free(pointer); }

namespace {

using Commands = std::vector<std::string>;
using Clock = std::chrono::steady_clock;


// Asserts a member failed with the driver's report and the given message.
#define EXPECT_FAILS_WITH(call, message)                                  \
    do {                                                                  \
        SetErrorInfo(0, nullptr);                                         \
        EXPECT_EQ((call), DISP_E_EXCEPTION) << #call;                     \
        const ReportedError reported_ = TakeErrorInfo();                       \
        EXPECT_TRUE(reported_.present) << #call;                          \
        EXPECT_EQ(reported_.description, message) << #call;               \
        EXPECT_TRUE(IsEqualGUID(reported_.guid, IID_IFocuser)) << #call;  \
    } while (0)

VARIANT_BOOL LinkOf(IFocuser* focuser) {
    VARIANT_BOOL link = 12345;
    focuser->get_Link(&link);
    return link;
}

class FocuserTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::DeleteSettingsKey();
        testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3, medium
        ASSERT_TRUE(emulator.Start("//./COM13")) << "null-modem far end not available";
        focuser = NewFocuser();
        ASSERT_NE(focuser, nullptr);
        log.Clear();  // the emulator's own opening
    }
    void TearDown() override {
        if (focuser != nullptr) focuser->Release();
        emulator.Stop();
        testregistry::DeleteSettingsKey();
    }

    void Answer(std::map<std::string, std::string> replies) {
        emulator.SetResponder(ControllerEmulator::Fixed(std::move(replies)));
    }
    // Links with a controller that answers the handshake, the speed and the
    // given commands, then forgets the frames of the connect.
    void Link(std::map<std::string, std::string> replies = {}) {
        replies.emplace("FG0000000", "FD0000100");
        replies.emplace("FCS000020", "FC0000000");
        Answer(replies);
        ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
        log.Clear();
    }
    // The command texts the driver wrote since the log was last cleared.
    Commands Sent() const {
        Commands commands;
        for (const SerialCallLog::Call& call : log.Calls()) {
            if (call.function == "WriteFile") commands.emplace_back(call.bytes.c_str());
        }
        return commands;
    }

    // Watches this thread, the driver's, from before the object exists.
    SerialCallLog log;
    ControllerEmulator emulator;
    IFocuser* focuser = nullptr;
};

TEST_F(FocuserTest, NewObjectIsUnlinkedAndSendsNothing) {
    VARIANT_BOOL value = 0;
    EXPECT_EQ(focuser->get_Link(&value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);
    EXPECT_EQ(focuser->get_Absolute(&value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(focuser->get_TempCompAvailable(&value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);
    EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_EQ(focuser->put_Link(1), S_OK) << "1 is not the automation True";
    EXPECT_EQ(LinkOf(focuser), VARIANT_FALSE);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(FocuserTest, InterfacesAndModuleLock) {
    const LONG before = ServerModule::Instance().GetLockCount();
    IFocuser* second = NewFocuser();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ServerModule::Instance().GetLockCount(), before + 1);

    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    ISupportErrorInfo* support = nullptr;
    IPersist* persist = reinterpret_cast<IPersist*>(1);
    ASSERT_EQ(second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(second->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    ASSERT_EQ(second->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(second->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), E_NOINTERFACE);
    EXPECT_EQ(persist, nullptr);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(second)) << "IUnknown is the IFocuser face";
    EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(second));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IFocuser), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    unknown->Release();
    dispatch->Release();
    support->Release();
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(ServerModule::Instance().GetLockCount(), before);
}

TEST_F(FocuserTest, PropertyReadsWithoutAnOutputPointerTouchNothing) {
    Link();
    EXPECT_EQ(focuser->get_StepSize(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_MaxStep(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_IsMoving(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_Position(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_Link(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_Absolute(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_TempCompAvailable(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_Temperature(nullptr), E_POINTER);
    EXPECT_EQ(focuser->get_MaxIncrement(nullptr), E_POINTER);
    EXPECT_TRUE(Sent().empty()) << "no exchange for a call that cannot answer";
}

TEST_F(FocuserTest, UnlinkedMembersFailOrAnswerFromSettings) {
    LONG value = 0;
    float real = 0;
    VARIANT_BOOL flag = VARIANT_TRUE;
    EXPECT_FAILS_WITH(focuser->get_Position(&value), "Link fail");
    EXPECT_FAILS_WITH(focuser->get_Temperature(&real), "No response");
    EXPECT_EQ(focuser->get_IsMoving(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_FAILS_WITH(focuser->Move(-1), "Value out of range");
    EXPECT_FAILS_WITH(focuser->Move(20001), "Value out of range");
    EXPECT_FAILS_WITH(focuser->Move(5), "Link fail");

    testregistry::DeleteSettingsKey();
    EXPECT_EQ(focuser->get_MaxStep(&value), S_OK);
    EXPECT_EQ(value, 20000);
    EXPECT_EQ(focuser->get_MaxIncrement(&value), S_OK);
    EXPECT_EQ(value, 20000);
    EXPECT_EQ(focuser->get_StepSize(&real), S_OK);
    EXPECT_FLOAT_EQ(real, 1.27f);

    // No caching: the next call sees what the registry holds now.
    testregistry::SetSettingsText("MaxPosition", "4321");
    testregistry::SetSettingsText("StepSize", "2.5");
    EXPECT_EQ(focuser->get_MaxStep(&value), S_OK);
    EXPECT_EQ(value, 4321);
    EXPECT_EQ(focuser->get_MaxIncrement(&value), S_OK);
    EXPECT_EQ(value, 4321);
    EXPECT_EQ(focuser->get_StepSize(&real), S_OK);
    EXPECT_FLOAT_EQ(real, 2.5f);
    EXPECT_FAILS_WITH(focuser->Move(4322), "Value out of range");
    EXPECT_TRUE(Sent().empty());
}

TEST_F(FocuserTest, UnsupportedMembersFailWhetherLinkedOrNot) {
    for (int linked = 0; linked < 2; ++linked) {
        SCOPED_TRACE(linked ? "linked" : "unlinked");
        if (linked) Link();
        VARIANT_BOOL flag = 77;
        EXPECT_FAILS_WITH(focuser->get_TempComp(&flag), "Not Supported");
        EXPECT_EQ(flag, 77) << "no output on failure";
        EXPECT_FAILS_WITH(focuser->put_TempComp(VARIANT_TRUE), "Not Supported");
        EXPECT_FAILS_WITH(focuser->put_TempComp(VARIANT_FALSE), "Not Supported");
        EXPECT_FAILS_WITH(focuser->Halt(), "Not Supported");
        EXPECT_FAILS_WITH(focuser->Stop(), "Not Supported");
        EXPECT_TRUE(Sent().empty()) << "nothing reaches the controller";
    }
}

TEST_F(FocuserTest, ConnectSendsTheHandshakeThenTheStoredSpeed) {
    testregistry::SetSettingsText("Speed", "0");
    Answer({{"FG0000000", "FD0000100"}});  // the speed command goes unanswered
    EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_EQ(LinkOf(focuser), VARIANT_TRUE);
    EXPECT_EQ(Sent(), (Commands{"FG0000000", "FCS000010"}));

    // Already linked: nothing is opened or sent, even with a silent controller.
    emulator.SetResponder(ControllerEmulator::Silent());
    log.Clear();
    EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(log.Calls().empty());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(FocuserTest, DisconnectClosesWithoutSendingAndOnlyTrueLinks) {
    Link();
    log.Clear();
    EXPECT_EQ(focuser->put_Link(1), S_OK) << "any value but True unlinks";
    EXPECT_EQ(LinkOf(focuser), VARIANT_FALSE);
    EXPECT_EQ(log.Sequence(), (Commands{"PurgeComm", "CloseHandle"}));
    EXPECT_TRUE(Sent().empty());

    LONG position = 0;
    EXPECT_FAILS_WITH(focuser->get_Position(&position), "Link fail");
    Link();
    EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_EQ(LinkOf(focuser), VARIANT_FALSE);
}

TEST_F(FocuserTest, PortIndexNamesTheDevice) {
    testregistry::SetSettingsText("COM", "3");
    ControllerEmulator second;
    ASSERT_TRUE(second.Start("//./COM14"));
    second.SetResponder(ControllerEmulator::Fixed({{"FG0000000", "FD0000007"}}));
    log.Clear();
    EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    ASSERT_FALSE(log.Calls().empty());
    EXPECT_EQ(log.Calls()[0].name, "//./COM4");
    LONG position = 0;
    second.SetResponder(ControllerEmulator::Fixed({{"FG0000000", "FD0000008"}}));
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(position, 8);
    EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    second.Stop();
}

TEST_F(FocuserTest, MissingDeviceFailsTheConnectAndALaterAttemptStartsAfresh) {
    ASSERT_TRUE(nullmodem::Unplug("com3"));
    EXPECT_FAILS_WITH(focuser->put_Link(VARIANT_TRUE), "Could not open port //./COM3");
    EXPECT_EQ(LinkOf(focuser), VARIANT_FALSE);
    ASSERT_TRUE(nullmodem::Plug("com3"));
    Answer({{"FG0000000", "FD0000100"}});
    EXPECT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    EXPECT_EQ(LinkOf(focuser), VARIANT_TRUE);
}

TEST_F(FocuserTest, SilentControllerFailsTheConnectAndReleasesThePort) {
    emulator.SetResponder(ControllerEmulator::Silent());
    log.Clear();
    const auto start = Clock::now();
    EXPECT_FAILS_WITH(focuser->put_Link(VARIANT_TRUE), "Focuser did not respond");
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(ms, 1000.0 * TimeoutScale()) << "a single query, bounded by about 136 ms";
    EXPECT_EQ(LinkOf(focuser), VARIANT_FALSE);
    EXPECT_EQ(log.CountOf("CloseHandle"), 1u);
    EXPECT_EQ(Sent(), Commands{"FG0000000"});

    // The port is free again: another object links through it.
    IFocuser* other = NewFocuser();
    Answer({{"FG0000000", "FD0000100"}});
    EXPECT_EQ(other->put_Link(VARIANT_TRUE), S_OK);
    other->Release();
}

TEST_F(FocuserTest, OutOfMemoryLeavesTheObjectUnlinked) {
    log.Clear();
    g_failPortAllocation = true;
    EXPECT_FAILS_WITH(focuser->put_Link(VARIANT_TRUE), "Out of memory");
    g_failPortAllocation = false;
    EXPECT_EQ(LinkOf(focuser), VARIANT_FALSE);
    EXPECT_TRUE(log.Calls().empty());
    Link();
    EXPECT_EQ(LinkOf(focuser), VARIANT_TRUE);
}

TEST_F(FocuserTest, MoveChecksMotionThenRangeThenLink) {
    Link({{"FU0000000", "FU0000000"}, {"FA001500#", "FC0000000"}, {"FA000000#", "FC0000000"},
          {"FA020000#", "FC0000000"}});
    EXPECT_EQ(focuser->Move(1500), S_OK);
    EXPECT_EQ(Sent(), (Commands{"FU0000000", "FU0000000", "FA001500#"}));

    log.Clear();
    EXPECT_EQ(focuser->Move(0), S_OK);
    EXPECT_EQ(focuser->Move(20000), S_OK);
    EXPECT_EQ(Sent(), (Commands{"FU0000000", "FU0000000", "FA000000#", "FU0000000",
                                 "FU0000000", "FA020000#"}));

    log.Clear();
    EXPECT_FAILS_WITH(focuser->Move(20001), "Value out of range");
    EXPECT_FAILS_WITH(focuser->Move(-1), "Value out of range");
    EXPECT_EQ(Sent(), (Commands{"FU0000000", "FU0000000"}));

    log.Clear();
    Answer({{"FU0000000", "FU0010000"}});
    EXPECT_FAILS_WITH(focuser->Move(-1), "Focuser already in motion");
    EXPECT_FAILS_WITH(focuser->Move(10), "Focuser already in motion");
    EXPECT_EQ(Sent(), (Commands{"FU0000000", "FU0000000"}));

    // An unrecognised answer to the move command.
    log.Clear();
    Answer({{"FU0000000", "FU0000000"}, {"FA000010#", "??"}});
    EXPECT_FAILS_WITH(focuser->Move(10), "Link fail");
    EXPECT_EQ(LinkOf(focuser), VARIANT_TRUE);
}

TEST_F(FocuserTest, MoveBeyondTheCommandWidthIsNeverSent) {
    testregistry::SetSettingsText("MaxPosition", "100000");
    Link({{"FU0000000", "FU0000000"}});
    EXPECT_FAILS_WITH(focuser->Move(100000), "Link fail");
    EXPECT_EQ(Sent(), (Commands{"FU0000000", "FU0000000"}));
}

TEST_F(FocuserTest, MoveReturnsAtOnceAndIsMovingFollowsTheMotion) {
    FocuserModel model;
    model.SetPosition(100);
    emulator.SetResponder(ControllerEmulator::Model(model));
    // At the real line's pace every status query takes some 19 ms, so the
    // half-second move ends within a known number of them.
    emulator.SetPaced(true);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);

    EXPECT_EQ(focuser->Move(600), S_OK);  // 500 steps at 1000 steps/s
    VARIANT_BOOL moving = VARIANT_FALSE;
    EXPECT_EQ(focuser->get_IsMoving(&moving), S_OK);
    EXPECT_EQ(moving, VARIANT_TRUE);
    EXPECT_FAILS_WITH(focuser->Move(700), "Focuser already in motion");
    // Halt is not offered; the move goes on.
    EXPECT_FAILS_WITH(focuser->Halt(), "Not Supported");

    for (int query = 0; query < 500 && moving == VARIANT_TRUE; ++query) {
        ASSERT_EQ(focuser->get_IsMoving(&moving), S_OK);
    }
    EXPECT_EQ(moving, VARIANT_FALSE);
    LONG position = 0;
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(position, 600);
}

TEST_F(FocuserTest, TemperatureIsTheLastOneDecoded) {
    Link({{"FT0000000", "FT023.50#"}});
    float temperature = 0;
    EXPECT_EQ(focuser->get_Temperature(&temperature), S_OK);
    EXPECT_FLOAT_EQ(temperature, 23.5f);
    Answer({{"FT0000000", "FD0000321"}});
    EXPECT_EQ(focuser->get_Temperature(&temperature), S_OK);
    EXPECT_FLOAT_EQ(temperature, 23.5f) << "a position reply leaves the temperature";
    LONG position = 0;
    Answer({{"FG0000000", "FT019.00#"}});
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(position, 321);
}

TEST_F(FocuserTest, AControllerThatStopsAnsweringDoesNotUnlink) {
    Link();
    emulator.SetResponder(ControllerEmulator::Silent());
    LONG position = 0;
    float temperature = 0;
    VARIANT_BOOL moving = VARIANT_TRUE;
    EXPECT_FAILS_WITH(focuser->get_Position(&position), "Link fail");
    EXPECT_FAILS_WITH(focuser->get_Temperature(&temperature), "No response");
    EXPECT_EQ(focuser->get_IsMoving(&moving), S_OK);
    EXPECT_EQ(moving, VARIANT_FALSE);
    EXPECT_FAILS_WITH(focuser->Move(10), "Link fail");
    EXPECT_EQ(LinkOf(focuser), VARIANT_TRUE);

    Answer({{"FG0000000", "FD0000055"}});
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(position, 55);
}

// A USB-serial adapter takes the frames into its own buffer and reports them
// written while flow control holds the line. The move reported as failed must
// be discarded at once, and again as the link closes.
TEST_F(FocuserTest, AMoveTheAdapterTookButNeverSentIsDiscardedAndSoIsTheOutputAtUnlink) {
    Link();
    log.SwallowWrites();
    EXPECT_FAILS_WITH(focuser->Move(1500), "Link fail");
    const auto calls = log.Calls();
    ASSERT_GE(calls.size(), 3u);
    const auto last = calls.end() - 3;
    EXPECT_EQ(last[0].bytes, std::string("FA001500#"));
    EXPECT_EQ(last[1].function, "ReadFile");
    EXPECT_EQ(last[2].function, "PurgeComm");
    EXPECT_TRUE(last[2].count & PURGE_TXCLEAR);

    log.Clear();
    EXPECT_EQ(focuser->put_Link(VARIANT_FALSE), S_OK);
    EXPECT_EQ(log.Sequence(), (Commands{"PurgeComm", "CloseHandle"}));
}

TEST_F(FocuserTest, ReleasingALinkedObjectClosesItsPortWithoutSendingAndKeepsTheModuleLoaded) {
    Link();
    const LONG before = ServerModule::Instance().GetLockCount();
    {
        // The port's close is the destructor's last step. A program freeing
        // unused libraries on another thread meanwhile must be told no, or the
        // DLL goes while its code still runs.
        LONG seenWhileClosing = -1;
        HANDLE closing = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE seen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread unloader([&] {
            if (WaitForSingleObject(closing, 10000) != WAIT_OBJECT_0) return;
            seenWhileClosing = ServerModule::Instance().GetLockCount();
            SetEvent(seen);
        });
        log.Before("CloseHandle", [&] {
            SetEvent(closing);
            WaitForSingleObject(seen, 10000);
        });
        log.Clear();
        EXPECT_EQ(focuser->Release(), 0u);
        focuser = nullptr;
        const Commands sequence = log.Sequence();
        unloader.join();
        CloseHandle(closing);
        CloseHandle(seen);
        EXPECT_EQ(sequence, (Commands{"PurgeComm", "CloseHandle"}));
        EXPECT_EQ(seenWhileClosing, before) << "the object's lock was given back before its port closed";
    }
    EXPECT_EQ(ServerModule::Instance().GetLockCount(), before - 1);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(FocuserTest, ErrorSourceIsTheRegisteredProgId) {
    LONG position = 0;
    focuser->get_Position(&position);
    EXPECT_EQ(TakeErrorInfo().source, "") << "no ProgID registered, no source";

    const char* key = "CLSID\\{3c9e52a1-7d4b-4f08-9b61-5e2a0d47c8f3}\\ProgID";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, "Tavrilen.Focuser.1", 18), ERROR_SUCCESS);
    focuser->get_Position(&position);
    EXPECT_EQ(TakeErrorInfo().source, "Tavrilen.Focuser.1");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{3c9e52a1-7d4b-4f08-9b61-5e2a0d47c8f3}");
}

}  // namespace

// SerialPort over the null-modem: the open sequence as the system sees it, the
// failure paths of each step, and the read bound on a silent line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/SerialPort.h"
#include "sim/ControllerEmulator.h"
#include "tests/support/DriverTestSupport.h"
#include "tests/support/SerialCallLog.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(SerialPortOpen, OpensExclusivelyThenTimeoutsThenLineSettingsThenClearsErrors) {
    SerialCallLog log;
    // As another program may leave the device: a framing error would stop
    // every read and write until cleared.
    log.EditDeviceState([](DCB& dcb) {
        dcb.fAbortOnError = TRUE;
        dcb.fOutxCtsFlow = TRUE;
    });
    SerialPort port;
    ASSERT_TRUE(port.Open("//./COM3", 9600));
    EXPECT_TRUE(port.IsOpen());

    const std::vector<std::string> expected = {"CreateFileA", "GetCommState", "SetCommTimeouts",
                                               "SetCommState", "ClearCommError"};
    EXPECT_EQ(log.Sequence(), expected);
    const auto calls = log.Calls();
    ASSERT_EQ(calls.size(), 5u);

    const auto& open = calls[0];
    EXPECT_EQ(open.name, "//./COM3");
    EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(open.share, 0u) << "the port must be opened without sharing";
    EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(open.flags, 0u) << "synchronous, no overlapped I/O";

    const COMMTIMEOUTS& t = calls[2].timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, 200u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u) << "a held line must not hang a write";

    // Five fields change; everything else stays as the device had it.
    DCB expectedDcb = calls[1].dcb;
    expectedDcb.BaudRate = 9600;
    expectedDcb.ByteSize = 8;
    expectedDcb.Parity = NOPARITY;
    expectedDcb.StopBits = ONESTOPBIT;
    expectedDcb.fAbortOnError = FALSE;
    const DCB& set = calls[3].dcb;
    EXPECT_EQ(set.BaudRate, 9600u);
    EXPECT_EQ(set.ByteSize, 8);
    EXPECT_EQ(set.Parity, NOPARITY);
    EXPECT_EQ(set.StopBits, ONESTOPBIT);
    EXPECT_FALSE(set.fAbortOnError);
    EXPECT_TRUE(set.fOutxCtsFlow) << "the device's flow control is its own";
    EXPECT_EQ(0, memcmp(&set, &expectedDcb, sizeof(DCB)));
}

TEST(SerialPortOpen, TheNameIsUsedAsGivenAndDestructionCloses) {
    SerialCallLog log;
    {
        SerialPort port;
        ASSERT_TRUE(port.Open("//./COM3", 4800));
    }
    const auto calls = log.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].name, "//./COM3");
    EXPECT_EQ(calls[3].dcb.BaudRate, 4800u);
    EXPECT_EQ(log.CountOf("CloseHandle"), 1u);
}

TEST(SerialPortOpen, FailureAtEachStep) {
    struct Case {
        const char* failing;
        bool opens, staysOpen;
        size_t closes;
    };
    const Case cases[] = {
        {"CreateFileA", false, false, 0},
        {"GetCommState", false, false, 1},
        {"SetCommTimeouts", false, false, 1},
        {"SetCommState", false, true, 0},  // left open; the owner destroys the port
        {"ClearCommError", true, true, 0},  // the line works as well as it can
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        SerialCallLog log;
        log.Fail(c.failing);
        auto port = std::make_unique<SerialPort>();
        EXPECT_EQ(port->Open("//./COM3", 9600), c.opens);
        EXPECT_EQ(port->IsOpen(), c.staysOpen);
        EXPECT_EQ(log.CountOf("CloseHandle"), c.closes);
        if (std::string(c.failing) == "GetCommState") {
            EXPECT_EQ(log.CountOf("SetCommTimeouts"), 0u);
        }
        port.reset();
        const bool opened = std::string(c.failing) != "CreateFileA";
        EXPECT_EQ(log.CountOf("CloseHandle"), opened ? 1u : 0u)
            << "every handle opened is closed exactly once";
    }
}

TEST(SerialPortClose, CloseDiscardsTheOutputFirstAndClosingTwiceClosesOnce) {
    SerialCallLog log;
    SerialPort port;
    port.Close();  // closed: nothing happens
    ASSERT_TRUE(port.Open("//./COM3", 9600));
    log.Clear();
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    // What a held line still queues must not go out after the close.
    const auto calls = log.Calls();
    ASSERT_EQ(log.Sequence(), (std::vector<std::string>{"PurgeComm", "CloseHandle"}));
    EXPECT_TRUE(calls[0].count & PURGE_TXCLEAR);
}

TEST(SerialPortIo, PurgeFlagsAndSilentReadBound) {
    SerialCallLog log;
    SerialPort port;
    ASSERT_TRUE(port.Open("//./COM3", 9600));
    EXPECT_TRUE(port.Purge());
    const auto calls = log.Calls();
    EXPECT_EQ(calls.back().function, "PurgeComm");
    EXPECT_EQ(calls.back().count, static_cast<DWORD>(PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        << "no TX abort";

    // Nobody answers on the far end: a 9-byte read gives up after about 136 ms.
    char buffer[9] = {};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
    const double elapsed = MillisecondsSince(start);
    EXPECT_GT(elapsed, 80.0);
    EXPECT_LT(elapsed, 1000.0 * TimeoutScale());
    EXPECT_EQ(std::string(buffer, 9), std::string(9, '\0'));
}

// --- On the wire, with a controller emulator on the far end -------------------

class SerialPortWireTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator.Start("//./COM13")) << "null-modem far end not available";
        SerialCallLog log;
        ASSERT_TRUE(port.Open("//./COM3", 9600));
        handle = log.Calls()[1].handle;  // as GetCommState was given it
    }
    void TearDown() override { emulator.Stop(); }

    // Waits until count bytes wait in the port's input; false after 2 s.
    bool WaitForInput(DWORD count) {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        for (;;) {
            DWORD errors = 0;
            COMSTAT status = {};
            if (ClearCommError(handle, &errors, &status) && status.cbInQue >= count) return true;
            if (Clock::now() > deadline) return false;
            Sleep(1);
        }
    }

    ControllerEmulator emulator;
    SerialPort port;
    HANDLE handle = nullptr;
};

TEST_F(SerialPortWireTest, AFrameGoesOutWholeAndAFullReplyIsReadWhole) {
    emulator.SetResponder(ControllerEmulator::Fixed({{"FG0000000", "FD0000042"}}));
    // The link takes a short count for a held line, so it must be exact.
    EXPECT_TRUE(port.Write("FG0000000", 9));
    char reply[9] = {};
    EXPECT_EQ(port.Read(reply, sizeof reply), 9u);
    EXPECT_EQ(std::string(reply, 9), "FD0000042");
    ASSERT_TRUE(emulator.WaitForFrames(1, 2000));
    EXPECT_EQ(emulator.Frames()[0].bytes, "FG0000000");
}

TEST_F(SerialPortWireTest, AShortReplyIsInTheBufferWhenTheReadTimesOut) {
    emulator.SetResponder(ControllerEmulator::Fixed({{"FG0000000", "FD12"}}));
    port.Write("FG0000000", 9);
    char reply[9] = {};
    EXPECT_EQ(port.Read(reply, sizeof reply), 4u);
    EXPECT_EQ(std::string(reply, 9), std::string("FD12\0\0\0\0\0", 9));
}

TEST_F(SerialPortWireTest, PurgeDiscardsInputThatHasArrived) {
    emulator.Inject("FD0000777");
    ASSERT_TRUE(WaitForInput(9)) << "the noise never reached the port";
    EXPECT_TRUE(port.Purge());
    char reply[9] = {};
    EXPECT_EQ(port.Read(reply, sizeof reply), 0u);
    EXPECT_EQ(std::string(reply, 9), std::string(9, '\0'));
}

}  // namespace

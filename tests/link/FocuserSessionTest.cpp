// The rules every front end keeps, over a scripted line: what connecting
// sends and when it gives up, the order of the checks before a move, and the
// messages each failure is shown with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/FocuserSession.h"
#include "devtools/ScriptedLine.h"

namespace {

using Commands = std::vector<std::string>;

class FocuserSessionTest : public testing::Test {
protected:
    FocuserSession::Opener Opener() {
        return [this](const char* device, std::string& reason) -> std::unique_ptr<Line> {
            opened.push_back(device);
            if (refuse) {
                reason = "in use";
                return nullptr;
            }
            return line.Open();
        };
    }
    ConnectResult Connect(int32_t speed = 1) {
        reason.clear();
        return session.Connect(Opener(), "/dev/ttyX", speed, reason);
    }

    ScriptedLine line;
    FocuserSession session;
    Commands opened;
    std::string reason;
    bool refuse = false;
};

TEST_F(FocuserSessionTest, ConnectShakesHandsThenSendsTheSpeed) {
    struct Case {
        const char* handshakeReply;
        const char* speedReply;
        ConnectResult result;
        Commands sent;
    } cases[] = {
        {"FD0000100", "FS0000000", ConnectResult::Connected, {"FG0000000", "FCS000030"}},
        {"FD0000100", "", ConnectResult::Connected, {"FG0000000", "FCS000030"}},
        {"xx", "FS0000000", ConnectResult::DidNotRespond, {"FG0000000"}},
        {"", "FS0000000", ConnectResult::DidNotRespond, {"FG0000000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handshakeReply);
        line.ClearRecord();
        line.Answer("FG0000000", {c.handshakeReply});
        line.Answer("FCS000030", {c.speedReply});
        const size_t closes = line.Closes();
        EXPECT_EQ(Connect(2), c.result);
        EXPECT_EQ(line.Commands(), c.sent);
        const bool connected = c.result == ConnectResult::Connected;
        EXPECT_EQ(session.IsConnected(), connected) << "an unanswered speed keeps the link";
        EXPECT_EQ(line.Closes(), closes + (connected ? 0 : 1)) << "a failed connect closes";
        session.Disconnect();
    }
}

TEST_F(FocuserSessionTest, ConnectFailuresCarryTheDeviceAndTheOpenersReason) {
    refuse = true;
    EXPECT_EQ(Connect(), ConnectResult::CouldNotOpen);
    EXPECT_EQ(opened, Commands{"/dev/ttyX"});
    EXPECT_EQ(ConnectFailureMessage(ConnectResult::CouldNotOpen, "/dev/ttyX", reason),
              "Could not open port /dev/ttyX: in use");
    EXPECT_EQ(ConnectFailureMessage(ConnectResult::CouldNotOpen, "COM3", ""),
              "Could not open port COM3");
    EXPECT_EQ(ConnectFailureMessage(ConnectResult::DidNotRespond, "/dev/ttyX", "ignored"),
              "Focuser did not respond");
}

// Motion first, then the range, then the link; and a move whose status is
// answered still re-asks before it is sent.
TEST_F(FocuserSessionTest, MoveChecksInOrderWithItsMessages) {
    struct Case {
        const char* status;
        int32_t target;
        const char* moveReply;
        const char* message;  // nullptr: succeeds
        Commands sent;
    } cases[] = {
        {"FU0010000", 500, "FD0000500", "Focuser already in motion", {"FU0000000"}},
        {"FU0010000", -1, "FD0000500", "Focuser already in motion", {"FU0000000"}},
        {"FU0000000", -1, "FD0000500", "Value out of range", {"FU0000000"}},
        {"FU0000000", 1001, "FD0000500", "Value out of range", {"FU0000000"}},
        {"FU0000000", 1000, "", "Link fail", {"FU0000000", "FU0000000", "FA001000#"}},
        {"FU0000000", 0, "FD0000000", nullptr, {"FU0000000", "FU0000000", "FA000000#"}},
        {"", 10, "FD0000010", nullptr, {"FU0000000", "FU0000000", "FA000010#"}},
    };
    line.Answer("FG0000000", {"FD0000100"});
    ASSERT_EQ(Connect(), ConnectResult::Connected);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.status << " to " << c.target);
        line.ClearRecord();
        line.Answer("FU0000000", {c.status});
        char command[protocol::kMoveCommandCapacity];
        protocol::FormatMoveCommand(c.target, command);
        line.Answer(command, {c.moveReply});
        const char* message = nullptr;
        EXPECT_EQ(session.Move(c.target, 1000, message), c.message == nullptr);
        if (c.message != nullptr) {
            EXPECT_STREQ(message, c.message);
        }
        EXPECT_EQ(line.Commands(), c.sent);
    }
}

TEST_F(FocuserSessionTest, ReadsFailWithTheirOwnMessages) {
    int32_t position = 0;
    float temperature = 0.0f;
    const char* message = nullptr;
    EXPECT_FALSE(session.ReadPosition(position, message));
    EXPECT_STREQ(message, "Link fail");
    EXPECT_FALSE(session.ReadTemperature(temperature, message));
    EXPECT_STREQ(message, "No response");
}

}  // namespace

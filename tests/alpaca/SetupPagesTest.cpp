#include "alpaca/SetupPages.h"

#include <gtest/gtest.h>

#include "alpaca/DiscoveryResponder.h"

namespace {

TEST(SetupPages, StateChangesMustNameThisServer) {
    struct Case {
        const char* host;
        const char* origin;
        bool allowed;
    } cases[] = {
        {"127.0.0.1:11111", "", true},
        {"127.0.0.1:11111", "http://127.0.0.1:11111", true},
        {"localhost:11111", "http://localhost:11111", true},
        {"[::1]:11111", "http://[::1]:11111", true},
        {"observatory:11111", "", true},
        {"OBSERVATORY.local:11111", "", true},
        {"192.168.1.20:11111", "http://192.168.1.20:11111", true},
        {"127.0.0.1:11111", "http://evil.example", false},      // cross-site form
        {"127.0.0.1:11111", "null", false},                     // sandboxed page
        {"evil.example:11111", "http://evil.example:11111", false},  // DNS rebinding
        {"127.0.0.1:8080", "", false},                          // another port
        {"127.0.0.1", "", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(SetupPages::NamesServer(c.host, c.origin, 11111, "observatory", reason), c.allowed)
            << c.host << " " << c.origin;
        EXPECT_EQ(reason.empty(), c.allowed);
    }
}

TEST(SetupPages, TheFormFollowsTheStoresRules) {
    ServerSettingsValues values = ServerSettings::Defaults();
    std::string reason;
    ASSERT_TRUE(SetupPages::ReadForm(
        {{"Device", "/dev/ttyS1"}, {"MaxPosition", "200000"}, {"StepSize", "0"}, {"Speed", "7"}},
        values, reason));
    EXPECT_EQ(values.device, "/dev/ttyS1");
    EXPECT_EQ(values.maxPosition, 100000);
    EXPECT_FLOAT_EQ(values.stepSize, 0.01f);
    EXPECT_EQ(values.speed, 2);
    // A device path that would break the settings file's lines.
    EXPECT_FALSE(SetupPages::ReadForm({{"Device", "/dev/x\nUniqueID=1"}}, values, reason));
    EXPECT_FALSE(SetupPages::ReadForm({{"Device", ""}}, values, reason));
    EXPECT_EQ(values.device, "/dev/ttyS1");
    EXPECT_EQ(SetupPages::Escape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

TEST(DiscoveryResponder, AnswersOnlyItsRequest) {
    struct Case {
        std::string datagram;
        bool answered;
    } cases[] = {
        {"alpacadiscovery1", true},
        {"alpacadiscovery1" + std::string(48, 'x'), true},
        {"alpacadiscovery", false},
        {"alpacadiscovery2", false},
        {"ALPACADISCOVERY1", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DiscoveryResponder::IsRequest(c.datagram.data(), c.datagram.size()), c.answered)
            << c.datagram;
    }
    EXPECT_EQ(DiscoveryResponder::Reply(11111), "{\"AlpacaPort\":11111}");
}

}  // namespace

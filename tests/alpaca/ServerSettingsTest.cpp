#include "alpaca/ServerSettings.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace {

std::string Folder() {
    char pattern[] = "/tmp/alpaca-settings-XXXXXX";
    return mkdtemp(pattern);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(ServerSettings, ParseKeepsTheDriversRangesAndRefusesWhatItDoesNotKnow) {
    struct Case {
        const char* text;
        bool parses;
        int32_t maxPosition;
        int32_t speed;
    } cases[] = {
        {"", true, 20000, 1},
        {"# comment\n\nMaxPosition=5000\nSpeed=2\n", true, 5000, 2},
        {"MaxPosition = 999999\r\nSpeed=-3\n", true, 100000, 0},
        {"MaxPosition=lots\n", true, 0, 1},
        {"MaxPosition\n", false, 0, 0},
        {"Colour=red\n", false, 0, 0},
        {"UniqueID=not-a-uuid\n", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ServerSettingsValues values;
        std::string error;
        ASSERT_EQ(ServerSettings::Parse(c.text, values, error), c.parses) << error;
        if (!c.parses) continue;
        EXPECT_EQ(values.maxPosition, c.maxPosition);
        EXPECT_EQ(values.speed, c.speed);
    }
}

TEST(ServerSettings, FormatReadsBackAsTheSameValues) {
    ServerSettingsValues values = ServerSettings::Defaults();
    values.device = "/dev/ttyACM3";
    values.maxPosition = 4321;
    values.stepSize = 2.5f;
    values.speed = 0;
    values.uniqueId = ServerSettings::NewUniqueId();
    ServerSettingsValues back;
    std::string error;
    ASSERT_TRUE(ServerSettings::Parse(ServerSettings::Format(values), back, error)) << error;
    EXPECT_EQ(back.device, values.device);
    EXPECT_EQ(back.maxPosition, values.maxPosition);
    EXPECT_EQ(back.stepSize, values.stepSize);
    EXPECT_EQ(back.speed, values.speed);
    EXPECT_EQ(back.uniqueId, values.uniqueId);
    EXPECT_NE(ServerSettings::NewUniqueId(), values.uniqueId);
    EXPECT_EQ(values.uniqueId[14], '4');
}

TEST(ServerSettings, TheUniqueIdIsMadeOnceAndKept) {
    const std::string path = Folder() + "/alpaca.conf";
    std::string warning;
    const std::string first = ServerSettings(path).Load(warning).uniqueId;
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_EQ(ServerSettings(path).Load(warning).uniqueId, first);
}

TEST(ServerSettings, AFileItCannotParseIsKeptAsideNotOverwritten) {
    const std::string path = Folder() + "/alpaca.conf";
    std::ofstream(path) << "garbage without equals\n";
    ServerSettings store(path);
    std::string warning;
    const ServerSettingsValues values = store.Load(warning);
    EXPECT_NE(warning.find("not understood"), std::string::npos) << warning;
    EXPECT_EQ(values.maxPosition, 20000);
    EXPECT_EQ(ReadFile(path + ".unreadable"), "garbage without equals\n");
    EXPECT_NE(ReadFile(path).find(values.uniqueId), std::string::npos);
}

// A save killed at any moment leaves the old file or the new one, whole.
TEST(ServerSettings, AKillDuringASaveLeavesTheOldFileOrTheNew) {
    const std::string path = Folder() + "/alpaca.conf";
    ServerSettingsValues a = ServerSettings::Defaults(), b = a;
    a.uniqueId = b.uniqueId = ServerSettings::NewUniqueId();
    a.maxPosition = 1111;
    b.maxPosition = 2222;
    b.device = std::string(3000, 'd');  // a longer file takes longer to write
    std::string error;
    ASSERT_TRUE(ServerSettings(path).Save(a, error)) << error;
    for (int round = 0; round < 20; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ServerSettings store(path);
            std::string ignored;
            for (int i = 0;; ++i) store.Save(i % 2 ? a : b, ignored);
        }
        usleep(static_cast<useconds_t>(2000 + round * 1500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ServerSettingsValues values;
        ASSERT_TRUE(ServerSettings::Parse(ReadFile(path), values, error)) << error;
        EXPECT_TRUE(values.maxPosition == 1111 || values.maxPosition == 2222);
        EXPECT_EQ(values.device == b.device, values.maxPosition == 2222) << "a mixed file";
    }
}

}  // namespace

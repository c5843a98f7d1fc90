// Real scripting clients against the registered DLL: Wine's cscript runs a
// VBScript and a JScript that drive the focuser, with the controller emulator
// on the far end of the null-modem pair COM3-COM13.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/ControllerEmulator.h"
#include "sim/FocuserModel.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestRegistry.h"

namespace {

using namespace servertest;

// The lines a script printed, without line ends.
std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Runs of two or more status queries folded into one "FU0000000*", so the
// commands of a move whose polling count varies compare as one sequence.
std::vector<std::string> FoldPolls(const std::vector<std::string>& commands) {
    std::vector<std::string> folded;
    for (const std::string& command : commands) {
        if (command == "FU0000000" && !folded.empty() && folded.back() == "FU0000000*") continue;
        if (command == "FU0000000" && !folded.empty() && folded.back() == "FU0000000") {
            folded.back() = "FU0000000*";
            continue;
        }
        folded.push_back(command);
    }
    return folded;
}

struct Script {
    const char* file;
    const char* trueText;
    const char* falseText;
    const char* error;  // what the out-of-range Move prints
};

class ScriptClientTest : public testing::TestWithParam<Script> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dll.Load());
        ASSERT_EQ(dll.RegisterServer(), S_OK);
        testregistry::StoreSettings(2, 20000, "1.27", 1);  // COM3, medium speed
        model.SetPosition(1000);
        ASSERT_TRUE(emulator.Start("//./COM13")) << "no null-modem bridge on COM13";
        // A fixed temperature, so the printed value does not drift with time.
        emulator.SetResponder([this](const std::string& frame, double nowMs) {
            if (std::string(frame.c_str()) == "FT0000000") return ControllerEmulator::Response{"FT021.25#", 0};
            return ControllerEmulator::Response{model.Answer(frame, nowMs), 0};
        });
    }
    void TearDown() override {
        emulator.Stop();
        dll.UnregisterServer();
        dll.Unload();
        testregistry::DeleteSettingsKey();
    }

    ServerDll dll;
    FocuserModel model;
    ControllerEmulator emulator;
};

TEST_P(ScriptClientTest, DrivesTheFocuserEndToEnd) {
    const Script& script = GetParam();
    const std::string path = WindowsPath(std::string(FOCUSER_SCRIPTS_DIR) + "/" + script.file);
    const ProcessResult result =
        RunProcess("C:\\windows\\system32\\cscript.exe //NoLogo \"" + path + "\"", 90000);
    ASSERT_TRUE(result.started);
    ASSERT_TRUE(result.finished) << "cscript did not finish; it printed:\n" << result.output;
    EXPECT_EQ(result.exitCode, 0u) << result.output;

    const std::string t = script.trueText;
    const std::string f = script.falseText;
    const std::vector<std::string> expected = {
        "Absolute=" + t,
        "Link=" + t,
        "Position=1000",
        "Temperature=21.25",
        "MovingAfterMove=" + t,
        "Position=1500",
        std::string("Error=") + script.error,
        "Link=" + f,
    };
    EXPECT_EQ(Lines(result.output), expected) << result.output;

    // Connect: handshake and speed; Position; Temperature; Move: two status
    // queries and the move; the polls; Position. The refused Move asks only
    // whether the focuser moves, and unlinking sends nothing.
    const std::vector<std::string> commands = {
        "FG0000000", "FCS000020", "FG0000000", "FT0000000", "FU0000000*", "FA001500#",
        "FU0000000*", "FG0000000", "FU0000000",
    };
    EXPECT_EQ(FoldPolls(emulator.Commands()), commands);
}

INSTANTIATE_TEST_SUITE_P(
    Cscript, ScriptClientTest,
    testing::Values(
        Script{"FocuserClient.vbs", "True", "False", "80020009|Value out of range|Tavrilen.Focuser.1"},
        Script{"FocuserClient.js", "true", "false", "Value out of range|undefined"}),
    [](const testing::TestParamInfo<Script>& info) {
        return info.index == 0 ? std::string("VBScript") : std::string("JScript");
    });

}  // namespace

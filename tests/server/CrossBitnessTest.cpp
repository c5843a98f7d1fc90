// Both drivers registered on one 64-bit Windows, as the installer leaves them:
// each client gets the DLL of its own bitness through COM, and both read the
// one set of settings whichever build saved it.
#include <gtest/gtest.h>

#include <string>

#include "driver/Focuser.h"
#include "settings/DriverSettings.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestRegistry.h"

namespace {

using namespace servertest;

const std::string kRegsvr32For32 = "C:\\windows\\syswow64\\regsvr32.exe /s ";
const std::string kClassServerKey =
    std::string("Software\\Classes\\") + kClassKey + "\\InprocServer32";

// The script's output lines that name Create and MaxStep, as one string.
std::string CreateAndMaxStep(const std::string& cscript) {
    const ProcessResult result = RunProcess(
        cscript + " //NoLogo \"" + WindowsPath(FOCUSER_CREATE_SCRIPT) + "\"", 90000);
    if (!result.finished) return "script did not finish: " + result.output;
    std::string found;
    for (const char* name : {"Create=", "MaxStep="}) {
        const size_t at = result.output.find(name);
        if (at != std::string::npos) found += result.output.substr(at, result.output.find('\r', at) - at) + ";";
    }
    return found;
}

class CrossBitnessTest : public testing::Test {
protected:
    void SetUp() override {
        testregistry::StoreSettings(0, 20000, "1", 0);  // the profile key, as the installer makes it
        ASSERT_TRUE(dll.Load());
        ASSERT_EQ(dll.RegisterServer(), S_OK);
        const ProcessResult registered = RunProcess(kRegsvr32For32 + "\"" + Dll32Path() + "\"", 60000);
        ASSERT_TRUE(registered.finished && registered.exitCode == 0) << registered.output;
    }
    void TearDown() override {
        RunProcess(kRegsvr32For32 + "/u \"" + Dll32Path() + "\"", 60000);
        dll.UnregisterServer();
        dll.Unload();
        testregistry::DeleteSettingsKey();
    }

    ServerDll dll;
};

TEST_F(CrossBitnessTest, EachClientGetsItsOwnDllAndBothReadTheSettingsEitherSaved) {
    const auto server = [](REGSAM view) {
        return StringValue(HKEY_LOCAL_MACHINE, kClassServerKey, nullptr, view).value_or("(none)");
    };
    EXPECT_NE(server(KEY_WOW64_64KEY).find("TavrilenFocuser64.dll"), std::string::npos);
    EXPECT_NE(server(KEY_WOW64_32KEY).find("TavrilenFocuser.dll"), std::string::npos);

    // Saved by this (64-bit) build's store, read by both DLLs.
    DriverSettings settings = LoadSettings();
    settings.MaxPosition = 12345;
    SaveSettings(settings);
    EXPECT_EQ(CreateAndMaxStep("C:\\windows\\syswow64\\cscript.exe"), "Create=0;MaxStep=12345;");
    EXPECT_EQ(CreateAndMaxStep("C:\\windows\\system32\\cscript.exe"), "Create=0;MaxStep=12345;");
}

}  // namespace

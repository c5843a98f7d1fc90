// The settings store against the real (Wine) registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/DriverSettings.h"
#include "tests/support/TestRegistry.h"

namespace {

class DriverSettingsTest : public testing::Test {
protected:
    void SetUp() override { testregistry::DeleteSettingsKey(); }
    void TearDown() override { testregistry::DeleteSettingsKey(); }
};

TEST_F(DriverSettingsTest, MissingKeyIsCreatedEmptyAndLoadsDefaults) {
    ASSERT_FALSE(testregistry::SettingsKeyExists());
    const DriverSettings settings = LoadSettings();
    EXPECT_EQ(settings.PortIndex, 0);
    EXPECT_EQ(settings.MaxPosition, 20000);
    EXPECT_FLOAT_EQ(settings.StepSize, 1.27f);
    EXPECT_EQ(settings.Speed, 1);
    EXPECT_TRUE(testregistry::SettingsKeyExists());
    EXPECT_EQ(testregistry::CountSettingsValues(), 0u) << "loading must not write values";
}

TEST_F(DriverSettingsTest, StoredTextIsParsedAndForcedIntoRange) {
    struct Case {
        const char* com;
        const char* max;
        const char* step;
        const char* speed;
        int32_t portIndex, maxPosition;
        float stepSize;
        int32_t speedValue;
    };
    const Case cases[] = {
        {"4", "1500", "2.5", "2", 4, 1500, 2.5f, 2},
        {"40", "250000", "5000", "7", 31, 100000, 1000.0f, 2},
        {"-3", "-1", "0.001000", "-1", 0, 0, 0.01f, 0},
        {"abc", "12abc", "xyz", "", 0, 12, 0.01f, 0},
        {"  7", "99999999999999", "nan", "+1", 7, 100000, 0.01f, 1},
        {"31", "100000", "1e999", "0", 31, 100000, 0.01f, 0},
    };
    for (const Case& c : cases) {
        testregistry::SetSettingsText("COM", c.com);
        testregistry::SetSettingsText("MaxPosition", c.max);
        testregistry::SetSettingsText("StepSize", c.step);
        testregistry::SetSettingsText("Speed", c.speed);
        const DriverSettings s = LoadSettings();
        SCOPED_TRACE(std::string(c.com) + " / " + c.max + " / " + c.step + " / " + c.speed);
        EXPECT_EQ(s.PortIndex, c.portIndex);
        EXPECT_EQ(s.MaxPosition, c.maxPosition);
        EXPECT_FLOAT_EQ(s.StepSize, c.stepSize);
        EXPECT_EQ(s.Speed, c.speedValue);
    }
}

TEST_F(DriverSettingsTest, OneMissingValueTakesItsOwnDefault) {
    testregistry::SetSettingsText("COM", "5");
    testregistry::SetSettingsText("Speed", "0");
    const DriverSettings s = LoadSettings();
    EXPECT_EQ(s.PortIndex, 5);
    EXPECT_EQ(s.MaxPosition, 20000);
    EXPECT_FLOAT_EQ(s.StepSize, 1.27f);
    EXPECT_EQ(s.Speed, 0);
}

TEST_F(DriverSettingsTest, OversizedAndUnterminatedValues) {
    // Longer than the 256-byte buffer: unreadable, so the default applies.
    const std::string longText = "5" + std::string(300, '0');
    testregistry::SetSettingsText("MaxPosition", longText);
    EXPECT_EQ(LoadSettings().MaxPosition, 20000);

    // Exactly 256 bytes with no terminating zero: read to the end of the data.
    char raw[256];
    std::memset(raw, ' ', sizeof raw);
    std::memcpy(raw + sizeof raw - 2, "17", 2);
    testregistry::SetSettingsRaw("COM", REG_BINARY, raw, sizeof raw);
    EXPECT_EQ(LoadSettings().PortIndex, 17);

    // Another type is read as its raw bytes.
    testregistry::SetSettingsRaw("Speed", REG_BINARY, "2", 1);
    EXPECT_EQ(LoadSettings().Speed, 2);
}

TEST_F(DriverSettingsTest, SaveWritesTextFormsUnclamped) {
    SaveSettings(DriverSettings{4, 250000, 1.27f, -1});
    EXPECT_EQ(testregistry::GetSettingsText("COM").value_or("?"), "4");
    EXPECT_EQ(testregistry::GetSettingsText("MaxPosition").value_or("?"), "250000");
    EXPECT_EQ(testregistry::GetSettingsText("StepSize").value_or("?"), "1.270000");
    EXPECT_EQ(testregistry::GetSettingsText("Speed").value_or("?"), "-1");

    const DriverSettings reloaded = LoadSettings();
    EXPECT_EQ(reloaded.PortIndex, 4);
    EXPECT_EQ(reloaded.MaxPosition, 100000);
    EXPECT_FLOAT_EQ(reloaded.StepSize, 1.27f);
    EXPECT_EQ(reloaded.Speed, 0);
}

TEST_F(DriverSettingsTest, SaveLeavesOtherValuesOfTheKeyAlone) {
    testregistry::SetSettingsText("", "Tavrilen");
    testregistry::SetSettingsText("Trace", "1");
    EXPECT_TRUE(SaveSettings(DriverSettings{1, 2, 3.0f, 2}));
    EXPECT_EQ(testregistry::GetSettingsText("").value_or("?"), "Tavrilen");
    EXPECT_EQ(testregistry::GetSettingsText("Trace").value_or("?"), "1");
    EXPECT_TRUE(LoadTraceSwitch());
}

TEST_F(DriverSettingsTest, TheTraceSwitchIsANumberWhateverItsValueType) {
    const DWORD one = 1, zero = 0;
    const unsigned long long big = 1ULL << 40;
    testregistry::SetSettingsRaw("Trace", REG_DWORD, &one, sizeof one);
    EXPECT_TRUE(LoadTraceSwitch());
    testregistry::SetSettingsRaw("Trace", REG_DWORD, &zero, sizeof zero);
    EXPECT_FALSE(LoadTraceSwitch());
    testregistry::SetSettingsRaw("Trace", REG_QWORD, &big, sizeof big);
    EXPECT_TRUE(LoadTraceSwitch()) << "a bit above the low 32 counts too";
    testregistry::SetSettingsRaw("Trace", REG_EXPAND_SZ, "2", 2);
    EXPECT_TRUE(LoadTraceSwitch());
    testregistry::SetSettingsRaw("Trace", REG_BINARY, "\1", 1);
    EXPECT_FALSE(LoadTraceSwitch()) << "raw bytes are no number";
}

// A program without elevation, where the key's rights were not opened to
// users: the stored settings count all the same, and a save says it failed.
TEST_F(DriverSettingsTest, WithoutWriteAccessTheStoredSettingsLoadAndSavingFails) {
    testregistry::StoreSettings(4, 1500, "2.5", 2);
    testregistry::SetSettingsText("Trace", "1");
    testregistry::DenySettingsWrites();
    const DriverSettings s = LoadSettings();
    EXPECT_EQ(s.PortIndex, 4);
    EXPECT_EQ(s.MaxPosition, 1500);
    EXPECT_FLOAT_EQ(s.StepSize, 2.5f);
    EXPECT_EQ(s.Speed, 2);
    EXPECT_TRUE(LoadTraceSwitch());
    EXPECT_FALSE(SaveSettings(DriverSettings{1, 2, 3.0f, 0}));
    testregistry::AllowSettingsWrites();
    EXPECT_EQ(testregistry::GetSettingsText("COM").value_or("?"), "4");
}

TEST_F(DriverSettingsTest, ExtremeFloatsSurviveTheRoundTrip) {
    SaveSettings(DriverSettings{0, 0, 3.4e38f, 0});
    EXPECT_EQ(testregistry::GetSettingsText("StepSize").value_or("?").substr(0, 3), "339");
    EXPECT_FLOAT_EQ(LoadSettings().StepSize, 1000.0f);
    SaveSettings(DriverSettings{0, 0, -2.5f, 0});
    EXPECT_EQ(testregistry::GetSettingsText("StepSize").value_or("?"), "-2.500000");
    EXPECT_FLOAT_EQ(LoadSettings().StepSize, 0.01f);
}

}  // namespace

namespace {

TEST(DriverSettingsUnusableKey, LoadKeepsInitialValuesAndSaveWritesNothing) {
    testregistry::MakeSettingsKeyUnusable();
    const DriverSettings s = LoadSettings();
    EXPECT_EQ(s.PortIndex, 0);
    EXPECT_EQ(s.MaxPosition, 0);
    EXPECT_EQ(s.StepSize, 0.0f);
    EXPECT_EQ(s.Speed, -1);
    EXPECT_FALSE(SaveSettings(DriverSettings{3, 4, 5.0f, 2}));
    EXPECT_FALSE(LoadTraceSwitch());
    EXPECT_FALSE(testregistry::SettingsKeyExists());
    testregistry::RestoreSettingsParent();
    EXPECT_EQ(LoadSettings().MaxPosition, 20000);
}

}  // namespace

#ifdef _WIN64
namespace {

// The 64-bit driver shares its settings with the 32-bit one: they live where a
// 32-bit program's machine-wide keys live on 64-bit Windows.
TEST(DriverSettingsView, SixtyFourBitBuildUsesTheThirtyTwoBitView) {
    testregistry::DeleteSettingsKey();
    SaveSettings(DriverSettings{6, 777, 2.0f, 0});
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "Software\\Wow6432Node\\ASCOM\\Focuser Drivers\\Tavrilen.Focuser", 0,
                            KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    char text[16] = {};
    DWORD size = sizeof text - 1;
    EXPECT_EQ(RegQueryValueExA(key, "MaxPosition", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, "777");
    RegCloseKey(key);
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS)
        << "nothing in the 64-bit view";
    testregistry::DeleteSettingsKey();
}

}  // namespace
#endif

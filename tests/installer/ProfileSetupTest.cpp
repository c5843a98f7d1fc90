// FocuserProfile.exe's work, in process against the (Wine) registry: a link
// in the profile key's place, there before the work or swapped in after the
// first look, never leads it to another key; only the four settings travel
// through an uninstall.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <set>
#include <string>

#include "installer/ProfileSetup.h"
#include "settings/DriverSettings.h"
#include "tests/support/TestRegistry.h"

namespace {

constexpr char kVictim[] = "Software\\Tavrilen Test Victim";  // where a link could lead
constexpr char kKept[] = "Software\\Tavrilen\\Focuser settings";
constexpr DWORD kRights = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Keys in the settings' view; SetText and DeleteTree take paths below "Software".
HKEY Key(const std::string& path) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | testregistry::SettingsView(), &key);
    return key;
}

void SetText(const std::string& path, const char* name, const char* text) {
    HKEY software = Key("Software");
    RegSetKeyValueA(software, path.c_str() + 9, name, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(software);
}

void DeleteTree(const char* path) {
    HKEY software = Key("Software");
    RegDeleteTreeA(software, path + 9);
    RegCloseKey(software);
}

// Owner and DACL as SDDL, then the values (sorted) and the subkeys.
std::string Describe(const std::string& path) {
    HKEY key = Key(path);
    if (key == nullptr) return "missing";
    char buffer[4096], data[512];
    DWORD size = sizeof buffer;
    char* sddl = nullptr;
    RegGetKeySecurity(key, kRights, buffer, &size);
    std::string text = ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer, SDDL_REVISION_1, kRights, &sddl,
                                                                             nullptr) ? sddl : "?";
    LocalFree(sddl);
    std::set<std::string> values;
    for (DWORD i = 0, length = 256, bytes = sizeof data - 1;
         RegEnumValueA(key, i, buffer, &length, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes) == 0;
         ++i, length = 256, bytes = sizeof data - 1) {
        values.insert("|" + std::string(buffer) + "=" + std::string(data, bytes ? bytes - 1 : 0));
    }
    for (const std::string& value : values) text += value;
    for (DWORD i = 0; RegEnumKeyA(key, i, buffer, sizeof buffer) == ERROR_SUCCESS; ++i) {
        text += " [" + Describe(path + "\\" + buffer) + "]";
    }
    RegCloseKey(key);
    return text;
}

enum class Step { Install, Uninstall, UninstallKeeping };

int RunStep(Step step, profilesetup::Pause pause = nullptr) {
    std::string notes;
    return step == Step::Install ? profilesetup::Install(notes, pause)
                                 : profilesetup::Uninstall(step == Step::UninstallKeeping, notes, pause);
}

// A user's program, once the elevated one has had its first look: the key
// goes, and a link to another key takes its place.
void SwapKeyForLink() {
    testregistry::DeleteSettingsKey();
    testregistry::PlantLink(kSettingsKeyPath, kVictim);
}

class ProfileSetupTest : public testing::Test {
protected:
    void SetUp() override {
        TearDown();
        SetText(kVictim, "Precious", "yes");
        SetText(std::string(kVictim) + "\\Tavrilen.Focuser", "Precious", "too");
        victim = Describe(kVictim);
    }
    void TearDown() override {
        testregistry::DeleteSettingsKey();
        DeleteTree(kVictim);
        DeleteTree("Software\\Tavrilen");
    }
    std::string victim;
};

TEST_F(ProfileSetupTest, LinkInTheKeysPlaceNeverLeadsTheWorkToAnotherKey) {
    struct Case {
        const char* what;
        Step step;
        bool kept;   // settings an earlier uninstall kept are waiting
        bool early;  // the link is there before the work, not swapped in after the first look
    };
    const Case cases[] = {
        {"install over a link", Step::Install, false, true},
        {"install, swapped", Step::Install, false, false},
        {"upgrade with kept settings, swapped", Step::Install, true, false},
        {"uninstall from a link", Step::Uninstall, false, true},
        {"uninstall, swapped", Step::Uninstall, false, false},
        {"uninstall keeping the settings, swapped", Step::UninstallKeeping, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testregistry::DeleteSettingsKey();
        testregistry::StoreSettings(3, 12345, "2.5", 2);
        if (c.early) {
            testregistry::DeleteSettingsKey();
            ASSERT_TRUE(testregistry::PlantLink(kSettingsKeyPath, kVictim));
        }
        for (const char* name : {"COM", "Evil"}) {
            if (c.kept) SetText(kKept, name, "C:\\Users\\Public\\evil.exe");
        }
        RunStep(c.step, c.early ? nullptr : SwapKeyForLink);
        EXPECT_EQ(Describe(kVictim), victim);
        EXPECT_EQ(Describe(kKept) != "missing", c.kept) << "kept settings that did not arrive are not dropped";
        if (c.early && c.step == Step::Install) {
            EXPECT_TRUE(testregistry::SettingsKeyExists()) << "a key of its own in the link's place";
        }
        DeleteTree("Software\\Tavrilen");
    }
}

TEST_F(ProfileSetupTest, LinkAboveTheKeyIsRefused) {
    DeleteTree("Software\\ASCOM\\Focuser Drivers");
    ASSERT_TRUE(testregistry::PlantLink("Software\\ASCOM\\Focuser Drivers", kVictim));
    for (Step step : {Step::Install, Step::Uninstall}) {
        EXPECT_EQ(RunStep(step), profilesetup::kFailed);
    }
    EXPECT_EQ(Describe(kVictim), victim);
}

// The installer test checks the descriptor an install leaves, over what an
// earlier version let a user make of the key.
TEST_F(ProfileSetupTest, OnlyTheFourSettingsTravelThroughAnUninstall) {
    const std::string kFour = "|COM=COM|MaxPosition=MaxPosition|Speed=Speed|StepSize=StepSize";
    for (const char* name : {"COM", "MaxPosition", "StepSize", "Speed", "Trace", "Evil"}) SetText(kKept, name, name);
    EXPECT_EQ(RunStep(Step::Install), profilesetup::kDone);
    const std::string installed = Describe(kSettingsKeyPath);
    EXPECT_EQ(installed.substr(std::min(installed.find('|'), installed.size())), kFour);
    EXPECT_EQ(Describe(kKept), "missing");

    for (const char* name : {"", "Trace", "Evil"}) testregistry::SetSettingsText(name, name);
    EXPECT_EQ(RunStep(Step::UninstallKeeping), profilesetup::kDone);
    EXPECT_FALSE(testregistry::SettingsKeyExists());
    const std::string kept = Describe(kKept);
    EXPECT_EQ(kept.substr(std::min(kept.find('|'), kept.size())), kFour);
}

}  // namespace

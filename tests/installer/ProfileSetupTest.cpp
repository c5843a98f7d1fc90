// The installer's work on the profile key (FocuserProfile.exe), in process
// against the real (Wine) registry: a registry link put in the key's place,
// before the work or between the first look and the work, must never lead it
// to another key; the key ends with our descriptor; only the four settings
// travel through an uninstall that keeps them.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <set>
#include <string>

#include "installer/ProfileSetup.h"
#include "settings/DriverSettings.h"
#include "tests/support/TestRegistry.h"

namespace {

// A machine-wide key a link could lead to, and where kept settings wait.
constexpr char kVictim[] = "Software\\Tavrilen Test Victim";
constexpr char kKept[] = "Software\\Tavrilen\\Focuser settings";
constexpr char kDrivers[] = "Software\\ASCOM\\Focuser Drivers";

HKEY OpenKey(const char* path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access | testregistry::SettingsView(), &key) == ERROR_SUCCESS
               ? key
               : nullptr;
}

void SetText(const char* path, const char* name, const char* text) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | testregistry::SettingsView(), nullptr,
                    &key, nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(key);
}

void DeleteTree(const char* path) {
    HKEY software = OpenKey("Software", KEY_ALL_ACCESS);
    RegDeleteTreeA(software, path + strlen("Software\\"));
    RegCloseKey(software);
}

// Owner, DACL (with its protection) and values of a key and its subkeys, as
// text: what must not change in a key a link leads to.
std::string Describe(const char* path) {
    HKEY key = OpenKey(path);
    if (key == nullptr) return "missing";
    std::string text;
    char buffer[4096];
    DWORD size = sizeof buffer;
    if (RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer, &size) ==
        ERROR_SUCCESS) {
        char* sddl = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
                buffer, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
            text = sddl;
            LocalFree(sddl);
        }
    }
    std::set<std::string> values;  // in an order of their own, whatever the registry's
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        BYTE data[512] = {};
        size = sizeof data - 1;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, data, &size) != ERROR_SUCCESS) break;
        values.insert(std::string(name) + "=" + reinterpret_cast<char*>(data));
    }
    for (const std::string& value : values) text += "|" + value;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        text += " [" + Describe((std::string(path) + "\\" + name).c_str()) + "]";
    }
    RegCloseKey(key);
    return text;
}

// The key's owner and DACL entries, one "kind SID mask flags" each, and
// whether the DACL is protected from inheritance.
std::string Rights(const char* path) {
    HKEY key = OpenKey(path);
    if (key == nullptr) return "missing";
    char buffer[4096];
    DWORD size = sizeof buffer;
    const LONG rc = RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "unreadable";
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorOwner(buffer, &owner, &defaulted);
    GetSecurityDescriptorDacl(buffer, &present, &dacl, &defaulted);
    GetSecurityDescriptorControl(buffer, &control, &revision);
    auto sidText = [](PSID sid) {
        char* text = nullptr;
        std::string result = sid != nullptr && ConvertSidToStringSidA(sid, &text) ? text : "-";
        LocalFree(text);
        return result;
    };
    std::string text = "owner " + sidText(owner) + ((control & SE_DACL_PROTECTED) ? " protected" : " inherits");
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        GetAce(dacl, i, reinterpret_cast<void**>(&ace));
        char entry[128];
        snprintf(entry, sizeof entry, "; %s %s 0x%lx 0x%x",
                 ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? "allow" : "other", sidText(&ace->SidStart).c_str(),
                 static_cast<unsigned long>(ace->Mask), static_cast<unsigned>(ace->Header.AceFlags));
        text += entry;
    }
    return text;
}

enum class Step { Install, Uninstall, UninstallKeeping };

int RunStep(Step step, profilesetup::Pause pause = nullptr) {
    std::string notes;
    return step == Step::Install ? profilesetup::Install(notes, pause)
                                 : profilesetup::Uninstall(step == Step::UninstallKeeping, notes, pause);
}

// What a user's program does once the elevated one has had its first look:
// the key goes, and a link to another key takes its place.
void SwapKeyForLink() {
    testregistry::DeleteSettingsKey();
    ASSERT_TRUE(testregistry::PlantLink(kSettingsKeyPath, kVictim));
}

class ProfileSetupTest : public testing::Test {
protected:
    void SetUp() override {
        Clean();
        SetText(kVictim, "Precious", "yes");
        SetText((std::string(kVictim) + "\\Tavrilen.Focuser").c_str(), "Precious", "too");
        victim = Describe(kVictim);
    }
    void TearDown() override { Clean(); }
    static void Clean() {
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
        bool early;  // the link is there before the work starts, not swapped in after the first look
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
        if (c.early) {
            ASSERT_TRUE(testregistry::PlantLink(kSettingsKeyPath, kVictim));
        } else {
            testregistry::StoreSettings(3, 12345, "2.5", 2);
        }
        if (c.kept) {
            for (const char* name : {"COM", "Evil"}) SetText(kKept, name, "C:\\Users\\Public\\evil.exe");
        }
        RunStep(c.step, c.early ? nullptr : SwapKeyForLink);
        EXPECT_EQ(Describe(kVictim), victim);
        if (c.kept) {
            EXPECT_NE(Describe(kKept), "missing") << "kept settings that did not arrive are not dropped";
        }
        if (c.early && c.step == Step::Install) {
            EXPECT_TRUE(testregistry::SettingsKeyExists()) << "a key of its own in the link's place";
        }
        DeleteTree("Software\\Tavrilen");
    }
}

TEST_F(ProfileSetupTest, LinkAboveTheKeyIsRefused) {
    DeleteTree(kDrivers);
    ASSERT_TRUE(testregistry::PlantLink(kDrivers, kVictim));
    SetText(kKept, "COM", "4");
    for (Step step : {Step::Install, Step::Uninstall, Step::UninstallKeeping}) {
        EXPECT_EQ(RunStep(step), profilesetup::kFailed);
        EXPECT_EQ(Describe(kVictim), victim);
    }
}

TEST_F(ProfileSetupTest, InstallGivesTheKeyOurDescriptorWhateverItHad) {
    constexpr char kOurs[] =
        "owner S-1-5-32-544 protected; allow S-1-5-18 0xf003f 0x0; allow S-1-5-32-544 0xf003f 0x0;"
        " allow S-1-5-32-545 0x2001f 0x0";
    // What an earlier version's full control let a user leave: themselves
    // as owner, and an entry for everyone that subkeys inherit.
    testregistry::StoreSettings(3, 12345, "2.5", 2);
    PSECURITY_DESCRIPTOR seeded = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BUD:AI(A;CI;KA;;;BU)(A;CI;KA;;;WD)(A;;KA;;;BA)",
                                                                     SDDL_REVISION_1, &seeded, nullptr));
    HKEY key = OpenKey(kSettingsKeyPath, WRITE_DAC | WRITE_OWNER);
    ASSERT_EQ(RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, seeded), ERROR_SUCCESS);
    RegCloseKey(key);
    LocalFree(seeded);
    ASSERT_NE(Rights(kSettingsKeyPath), kOurs);

    EXPECT_EQ(RunStep(Step::Install), profilesetup::kDone);
    EXPECT_EQ(Rights(kSettingsKeyPath), kOurs);
    EXPECT_EQ(testregistry::GetSettingsText("MaxPosition"), "12345");
}

TEST_F(ProfileSetupTest, OnlyTheFourSettingsTravelThroughAnUninstall) {
    const char* const kAll[] = {"COM", "MaxPosition", "StepSize", "Speed", "Trace", "Evil"};
    const std::string kFour = "|COM=COM|MaxPosition=MaxPosition|Speed=Speed|StepSize=StepSize";
    for (const char* name : kAll) SetText(kKept, name, name);
    EXPECT_EQ(RunStep(Step::Install), profilesetup::kDone);
    EXPECT_EQ(Describe(kKept), "missing");
    const std::string installed = Describe(kSettingsKeyPath);
    EXPECT_EQ(installed.substr(installed.find('|')), kFour);

    for (const char* name : kAll) testregistry::SetSettingsText(name, name);
    testregistry::SetSettingsText(nullptr, "Tavrilen");
    EXPECT_EQ(RunStep(Step::UninstallKeeping), profilesetup::kDone);
    EXPECT_FALSE(testregistry::SettingsKeyExists());
    const std::string kept = Describe(kKept);
    EXPECT_EQ(kept.substr(kept.find('|')), kFour);

    testregistry::SetSettingsText("COM", "4");
    EXPECT_EQ(RunStep(Step::Uninstall), profilesetup::kDone);
    EXPECT_FALSE(testregistry::SettingsKeyExists());
    EXPECT_EQ(Describe(kKept), "missing") << "an uninstall that keeps nothing drops what an earlier one kept";
}

}  // namespace

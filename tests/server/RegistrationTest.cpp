// Registration and unregistration, through the export and through Wine's
// regsvr32, checked key by key in the registry a client reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/Focuser.h"
#include "settings/DriverSettings.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestRegistry.h"

namespace {

using namespace servertest;
using Names = std::vector<std::string>;

const char kHelp[] = "ASCOM Focuser Driver for Tavrilen Astrograph";
const char kClsid[] = "{3c9e52a1-7d4b-4f08-9b61-5e2a0d47c8f3}";
const char kInterfaceKey[] = "Interface\\{5b8f1e27-c04a-4d93-a6e2-7f319c0b84d6}";

Names Sorted(Names names) {
    for (std::string& name : names) {
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Sub(const std::string& key, const std::string& name) { return key + "\\" + name; }

// Everything the script and the type library registration leave behind.
void RemoveRegistration() {
    for (const char* key : {"Tavrilen.Focuser.1", "Tavrilen.Focuser", kClassKey, kTypeLibKey, kInterfaceKey}) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    }
}

void AddKey(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS) << path;
    RegCloseKey(key);
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

bool TypeLibraryRegistered() {
    ITypeLib* library = nullptr;
    if (FAILED(LoadRegTypeLib(LIBID_Tavrilen, 1, 0, 0, &library))) return false;
    library->Release();
    return true;
}

// Every key and value of a complete registration, and nothing else in the
// keys the script owns.
void ExpectRegistered(const std::string& dllPath) {
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1", nullptr), kHelp);
    EXPECT_EQ(Sorted(SubkeyNames(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1")), Names{"clsid"});
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1\\CLSID", nullptr), kClsid);

    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "Tavrilen.Focuser", nullptr), kHelp);
    EXPECT_EQ(Sorted(SubkeyNames(HKEY_CLASSES_ROOT, "Tavrilen.Focuser")), (Names{"clsid", "curver"}));
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "Tavrilen.Focuser\\CLSID", nullptr), kClsid);
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, "Tavrilen.Focuser\\CurVer", nullptr), "Tavrilen.Focuser.1");

    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, kClassKey, nullptr), kHelp);
    EXPECT_EQ(Sorted(SubkeyNames(HKEY_CLASSES_ROOT, kClassKey)),
              (Names{"inprocserver32", "progid", "programmable", "typelib", "versionindependentprogid"}));
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, Sub(kClassKey, "ProgID"), nullptr), "Tavrilen.Focuser.1");
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, Sub(kClassKey, "VersionIndependentProgID"), nullptr), "Tavrilen.Focuser");
    EXPECT_TRUE(ValueNames(HKEY_CLASSES_ROOT, Sub(kClassKey, "Programmable")).empty());
    EXPECT_TRUE(SubkeyNames(HKEY_CLASSES_ROOT, Sub(kClassKey, "Programmable")).empty());
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, Sub(kClassKey, "InprocServer32"), nullptr), dllPath)
        << "the full path, unquoted";
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, Sub(kClassKey, "InprocServer32"), "ThreadingModel"), "Apartment");
    EXPECT_EQ(Sorted(ValueNames(HKEY_CLASSES_ROOT, Sub(kClassKey, "InprocServer32"))), (Names{"", "threadingmodel"}));
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, Sub(kClassKey, "TypeLib"), nullptr),
              "{A71D2C94-6B3E-4E05-92F7-1D84B3C65E20}");
    for (const char* key : {"Tavrilen.Focuser.1\\CLSID", "Tavrilen.Focuser\\CLSID", "Tavrilen.Focuser\\CurVer"}) {
        EXPECT_TRUE(SubkeyNames(HKEY_CLASSES_ROOT, key).empty()) << key;
    }

    // The type library, registered with the DLL's own path.
    const std::string platform = sizeof(void*) == 8 ? "win64" : "win32";
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.0\\0\\" + platform, nullptr), dllPath);
    EXPECT_TRUE(TypeLibraryRegistered());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey)) << "the marshaller needs the interface";
}

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        RemoveRegistration();
        testregistry::DeleteSettingsKey();
        ASSERT_TRUE(dll.Load());
        dllPath = ModulePath(dll.Module());
    }
    void TearDown() override {
        dll.Unload();
        RemoveRegistration();
        testregistry::DeleteSettingsKey();
    }

    ServerDll dll;
    std::string dllPath;
};

TEST_F(RegistrationTest, RegisterWritesEveryEntryAndTwiceGivesTheSame) {
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    ExpectRegistered(dllPath);
    // A second registration rebuilds the class key from nothing.
    AddKey(Sub(kClassKey, "Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}"));
    AddKey(Sub(kClassKey, "InprocServer32\\Foreign"));
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    ExpectRegistered(dllPath);
}

TEST_F(RegistrationTest, UnregisterRemovesOnlyWhatNothingForeignHolds) {
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    AddKey(Sub(kClassKey, "Foreign"));
    AddKey("Tavrilen.Focuser\\CurVer\\Foreign");
    ASSERT_EQ(dll.UnregisterServer(), S_OK);

    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1"));
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, "Tavrilen.Focuser"), Names{"CurVer"});
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kClassKey), Names{"Foreign"});
    EXPECT_TRUE(ValueNames(HKEY_CLASSES_ROOT, Sub(kClassKey, "Foreign")).empty());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_FALSE(TypeLibraryRegistered());

    // What is left goes with the next unregistration once the foreign keys do.
    RegDeleteKeyA(HKEY_CLASSES_ROOT, Sub(kClassKey, "Foreign").c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "Tavrilen.Focuser\\CurVer\\Foreign");
    dll.UnregisterServer();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(RegistrationTest, UnregisterSkipsKeysAlreadyGoneAndGoesOnToTheTypeLibrary) {
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    for (const char* key : {"Tavrilen.Focuser.1", "Tavrilen.Focuser", kClassKey}) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    }
    ASSERT_TRUE(TypeLibraryRegistered());
    EXPECT_EQ(dll.UnregisterServer(), S_OK);
    EXPECT_FALSE(TypeLibraryRegistered());
}

TEST_F(RegistrationTest, ProfileDefaultValueIsWrittenOnlyWhenTheKeyExists) {
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    EXPECT_FALSE(testregistry::SettingsKeyExists()) << "registration never creates the profile key";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKeyPath, KEY_WOW64_64KEY));

    testregistry::SetSettingsText("COM", "2");
    ASSERT_EQ(dll.RegisterServer(), S_OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_READ | testregistry::SettingsView(), &key),
              ERROR_SUCCESS);
    char data[32] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 9u);
    EXPECT_STREQ(data, "Tavrilen");
    EXPECT_EQ(testregistry::GetSettingsText("COM"), "2");

    ASSERT_EQ(dll.UnregisterServer(), S_OK);
    EXPECT_EQ(testregistry::GetSettingsText(nullptr), "Tavrilen") << "unregistration leaves the profile alone";
    EXPECT_EQ(testregistry::GetSettingsText("COM"), "2");
}

TEST_F(RegistrationTest, ProfileDefaultValueIsNeverWrittenThroughALink) {
    // A user may have put a link to any machine-wide key in the profile key's place.
    const char kTarget[] = "Software\\Tavrilen Registration Target";
    HKEY target = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTarget, 0, nullptr, 0, KEY_ALL_ACCESS | testregistry::SettingsView(),
                              nullptr, &target, nullptr), ERROR_SUCCESS);
    RegSetValueExA(target, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("theirs"), 7);
    RegCloseKey(target);
    ASSERT_TRUE(testregistry::PlantLink(kSettingsKeyPath, kTarget));

    EXPECT_EQ(dll.RegisterServer(), S_OK);
    testregistry::DeleteSettingsKey();
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, kTarget, nullptr, testregistry::SettingsView()), "theirs");
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kTarget, testregistry::SettingsView(), 0);
}

TEST_F(RegistrationTest, FailedClassRegistrationIsRolledBackButTheProfileIsStillSet) {
    // A volatile key cannot hold the non-volatile keys the script writes.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Tavrilen.Focuser", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
    testregistry::SetSettingsText("COM", "2");

    EXPECT_EQ(dll.RegisterServer(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1")) << "written before the failure, taken out again";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(TypeLibraryRegistered()) << "no type library after a failed class registration";
    EXPECT_EQ(testregistry::GetSettingsText(nullptr), "Tavrilen");
}

TEST_F(RegistrationTest, PathWithASingleQuoteIsWrittenIntact) {
    const std::string folder = std::string(FOCUSER_TEST_TEMP_DIR) + "/O'Brien's drivers";
    const std::string copy = WindowsPath(folder + "/TavrilenFocuser.dll");
    CreateDirectoryA(WindowsPath(folder).c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(DllPath().c_str(), copy.c_str(), FALSE)) << copy;

    ServerDll quoted;
    ASSERT_TRUE(quoted.Load(copy));
    const std::string path = ModulePath(quoted.Module());
    ASSERT_NE(path.find("O'Brien's"), std::string::npos) << path;
    EXPECT_EQ(quoted.RegisterServer(), S_OK);
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, Sub(kClassKey, "InprocServer32"), nullptr), path);
    EXPECT_EQ(quoted.UnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    quoted.Unload();
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(WindowsPath(folder).c_str());
}

TEST_F(RegistrationTest, PathOfMaxPathCharactersIsRefusedBeforeAnythingIsWritten) {
    // Deep enough that the DLL's full path is longer than MAX_PATH.
    std::wstring folder = L"\\\\?\\" + Wide(WindowsPath(FOCUSER_TEST_TEMP_DIR));
    std::vector<std::wstring> made;
    while (folder.size() < MAX_PATH + 10) {
        folder += L"\\deep-folder-for-a-long-path";
        CreateDirectoryW(folder.c_str(), nullptr);
        made.push_back(folder);
    }
    const std::wstring copy = folder + L"\\TavrilenFocuser.dll";
    ASSERT_TRUE(CopyFileW(Wide(DllPath()).c_str(), copy.c_str(), FALSE));
    testregistry::SetSettingsText("COM", "2");

    const HMODULE module = LoadLibraryW(copy.c_str());
    if (module != nullptr) {
        using Function = HRESULT(WINAPI*)();
        auto registerServer = reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
        EXPECT_EQ(registerServer(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(TypeLibraryRegistered());
        EXPECT_EQ(testregistry::GetSettingsText(nullptr), "Tavrilen") << "the profile step still runs";
        FreeLibrary(module);
    }
    DeleteFileW(copy.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
    ASSERT_NE(module, nullptr) << "the loader refused the long path";
}

TEST_F(RegistrationTest, Regsvr32RegistersAndUnregisters) {
    const std::string regsvr32 = "C:\\windows\\system32\\regsvr32.exe";
    ProcessResult result = RunProcess(regsvr32 + " /s \"" + DllPath() + "\"", 60000);
    ASSERT_TRUE(result.finished) << result.output;
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    ExpectRegistered(dllPath);

    result = RunProcess(regsvr32 + " /s /u \"" + DllPath() + "\"", 60000);
    ASSERT_TRUE(result.finished) << result.output;
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(TypeLibraryRegistered());
}

}  // namespace

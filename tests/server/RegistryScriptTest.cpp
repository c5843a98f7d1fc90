// The registry-script interpreter on scripts of its own, under a scratch key
// of HKEY_CURRENT_USER: the script language, the register and unregister
// rules, and the rollback of a failed registration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/RegistryScript.h"
#include "tests/server/ServerTestSupport.h"

namespace {

using servertest::KeyExists;
using servertest::StringValue;
using servertest::SubkeyNames;
using servertest::ValueNames;

const char kScratch[] = "Software\\TavrilenScriptTest";

std::string Key(const std::string& path) { return std::string(kScratch) + "\\" + path; }

// A script whose one root entry is the scratch key.
std::string Script(const std::string& body) {
    return "HKCU\r\n{\r\n NoRemove Software\r\n {\r\n  NoRemove TavrilenScriptTest\r\n  {\r\n" + body +
           "\r\n  }\r\n }\r\n}\r\n";
}

class RegistryScriptTest : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kScratch); }

    HRESULT Parse(const std::string& text, std::vector<RegistryScript::Replacement> table = {}) {
        return script.Parse(text.data(), text.size(), table);
    }
    void AddKey(const std::string& path, DWORD options = 0) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Key(path).c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    RegistryScript script;
};

TEST_F(RegistryScriptTest, MalformedScriptsAreRefusedBeforeAnythingIsWritten) {
    const char* bodies[] = {
        "A = s 'x'\r\n  {",                 // block not closed
        "A = s 'unterminated }",            // quote not closed
        "A = d '1'",                        // no such value type
        "A = s",                            // no value
        "val A",                            // named value without a value
        "val A = s 'x' { B }",              // named value with entries
        "ForceRemove val A = s 'x'",        // marker on a named value
        "A = s '%NOSUCH%'",                 // unknown replacement
        "A = s '%MODULE'",                  // replacement not closed
    };
    for (const char* body : bodies) {
        EXPECT_EQ(Parse(Script(body), {{L"Module", L"x"}}), RegistryScript::kSyntaxError) << body;
    }
    EXPECT_EQ(Parse("HKXX\r\n{\r\n}\r\n"), RegistryScript::kSyntaxError) << "unknown root";
    EXPECT_EQ(script.Register(), S_OK) << "a refused script registers nothing";
    EXPECT_TRUE(SubkeyNames(HKEY_CURRENT_USER, kScratch).empty());
}

TEST_F(RegistryScriptTest, ReplacementsAndQuotedTextAreWrittenAsMeant) {
    ASSERT_EQ(Parse(Script("'Key with spaces' = s 'It''s %module% at 100%%'\r\n"
                           "   {\r\n    val '{' = s '%AppId%'\r\n   }"),
                    {{L"Module", L"C:\\O''Brien\\x.dll"}, {L"APPID", L""}}),
              S_OK);
    ASSERT_EQ(script.Register(), S_OK);
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, Key("Key with spaces"), nullptr), "It's C:\\O'Brien\\x.dll at 100%");
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, Key("Key with spaces"), "{"), "");
}

TEST_F(RegistryScriptTest, RegisterRebuildsForceRemoveKeysAndKeepsOthers) {
    ASSERT_EQ(Parse(Script("Plain = s 'p'\r\n   {\r\n    Child\r\n   }\r\n"
                           "   ForceRemove Forced = s 'f'\r\n   {\r\n    val Named = s 'n'\r\n   }")),
              S_OK);
    AddKey("Plain\\Foreign");
    AddKey("Forced\\Foreign");
    ASSERT_EQ(script.Register(), S_OK);
    EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER, Key("Plain")).size(), 2u) << "a plain key is written into";
    EXPECT_TRUE(SubkeyNames(HKEY_CURRENT_USER, Key("Forced")).empty()) << "a ForceRemove key starts afresh";
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, Key("Forced"), nullptr), "f");
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, Key("Forced"), "Named"), "n");
}

TEST_F(RegistryScriptTest, UnregisterRemovesWhatNothingForeignHoldsAndSkipsWhatIsGone) {
    ASSERT_EQ(Parse(Script("Kept = s 'k'\r\n   {\r\n    val Named = s 'n'\r\n    Child\r\n   }\r\n"
                           "   Gone\r\n   {\r\n    Deeper\r\n   }\r\n"
                           "   NoRemove Fixed\r\n   {\r\n    Inner\r\n   }")),
              S_OK);
    ASSERT_EQ(script.Register(), S_OK);
    AddKey("Kept\\Foreign");
    RegDeleteTreeA(HKEY_CURRENT_USER, Key("Gone").c_str());

    ASSERT_EQ(script.Unregister(), S_OK);
    EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER, Key("Kept")), std::vector<std::string>{"Foreign"});
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, Key("Kept")), std::vector<std::string>{""})
        << "the named value goes, the default value goes with the key";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Key("Gone")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Key("Fixed"))) << "NoRemove";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Key("Fixed\\Inner")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kScratch));

    EXPECT_EQ(script.Unregister(), S_OK) << "again, with most of it gone";
}

TEST_F(RegistryScriptTest, FailedRegistrationTakesOutWhatItWrote) {
    AddKey("Volatile", REG_OPTION_VOLATILE);
    ASSERT_EQ(Parse(Script("First = s '1'\r\n   {\r\n    Below\r\n   }\r\n"
                           "   Volatile\r\n   {\r\n    Durable = s 'no'\r\n   }\r\n"
                           "   Never")),
              S_OK);
    EXPECT_EQ(script.Register(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Key("First")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Key("Never")));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Key("Volatile"))) << "the unregister rules reach it too";
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kScratch)) << "NoRemove holds in the rollback";
}

}  // namespace

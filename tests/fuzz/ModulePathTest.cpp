// Module paths that try to break out of the registry script's quotes, named
// one by one; the fuzzer tries the rest. The path length limit itself is
// enforced (and tested) where the module path is obtained, under Wine.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/FuzzCheck.h"
#include "server/RegistryScriptText.h"

namespace {

void RecordFailure(const char* file, int line, const std::string& message) {
    ADD_FAILURE_AT(file, line) << message;
}

class ModulePath : public testing::Test {
protected:
    void SetUp() override { fuzzcheck::SetFailureHandler(RecordFailure); }
    void TearDown() override { fuzzcheck::SetFailureHandler(nullptr); }
};

// A path of exactly this many characters: the folder repeated, cut to fit,
// and the DLL's name at the end.
std::wstring PathOfLength(size_t length, const std::wstring& folder) {
    const std::wstring file = L"\\TavrilenFocuser.dll";
    std::wstring path = L"C:";
    while (path.size() + file.size() < length) path += folder;
    path.resize(length - file.size());
    return path + file;
}

TEST_F(ModulePath, QuotesBracesAndPercentSignsComeThroughIntact) {
    const wchar_t* paths[] = {
        L"C:\\O'Brien's drivers\\TavrilenFocuser.dll",
        L"'",
        L"''",
        L"C:\\x'",                                   // a quote just before the closing one
        L"C:\\{3c9e52a1-7d4b-4f08-9b61-5e2a0d47c8f3}\\} {\\TavrilenFocuser.dll",
        L"C:\\100%\\%MODULE%\\%%\\%APPID%\\%",       // replacement text is not looked at again
        L"C:\\a' }\r\n}\r\nHKCR\r\n{\r\nForceRemove Evil = s 'x",
        L"C:\\x'\r\n{\r\nval ThreadingModel = s 'Free",
        L"\tC:\\ spaced \\ name .dll \r\n",
        L"",
    };
    for (const wchar_t* path : paths) fuzzcheck::CheckModulePath(path);
}

TEST_F(ModulePath, PathsAroundTheLengthLimitReadLikeAnyOther) {
    for (const size_t length : {259u, 260u, 261u}) {
        fuzzcheck::CheckModulePath(PathOfLength(length, L"\\O'Neil {100%} '%MODULE%'"));
        fuzzcheck::CheckModulePath(PathOfLength(length, L"\\''''"));
        EXPECT_EQ(PathOfLength(length, L"\\x").size(), length);
    }
}

TEST(ModuleReplacements, EveryNameOfTheTableIsMatchedWithoutRegardToCase) {
    std::wstring out;
    ASSERT_TRUE(registryscript::Substitute(L"'%Module%' '%MODULE_RAW%' '%appid%' 100%%",
                                           registryscript::ModuleReplacements(L"C:\\O'B\\x.dll"), out));
    EXPECT_EQ(out, L"'C:\\O''B\\x.dll' 'C:\\O''B\\x.dll' '' 100%");
    EXPECT_FALSE(registryscript::Substitute(L"%CLSID%", registryscript::ModuleReplacements(L"x"), out));
}

}  // namespace

// Registration from a copy of the DLL whose full path is exactly 259, 260 or
// 261 characters long, with folder names made of what the registry script
// has to protect (quotes, braces, percent signs): up to MAX_PATH - 1 the path
// is registered as it is; from MAX_PATH on it is refused before anything is
// written, rather than registered cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/Focuser.h"
#include "tests/server/ServerTestSupport.h"

namespace {

using namespace servertest;

constexpr HRESULT kPathTooLong = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, ERROR_INSUFFICIENT_BUFFER);

void RemoveRegistration() {
    for (const char* key : {"Tavrilen.Focuser.1", "Tavrilen.Focuser", kClassKey, kTypeLibKey}) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    }
}

bool TypeLibraryRegistered() {
    ITypeLib* library = nullptr;
    if (FAILED(LoadRegTypeLib(LIBID_Tavrilen, 1, 0, 0, &library))) return false;
    library->Release();
    return true;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (const wchar_t c : text) narrow += static_cast<char>(c);  // the paths here are ASCII
    return narrow;
}

// A copy of the DLL at a path of exactly the length asked for, made of
// folders named after a hostile pattern; removed again on destruction.
class DllCopy {
public:
    ~DllCopy() {
        if (m_module != nullptr) FreeLibrary(m_module);
        DeleteFileW(Long(m_path).c_str());
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it) RemoveDirectoryW(Long(*it).c_str());
    }

    bool Make(size_t length) {
        const std::string dll = DllPath();
        const std::wstring file = Wide(dll.substr(dll.find_last_of('\\')));
        std::wstring folder = Wide(WindowsPath(FOCUSER_TEST_TEMP_DIR));
        if (folder.size() + file.size() >= length) return false;
        while (folder.size() + file.size() < length) {
            // A separator and a name; never leave a gap of one, which no
            // folder could fill.
            const size_t rest = length - file.size() - folder.size();
            if (rest < 2) return false;
            size_t size = std::min<size_t>(rest - 1, kNameSize);
            if (rest - 1 - size == 1) --size;
            folder += L"\\" + Name(size);
            if (!CreateDirectoryW(Long(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
            m_folders.push_back(folder);
        }
        m_path = folder + file;
        return m_path.size() == length && CopyFileW(Wide(dll).c_str(), Long(m_path).c_str(), FALSE);
    }

    // Loads the copy; its path as the platform reports it must be the one made.
    bool Load() {
        m_module = LoadLibraryW(Long(m_path).c_str());
        if (m_module == nullptr) return false;
        wchar_t reported[1024] = {};
        const DWORD size = GetModuleFileNameW(m_module, reported, 1024);
        return std::wstring(reported, size) == m_path;
    }

    HRESULT Call(const char* name) const {
        using Function = HRESULT(WINAPI*)();
        const auto function =
            reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
        return function != nullptr ? function() : E_NOTIMPL;
    }

    const std::wstring& Path() const { return m_path; }

private:
    static constexpr size_t kNameSize = 200;

    static std::wstring Name(size_t size) {
        static const std::wstring kPattern = L"O'Neil {100%} %MODULE% ''";
        std::wstring name;
        while (name.size() < size) name += kPattern;
        name.resize(size);
        // The platform drops trailing blanks from a folder name.
        if (name.back() == L' ') name.back() = L'x';
        return name;
    }

    // Long paths are reached through the \\?\ form.
    static std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

    std::wstring m_path;
    std::vector<std::wstring> m_folders;
    HMODULE m_module = nullptr;
};

class ModulePathLimitTest : public testing::TestWithParam<size_t> {
protected:
    void SetUp() override { RemoveRegistration(); }
    void TearDown() override { RemoveRegistration(); }
};

TEST_P(ModulePathLimitTest, PathsUpToMaxPathMinusOneAreRegisteredAndLongerOnesRefused) {
    const size_t length = GetParam();
    DllCopy copy;
    ASSERT_TRUE(copy.Make(length)) << "cannot place the DLL at a path of " << length << " characters";
    ASSERT_TRUE(copy.Load()) << Narrow(copy.Path());

    if (length < MAX_PATH) {
        ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
        EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", nullptr),
                  Narrow(copy.Path()));
        EXPECT_TRUE(TypeLibraryRegistered());
        EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    } else {
        EXPECT_EQ(copy.Call("DllRegisterServer"), kPathTooLong);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser.1"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Tavrilen.Focuser"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(TypeLibraryRegistered());
        EXPECT_EQ(copy.Call("DllUnregisterServer"), kPathTooLong);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ModulePathLimitTest, testing::Values(259u, 260u, 261u),
                         [](const testing::TestParamInfo<size_t>& info) {
                             return std::to_string(info.param) + "Characters";
                         });

}  // namespace

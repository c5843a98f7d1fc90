// Shows the installer test what an installation left that reg.exe cannot,
// and makes what a user or an earlier version may have left for the next one:
//
//   inspect-install rights KEY      the owner of HKLM\KEY (32-bit view) and whether
//                                   its DACL is protected from inheritance, as
//                                   "owner SID protected|inherits", then its DACL,
//                                   one entry a line: "allow|deny|other SID MASK FLAGS"
//                                   (mask and ACE flags in hex)
//   inspect-install shortcut LNK    the shortcut's target and arguments, one
//                                   to a line (Wine reads no show command back:
//                                   the test takes it from the file itself)
//   inspect-install run LNK         runs the shortcut's command line as the
//                                   shell would start it; exits with its code
//   inspect-install descriptor KEY SDDL  gives HKLM\KEY (32-bit view) the owner
//                                   and DACL SDDL describes, as an earlier version's
//                                   full control let a user do
//   inspect-install link KEY TARGET creates HKLM\KEY (32-bit view) as a registry
//                                   link to TARGET, a native path such as
//                                   \Registry\Machine\Software\X
//
// Exit code 0 on success, 1 when the thing cannot be read or run, 2 on a bad
// command line.
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int PrintRights(const wchar_t* key_path) {
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, READ_CONTROL | KEY_WOW64_32KEY, &key);
    if (result != ERROR_SUCCESS) {
        std::printf("cannot open the key: error %ld\n", result);
        return 1;
    }
    PACL dacl = nullptr;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    result = GetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                             nullptr, &dacl, nullptr, &descriptor);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        std::printf("cannot read the key's DACL: error %ld\n", result);
        return 1;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    char* owner_text = nullptr;
    if (owner == nullptr || !ConvertSidToStringSidA(owner, &owner_text)) {
        owner_text = nullptr;
    }
    std::printf("owner %s %s\n", owner_text ? owner_text : "-", (control & SE_DACL_PROTECTED) ? "protected" : "inherits");
    LocalFree(owner_text);
    if (dacl == nullptr) {
        std::printf("no DACL\n");  // everyone may do everything
    }
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) {
            continue;
        }
        // Allowed and denied entries share one layout: mask, then the SID.
        const char* kind = "other";
        ACCESS_MASK mask = 0;
        PSID sid = nullptr;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? "allow" : "deny";
            mask = ace->Mask;
            sid = &ace->SidStart;
        }
        char* sid_text = nullptr;
        if (sid == nullptr || !ConvertSidToStringSidA(sid, &sid_text)) {
            sid_text = nullptr;
        }
        std::printf("%s %s 0x%lx 0x%x\n", kind, sid_text ? sid_text : "-", static_cast<unsigned long>(mask),
                    static_cast<unsigned>(header->AceFlags));
        LocalFree(sid_text);
    }
    LocalFree(descriptor);
    return 0;
}

int SetDescriptor(const wchar_t* key_path, const wchar_t* sddl) {
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, WRITE_DAC | WRITE_OWNER | KEY_WOW64_32KEY, &key);
    if (result != ERROR_SUCCESS) {
        std::printf("cannot open the key: error %ld\n", result);
        return 1;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        result = static_cast<LONG>(GetLastError());
    } else {
        result = RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
    }
    if (result != ERROR_SUCCESS) {
        std::printf("cannot change the key's owner and DACL: error %ld\n", result);
    }
    LocalFree(descriptor);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : 1;
}

int CreateLink(const wchar_t* key_path, const wchar_t* target) {
    HKEY key;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK | KEY_WOW64_32KEY, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        std::printf("cannot create the link key: error %ld\n", result);
        return 1;
    }
    // The target's path without its terminating zero, as the system stores it.
    result = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                            static_cast<DWORD>(std::wcslen(target) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        std::printf("cannot point the link at its target: error %ld\n", result);
        return 1;
    }
    return 0;
}

struct Shortcut {
    wchar_t target[MAX_PATH] = {};
    wchar_t arguments[1024] = {};
};

bool LoadShortcut(const wchar_t* file, Shortcut& shortcut) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return false;
    }
    IPersistFile* persist = nullptr;
    bool loaded = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
                  SUCCEEDED(persist->Load(file, STGM_READ)) &&
                  SUCCEEDED(link->GetPath(shortcut.target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
                  SUCCEEDED(link->GetArguments(shortcut.arguments, 1024));
    if (persist != nullptr) {
        persist->Release();
    }
    link->Release();
    return loaded;
}

int RunShortcut(const Shortcut& shortcut) {
    std::wstring command = L"\"" + std::wstring(shortcut.target) + L"\" " + shortcut.arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(shortcut.target, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::printf("cannot start it: error %lu\n", GetLastError());
        return 1;
    }
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        std::printf("it did not end within a minute\n");
        TerminateProcess(process.hProcess, 1);
    } else {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"rights") == 0) {
        return PrintRights(argv[2]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"descriptor") == 0) {
        return SetDescriptor(argv[2], argv[3]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"link") == 0) {
        return CreateLink(argv[2], argv[3]);
    }
    if (argc != 3 || (std::wcscmp(argv[1], L"shortcut") != 0 && std::wcscmp(argv[1], L"run") != 0)) {
        std::fprintf(stderr,
                     "usage: inspect-install rights KEY | shortcut LNK | run LNK | descriptor KEY SDDL | link KEY TARGET\n");
        return 2;
    }
    CoInitialize(nullptr);
    Shortcut shortcut;
    int status = 1;
    if (!LoadShortcut(argv[2], shortcut)) {
        std::printf("cannot read the shortcut\n");
    } else if (std::wcscmp(argv[1], L"run") == 0) {
        status = RunShortcut(shortcut);
    } else {
        std::printf("%ls\n%ls\n", shortcut.target, shortcut.arguments);
        status = 0;
    }
    CoUninitialize();
    return status;
}

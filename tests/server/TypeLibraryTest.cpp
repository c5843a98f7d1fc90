// The type library carried in the DLL, read back with the platform's loader:
// every attribute early-bound clients, the dispatch path and COM's marshaller
// depend on. Both builds' DLLs are read, the 32-bit one as a data file.
#include <gtest/gtest.h>

#include <string>

#include "driver/Focuser.h"
#include "tests/server/ServerTestSupport.h"

namespace {

const wchar_t kHelp[] = L"ASCOM Focuser Driver for Tavrilen Astrograph";
const GUID kStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct Member {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    VARTYPE type;           // of the one parameter (pointee for out); VT_EMPTY: none
    USHORT flags;           // of that parameter
    const wchar_t* parameter;  // its name; nullptr: stored without one
    const wchar_t* help;
};

constexpr USHORT kOut = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
// In virtual-table order, from slot 7.
const Member kMembers[] = {
    {L"StepSize", 1, INVOKE_PROPERTYGET, VT_R4, kOut, L"pVal", L"Step size in microns (absolute) or speed (relative)"},
    {L"SetupDialog", 2, INVOKE_FUNC, VT_EMPTY, 0, nullptr, L"Display the setup dialog box"},
    {L"MaxStep", 3, INVOKE_PROPERTYGET, VT_I4, kOut, L"pVal", L"Maximum step position (absolute only)"},
    {L"IsMoving", 4, INVOKE_PROPERTYGET, VT_BOOL, kOut, L"pVal", L"True if focuser is currently moving"},
    {L"Move", 5, INVOKE_FUNC, VT_I4, 0, L"Position", L"Move to position (absolute mode) or +/- distance (relative mode)"},
    {L"Position", 6, INVOKE_PROPERTYGET, VT_I4, kOut, L"pVal", L"Current focuser position (absolute only)"},
    {L"Link", 9, INVOKE_PROPERTYGET, VT_BOOL, kOut, L"pVal", L"Set true to start link to focuser, false to shut down"},
    {L"Link", 9, INVOKE_PROPERTYPUT, VT_BOOL, PARAMFLAG_FIN, nullptr, L"Set true to start link to focuser, false to shut down"},
    {L"Absolute", 10, INVOKE_PROPERTYGET, VT_BOOL, kOut, L"pVal", L"True if the focuser control is capable of absolute positioning"},
    {L"TempCompAvailable", 11, INVOKE_PROPERTYGET, VT_BOOL, kOut, L"pVal", L"True if the focuser is capable of automatic temperature compensation"},
    {L"TempComp", 12, INVOKE_PROPERTYGET, VT_BOOL, kOut, L"pVal", L"When True, temperature compensation is on; Move command not available"},
    {L"TempComp", 12, INVOKE_PROPERTYPUT, VT_BOOL, PARAMFLAG_FIN, nullptr, L"When True, temperature compensation is on; Move command not available"},
    {L"Temperature", 13, INVOKE_PROPERTYGET, VT_R4, kOut, L"pVal", L"Temperature at focuser; 100 if not available"},
    {L"MaxIncrement", 14, INVOKE_PROPERTYGET, VT_I4, kOut, L"pVal", L"Maximum increment for Move"},
    {L"Stop", 15, INVOKE_FUNC, VT_EMPTY, 0, nullptr, L"Stop focuser motion immediately"},
    {L"Halt", 16, INVOKE_FUNC, VT_EMPTY, 0, nullptr, L"method Halt"},
};

std::wstring Text(BSTR text) {
    std::wstring copy = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return copy;
}

struct Documentation {
    std::wstring name, help;
    DWORD context = 0xFFFFFFFF;
    bool hasHelpFile = true;
};

Documentation Document(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr, help = nullptr, file = nullptr;
    Documentation d;
    EXPECT_EQ(info->GetDocumentation(id, &name, &help, &d.context, &file), S_OK);
    d.hasHelpFile = file != nullptr && SysStringLen(file) > 0;
    d.name = Text(name);
    d.help = Text(help);
    SysFreeString(file);
    return d;
}

struct Library {
    std::string path;
    SYSKIND syskind;
    size_t pointerSize;
};

class TypeLibraryTest : public testing::TestWithParam<Library> {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadTypeLibEx(servertest::Wide(GetParam().path).c_str(), REGKIND_NONE, &library), S_OK)
            << "no type library in " << GetParam().path;
    }
    void TearDown() override {
        if (library != nullptr) library->Release();
    }
    ITypeInfo* Info(UINT index) {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(library->GetTypeInfo(index, &info), S_OK);
        return info;
    }
    ITypeLib* library = nullptr;
};

TEST_P(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_Tavrilen));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->syskind, GetParam().syskind);
    // The loader adds LIBFLAG_FHASDISKIMAGE itself.
    EXPECT_EQ(attributes->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN), 0);
    library->ReleaseTLibAttr(attributes);

    BSTR name = nullptr, help = nullptr, file = nullptr;
    DWORD context = 1;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &help, &context, &file), S_OK);
    EXPECT_EQ(Text(name), L"Tavrilen");
    EXPECT_EQ(Text(help), kHelp);
    EXPECT_EQ(Text(file), L"");
    EXPECT_EQ(context, 0u);

    ASSERT_EQ(library->GetTypeInfoCount(), 2u);
    TYPEKIND kind;
    ASSERT_EQ(library->GetTypeInfoType(0, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_COCLASS) << "the coclass is described first";
    ASSERT_EQ(library->GetTypeInfoType(1, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_DISPATCH);
}

TEST_P(TypeLibraryTest, ResourcesAreWhereRegistrationLooks) {
    const HMODULE module = LoadLibraryExA(GetParam().path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(FindResourceExW(module, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr) << "TYPELIB 1, English (United States)";

    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(102), L"REGISTRY");
    ASSERT_NE(resource, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    const std::string script(text, SizeofResource(module, resource));
    EXPECT_EQ(script.compare(0, 6, "HKCR\r\n"), 0);
    size_t lines = 0;
    for (size_t i = 0; i < script.size(); ++i) {
        EXPECT_LT(static_cast<unsigned char>(script[i]), 0x80u) << "plain 8-bit text, at " << i;
        if (script[i] != '\n') continue;
        ++lines;
        EXPECT_TRUE(i > 0 && script[i - 1] == '\r') << "a bare line feed at " << i;
    }
    EXPECT_GT(lines, 20u);
    FreeLibrary(module);
}

TEST_P(TypeLibraryTest, CoclassFocuser) {
    ITypeInfo* coclass = Info(0);
    ASSERT_NE(coclass, nullptr);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Focuser));
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attributes->wMajorVerNum, 0);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->cImplTypes, 1);
    coclass->ReleaseTypeAttr(attributes);

    const Documentation d = Document(coclass, MEMBERID_NIL);
    EXPECT_EQ(d.name, L"Focuser");
    EXPECT_EQ(d.help, kHelp);

    INT flags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE reference = 0;
    ITypeInfo* implemented = nullptr;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &implemented), S_OK);
    EXPECT_EQ(Document(implemented, MEMBERID_NIL).name, L"IFocuser");
    implemented->Release();
    coclass->Release();
}

TEST_P(TypeLibraryTest, InterfaceIFocuser) {
    ITypeInfo* dispatch = Info(1);
    ASSERT_NE(dispatch, nullptr);
    const Documentation d = Document(dispatch, MEMBERID_NIL);
    EXPECT_EQ(d.name, L"IFocuser");
    EXPECT_EQ(d.help, kHelp);
    EXPECT_EQ(d.context, 0u);

    // The interface half of the dual interface carries what was stored.
    HREFTYPE reference = 0;
    ITypeInfo* info = nullptr;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &reference), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(reference, &info), S_OK);
    dispatch->Release();

    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IFocuser));
    EXPECT_EQ(attributes->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attributes->wMajorVerNum, 0);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->cFuncs, 16);
    EXPECT_EQ(attributes->cVars, 0);
    EXPECT_EQ(attributes->cbSizeVft, 23 * GetParam().pointerSize);
    EXPECT_EQ(attributes->cImplTypes, 1);
    info->ReleaseTypeAttr(attributes);

    // The base is IDispatch, from the imported standard library.
    ITypeInfo* base = nullptr;
    ITypeLib* baseLibrary = nullptr;
    UINT index = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &reference), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(reference, &base), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IDispatch));
    base->ReleaseTypeAttr(attributes);
    ASSERT_EQ(base->GetContainingTypeLib(&baseLibrary, &index), S_OK);
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(baseLibrary->GetLibAttr(&libraryAttributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(libraryAttributes->guid, kStdOle));
    EXPECT_EQ(libraryAttributes->wMajorVerNum, 2);
    EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
    baseLibrary->ReleaseTLibAttr(libraryAttributes);
    baseLibrary->Release();
    base->Release();

    // The loader gives a 32-bit library's slot offsets in this process's
    // pointer size; the slots themselves are what must hold.
    SHORT slotSize = 0;
    for (UINT i = 0; i < 16; ++i) {
        const Member& m = kMembers[i];
        SCOPED_TRACE(testing::Message() << "function " << i);
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, m.id);
        EXPECT_EQ(f->invkind, m.kind);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        EXPECT_EQ(f->wFuncFlags, 0);
        EXPECT_EQ(f->cParamsOpt, 0);
        if (i == 0) slotSize = f->oVft / 7;
        EXPECT_TRUE(slotSize == 4 || slotSize == 8) << f->oVft;
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * slotSize)) << "slot " << 7 + i;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        ASSERT_EQ(f->cParams, m.type == VT_EMPTY ? 0 : 1);
        if (f->cParams == 1) {
            const ELEMDESC& p = f->lprgelemdescParam[0];
            EXPECT_EQ(p.paramdesc.wParamFlags, m.flags);
            if (m.flags & PARAMFLAG_FOUT) {
                ASSERT_EQ(p.tdesc.vt, VT_PTR);
                EXPECT_EQ(p.tdesc.lptdesc->vt, m.type);
            } else {
                EXPECT_EQ(p.tdesc.vt, m.type);
            }
        }
        info->ReleaseFuncDesc(f);

        const Documentation doc = Document(info, m.id);
        EXPECT_EQ(doc.name, m.name);
        EXPECT_EQ(doc.help, m.help);
        EXPECT_EQ(doc.context, 0u);

        // Names are looked up by member id, so a put shows its get's names.
        if (m.kind == INVOKE_PROPERTYPUT) continue;
        BSTR names[3] = {};
        UINT count = 0;
        ASSERT_EQ(info->GetNames(m.id, names, 3, &count), S_OK);
        ASSERT_EQ(count, m.parameter != nullptr ? 2u : 1u);
        EXPECT_EQ(Text(names[0]), m.name);
        if (count == 2) {
            EXPECT_EQ(Text(names[1]), m.parameter);
        }
    }
    info->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Builds, TypeLibraryTest,
    testing::Values(Library{servertest::DllPath(), sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, sizeof(void*)},
                    Library{servertest::Dll32Path(), SYS_WIN32, 4}),
    [](const testing::TestParamInfo<Library>& info) {
        return info.index == 0 ? std::string("ThisBuild") : std::string("Win32Build");
    });

}  // namespace

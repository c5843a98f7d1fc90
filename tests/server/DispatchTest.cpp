// Late binding on a registered server: names to dispatch identifiers, Invoke
// through the registered type library, and what a client sees when that
// library is not registered.
#include <gtest/gtest.h>

#include "driver/Focuser.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestRegistry.h"

namespace {

using servertest::ServerDll;

class DispatchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dll.Load());
        ASSERT_EQ(dll.RegisterServer(), S_OK);
        // COM4's far end stays silent: a connect gets as far as the handshake.
        testregistry::StoreSettings(3, 20000, "1.27", 1);
        ASSERT_EQ(dll.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    }
    void TearDown() override {
        if (dispatch != nullptr) dispatch->Release();
        dispatch = nullptr;
        dll.UnregisterServer();
        dll.Unload();
        testregistry::DeleteSettingsKey();
    }

    HRESULT Lookup(const wchar_t* name, DISPID& id) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    }
    HRESULT PutLink(VARIANT_BOOL value, EXCEPINFO* exception = nullptr) {
        VARIANT argument;
        VariantInit(&argument);
        V_VT(&argument) = VT_BOOL;
        V_BOOL(&argument) = value;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&argument, &named, 1, 1};
        return dispatch->Invoke(9, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                exception, nullptr);
    }
    HRESULT Get(DISPID id, VARIANT& result) {
        VariantInit(&result);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                                nullptr, nullptr);
    }

    ServerDll dll;
    IDispatch* dispatch = nullptr;
};

TEST_F(DispatchTest, NamesResolveToTheirDispatchIdentifiers) {
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);

    DISPID id = 0;
    EXPECT_EQ(Lookup(L"Link", id), S_OK);
    EXPECT_EQ(id, 9);
    id = 0;
    EXPECT_EQ(Lookup(L"LINK", id), S_OK) << "a miss in the cache goes to the type information";
    EXPECT_EQ(id, 9);
    EXPECT_EQ(Lookup(L"Halt", id), S_OK);
    EXPECT_EQ(id, 16);
    EXPECT_EQ(Lookup(L"Focus", id), DISP_E_UNKNOWNNAME);

    LPOLESTR pair[] = {const_cast<LPOLESTR>(L"Move"), const_cast<LPOLESTR>(L"Position")};
    DISPID ids[2] = {-5, -5};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, pair, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[1], 0) << "the parameter's position";

    ITypeInfo* first = nullptr;
    ITypeInfo* third = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &first), S_OK);
    ASSERT_EQ(dispatch->GetTypeInfo(3, LOCALE_USER_DEFAULT, &third), S_OK);
    EXPECT_EQ(first, third) << "one type information per module, whatever the index";
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(first->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IFocuser));
    first->ReleaseTypeAttr(attributes);
    first->Release();
    third->Release();
    EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
}

TEST_F(DispatchTest, InvokeReachesTheMembersAndReportsTheirFailures) {
    VARIANT result;
    ASSERT_EQ(Get(9, result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result), VARIANT_FALSE);
    EXPECT_EQ(PutLink(VARIANT_FALSE), S_OK);

    EXCEPINFO exception = {};
    ASSERT_EQ(PutLink(VARIANT_TRUE, &exception), DISP_E_EXCEPTION);
    EXPECT_STREQ(exception.bstrDescription, L"Focuser did not respond");
    EXPECT_STREQ(exception.bstrSource, L"Tavrilen.Focuser.1");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    ASSERT_EQ(Get(9, result), S_OK);
    EXPECT_EQ(V_BOOL(&result), VARIANT_FALSE);

    ASSERT_EQ(Get(3, result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 20000);

    EXPECT_EQ(Get(7, result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Get(8, result), DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTest, WithoutTheRegisteredTypeLibraryDispatchFailsUntilItIsBack) {
    // The module keeps what it loaded, so start a fresh one without the
    // library; its termination must have let go of the old type information.
    dispatch->Release();
    dispatch = nullptr;
    ASSERT_EQ(dll.CanUnloadNow(), S_OK);
    dll.Unload();
    ASSERT_EQ(GetModuleHandleA(servertest::DllPath().c_str()), nullptr);
    ASSERT_TRUE(dll.Load());
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(servertest::Wide(servertest::DllPath()).c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(LIBID_Tavrilen, 1, 0, 0, attributes->syskind), S_OK);
    library->ReleaseTLibAttr(attributes);
    library->Release();
    ASSERT_EQ(dll.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);

    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(dispatch);
    const HRESULT unregistered = dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    EXPECT_TRUE(FAILED(unregistered));
    EXPECT_EQ(info, nullptr);
    DISPID id = 0;
    EXPECT_EQ(Lookup(L"Link", id), unregistered);
    VARIANT result;
    EXPECT_EQ(Get(9, result), unregistered);

    ASSERT_EQ(dll.RegisterServer(), S_OK);
    EXPECT_EQ(Lookup(L"Link", id), S_OK) << "a failed load is tried again";
    EXPECT_EQ(id, 9);
}

}  // namespace

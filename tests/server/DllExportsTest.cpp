// The DLL from outside, as COM uses it: the class object and instances
// through DllGetClassObject, and what keeps DllCanUnloadNow at S_FALSE.
#include <gtest/gtest.h>

#include <array>

#include "driver/Focuser.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/ImportHook.h"
#include "tests/support/ProcessCounts.h"

namespace {

using servertest::ServerDll;

const CLSID kOtherClass = {0x3c9e52a1, 0x7d4b, 0x4f08, {0x9b, 0x61, 0x5e, 0x2a, 0x0d, 0x47, 0xc8, 0xf4}};
void* const kGarbage = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));

ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// An outer object that aggregates the driver: it counts what reaches it and
// answers IUnknown itself, everything else from the inner object.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        ++queries;
        lastQuery = iid;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner != nullptr ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    int queries = 0;
    IID lastQuery = IID_NULL;
    IUnknown* inner = nullptr;
};

class DllExportsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dll.Load()) << "cannot load " << servertest::DllPath();
        ASSERT_EQ(dll.CanUnloadNow(), S_OK) << "a freshly loaded DLL holds no locks";
    }
    void TearDown() override {
        EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "the test left a lock behind";
        dll.Unload();
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(dll.GetClassObject(CLSID_Focuser, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }

    ServerDll dll;
};

TEST_F(DllExportsTest, FailuresReturnTheirCodeWithOutPointersNulled) {
    EXPECT_EQ(dll.GetClassObject(CLSID_Focuser, IID_IClassFactory, nullptr), E_POINTER);

    void* object = kGarbage;
    EXPECT_EQ(dll.GetClassObject(kOtherClass, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    object = kGarbage;
    EXPECT_EQ(dll.GetClassObject(CLSID_Focuser, IID_IFocuser, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "the failed request leaves only the table's reference";

    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFocuser, nullptr), E_POINTER);

    Outer outer;
    object = kGarbage;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IFocuser, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(outer.refs, 1u) << "nothing was created to hold the outer object";

    object = kGarbage;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    object = kGarbage;
    EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    factory->Release();
    // TearDown: the instance that did not answer was destroyed with its lock.
}

TEST_F(DllExportsTest, ClassObjectIsCachedAndHoldsOneLockWhileHeldOutside) {
    IClassFactory* first = Factory();
    IUnknown* second = nullptr;
    ASSERT_EQ(dll.GetClassObject(CLSID_Focuser, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first), second) << "one class object, answering IUnknown with itself";
    EXPECT_EQ(RefCount(first), 3u) << "the table's reference and the two handed out";

    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    second->Release();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    first->Release();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);

    IClassFactory* again = Factory();
    EXPECT_EQ(again, first) << "still the cached object";
    again->Release();
}

TEST_F(DllExportsTest, LockServerLocksAreCountedOneByOne) {
    IClassFactory* factory = Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);

    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE) << "one lock is still outstanding";

    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
}

TEST_F(DllExportsTest, EveryLiveInstanceKeepsTheDllLoaded) {
    IFocuser* first = nullptr;
    IFocuser* second = nullptr;
    ASSERT_EQ(dll.CreateInstance(nullptr, IID_IFocuser, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_EQ(dll.CreateInstance(nullptr, IID_IFocuser, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(RefCount(first), 1u);

    VARIANT_BOOL link = VARIANT_TRUE;
    EXPECT_EQ(first->get_Link(&link), S_OK);
    EXPECT_EQ(link, VARIANT_FALSE) << "a new instance is unlinked";

    IUnknown* unknown = nullptr;
    ISupportErrorInfo* errorInfo = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(first)) << "IUnknown is the IFocuser face";
    ASSERT_EQ(first->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IFocuser), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    unknown->Release();
    errorInfo->Release();

    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(second->Release(), 0u);
}

TEST_F(DllExportsTest, AggregatedInstanceHandsItsFacesToTheOuterObject) {
    Outer outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(dll.CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    outer.inner = inner;
    EXPECT_EQ(outer.refs, 1u) << "the inner object holds no reference on its outer";

    IUnknown* innerAgain = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerAgain)), S_OK);
    EXPECT_EQ(innerAgain, inner) << "the inner unknown answers IUnknown with itself";
    innerAgain->Release();

    IFocuser* focuser = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IFocuser, reinterpret_cast<void**>(&focuser)), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "a face's reference is the outer object's";
    EXPECT_EQ(outer.queries, 0);

    IUnknown* viaFace = nullptr;
    ASSERT_EQ(focuser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaFace)), S_OK);
    EXPECT_EQ(viaFace, static_cast<IUnknown*>(&outer)) << "identity is the outer object's";
    EXPECT_EQ(outer.queries, 1);
    viaFace->Release();

    ISupportErrorInfo* errorInfo = nullptr;
    ASSERT_EQ(focuser->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)), S_OK);
    EXPECT_TRUE(IsEqualIID(outer.lastQuery, IID_ISupportErrorInfo));
    errorInfo->Release();

    VARIANT_BOOL absolute = VARIANT_FALSE;
    EXPECT_EQ(focuser->get_Absolute(&absolute), S_OK);
    EXPECT_EQ(absolute, VARIANT_TRUE);
    focuser->Release();
    EXPECT_EQ(outer.refs, 1u);

    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE) << "the aggregated instance holds a lock";
    outer.inner = nullptr;
    EXPECT_EQ(inner->Release(), 0u);
}

// The DLL's next allocation on this thread fails: what it builds with
// operator new then throws std::bad_alloc inside the DLL.
using MallocFunction = void*(__cdecl*)(size_t);
MallocFunction g_malloc = nullptr;
volatile DWORD g_failingThread = 0;

void* __cdecl FailOnceMalloc(size_t size) {
    if (InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&g_failingThread), 0,
                                   static_cast<LONG>(GetCurrentThreadId())) ==
        static_cast<LONG>(GetCurrentThreadId())) {
        return nullptr;
    }
    return g_malloc(size);
}

// Unregistering builds the DLL's path as a string first, so it throws before
// it touches the registry, catches and answers E_OUTOFMEMORY. The C++ runtime
// creates its thread-specific key at the first exception after a load, and a
// value under it at each thread's first.
DWORD WINAPI ThrowAndCatchInside(void* dll) {
    g_failingThread = GetCurrentThreadId();
    const HRESULT hr = static_cast<ServerDll*>(dll)->UnregisterServer();
    const bool failed = g_failingThread == 0;
    g_failingThread = 0;
    return failed && hr == E_OUTOFMEMORY ? 1 : 0;
}

// Programs load the driver, use it and let COM unload it again, many times a
// night: each round must give back what loading took from the client's heap,
// its handles and its thread-local and fiber-local slots (the process has
// about a thousand of the former). Each round also throws inside the DLL on a
// thread that ends before the unload and on one that goes on after it.
TEST(DllUnloadTest, LoadUseThrowAndUnloadCyclesGiveBackHeapHandlesAndSlots) {
    auto cycle = [] {
        ServerDll dll;
        ASSERT_TRUE(dll.Load());
        IFocuser* focuser = nullptr;
        ASSERT_EQ(dll.CreateInstance(nullptr, IID_IFocuser, reinterpret_cast<void**>(&focuser)), S_OK);
        LONG maximum = 0;
        EXPECT_EQ(focuser->get_MaxStep(&maximum), S_OK);
        focuser->Release();
        {
            ImportHook hook(dll.Module(), "msvcrt.dll", "malloc", reinterpret_cast<void*>(&FailOnceMalloc));
            ASSERT_TRUE(hook.Installed());
            g_malloc = hook.Original<MallocFunction>();
            const HANDLE worker = CreateThread(nullptr, 0, &ThrowAndCatchInside, &dll, 0, nullptr);
            ASSERT_NE(worker, nullptr);
            const DWORD waited = WaitForSingleObject(worker, 30000);
            DWORD thrown = 0;
            GetExitCodeThread(worker, &thrown);
            CloseHandle(worker);
            ASSERT_EQ(waited, WAIT_OBJECT_0) << "the worker is stuck inside the DLL";
            EXPECT_EQ(thrown, 1u) << "no exception thrown and caught on the worker";
            EXPECT_EQ(ThrowAndCatchInside(&dll), 1u) << "no exception thrown and caught on the calling thread";
        }
        ASSERT_EQ(dll.CanUnloadNow(), S_OK);
        dll.Unload();
        ASSERT_EQ(GetModuleHandleW(servertest::Wide(servertest::DllPath()).c_str()), nullptr)
            << "the DLL is still loaded: nothing here measures an unload";
    };
    auto counts = [] {
        return std::array<long long, 4>{static_cast<long long>(processcounts::HeapBytesInUse()),
                                        processcounts::Handles(), processcounts::FreeTlsSlots(),
                                        processcounts::FreeFlsSlots()};
    };
    // The system's own caches and slot tables fill on first use.
    for (int i = 0; i < 3; ++i) cycle();
    processcounts::FreeTlsSlots();
    processcounts::FreeFlsSlots();
    const auto before = counts();
    constexpr int kCycles = 200;
    for (int i = 0; i < kCycles && !testing::Test::HasFatalFailure(); ++i) cycle();
    const auto after = counts();
    // The system's own tables grow a few KiB now and then; a block left
    // behind by every cycle shows as its size times the cycles.
    const long long growth = after[0] - before[0];
    EXPECT_LT(growth, 16 * 1024) << growth / kCycles << " bytes per load and unload";
    EXPECT_LE(after[1], before[1] + 2) << "handles left behind by loads and unloads";
    EXPECT_EQ(after[2], before[2]) << "thread-local slots left behind by loads and unloads";
    EXPECT_EQ(after[3], before[3]) << "fiber-local slots left behind by loads and unloads";
}

}  // namespace

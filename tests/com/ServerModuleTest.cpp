// The module object and the class object linked into this program, where the
// lock count can be read exactly: which objects hold it, the class table's
// cached class object, and what module termination runs.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/ClassFactory.h"
#include "com/ComObject.h"
#include "com/ServerModule.h"
#include "driver/CFocuser.h"

namespace {

int g_creations = 0;
int g_failuresLeft = 0;
std::vector<int> g_termOrder;

HRESULT CountingCreator(CreateInstanceFunction createInstance, REFIID iid, void** object) {
    if (g_failuresLeft > 0) {
        --g_failuresLeft;
        *object = nullptr;
        return E_OUTOFMEMORY;
    }
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(&g_creations));
    return ClassFactory::Create(createInstance, iid, object);
}

HRESULT NoRegistry(bool) { return S_OK; }

class ServerModuleTest : public testing::Test {
protected:
    void SetUp() override {
        g_creations = 0;
        g_failuresLeft = 0;
        g_termOrder.clear();
        module.Init(table);
        baseline = module.GetLockCount();
    }
    void TearDown() override {
        EXPECT_EQ(module.GetLockCount(), baseline);
        module.Term(false);
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(module.GetClassObject(CLSID_Focuser, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }

    ServerModule& module = ServerModule::Instance();
    ClassEntry table[2] = {
        {&CLSID_Focuser, &NoRegistry, &CountingCreator, &CreateComInstance<CFocuser>, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    LONG baseline = 0;
};

TEST_F(ServerModuleTest, ClassObjectHoldsExactlyOneLockWhileHeldOutsideTheTable) {
    IClassFactory* first = Factory();
    EXPECT_EQ(module.GetLockCount(), baseline + 1);
    IClassFactory* second = Factory();
    second->AddRef();
    EXPECT_EQ(module.GetLockCount(), baseline + 1) << "however many references";
    second->Release();
    second->Release();
    EXPECT_EQ(module.GetLockCount(), baseline + 1);
    first->Release();
    EXPECT_EQ(module.GetLockCount(), baseline);
    EXPECT_EQ(g_creations, 1);
}

TEST_F(ServerModuleTest, InstancesHoldOneLockEachAndFailedCreationsNone) {
    IClassFactory* factory = Factory();
    const LONG withFactory = module.GetLockCount();
    IUnknown* standalone = nullptr;
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&standalone)), S_OK);
    EXPECT_EQ(module.GetLockCount(), withFactory + 1);
    ASSERT_EQ(factory->CreateInstance(standalone, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    EXPECT_EQ(module.GetLockCount(), withFactory + 2);

    void* none = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(standalone, IID_IFocuser, &none), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(module.GetLockCount(), withFactory + 2);

    inner->Release();
    standalone->Release();
    EXPECT_EQ(module.GetLockCount(), withFactory);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(module.GetLockCount(), withFactory + 1);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
}

TEST_F(ServerModuleTest, FailedClassObjectCreationIsTriedAgain) {
    g_failuresLeft = 1;
    void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(1));
    EXPECT_EQ(module.GetClassObject(CLSID_Focuser, IID_IClassFactory, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(table[0].classObject.load(), nullptr);
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    factory->Release();
}

TEST_F(ServerModuleTest, ConcurrentFirstRequestsCreateOneClassObject) {
    std::vector<std::thread> threads;
    IUnknown* results[8] = {};
    for (IUnknown*& result : results) {
        threads.emplace_back([&] { module.GetClassObject(CLSID_Focuser, IID_IUnknown, reinterpret_cast<void**>(&result)); });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(g_creations, 1);
    for (IUnknown* result : results) {
        EXPECT_EQ(result, results[0]);
        if (result != nullptr) result->Release();
    }
}

// An object whose destructor notes the lock count, as another thread asking
// DllCanUnloadNow at that moment would see it.
LONG g_lockSeenInDestructor = -1;
class DestructorProbe : public IUnknown {
public:
    void* FindInterface(REFIID iid) {
        return IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    }
    virtual ~DestructorProbe() {
        std::thread([] { g_lockSeenInDestructor = ServerModule::Instance().GetLockCount(); }).join();
    }
};

TEST_F(ServerModuleTest, AnObjectHoldsItsLockUntilItsOwnDestructorHasRun) {
    IUnknown* outer = nullptr;
    ASSERT_EQ(CreateComInstance<DestructorProbe>(nullptr, IID_IUnknown, reinterpret_cast<void**>(&outer)), S_OK);
    IUnknown* inner = nullptr;
    ASSERT_EQ(CreateComInstance<DestructorProbe>(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    EXPECT_EQ(module.GetLockCount(), baseline + 2);

    g_lockSeenInDestructor = -1;
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(g_lockSeenInDestructor, baseline + 2) << "aggregated";
    EXPECT_EQ(module.GetLockCount(), baseline + 1);
    EXPECT_EQ(outer->Release(), 0u);
    EXPECT_EQ(g_lockSeenInDestructor, baseline + 1) << "standalone";
}

TEST_F(ServerModuleTest, TerminationReleasesTheClassObjectAndRunsCallbacksNewestFirst) {
    Factory()->Release();
    ASSERT_NE(table[0].classObject.load(), nullptr);
    {
        // Re-entrant: a holder of the lock may register termination work.
        StaticDataGuard outer;
        StaticDataGuard inner;
        module.AddTermFunction([](void* n) { g_termOrder.push_back(*static_cast<int*>(n)); }, new int(1));
    }
    module.AddTermFunction([](void* n) { g_termOrder.push_back(*static_cast<int*>(n)); }, new int(2));
    module.Term(false);
    EXPECT_EQ(table[0].classObject.load(), nullptr);
    EXPECT_EQ(g_termOrder, (std::vector<int>{2, 1}));
    module.Term(false);
    EXPECT_EQ(g_termOrder.size(), 2u) << "each callback runs once";
}

TEST_F(ServerModuleTest, TerminationAtProcessExitRunsNoCallbacks) {
    module.AddTermFunction([](void*) { g_termOrder.push_back(0); }, nullptr);
    module.Term(true);
    module.Term(false);
    EXPECT_TRUE(g_termOrder.empty()) << "what a callback releases may live in a DLL already gone";
}

}  // namespace

// The DLL's entry points: loading sets up the module object with the class
// table and unloading terminates it; the four exports are all a client (or
// regsvr32) calls by name.
#include <windows.h>
#include <objbase.h>

#include "com/ClassFactory.h"
#include "com/ComObject.h"
#include "com/ServerModule.h"
#include "driver/CFocuser.h"
#include "resources/resource.h"
#include "server/Registration.h"
#include "runtime/RuntimeThreads.h"

// The C++ runtime is linked in statically and keeps an emergency buffer for
// exceptions thrown when memory runs out (some 70 KiB, taken from the C
// runtime's heap as the DLL loads). It never gives it back by itself, so every
// load and unload would leave one behind in the client's heap.
namespace __gnu_cxx {
void __freeres();
}  // namespace __gnu_cxx

namespace {

HRESULT UpdateFocuserRegistry(bool registering) {
    return UpdateRegistryFromResource(IDR_REGISTRY_SCRIPT, registering);
}

// The driver keeps no class-wide state to set up or tear down.
void InitFocuserClass(bool) {}

ClassEntry g_classTable[] = {
    {&CLSID_Focuser, &UpdateFocuserRegistry, &ClassFactory::Create,
     &CreateComInstance<CFocuser>, nullptr, &InitFocuserClass},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// Static objects (the module object among them) are constructed before the
// attach and destroyed after the detach, so the module runs between the two.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            ServerModule::Instance().Init(g_classTable);
            break;
        case DLL_PROCESS_DETACH:
            // A non-null reserved means the process is exiting, not FreeLibrary:
            // what the termination callbacks would release may already be gone.
            ServerModule::Instance().Term(reserved != nullptr);
            // Unloaded while the process goes on: nothing of ours runs again
            // to throw, so the buffer goes back to the heap it came from, and
            // the runtime's thread-local keys go back to the process.
            if (reserved == nullptr) {
                __gnu_cxx::__freeres();
                ReleaseRuntimeThreads();
            }
            break;
        default:
            break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    return ServerModule::Instance().GetClassObject(clsid, iid, object);
}

// The lock count alone: instances, outside holders of the class object and
// LockServer locks each keep it above zero.
STDAPI DllCanUnloadNow() { return ServerModule::Instance().GetLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return RegisterServer(); }

STDAPI DllUnregisterServer() { return UnregisterServer(); }

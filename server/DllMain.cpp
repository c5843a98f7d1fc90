// The DLL's entry points: loading and unloading drive the application object;
// the four exports are all a client (or regsvr32) calls by name.
#include <windows.h>
#include <objbase.h>

#include "com/ServerModule.h"
#include "server/CTavrilenApp.h"
#include "server/Registration.h"

// The C++ runtime is linked in statically and keeps an emergency buffer for
// exceptions thrown when memory runs out (some 70 KiB, taken from the C
// runtime's heap as the DLL loads). It never gives it back by itself, so every
// load and unload would leave one behind in the client's heap.
namespace __gnu_cxx {
void __freeres();
}  // namespace __gnu_cxx

namespace {
CTavrilenApp theApp;
}  // namespace

// Static objects are constructed before the attach and destroyed after the
// detach, so the application object runs between the two.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return theApp.InitInstance();
        case DLL_PROCESS_DETACH:
            // A non-null reserved means the process is exiting, not FreeLibrary.
            theApp.ExitInstance(reserved != nullptr);
            // Unloaded while the process goes on: nothing of ours runs again
            // to throw, so the buffer goes back to the heap it came from.
            if (reserved == nullptr) __gnu_cxx::__freeres();
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

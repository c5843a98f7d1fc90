// The DLL's entry points: loading and unloading drive the application object;
// the four exports are all a client (or regsvr32) calls by name.
#include <windows.h>
#include <objbase.h>

#include "server/CTavrilenApp.h"
#include "server/Registration.h"
#include "server/ServerModule.h"

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

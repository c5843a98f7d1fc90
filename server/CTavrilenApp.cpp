#include "server/CTavrilenApp.h"

#include "com/ClassFactory.h"
#include "com/ComObject.h"
#include "com/ServerModule.h"
#include "driver/CFocuser.h"
#include "resources/resource.h"
#include "server/Registration.h"

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

BOOL CTavrilenApp::InitInstance() {
    ServerModule::Instance().Init(g_classTable);
    return TRUE;
}

int CTavrilenApp::ExitInstance(bool processExiting) {
    ServerModule::Instance().Term(processExiting);
    return 0;
}

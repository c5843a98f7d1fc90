#pragma once
// What DllRegisterServer and DllUnregisterServer do: the class table's
// registry scripts, the type library carried in this module, and the default
// value of the driver's profile key (written only when that key exists, which
// the settings store creates; never created or removed here).
#include <windows.h>

HRESULT RegisterServer();
HRESULT UnregisterServer();

// The registry-update function of a class-table row: runs the REGISTRY
// resource with this id in register (true) or unregister (false) mode, with
// %MODULE% standing for this module's path.
HRESULT UpdateRegistryFromResource(UINT resourceId, bool registering);

// Registers the type library from this module's TYPELIB resource, or from the
// ".tlb" file beside the module when the module carries none.
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

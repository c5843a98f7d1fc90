#pragma once
// The C++ runtime's thread primitives, on Win32 (see RuntimeThreads.cpp).

// Gives back what the primitives hold for this load of the DLL: call when the
// DLL is freed while the process goes on, never at process exit.
void ReleaseRuntimeThreads();

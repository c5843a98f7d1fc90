#pragma once
// The application object: one per DLL, started when the DLL is loaded and
// stopped when it is unloaded. Starting it sets up the module object with the
// class table; stopping it terminates the module.
#include <windows.h>

class CTavrilenApp {
public:
    CTavrilenApp() = default;
    CTavrilenApp(const CTavrilenApp&) = delete;
    CTavrilenApp& operator=(const CTavrilenApp&) = delete;

    // False makes the load fail.
    BOOL InitInstance();
    // processExiting: the whole process is going away, so other DLLs may
    // already be unloaded and nothing that lives in them may be touched.
    int ExitInstance(bool processExiting);
};

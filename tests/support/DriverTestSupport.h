#pragma once
// What tests of the driver object share: making one directly (no DLL, no
// registration), reading the error a failing member left, and a clock.
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "driver/Focuser.h"

// A new, unlinked driver object with one reference, or nullptr.
IFocuser* NewFocuser();

// The error information a failing member left on this thread, taken from it.
struct ReportedError {
    bool present = false;
    std::string description;
    std::string source;
    GUID guid = GUID_NULL;
};
ReportedError TakeErrorInfo();

// Milliseconds on the high-resolution clock.
double NowMs();

// How much slower than a plain machine this one runs (FOCUSER_TIMEOUT_SCALE,
// set where the tests run emulated; 1 elsewhere). An upper bound on how long
// a call may take is multiplied by it: the process around the call runs
// slower, the line's own time-outs do not.
double TimeoutScale();

// Puts a file where today's trace folder goes, so that neither the folder nor
// the trace file can be made, as on a share gone offline. Returns the folder's
// path (DeleteFileW on it undoes this), or an empty string when it could not.
std::wstring BlockTraceFolder();

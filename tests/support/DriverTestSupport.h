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

#pragma once
// A desktop of a test program's own. Wine serves each desktop from a helper
// process that the first window on it starts, with the display of the program
// that started it. The shared default desktop may have been started by an
// earlier program that had no display, and a process whose first window lands
// there can show none at all. So a program that must show windows makes a
// desktop of its own before anything (COM included) can give it a window, and
// moves every thread that opens or looks for windows there first.
#include <windows.h>

namespace owndesktop {

// Moves the calling thread, which must have no window yet, to the named
// desktop. Each thread gets a handle of its own: the thread's end may close it.
inline bool Use(const char* name) {
    HDESK desktop = OpenDesktopA(name, 0, FALSE, GENERIC_ALL);
    return desktop != nullptr && SetThreadDesktop(desktop);
}

// Makes the desktop and moves the calling thread there; null on failure. The
// caller closes the handle when its windows are gone.
inline HDESK Create(const char* name) {
    HDESK desktop = CreateDesktopA(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop != nullptr && !Use(name)) {
        CloseDesktop(desktop);
        return nullptr;
    }
    return desktop;
}

}  // namespace owndesktop

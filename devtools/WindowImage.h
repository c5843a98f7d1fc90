#pragma once
// Pictures of real windows, for test artifacts and the demo.
#include <windows.h>

// Saves what the display shows of a window as a 24-bit BMP file.
bool SaveWindowImage(HWND window, const char* path);

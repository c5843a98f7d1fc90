# Cross toolchain for 32-bit x86 Windows (the shipped driver).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(FOCUSER_WIDL_ARCH --win32)
set(FOCUSER_WINE_LOADER /usr/lib/wine/wine)
set(FOCUSER_WINE_ARCH win32)
set(FOCUSER_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
set(FOCUSER_DLL_NAME TavrilenFocuser)

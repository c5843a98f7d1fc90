# Cross toolchain for 64-bit x86 Windows: the same sources, for 64-bit hosts.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(FOCUSER_WIDL_ARCH --win64)
set(FOCUSER_WINE_LOADER /usr/lib/wine/wine64)
set(FOCUSER_WINE_ARCH win64)
set(FOCUSER_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(FOCUSER_DLL_NAME TavrilenFocuser64)

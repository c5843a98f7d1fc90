# Windows build (mingw-w64 cross compiler): the driver DLL and the test
# programs, which ctest runs under Wine in a private prefix in the build folder.

# Nothing may import the compiler's runtime DLLs: only system DLLs.
set(FOCUSER_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# --- The interface description: header, identifiers and type library ---------
set(IDL_OUT ${CMAKE_BINARY_DIR}/generated/driver)
file(MAKE_DIRECTORY ${IDL_OUT})
add_custom_command(
  OUTPUT ${IDL_OUT}/Focuser.h ${IDL_OUT}/Focuser_i.c ${IDL_OUT}/Focuser.tlb
  COMMAND ${FOCUSER_WIDL} ${FOCUSER_WIDL_ARCH}
          -I/usr/include/wine/wine/windows -L${FOCUSER_STDOLE_DIR}
          -h -H ${IDL_OUT}/Focuser.h -u -U ${IDL_OUT}/Focuser_i.c -t -T ${IDL_OUT}/Focuser.tlb
          ${CMAKE_SOURCE_DIR}/driver/Focuser.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/driver/Focuser.idl
  COMMENT "widl: driver/Focuser.idl"
  VERBATIM)
add_custom_target(focuser_idl DEPENDS ${IDL_OUT}/Focuser.h ${IDL_OUT}/Focuser_i.c ${IDL_OUT}/Focuser.tlb)

# --- The driver's code, shared by the DLL and the tests -----------------------
add_library(focuser_core STATIC
  ${IDL_OUT}/Focuser_i.c
  settings/DriverSettings.cpp
  link/SerialPort.cpp
  trace/TraceLog.cpp
  com/ServerModule.cpp
  com/ClassFactory.cpp
  com/TypeInfoHolder.cpp
  driver/CFocuser.cpp
)
add_dependencies(focuser_core focuser_idl)
target_include_directories(focuser_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_compile_options(focuser_core PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${FOCUSER_WARNINGS}>)
target_link_libraries(focuser_core PUBLIC focuser_protocol ole32 oleaut32 uuid advapi32 user32 gdi32
  shell32)

# --- The DLL -------------------------------------------------------------------
# The runtime's thread primitives are the DLL's own objects, not a library's,
# so that they are linked before the runtime asks for them.
add_library(focuser_dll SHARED server/DllMain.cpp runtime/RuntimeThreads.cpp runtime/RuntimeErrors.cpp
  resources/TavrilenFocuser.rc)
# The resource script finds its pieces (and the generated type library) here.
set_property(SOURCE resources/TavrilenFocuser.rc APPEND PROPERTY INCLUDE_DIRECTORIES
  ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR} ${IDL_OUT})
set_property(SOURCE resources/TavrilenFocuser.rc APPEND PROPERTY OBJECT_DEPENDS
  ${IDL_OUT}/Focuser.tlb ${CMAKE_SOURCE_DIR}/resources/Server.rc ${CMAKE_SOURCE_DIR}/resources/Setup.rc)
set_target_properties(focuser_dll PROPERTIES OUTPUT_NAME ${FOCUSER_DLL_NAME} PREFIX "")
target_link_libraries(focuser_dll PRIVATE focuser_core)
target_compile_options(focuser_dll PRIVATE ${FOCUSER_WARNINGS})
target_link_options(focuser_dll PRIVATE ${FOCUSER_STATIC_RUNTIME}
  # What the linker took from the runtime and why: the first place to look
  # when the DLL grows.
  -Wl,-Map,$<TARGET_FILE:focuser_dll>.map)

# The runtime's thread primitives are runtime/RuntimeThreads.cpp's alone: a
# link that took the POSIX thread library, or a primitive from anywhere else,
# fails the build (and the DLL is deleted again).
add_custom_command(TARGET focuser_dll POST_BUILD
  COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/check-dll-map.sh $<TARGET_FILE:focuser_dll>.map
  VERBATIM)

# The DLL the tests load and the installer packs is the stripped one; its
# symbols stay beside it in NAME.dll.debug, which the DLL names by a debug link
# (with a checksum), so a debugger given a crash of the shipped DLL finds them.
add_custom_command(TARGET focuser_dll POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:focuser_dll> $<TARGET_FILE_NAME:focuser_dll>.debug
  COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:focuser_dll>
  COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:focuser_dll>.debug $<TARGET_FILE_NAME:focuser_dll>
  WORKING_DIRECTORY $<TARGET_FILE_DIR:focuser_dll>
  COMMENT "Stripping the driver DLL, its symbols kept beside it"
  VERBATIM)

# --- Tests ----------------------------------------------------------------------
# The version resource, read back from the built DLL.
add_test(NAME dll_version
         COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/check-version.sh ${CMAKE_RC_COMPILER} $<TARGET_FILE:focuser_dll>)
include(cmake/WineTests.cmake)

# The in-process server (exports, class object, registration) and the setup
# dialog add their sources and tests here.
include(cmake/Server.cmake)
include(cmake/Setup.cmake)
# The controller simulator program, and the Windows installer.
include(cmake/Sim.cmake)
include(cmake/Installer.cmake)
include(cmake/Reliability.cmake)

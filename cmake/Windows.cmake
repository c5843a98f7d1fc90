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
  # The type library goes into the DLL: with the commit's time, not widl's.
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/stamp-typelib.sh ${IDL_OUT}/Focuser.tlb ${FOCUSER_SOURCE_DATE_EPOCH}
  DEPENDS ${CMAKE_SOURCE_DIR}/driver/Focuser.idl ${CMAKE_SOURCE_DIR}/cmake/stamp-typelib.sh
  COMMENT "widl: driver/Focuser.idl"
  VERBATIM)
add_custom_target(focuser_idl DEPENDS ${IDL_OUT}/Focuser.h ${IDL_OUT}/Focuser_i.c ${IDL_OUT}/Focuser.tlb)

# --- The driver's code, shared by the DLL and the tests -----------------------
add_library(focuser_core STATIC
  ${IDL_OUT}/Focuser_i.c
  settings/DriverSettings.cpp
  settings/ProfileKey.cpp
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
# focuser_driver_dll(TARGET VERSION FOLDER): the driver DLL stamped with
# VERSION (MAJOR.MINOR.PATCH) in FOLDER of the build. The shipped one carries
# the project's version; the installer test also installs an older one.
# The runtime's thread primitives are the DLL's own objects, not a library's,
# so that they are linked before the runtime asks for them.
function(focuser_driver_dll target version folder)
  add_library(${target} SHARED server/DllMain.cpp runtime/RuntimeThreads.cpp runtime/RuntimeErrors.cpp
    resources/TavrilenFocuser.rc)
  string(REPLACE "." ";" numbers "${version}")
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 patch)
  # The numbers reach the version resource; the code does not need them.
  target_compile_definitions(${target} PRIVATE FOCUSER_VERSION_MAJOR=${major}
    FOCUSER_VERSION_MINOR=${minor} FOCUSER_VERSION_PATCH=${patch})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${FOCUSER_DLL_NAME} PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${folder} LIBRARY_OUTPUT_DIRECTORY ${folder})
  target_link_libraries(${target} PRIVATE focuser_core)
  target_compile_options(${target} PRIVATE ${FOCUSER_WARNINGS})
  focuser_link_with_epoch(${target})
  target_link_options(${target} PRIVATE ${FOCUSER_STATIC_RUNTIME}
    # What the linker took from the runtime and why: the first place to look
    # when the DLL grows.
    -Wl,-Map,$<TARGET_FILE:${target}>.map)

  # The runtime's thread primitives are runtime/RuntimeThreads.cpp's alone: a
  # link that took the POSIX thread library, or a primitive from anywhere else,
  # fails the build (and the DLL is deleted again).
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-dll-map.sh $<TARGET_FILE:${target}>.map
    VERBATIM)

  # The DLL the tests load and the installer packs is the stripped one; its
  # symbols stay beside it in NAME.dll.debug, which the DLL names by a debug link
  # (with a checksum), so a debugger given a crash of the shipped DLL finds them.
  # objcopy and strip write the PE time stamp afresh, so they get the commit's
  # time too; the signature, when there is one, comes last, over the final bytes.
  set(sign_command "")
  if(FOCUSER_SIGN_FILE)
    set(sign_command COMMAND ${FOCUSER_SIGN_FILE} $<TARGET_FILE_NAME:${target}>)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${FOCUSER_WITH_EPOCH} ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
            $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${FOCUSER_WITH_EPOCH} ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
    COMMAND ${FOCUSER_WITH_EPOCH} ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    ${sign_command}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Stripping the driver DLL ${version}, its symbols kept beside it"
    VERBATIM)
endfunction()

focuser_driver_dll(focuser_dll ${PROJECT_VERSION} ${CMAKE_BINARY_DIR})
# The resource script finds its pieces (and the generated type library) here.
set_property(SOURCE resources/TavrilenFocuser.rc APPEND PROPERTY INCLUDE_DIRECTORIES
  ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR} ${IDL_OUT})
set_property(SOURCE resources/TavrilenFocuser.rc APPEND PROPERTY OBJECT_DEPENDS
  ${IDL_OUT}/Focuser.tlb ${CMAKE_SOURCE_DIR}/resources/Server.rc ${CMAKE_SOURCE_DIR}/resources/Setup.rc)
# An older version of the same driver, for the installer test's upgrade and
# downgrade: the version just below the project's.
focuser_previous_version(FOCUSER_PREVIOUS_VERSION ${PROJECT_VERSION})
focuser_driver_dll(focuser_dll_previous ${FOCUSER_PREVIOUS_VERSION} ${CMAKE_BINARY_DIR}/previous)

# --- Tests ----------------------------------------------------------------------
# The version resource, read back from the built DLL.
add_test(NAME dll_version
         COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/check-version.sh ${CMAKE_RC_COMPILER} $<TARGET_FILE:focuser_dll>
                 ${PROJECT_VERSION})
include(cmake/WineTests.cmake)

# The in-process server (exports, class object, registration) and the setup
# dialog add their sources and tests here.
include(cmake/Server.cmake)
include(cmake/Setup.cmake)
# The controller simulator program, and the Windows installer.
include(cmake/Sim.cmake)
include(cmake/Installer.cmake)
include(cmake/ReleaseTests.cmake)
include(cmake/Reliability.cmake)

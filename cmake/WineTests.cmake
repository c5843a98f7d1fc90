# Test programs for the Windows build. ctest runs them under Wine, in a prefix
# private to this build folder, with a null-modem bridge joining COM3 to COM13
# and COM4 to COM14 so that a controller emulator can sit on the far end.

set(NULLMODEM_EXE "${CMAKE_SOURCE_DIR}/build/native/nullmodem" CACHE FILEPATH
    "The host build's null-modem bridge")

# Tests that run 32-bit Windows code: the whole 32-bit build, and those of the
# 64-bit build that also need 32-bit Wine. AUTO registers them where this
# machine runs 32-bit programs; ON registers them all the same, for a machine
# that runs them elsewhere (scripts/test.sh runs them in an emulated x86-64
# guest, scripts/guest/). In the 64-bit build they carry the label win32
# (focuser_needs_win32), so that ctest -L win32 / -LE win32 can split them off.
set(FOCUSER_WIN32_TESTS AUTO CACHE STRING
    "Register the tests that run 32-bit Windows code: AUTO (if 32-bit Wine runs here), ON, OFF")
set_property(CACHE FOCUSER_WIN32_TESTS PROPERTY STRINGS AUTO ON OFF)
# Tests that run 32-bit code may run emulated, several times slower: their
# ctest time-outs, and the waits of the scripts that set up Wine for them, are
# multiplied by this. The bounds they assert stay as they are.
set(FOCUSER_TIMEOUT_SCALE 1 CACHE STRING
    "Factor for the ctest time-outs of the tests that run 32-bit Windows code")

function(focuser_probe_wine loader result)
  execute_process(COMMAND ${loader} --version
                  RESULT_VARIABLE probe OUTPUT_QUIET ERROR_QUIET)
  if(probe EQUAL 0)
    set(${result} ON PARENT_SCOPE)
  else()
    set(${result} OFF PARENT_SCOPE)
  endif()
endfunction()

if(FOCUSER_WIN32_TESTS STREQUAL "AUTO")
  focuser_probe_wine(/usr/lib/wine/wine FOCUSER_CAN_RUN_WIN32)
else()
  set(FOCUSER_CAN_RUN_WIN32 ${FOCUSER_WIN32_TESTS})
endif()
if(FOCUSER_WINE_ARCH STREQUAL "win32")
  set(FOCUSER_CAN_RUN_WINE ${FOCUSER_CAN_RUN_WIN32})
else()
  focuser_probe_wine(${FOCUSER_WINE_LOADER} FOCUSER_CAN_RUN_WINE)
endif()
if(NOT FOCUSER_CAN_RUN_WINE)
  message(STATUS "Wine cannot run ${FOCUSER_WINE_ARCH} programs here: only static checks are registered")
endif()

# focuser_needs_win32(TEST...): tests of the 64-bit build that run 32-bit code.
# Register them only if(FOCUSER_CAN_RUN_WIN32).
function(focuser_needs_win32)
  set_property(TEST ${ARGN} APPEND PROPERTY LABELS win32)
endfunction()

# Applied once every test of the folder is registered.
function(focuser_scale_timeouts)
  if(FOCUSER_TIMEOUT_SCALE EQUAL 1)
    return()
  endif()
  get_property(tests DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} TIMEOUT timeout)
    get_test_property(${test} LABELS labels)
    # The fixtures too: the tests labelled win32 share them, and in the guest
    # they make the prefix.
    get_test_property(${test} FIXTURES_SETUP setup)
    get_test_property(${test} FIXTURES_CLEANUP cleanup)
    if(timeout AND (FOCUSER_WINE_ARCH STREQUAL "win32" OR "win32" IN_LIST labels OR setup OR cleanup))
      math(EXPR timeout "${timeout} * ${FOCUSER_TIMEOUT_SCALE}")
      set_tests_properties(${test} PROPERTIES TIMEOUT ${timeout})
      # For the waits of the scripts that set up and run Wine.
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT FOCUSER_TIMEOUT_SCALE=${FOCUSER_TIMEOUT_SCALE})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL focuser_scale_timeouts)

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR} ${FOCUSER_WINE_LOADER})

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The controller emulator and what every Wine test program shares.
add_library(focuser_emulator STATIC
  sim/ControllerEmulator.cpp
  sim/FocuserModel.cpp
)
target_include_directories(focuser_emulator PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(focuser_emulator PRIVATE ${FOCUSER_WARNINGS})
target_link_libraries(focuser_emulator PUBLIC focuser_protocol)

# Window pictures, for test artifacts and the demo's screenshot.
add_library(focuser_window_image STATIC devtools/WindowImage.cpp)
target_include_directories(focuser_window_image PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(focuser_window_image PRIVATE ${FOCUSER_WARNINGS})
target_link_libraries(focuser_window_image PUBLIC user32 gdi32)

add_library(focuser_test_support STATIC
  tests/support/TestMain.cpp
  tests/support/CrashReport.cpp
  tests/support/DriverTestSupport.cpp
  tests/support/NullModemControl.cpp
  tests/support/TestRegistry.cpp
  tests/support/ImportHook.cpp
  tests/support/SerialCallLog.cpp
)
target_include_directories(focuser_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(focuser_test_support PRIVATE ${FOCUSER_WARNINGS})
target_link_libraries(focuser_test_support PUBLIC gtest focuser_emulator focuser_core focuser_window_image ws2_32)

# focuser_wine_test(NAME source...): a gtest program run under Wine.
function(focuser_wine_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE focuser_test_support)
  target_compile_options(${name} PRIVATE ${FOCUSER_WARNINGS})
  target_link_options(${name} PRIVATE ${FOCUSER_STATIC_RUNTIME})
  if(FOCUSER_CAN_RUN_WINE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix TIMEOUT 180)
  endif()
endfunction()

# The pure logic once more, as the Windows compiler and runtime build it.
focuser_wine_test(protocol_tests_win
  tests/link/ControllerProtocolTest.cpp
  tests/settings/SettingsTextTest.cpp
  tests/numbertext/NumberTextTest.cpp
  tests/numbertext/ExactDecimalTest.cpp
  tests/trace/TraceTextTest.cpp
)
focuser_wine_test(settings_tests tests/settings/DriverSettingsTest.cpp)
# The link's logic is tested on the host over a scripted line; here the port
# itself, on the real wire.
focuser_wine_test(link_tests tests/link/SerialPortTest.cpp)
focuser_wine_test(trace_tests tests/trace/TraceLogTest.cpp)
focuser_wine_test(com_tests tests/com/ServerModuleTest.cpp)
focuser_wine_test(driver_tests tests/driver/CFocuserTest.cpp)

if(FOCUSER_CAN_RUN_WINE)
  add_test(NAME wine_start COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/wine-fixture.sh start
           ${CMAKE_BINARY_DIR} ${FOCUSER_WINE_ARCH} ${FOCUSER_WINE_LOADER} ${NULLMODEM_EXE})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
  add_test(NAME wine_stop COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/wine-fixture.sh stop
           ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

# The DLL may import only system DLLs.
add_test(NAME dll_imports COMMAND ${CMAKE_SOURCE_DIR}/tests/server/check-dll.sh
         ${MINGW_PREFIX}-objdump $<TARGET_FILE:focuser_dll>)

# Host (Linux) build: the null-modem bridge the Wine tests talk through, the
# protocol logic's unit tests, which need no Wine, and the Linux programs.
#
# FOCUSER_LINUX_ONLY builds only what runs on Linux for users (the device
# server and the simulator) and their tests: the packages' build, and the
# builds for other architectures. BUILD_TESTING=OFF leaves every test out.
option(FOCUSER_LINUX_ONLY "Only the Linux programs and their tests" OFF)
option(BUILD_TESTING "Build the tests" ON)

# How a test starts one of our programs: by its path, or, in a build for
# another architecture, through a launcher beside it that runs it under the
# emulator. The launcher execs, so the test's pid is the program's and the
# signals it sends reach the program.
function(focuser_program_command target result)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(${result} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
    return()
  endif()
  set(launcher "$<TARGET_FILE:${target}>-emulated")
  get_target_property(made ${target} FOCUSER_LAUNCHER_MADE)
  if(NOT made)
    set(command "")
    foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
      string(APPEND command "'${word}' ")
    endforeach()
    file(GENERATE OUTPUT "${launcher}"
      CONTENT "#!/bin/sh\nexec ${command}'$<TARGET_FILE:${target}>' \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                       WORLD_READ WORLD_EXECUTE)
    set_target_properties(${target} PROPERTIES FOCUSER_LAUNCHER_MADE ON)
  endif()
  set(${result} "${launcher}" PARENT_SCOPE)
endfunction()

if(NOT BUILD_TESTING)
  include(cmake/NativeSim.cmake)
  include(cmake/Alpaca.cmake)
  return()
endif()

# A scripted controller line, for the link's tests and its fuzzer.
add_library(focuser_scripted_line STATIC devtools/ScriptedLine.cpp)
target_link_libraries(focuser_scripted_line PUBLIC focuser_protocol)
target_compile_options(focuser_scripted_line PRIVATE ${FOCUSER_WARNINGS})

# The fuzz targets' invariant checks, shared by the fuzzers and by the unit
# test that replays their corpus.
add_library(focuser_fuzz_checks STATIC
  fuzz/FuzzCheck.cpp
  fuzz/NumberReference.cpp
  fuzz/ReplyChecks.cpp
  fuzz/NumberTextChecks.cpp
  fuzz/SettingsTextChecks.cpp
  fuzz/CommandChecks.cpp
  fuzz/LinkChecks.cpp
  fuzz/RegistryScriptChecks.cpp
)
target_link_libraries(focuser_fuzz_checks PUBLIC focuser_protocol focuser_scripted_line)
target_compile_options(focuser_fuzz_checks PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(focuser_fuzz_checks PRIVATE
  FOCUSER_REGISTRY_SCRIPT="${CMAKE_SOURCE_DIR}/resources/Focuser.rgs.in")

# A clang build folder with FOCUSER_FUZZ=ON builds the fuzzers and nothing else.
option(FOCUSER_FUZZ "Build the libFuzzer targets (needs CC=clang CXX=clang++)" OFF)
if(FOCUSER_FUZZ)
  include(cmake/Fuzz.cmake)
  return()
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(NOT FOCUSER_LINUX_ONLY)
add_executable(nullmodem
  tests/nullmodem/main.cpp
  tests/nullmodem/PtyBridge.cpp
  tests/nullmodem/ControlProtocol.cpp
  tests/nullmodem/Files.cpp
)
target_include_directories(nullmodem PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(nullmodem PRIVATE ${FOCUSER_WARNINGS})

add_executable(nullmodem_tests tests/nullmodem/NullModemTest.cpp)
target_link_libraries(nullmodem_tests PRIVATE gtest_main)
target_compile_options(nullmodem_tests PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(nullmodem_tests PRIVATE NULLMODEM_EXE="$<TARGET_FILE:nullmodem>")
add_dependencies(nullmodem_tests nullmodem)
add_test(NAME nullmodem COMMAND nullmodem_tests)
endif()

add_executable(protocol_tests
  tests/link/ControllerProtocolTest.cpp
  tests/link/ControllerLinkTest.cpp
  tests/link/FocuserSessionTest.cpp
  tests/settings/SettingsTextTest.cpp
  tests/numbertext/NumberTextTest.cpp
  tests/numbertext/ExactDecimalTest.cpp
  tests/trace/TraceTextTest.cpp
)
target_link_libraries(protocol_tests PRIVATE focuser_scripted_line gtest_main)
target_compile_options(protocol_tests PRIVATE ${FOCUSER_WARNINGS})
add_test(NAME protocol COMMAND protocol_tests)

# The fuzzers' stored inputs, replayed through the same checks; the fuzzers
# themselves run only from scripts/fuzz.sh.
add_executable(fuzz_corpus_tests
  tests/fuzz/CorpusReplayTest.cpp
  tests/fuzz/ModulePathTest.cpp
)
target_link_libraries(fuzz_corpus_tests PRIVATE focuser_fuzz_checks gtest_main)
target_compile_options(fuzz_corpus_tests PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(fuzz_corpus_tests PRIVATE FOCUSER_FUZZ_CORPUS="${CMAKE_SOURCE_DIR}/fuzz/corpus")
add_test(NAME fuzz_corpus COMMAND fuzz_corpus_tests)

# The Linux front end: the simulator on a pseudo-terminal and the device server.
include(cmake/NativeSim.cmake)
include(cmake/Alpaca.cmake)

# The native controller simulator on a pseudo-terminal (focuser-sim) and the
# POSIX serial line.

# The serial line for a Linux front end.
add_library(focuser_posix_line STATIC link/PosixSerialPort.cpp)
target_link_libraries(focuser_posix_line PUBLIC focuser_protocol)
target_compile_options(focuser_posix_line PRIVATE ${FOCUSER_WARNINGS})

# The controller simulator, native: the emulator's line logic with a pty's
# master as its port.
add_library(focuser_native_emulator STATIC
  sim/ControllerEmulator.cpp
  sim/ControllerFaults.cpp
  sim/FocuserModel.cpp
  sim/FocuserSimulator.cpp
  sim/SimulatorOptions.cpp
)
target_link_libraries(focuser_native_emulator PUBLIC focuser_protocol)
target_compile_options(focuser_native_emulator PRIVATE ${FOCUSER_WARNINGS})
find_package(Threads REQUIRED)
target_link_libraries(focuser_native_emulator PUBLIC Threads::Threads)

add_executable(focuser_sim_native sim/FocuserSimPty.cpp)
set_target_properties(focuser_sim_native PROPERTIES OUTPUT_NAME focuser-sim)
target_link_libraries(focuser_sim_native PRIVATE focuser_native_emulator)
target_compile_options(focuser_sim_native PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(focuser_sim_native PRIVATE FOCUSER_VERSION="${PROJECT_VERSION}")

include(GNUInstallDirs)
install(TARGETS focuser_sim_native RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT BUILD_TESTING)
  return()
endif()

add_executable(posix_line_tests tests/link/PosixSerialPortTest.cpp)
target_link_libraries(posix_line_tests PRIVATE focuser_posix_line gtest_main)
target_compile_options(posix_line_tests PRIVATE ${FOCUSER_WARNINGS})
add_test(NAME posix_line COMMAND posix_line_tests)

add_executable(native_sim_tests tests/sim/FocuserSimPtyTest.cpp)
target_link_libraries(native_sim_tests PRIVATE focuser_native_emulator focuser_posix_line gtest_main)
target_compile_options(native_sim_tests PRIVATE ${FOCUSER_WARNINGS})
focuser_program_command(focuser_sim_native sim_command)
target_compile_definitions(native_sim_tests PRIVATE
  FOCUSER_SIM_PROGRAM="${sim_command}" FOCUSER_VERSION="${PROJECT_VERSION}")
add_dependencies(native_sim_tests focuser_sim_native)
add_test(NAME native_sim COMMAND native_sim_tests)

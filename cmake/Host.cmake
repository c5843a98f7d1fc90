# Host (Linux) build: the null-modem bridge the Wine tests talk through, and the
# protocol logic's unit tests, which need no Wine.

add_executable(nullmodem sim/nullmodem/nullmodem.cpp)
target_compile_options(nullmodem PRIVATE ${FOCUSER_WARNINGS})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(protocol_tests
  tests/link/ControllerProtocolTest.cpp
  tests/setup/SettingsTextTest.cpp
  tests/common/NumberTextTest.cpp
)
target_link_libraries(protocol_tests PRIVATE focuser_protocol gtest_main)
target_compile_options(protocol_tests PRIVATE ${FOCUSER_WARNINGS})
add_test(NAME protocol COMMAND protocol_tests)

add_executable(nullmodem_tests tests/sim/NullModemTest.cpp)
target_link_libraries(nullmodem_tests PRIVATE gtest_main)
target_compile_options(nullmodem_tests PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(nullmodem_tests PRIVATE NULLMODEM_EXE="$<TARGET_FILE:nullmodem>")
add_dependencies(nullmodem_tests nullmodem)
add_test(NAME nullmodem COMMAND nullmodem_tests)

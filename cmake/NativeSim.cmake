# The native controller simulator on a pseudo-terminal (focuser-sim) and the
# POSIX serial line.

# The serial line for a Linux front end.
add_library(focuser_posix_line STATIC link/PosixSerialPort.cpp)
target_link_libraries(focuser_posix_line PUBLIC focuser_protocol)
target_compile_options(focuser_posix_line PRIVATE ${FOCUSER_WARNINGS})

add_executable(posix_line_tests tests/link/PosixSerialPortTest.cpp)
target_link_libraries(posix_line_tests PRIVATE focuser_posix_line gtest_main)
target_compile_options(posix_line_tests PRIVATE ${FOCUSER_WARNINGS})
add_test(NAME posix_line COMMAND posix_line_tests)

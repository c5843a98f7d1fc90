# The Alpaca device server (focuser-alpaca) and its tests.
# HTTP from Debian's cpp-httplib (a compiled library, found through
# pkg-config), JSON from nlohmann-json (header only).
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(Threads REQUIRED)

# Everything but main(), for the program, its tests and its benchmark.
add_library(focuser_alpaca_core STATIC
  alpaca/AlpacaServer.cpp
  alpaca/ApiRequest.cpp
  alpaca/ApiResponse.cpp
  alpaca/ConnectionQueue.cpp
  alpaca/DiscoveryResponder.cpp
  alpaca/EventLog.cpp
  alpaca/FocuserDevice.cpp
  alpaca/ReadScheduler.cpp
  alpaca/ServerSettings.cpp
  alpaca/SetupPages.cpp
)
target_link_libraries(focuser_alpaca_core PUBLIC
  focuser_protocol PkgConfig::CPP_HTTPLIB nlohmann_json::nlohmann_json Threads::Threads)
target_compile_definitions(focuser_alpaca_core PUBLIC FOCUSER_VERSION="${PROJECT_VERSION}")
target_compile_options(focuser_alpaca_core PRIVATE ${FOCUSER_WARNINGS})

add_executable(focuser_alpaca alpaca/main.cpp)
set_target_properties(focuser_alpaca PROPERTIES OUTPUT_NAME focuser-alpaca)
target_link_libraries(focuser_alpaca PRIVATE focuser_alpaca_core focuser_posix_line)
target_compile_options(focuser_alpaca PRIVATE ${FOCUSER_WARNINGS})

include(GNUInstallDirs)
install(TARGETS focuser_alpaca RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT BUILD_TESTING)
  return()
endif()

# The tests of the pure logic.
add_executable(alpaca_tests
  tests/alpaca/ApiRequestTest.cpp
  tests/alpaca/ReadSchedulerTest.cpp
  tests/alpaca/ServerSettingsTest.cpp
  tests/alpaca/SetupPagesTest.cpp
  tests/alpaca/ApiRequestCorpusTest.cpp
  fuzz/ApiRequestChecks.cpp
)
target_link_libraries(alpaca_tests PRIVATE focuser_alpaca_core focuser_fuzz_checks gtest_main)
target_compile_definitions(alpaca_tests PRIVATE FOCUSER_FUZZ_CORPUS="${CMAKE_SOURCE_DIR}/fuzz/corpus")
target_compile_options(alpaca_tests PRIVATE ${FOCUSER_WARNINGS})
add_test(NAME alpaca COMMAND alpaca_tests)

# The server as a client sees it, against the simulator on a pseudo-terminal,
# and the benchmark that measures it the same way.
add_library(alpaca_rig STATIC tests/alpaca/ServerRig.cpp)
target_link_libraries(alpaca_rig PUBLIC focuser_alpaca_core)
target_compile_options(alpaca_rig PRIVATE ${FOCUSER_WARNINGS})
focuser_program_command(focuser_sim_native sim_command)
focuser_program_command(focuser_alpaca alpaca_command)
target_compile_definitions(alpaca_rig PRIVATE
  FOCUSER_SIM_EXE="${sim_command}" FOCUSER_ALPACA_EXE="${alpaca_command}")
add_dependencies(alpaca_rig focuser_sim_native focuser_alpaca)

add_executable(alpaca_server_tests
  tests/alpaca/AlpacaServerTest.cpp
  tests/alpaca/AlpacaFaultTest.cpp
)
target_link_libraries(alpaca_server_tests PRIVATE alpaca_rig gtest_main)
target_compile_options(alpaca_server_tests PRIVATE ${FOCUSER_WARNINGS})
add_test(NAME alpaca_server COMMAND alpaca_server_tests)
set_tests_properties(alpaca_server PROPERTIES TIMEOUT 300)

# Run by scripts/benchmark.sh; prints figures, checks nothing.
add_executable(alpaca_benchmark tests/alpaca/AlpacaBenchmark.cpp)
target_link_libraries(alpaca_benchmark PRIVATE alpaca_rig focuser_posix_line)
target_compile_options(alpaca_benchmark PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(alpaca_benchmark PRIVATE FOCUSER_ALPACA_EXE="${alpaca_command}")

# Reliability and performance evidence: the fault matrix (a test program), the
# soak (its own program; a short run is part of the suite, the full run is
# scripts/soak.sh) and the benchmark (scripts/benchmark.sh; never a test).

focuser_wine_test(fault_matrix_tests tests/reliability/FaultMatrixTest.cpp)
target_link_libraries(fault_matrix_tests PRIVATE psapi)

add_executable(soak tests/reliability/Soak.cpp)
target_link_libraries(soak PRIVATE focuser_server_test_support psapi)
target_compile_options(soak PRIVATE ${FOCUSER_WARNINGS})
target_link_options(soak PRIVATE ${FOCUSER_STATIC_RUNTIME})
add_dependencies(soak focuser_dll)
if(FOCUSER_CAN_RUN_WINE)
  add_test(NAME soak_short COMMAND soak --cycles 200 --calls 2000 --creates 100)
  set_tests_properties(soak_short PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix TIMEOUT 300)
endif()

add_executable(benchmark tests/reliability/Benchmark.cpp)
target_link_libraries(benchmark PRIVATE focuser_server_test_support)
target_compile_options(benchmark PRIVATE ${FOCUSER_WARNINGS})
target_link_options(benchmark PRIVATE ${FOCUSER_STATIC_RUNTIME})
add_dependencies(benchmark focuser_dll)

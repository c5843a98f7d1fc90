# The controller simulator (FocuserSim.exe) and its tests.

# The simulator's pieces join the emulator library that every Wine test links.
target_sources(focuser_emulator PRIVATE
  sim/ControllerFaults.cpp
  sim/FocuserSimulator.cpp
  sim/SimulatorOptions.cpp
)

add_executable(FocuserSim sim/FocuserSim.cpp)
target_link_libraries(FocuserSim PRIVATE focuser_emulator)
target_compile_options(FocuserSim PRIVATE ${FOCUSER_WARNINGS})
target_link_options(FocuserSim PRIVATE ${FOCUSER_STATIC_RUNTIME})
focuser_shipped_program(FocuserSim)
target_compile_definitions(FocuserSim PRIVATE FOCUSER_VERSION="${PROJECT_VERSION}")

focuser_wine_test(sim_model_tests
  tests/sim/FocuserModelTest.cpp
  tests/sim/SimulatorOptionsTest.cpp
)

focuser_wine_test(sim_line_tests
  tests/sim/SimulatorLineTest.cpp
  tests/sim/SimulatorDriverTest.cpp
)

focuser_wine_test(sim_program_tests tests/sim/FocuserSimProgramTest.cpp)
target_link_libraries(sim_program_tests PRIVATE focuser_server_test_support)
target_compile_definitions(sim_program_tests PRIVATE
  FOCUSER_SIM_EXE="$<TARGET_FILE:FocuserSim>")
add_dependencies(sim_program_tests FocuserSim)

# The demo's look at the setup dialog (scripts/demo.sh --dialog): a client
# that opens the dialog by ProgID, takes its picture and cancels it.
add_executable(ShowSetupDialog demo/ShowSetupDialog.cpp)
target_link_libraries(ShowSetupDialog PRIVATE focuser_window_image ole32 oleaut32 uuid user32 gdi32)
target_compile_options(ShowSetupDialog PRIVATE ${FOCUSER_WARNINGS})
target_link_options(ShowSetupDialog PRIVATE ${FOCUSER_STATIC_RUNTIME})

# The controller simulator (FocuserSim.exe) and its tests.

# The simulator's pieces join the emulator library that every Wine test links.
target_sources(focuser_emulator PRIVATE
  sim/ControllerFaults.cpp
  sim/FocuserSimulator.cpp
  sim/SimulatorOptions.cpp
)

add_executable(focuser_sim sim/FocuserSim.cpp)
target_link_libraries(focuser_sim PRIVATE focuser_emulator)
target_compile_options(focuser_sim PRIVATE ${FOCUSER_WARNINGS})
target_link_options(focuser_sim PRIVATE ${FOCUSER_STATIC_RUNTIME})
set_target_properties(focuser_sim PROPERTIES OUTPUT_NAME FocuserSim)
focuser_shipped_program(focuser_sim)
target_compile_definitions(focuser_sim PRIVATE FOCUSER_VERSION="${PROJECT_VERSION}")

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
  FOCUSER_SIM_EXE="$<TARGET_FILE:focuser_sim>")
add_dependencies(sim_program_tests focuser_sim)

# The demo's look at the setup dialog (scripts/demo.sh --dialog): a client
# that opens the dialog by ProgID, takes its picture and cancels it.
add_executable(show_setup_dialog demo/ShowSetupDialog.cpp)
target_link_libraries(show_setup_dialog PRIVATE focuser_window_image ole32 oleaut32 uuid user32 gdi32)
target_compile_options(show_setup_dialog PRIVATE ${FOCUSER_WARNINGS})
target_link_options(show_setup_dialog PRIVATE ${FOCUSER_STATIC_RUNTIME})
set_target_properties(show_setup_dialog PROPERTIES OUTPUT_NAME ShowSetupDialog)

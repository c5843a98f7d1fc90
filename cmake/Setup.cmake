# Setup dialog: its sources and tests.

target_sources(focuser_core PRIVATE
  setup/DialogInit.cpp
  setup/DialogExchange.cpp
  setup/DialogWindow.cpp
  setup/Setup.cpp
)

# Test programs that open the dialog carry its resources themselves: the
# driver code linked into them finds its template in the program.
set_property(SOURCE resources/Setup.rc APPEND PROPERTY INCLUDE_DIRECTORIES
  ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR})
set_property(SOURCE resources/Setup.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/resources/emblem.bmp)

# The dialog layer's text and list handling, and the resources as built.
focuser_wine_test(setup_tests
  tests/setup/SetupDialogLayerTest.cpp
  tests/setup/SetupResourcesTest.cpp
  resources/Setup.rc
)
# It also compares its resources with the DLL's, found beside it.
target_compile_definitions(setup_tests PRIVATE FOCUSER_DLL_NAME="$<TARGET_FILE_NAME:focuser_dll>")
add_dependencies(setup_tests focuser_dll)

# The dialog itself, in real windows on a virtual X display.
add_executable(setup_dialog_tests tests/setup/SetupDialogTest.cpp resources/Setup.rc)
target_link_libraries(setup_dialog_tests PRIVATE focuser_test_support)
target_compile_options(setup_dialog_tests PRIVATE ${FOCUSER_WARNINGS})
target_link_options(setup_dialog_tests PRIVATE ${FOCUSER_STATIC_RUNTIME})
if(FOCUSER_CAN_RUN_WINE)
  add_test(NAME setup_dialog_tests
           COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/xvfb-fixture.sh run ${CMAKE_BINARY_DIR}
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:setup_dialog_tests>)
  # The screenshot of the open dialog is kept in the build folder.
  set_tests_properties(setup_dialog_tests PROPERTIES
    FIXTURES_REQUIRED "wine;xvfb;setup_dialog_frames" RESOURCE_LOCK wineprefix TIMEOUT 300
    ENVIRONMENT "SETUP_DIALOG_SCREENSHOT=setup-dialog.bmp"
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})

  add_test(NAME xvfb_start COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/xvfb-fixture.sh start ${CMAKE_BINARY_DIR})
  set_tests_properties(xvfb_start PROPERTIES FIXTURES_SETUP xvfb TIMEOUT 60)
  add_test(NAME xvfb_stop COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/xvfb-fixture.sh stop ${CMAKE_BINARY_DIR})
  set_tests_properties(xvfb_stop PROPERTIES FIXTURES_CLEANUP xvfb TIMEOUT 60)

  add_test(NAME setup_dialog_frames
           COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/xvfb-fixture.sh wine-app ${CMAKE_BINARY_DIR}
                   setup_dialog_tests.exe ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(setup_dialog_frames PROPERTIES
    FIXTURES_SETUP setup_dialog_frames FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix TIMEOUT 120)
endif()

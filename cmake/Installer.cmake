# The Windows installer and its test.
#
# The shipped installer is a 32-bit program carrying both DLLs, so it is made
# in the 64-bit build folder, which scripts/build.sh builds after the 32-bit
# one. Beside it the same script is built as a 64-bit program: that one the
# test runs under 64-bit Wine, since the shipped one needs a machine that can
# run 32-bit Windows code. Both land in installer/ in the build folder.

# What the Start-menu trace entries run (installer/FocuserTrace.cpp), stripped:
# the 32-bit one goes into the shipped installer, from the 32-bit build.
add_executable(focuser_trace installer/FocuserTrace.cpp)
target_include_directories(focuser_trace PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(focuser_trace PRIVATE ${FOCUSER_WARNINGS})
target_link_options(focuser_trace PRIVATE ${FOCUSER_STATIC_RUNTIME} -municode -mwindows -s)
set_target_properties(focuser_trace PROPERTIES OUTPUT_NAME FocuserTrace)
focuser_shipped_program(focuser_trace)

# What the installer and the uninstaller run for their work on the profile
# key (installer/ProfileSetup.cpp); the installer carries it, and installs it
# nowhere. Its logic is in a library, for its test.
add_library(focuser_profile_setup STATIC installer/ProfileSetup.cpp)
target_link_libraries(focuser_profile_setup PUBLIC focuser_core)
target_compile_options(focuser_profile_setup PRIVATE ${FOCUSER_WARNINGS})
add_executable(focuser_profile installer/FocuserProfile.cpp)
set_target_properties(focuser_profile PROPERTIES OUTPUT_NAME FocuserProfile)
target_link_libraries(focuser_profile PRIVATE focuser_profile_setup)
target_compile_options(focuser_profile PRIVATE ${FOCUSER_WARNINGS})
target_link_options(focuser_profile PRIVATE ${FOCUSER_STATIC_RUNTIME} -s)
focuser_shipped_program(focuser_profile)
focuser_wine_test(profile_setup_tests tests/installer/ProfileSetupTest.cpp)
target_link_libraries(profile_setup_tests PRIVATE focuser_profile_setup)

# The installer test's stand-in for a running program that has the driver
# loaded, and its look at the profile key's rights and the Start-menu entries;
# built by both builds, since a 32-bit Windows needs the 32-bit ones.
add_executable(hold_driver tests/installer/HoldDriver.cpp)
target_compile_options(hold_driver PRIVATE ${FOCUSER_WARNINGS})
target_link_libraries(hold_driver PRIVATE ole32)
target_link_options(hold_driver PRIVATE ${FOCUSER_STATIC_RUNTIME})
add_executable(inspect_install tests/installer/InspectInstall.cpp)
target_compile_options(inspect_install PRIVATE ${FOCUSER_WARNINGS})
target_link_libraries(inspect_install PRIVATE ole32 uuid advapi32)
target_link_options(inspect_install PRIVATE ${FOCUSER_STATIC_RUNTIME} -municode)

if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  return()
endif()

find_program(FOCUSER_MAKENSIS makensis)
if(NOT FOCUSER_MAKENSIS)
  message(WARNING "makensis not found (Debian package nsis): the installer is not built")
  return()
endif()

# The guide goes in as a web page, which Windows opens by itself.
find_program(FOCUSER_PANDOC pandoc)
if(NOT FOCUSER_PANDOC)
  message(WARNING "pandoc not found (Debian package pandoc): the installer is not built")
  return()
endif()

set(FOCUSER_INSTALLER_DIR ${CMAKE_BINARY_DIR}/installer)
get_filename_component(FOCUSER_WIN32_DIR "${FOCUSER_DLL32}" DIRECTORY)
get_filename_component(FOCUSER_DLL32_NAME "${FOCUSER_DLL32}" NAME)
set(FOCUSER_INSTALLER ${FOCUSER_INSTALLER_DIR}/TavrilenFocuserSetup-${PROJECT_VERSION}.exe)
# Not for users: it leaves out what this machine cannot do (see below).
set(FOCUSER_INSTALLER_X64_TEST ${FOCUSER_INSTALLER_DIR}/TavrilenFocuserSetup-x64-test.exe)
# The same two for the version below this one (the DLLs focuser_dll_previous),
# which the installer test upgrades from and refuses to downgrade to.
set(FOCUSER_PREVIOUS_INSTALLER
    ${FOCUSER_INSTALLER_DIR}/previous/TavrilenFocuserSetup-${FOCUSER_PREVIOUS_VERSION}.exe)
set(FOCUSER_PREVIOUS_INSTALLER_X64_TEST ${FOCUSER_INSTALLER_DIR}/previous/TavrilenFocuserSetup-x64-test.exe)
set(FOCUSER_PREVIOUS_DLL32 ${FOCUSER_WIN32_DIR}/previous/${FOCUSER_DLL32_NAME})
set(FOCUSER_USER_GUIDE_SOURCE ${CMAKE_SOURCE_DIR}/docs/user-guide.md)
set(FOCUSER_USER_GUIDE ${FOCUSER_INSTALLER_DIR}/user-guide.html)
add_custom_command(
  OUTPUT ${FOCUSER_USER_GUIDE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${FOCUSER_INSTALLER_DIR}
  COMMAND ${FOCUSER_PANDOC} --from gfm --to html5 --standalone
          --metadata "pagetitle=Tavrilen Astrograph Focuser driver: user guide"
          # The guide's first heading becomes its title, with the version under it.
          --shift-heading-level-by=-1 --metadata "subtitle=Version ${PROJECT_VERSION}"
          --output ${FOCUSER_USER_GUIDE} ${FOCUSER_USER_GUIDE_SOURCE}
  DEPENDS ${FOCUSER_USER_GUIDE_SOURCE}
  COMMENT "pandoc: docs/user-guide.md as a web page"
  VERBATIM)
set(trace_switch32_file "${FOCUSER_WIN32_DIR}/$<TARGET_FILE_NAME:focuser_trace>")
set(profile_tool32_file "${FOCUSER_WIN32_DIR}/$<TARGET_FILE_NAME:focuser_profile>")

# Are the tests that run 32-bit code registered (cmake/WineTests.cmake)? If
# not, the 64-bit test build installs the 32-bit DLL without registering it,
# and the shipped installer is only checked, not run.
if(FOCUSER_CAN_RUN_WIN32)
  set(skip_dll32_registration "")
  set(dll32_registered --dll32-registered)
else()
  set(skip_dll32_registration -DSKIP_DLL32_REGISTRATION)
  set(dll32_registered "")
endif()

# The simulator, when the build has it: the 32-bit one (from the 32-bit build,
# at the same place in its folder) goes into the shipped installer.
set(sim32_file "")
set(sim64_file "")
set(sim_name "")
set(sim_target "")
if(TARGET focuser_sim)
  set(sim_target focuser_sim)
endif()
if(sim_target)
  get_target_property(sim_dir ${sim_target} RUNTIME_OUTPUT_DIRECTORY)
  if(sim_dir)
    file(RELATIVE_PATH sim_rel ${CMAKE_BINARY_DIR} ${sim_dir})
    set(sim32_file "${FOCUSER_WIN32_DIR}/${sim_rel}/$<TARGET_FILE_NAME:${sim_target}>")
  else()
    set(sim32_file "${FOCUSER_WIN32_DIR}/$<TARGET_FILE_NAME:${sim_target}>")
  endif()
  set(sim64_file $<TARGET_FILE:${sim_target}>)
  set(sim_name FocuserSim.exe)
else()
  message(STATUS "No simulator target: the installers carry no FocuserSim.exe")
endif()

set(make_installer ${CMAKE_SOURCE_DIR}/installer/make-installer.sh ${FOCUSER_MAKENSIS})
# The uninstaller is signed before it is packed, the installer once it is made.
set(sign_define "")
if(FOCUSER_SIGN_FILE)
  set(sign_define -DSIGN=${FOCUSER_SIGN_FILE})
endif()
set(installer_sources
  ${CMAKE_SOURCE_DIR}/installer/TavrilenFocuser.nsi
  ${CMAKE_SOURCE_DIR}/installer/make-installer.sh
  ${FOCUSER_USER_GUIDE})

# focuser_installer(OUT VERSION DLL32 DLL64 TRACE_SWITCH PROFILE_TOOL SIM [makensis options...])
function(focuser_installer out version dll32 dll64 trace_switch profile_tool sim)
  set(sim_define "")
  if(sim)
    set(sim_define -DSIM=${sim})
  endif()
  get_filename_component(name ${out} NAME)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${make_installer} ${out} -DVERSION=${version} ${ARGN} ${sign_define}
            -DDLL32=${dll32} -DDLL64=${dll64} ${sim_define} -DUSER_GUIDE=${FOCUSER_USER_GUIDE}
            -DTRACE_SWITCH=${trace_switch} -DPROFILE_TOOL=${profile_tool}
    DEPENDS ${installer_sources} ${dll32} ${dll64} ${trace_switch} focuser_trace ${profile_tool} focuser_profile
            ${sim}
    COMMENT "makensis: ${name} (${version})"
    VERBATIM)
endfunction()
focuser_installer(${FOCUSER_INSTALLER} ${PROJECT_VERSION}
                  ${FOCUSER_DLL32} $<TARGET_FILE:focuser_dll> ${trace_switch32_file} ${profile_tool32_file}
                  "${sim32_file}")
focuser_installer(${FOCUSER_INSTALLER_X64_TEST} ${PROJECT_VERSION}
                  ${FOCUSER_DLL32} $<TARGET_FILE:focuser_dll> $<TARGET_FILE:focuser_trace>
                  $<TARGET_FILE:focuser_profile> "${sim64_file}"
                  -DTARGET_AMD64 ${skip_dll32_registration})
focuser_installer(${FOCUSER_PREVIOUS_INSTALLER} ${FOCUSER_PREVIOUS_VERSION}
                  ${FOCUSER_PREVIOUS_DLL32} $<TARGET_FILE:focuser_dll_previous> ${trace_switch32_file}
                  ${profile_tool32_file} "${sim32_file}")
focuser_installer(${FOCUSER_PREVIOUS_INSTALLER_X64_TEST} ${FOCUSER_PREVIOUS_VERSION}
                  ${FOCUSER_PREVIOUS_DLL32} $<TARGET_FILE:focuser_dll_previous> $<TARGET_FILE:focuser_trace>
                  $<TARGET_FILE:focuser_profile> "${sim64_file}"
                  -DTARGET_AMD64 ${skip_dll32_registration})
add_custom_target(installer ALL DEPENDS ${FOCUSER_INSTALLER} ${FOCUSER_INSTALLER_X64_TEST}
                  ${FOCUSER_PREVIOUS_INSTALLER} ${FOCUSER_PREVIOUS_INSTALLER_X64_TEST})
add_dependencies(installer focuser_dll focuser_dll_previous)
# Only what is shipped, for a second build that checks the first.
add_custom_target(shipped_installer DEPENDS ${FOCUSER_INSTALLER})
add_dependencies(shipped_installer focuser_dll)
if(sim_target)
  add_dependencies(installer ${sim_target})
  add_dependencies(shipped_installer ${sim_target})
endif()

# --- Tests ----------------------------------------------------------------------
# The shipped installer, as far as it can be checked without running it.
add_test(NAME installer_x86_contents
         COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/check-installer.sh ${FOCUSER_INSTALLER} x86
                 TavrilenFocuser.dll TavrilenFocuser64.dll ${sim_name} "User Guide.html" FocuserTrace.exe)

# Install, use and uninstall, in a prefix of the test's own, starting from
# PREVIOUS, the same installer of the version below.
# HELPERS is the folder of hold_driver and inspect_install of the machine's kind.
set(signed_arg "")
if(FOCUSER_SIGN_FILE)
  set(signed_arg --signed)
endif()
function(focuser_installer_test name installer previous view helpers)
  add_test(NAME ${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/installer/installer-test.sh
                   --build ${CMAKE_BINARY_DIR} --installer ${installer} --view ${view}
                   --version ${PROJECT_VERSION} --dll32 ${FOCUSER_DLL32} --dll64 $<TARGET_FILE:focuser_dll>
                   --previous ${previous} --previous-version ${FOCUSER_PREVIOUS_VERSION}
                   --previous-dll32 ${FOCUSER_PREVIOUS_DLL32}
                   --previous-dll64 $<TARGET_FILE:focuser_dll_previous>
                   ${signed_arg}
                   --script ${CMAKE_SOURCE_DIR}/tests/installer/CreateFocuser.vbs
                   --guide ${FOCUSER_USER_GUIDE} --holder ${helpers}/hold_driver.exe
                   --inspector ${helpers}/inspect_install.exe
                   ${ARGN})
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK installerprefix TIMEOUT 600)
endfunction()

if(FOCUSER_CAN_RUN_WINE)
  set(sim64_args "")
  if(sim_target)
    set(sim64_args --sim ${sim64_file})
  endif()
  focuser_installer_test(installer ${FOCUSER_INSTALLER_X64_TEST}
                         ${FOCUSER_PREVIOUS_INSTALLER_X64_TEST} 64 $<TARGET_FILE_DIR:hold_driver>
                         ${sim64_args} ${dll32_registered})
  if(FOCUSER_CAN_RUN_WIN32)
    focuser_needs_win32(installer)
    set(sim32_args "")
    if(sim_target)
      set(sim32_args --sim ${sim32_file})
    endif()
    focuser_installer_test(installer_x86 ${FOCUSER_INSTALLER} ${FOCUSER_PREVIOUS_INSTALLER} 32 $<TARGET_FILE_DIR:hold_driver>
                           ${sim32_args} --dll32-registered)
    focuser_needs_win32(installer_x86)
    # The same installer on a 32-bit Windows: one registry view, one DLL, and
    # the 32-bit build's helpers.
    focuser_installer_test(installer_x86_on_win32 ${FOCUSER_INSTALLER} ${FOCUSER_PREVIOUS_INSTALLER} 32
                           ${FOCUSER_WIN32_DIR} ${sim32_args} --machine 32)
    focuser_needs_win32(installer_x86_on_win32)
  endif()
endif()

# The release's own checks, in the 64-bit build folder, which holds the
# installer and sees the 32-bit build beside it: one version everywhere, the
# same bytes from a second build, and the signatures. None runs 32-bit code.
if(NOT TARGET shipped_installer)
  return()
endif()

set(sim_files "")
if(sim_target)
  set(sim_files ${sim32_file} $<TARGET_FILE:${sim_target}>)
endif()

set(sim_version_args "")
if(sim_target AND FOCUSER_CAN_RUN_WINE)
  set(sim_version_args $<TARGET_FILE:${sim_target}> ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
add_test(NAME release_version
         COMMAND ${CMAKE_SOURCE_DIR}/tests/release/check-release-version.sh ${PROJECT_VERSION}
                 ${CMAKE_RC_COMPILER} ${FOCUSER_INSTALLER} ${FOCUSER_DLL32} $<TARGET_FILE:focuser_dll>
                 ${FOCUSER_USER_GUIDE} ${sim_version_args})
if(sim_version_args)
  set_tests_properties(release_version PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix)
endif()

# scripts/release.sh, without the suite, from a copy of this tree in another
# folder: what it writes must be this build's bytes. It compiles for a few
# minutes on two cores.
get_filename_component(build_root ${CMAKE_BINARY_DIR} DIRECTORY)
set(sign_args "")
if(FOCUSER_SIGN_PKCS12)
  set(sign_args ${FOCUSER_SIGN_PKCS12} ${FOCUSER_SIGN_PASSWORD_FILE})
endif()
add_test(NAME release_build
         COMMAND ${CMAKE_SOURCE_DIR}/tests/release/check-release.sh ${CMAKE_SOURCE_DIR} ${build_root}
                 ${CMAKE_BINARY_DIR}/release-check ${CMAKE_OBJDUMP} ${PROJECT_VERSION} ${sign_args})
set_tests_properties(release_build PROPERTIES TIMEOUT 2400)

if(FOCUSER_SIGN_PKCS12)
  add_test(NAME release_signatures
           COMMAND ${CMAKE_SOURCE_DIR}/tests/release/check-signatures.sh ${FOCUSER_SIGN_PKCS12}
                   ${FOCUSER_SIGN_PASSWORD_FILE} ${CMAKE_BINARY_DIR}/signature-check
                   ${FOCUSER_DLL32} $<TARGET_FILE:focuser_dll> ${sim_files}
                   ${trace_switch32_file} $<TARGET_FILE:focuser_trace>
                   ${profile_tool32_file} $<TARGET_FILE:focuser_profile>
                   ${FOCUSER_INSTALLER}.uninstaller.exe ${FOCUSER_INSTALLER})
endif()

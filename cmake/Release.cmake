# What makes a release trustworthy, for the Windows builds: the same bytes
# from every build of one commit, and signed files when a certificate is given.
# Included before any Windows target is made, so that every one gets it.

# --- The same bytes from every build of one commit ------------------------------
# Whatever the toolchain stamps with a time takes the commit's: the linker,
# objcopy and strip write it as the PE time stamp when SOURCE_DATE_EPOCH is set.
# A release sets it; otherwise it is the time of the commit checked out, read
# when the build is configured (a later commit needs a fresh configure to move
# it, which only the time stamp would show).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(FOCUSER_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE FOCUSER_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  if(NOT git_status EQUAL 0 OR NOT FOCUSER_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    # A source tree without its history: a fixed time rather than today's.
    set(FOCUSER_SOURCE_DATE_EPOCH 0)
  endif()
endif()
# A second build of this one (tests/release/check-release.sh) takes it from here.
file(WRITE ${CMAKE_BINARY_DIR}/source-date-epoch "${FOCUSER_SOURCE_DATE_EPOCH}\n")
set(FOCUSER_WITH_EPOCH ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${FOCUSER_SOURCE_DATE_EPOCH})
# For what is shipped only: a new commit time then relinks those, not every test.
function(focuser_link_with_epoch target)
  set_target_properties(${target} PROPERTIES C_LINKER_LAUNCHER "${FOCUSER_WITH_EPOCH}"
                                             CXX_LINKER_LAUNCHER "${FOCUSER_WITH_EPOCH}")
endfunction()

# focuser_shipped_program(TARGET): a program the installer carries, built as
# reproducibly as the DLLs and signed when they are (after FOCUSER_SIGN_FILE
# is known, below).
function(focuser_shipped_program target)
  focuser_link_with_epoch(${target})
  if(FOCUSER_SIGN_FILE)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND ${FOCUSER_SIGN_FILE} $<TARGET_FILE:${target}>
                       VERBATIM)
  endif()
endfunction()

# Paths in debug information and in __FILE__ (assertions) are relative to the
# source tree and the build folder, whichever folders they are in. When both
# prefixes match (a build inside the source tree), the compiler takes the last.
add_compile_options(
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)

# focuser_previous_version(OUT VERSION): a version just below VERSION
# (1.2.3 -> 1.2.2, 1.2.0 -> 1.1.0, 2.0.0 -> 1.0.0), for the upgrade test.
function(focuser_previous_version out version)
  string(REPLACE "." ";" numbers "${version}")
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 patch)
  if(patch GREATER 0)
    math(EXPR patch "${patch} - 1")
  elseif(minor GREATER 0)
    math(EXPR minor "${minor} - 1")
  elseif(major GREATER 0)
    math(EXPR major "${major} - 1")
  else()
    message(FATAL_ERROR "version ${version} has no version below it")
  endif()
  set(${out} "${major}.${minor}.${patch}" PARENT_SCOPE)
endfunction()

# --- Signing --------------------------------------------------------------------
# With a PKCS#12 file and its password (in a file: the build records where it
# is, never the password itself), both DLLs, the uninstaller and the installer
# are signed as they are made (scripts/sign.sh). scripts/release.sh passes a
# certificate given through the environment; scripts/test.sh a throwaway one.
set(FOCUSER_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and key (empty: unsigned)")
set(FOCUSER_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File that holds the PKCS#12 file's password")
set(FOCUSER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server (empty: no time stamp)")
set(FOCUSER_SIGN_FILE "")
if(FOCUSER_SIGN_PKCS12)
  if(NOT FOCUSER_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "FOCUSER_SIGN_PKCS12 needs FOCUSER_SIGN_PASSWORD_FILE")
  endif()
  find_program(FOCUSER_OSSLSIGNCODE osslsigncode)
  if(NOT FOCUSER_OSSLSIGNCODE)
    message(FATAL_ERROR "signing needs osslsigncode (Debian package osslsigncode)")
  endif()
  # One command that signs the files it is given in place, for the DLLs'
  # post-build step and for makensis.
  set(FOCUSER_SIGN_FILE ${CMAKE_BINARY_DIR}/sign-file.sh)
  set(timestamp_args "")
  if(FOCUSER_SIGN_TIMESTAMP_URL)
    set(timestamp_args "--timestamp '${FOCUSER_SIGN_TIMESTAMP_URL}' ")
  endif()
  file(WRITE ${FOCUSER_SIGN_FILE}.in
    "#!/bin/sh\nexec '${CMAKE_SOURCE_DIR}/scripts/sign.sh' --pkcs12 '${FOCUSER_SIGN_PKCS12}' "
    "--password-file '${FOCUSER_SIGN_PASSWORD_FILE}' ${timestamp_args}--time ${FOCUSER_SOURCE_DATE_EPOCH} \"$@\"\n")
  file(COPY_FILE ${FOCUSER_SIGN_FILE}.in ${FOCUSER_SIGN_FILE} ONLY_IF_DIFFERENT)
  file(CHMOD ${FOCUSER_SIGN_FILE} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

# Fuzz build (clang, from cmake/Host.cmake with FOCUSER_FUZZ=ON): one libFuzzer
# program per target, with the code under test and the checks built with
# AddressSanitizer and UndefinedBehaviorSanitizer. Any undefined behaviour
# stops the run, so the fuzzer keeps the input that caused it.
# scripts/fuzz.sh configures, builds and runs them.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "FOCUSER_FUZZ needs clang (configure with CC=clang CXX=clang++)")
endif()

set(FOCUSER_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
foreach(library focuser_protocol focuser_scripted_line focuser_fuzz_checks)
  target_compile_options(${library} PRIVATE ${FOCUSER_SANITIZERS} -fsanitize=fuzzer-no-link)
endforeach()

set(FOCUSER_FUZZ_TARGETS
  reply:Reply
  number_text:NumberText
  settings_text:SettingsText
  command:Command
  link:Link
  registry_script:RegistryScript
)
foreach(pair ${FOCUSER_FUZZ_TARGETS})
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 source)
  add_executable(${name}_fuzzer fuzz/${source}Fuzzer.cpp)
  target_link_libraries(${name}_fuzzer PRIVATE focuser_fuzz_checks)
  target_compile_options(${name}_fuzzer PRIVATE ${FOCUSER_WARNINGS} ${FOCUSER_SANITIZERS} -fsanitize=fuzzer)
  target_link_options(${name}_fuzzer PRIVATE ${FOCUSER_SANITIZERS} -fsanitize=fuzzer)
endforeach()

# The device server's request mapping: its own sources, since the checks
# library is built for every target and the server only on Linux. Form and
# query decoding come from cpp-httplib, as in the server.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_executable(api_request_fuzzer
  fuzz/ApiRequestFuzzer.cpp
  fuzz/ApiRequestChecks.cpp
  alpaca/ApiRequest.cpp
)
target_link_libraries(api_request_fuzzer PRIVATE focuser_fuzz_checks PkgConfig::CPP_HTTPLIB)
target_compile_options(api_request_fuzzer PRIVATE ${FOCUSER_WARNINGS} ${FOCUSER_SANITIZERS} -fsanitize=fuzzer)
target_link_options(api_request_fuzzer PRIVATE ${FOCUSER_SANITIZERS} -fsanitize=fuzzer)

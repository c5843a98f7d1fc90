# In-process server: exports, class object, registration, and their tests.

target_sources(focuser_core PRIVATE
  server/Registration.cpp
  server/RegistryScript.cpp
)

# The registry script goes into the DLL as 8-bit text with CR LF line ends.
set(FOCUSER_RESOURCES_OUT ${CMAKE_BINARY_DIR}/generated/resources)
configure_file(${CMAKE_SOURCE_DIR}/resources/Focuser.rgs.in ${FOCUSER_RESOURCES_OUT}/Focuser.rgs
               @ONLY NEWLINE_STYLE CRLF)
set_property(SOURCE resources/TavrilenFocuser.rc APPEND PROPERTY INCLUDE_DIRECTORIES
  ${FOCUSER_RESOURCES_OUT})
set_property(SOURCE resources/TavrilenFocuser.rc APPEND PROPERTY OBJECT_DEPENDS
  ${FOCUSER_RESOURCES_OUT}/Focuser.rgs)

# Exactly the four entry points, by their undecorated names.
foreach(dll focuser_dll focuser_dll_previous)
  target_sources(${dll} PRIVATE server/TavrilenFocuser.def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${dll} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endforeach()

# --- Tests ----------------------------------------------------------------------
# The tests that load the DLL find it (and the 32-bit one, built beside this
# build folder by scripts/build.sh) by path.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(FOCUSER_DLL32_DEFAULT "${CMAKE_BINARY_DIR}/TavrilenFocuser.dll")
else()
  get_filename_component(FOCUSER_DLL32_DEFAULT "${CMAKE_BINARY_DIR}/../win32/TavrilenFocuser.dll" ABSOLUTE)
endif()
set(FOCUSER_DLL32 "${FOCUSER_DLL32_DEFAULT}" CACHE FILEPATH
    "The 32-bit driver DLL whose type library the tests also check")

add_library(focuser_server_test_support STATIC tests/server/ServerTestSupport.cpp)
target_link_libraries(focuser_server_test_support PUBLIC focuser_test_support)
target_compile_options(focuser_server_test_support PRIVATE ${FOCUSER_WARNINGS})
target_compile_definitions(focuser_server_test_support PRIVATE
  FOCUSER_DLL_PATH="$<TARGET_FILE:focuser_dll>"
  FOCUSER_DLL32_PATH="${FOCUSER_DLL32}")

focuser_wine_test(server_tests
  tests/server/DllExportsTest.cpp
  tests/server/TypeLibraryTest.cpp
  tests/server/RegistrationTest.cpp
  tests/server/ModulePathLimitTest.cpp
  tests/server/DispatchTest.cpp
)
target_link_libraries(server_tests PRIVATE focuser_server_test_support)
# Where registration tests put copies of the DLL under awkward paths.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/server-test-files)
target_compile_definitions(server_tests PRIVATE
  FOCUSER_TEST_TEMP_DIR="${CMAKE_BINARY_DIR}/server-test-files")
add_dependencies(server_tests focuser_dll)

focuser_wine_test(script_client_tests tests/server/ScriptClientTest.cpp)
target_link_libraries(script_client_tests PRIVATE focuser_server_test_support)
target_compile_definitions(script_client_tests PRIVATE
  FOCUSER_SCRIPTS_DIR="${CMAKE_SOURCE_DIR}/tests/server/scripts")
add_dependencies(script_client_tests focuser_dll)

focuser_wine_test(registry_script_tests tests/server/RegistryScriptTest.cpp)
target_link_libraries(registry_script_tests PRIVATE focuser_server_test_support)

# Both DLLs side by side in one 64-bit prefix: needs 32-bit Wine as well.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  focuser_wine_test(cross_bitness_tests tests/server/CrossBitnessTest.cpp)
  target_link_libraries(cross_bitness_tests PRIVATE focuser_server_test_support)
  target_compile_definitions(cross_bitness_tests PRIVATE
    FOCUSER_CREATE_SCRIPT="${CMAKE_SOURCE_DIR}/tests/installer/CreateFocuser.vbs")
  add_dependencies(cross_bitness_tests focuser_dll)
  if(TEST cross_bitness_tests)
    if(FOCUSER_CAN_RUN_WIN32)
      focuser_needs_win32(cross_bitness_tests)
    else()
      set_tests_properties(cross_bitness_tests PROPERTIES DISABLED ON)
    endif()
  endif()
endif()

# The DLL's own thread primitives under names of their own: the test program's
# runtime needs the whole POSIX thread library, which defines the real ones.
set(FOCUSER_RUNTIME_THREAD_PRIMITIVES pthread_once pthread_mutex_init pthread_mutex_destroy
  pthread_mutex_lock pthread_mutex_unlock pthread_key_create pthread_getspecific pthread_setspecific)
focuser_wine_test(runtime_threads_tests tests/runtime/RuntimeThreadsTest.cpp runtime/RuntimeThreads.cpp)
foreach(name IN LISTS FOCUSER_RUNTIME_THREAD_PRIMITIVES)
  target_compile_definitions(runtime_threads_tests PRIVATE ${name}=own_${name})
endforeach()

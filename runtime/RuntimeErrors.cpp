// How the statically linked C++ runtime reports a failure, defined in the
// DLL's own objects so that the linker leaves the runtime's versions out.
//
// Why: the runtime's versions build their exception objects from reference-
// counted strings, which drag in a second string implementation and a random
// device; its default terminate handler prints the exception's demangled type,
// which drags in the demangler. Together they were a fifth of the DLL. No
// message of theirs could reach a user anyway: nothing crosses the DLL's
// boundary as an exception, and a DLL has no console to print to.
//
// What stays the same: running out of memory still throws std::bad_alloc,
// which the places that build strings and tables catch; a string that would
// exceed the largest size counts as running out too. Index and null-pointer
// errors are programming faults that nothing catches: they end the process,
// as the uncaught exception did.
#include <cstdlib>
#include <exception>
#include <new>

namespace {

[[noreturn]] void EndProcess() { std::abort(); }

}  // namespace

namespace std {

void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
void __throw_logic_error(const char*) { EndProcess(); }
void __throw_out_of_range(const char*) { EndProcess(); }
void __throw_out_of_range_fmt(const char*, ...) { EndProcess(); }

}  // namespace std

namespace __gnu_cxx {

// The runtime's default terminate handler, under the runtime's name for it.
void __verbose_terminate_handler() { EndProcess(); }

}  // namespace __gnu_cxx

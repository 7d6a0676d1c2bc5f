// Replacements for parts of the C++ runtime that the statically linked executable would otherwise
// carry for nothing (measured figures in README, "Size of the executable").
//
// The updater catches one exception, std::bad_alloc, where it keeps a command-line argument; every
// other exception the standard library can throw (length_error, out_of_range, ...) has no handler
// and ends the process through std::terminate. The runtime's versions of the functions below build
// those exceptions with its reference-counted std::string and the terminate handler prints their
// demangled type names: the string code, the demangler and the C library's printf make up about
// 150 KB of a 432 KB executable. Defined here, in an object that is always linked, they keep the
// runtime's own definitions out of the link. The outcome is the same: bad_alloc is still thrown,
// and what would have been an uncaught exception ends the process with abort().
#include <cstdlib>
#include <new>
#include <string>  // declares the functions below, as the library's callers see them

namespace __gnu_cxx {
// A GUI program has no standard error stream to print the exception's type to.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
}  // namespace std

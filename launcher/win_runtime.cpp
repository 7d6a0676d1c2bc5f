// Replacements for parts of the C++ runtime that the statically linked executable would otherwise
// carry for nothing: the runtime's versions build their exceptions with its reference-counted
// std::string, and its terminate handler prints the exception's demangled type, which brings the
// demangler and the C library's printf. Defined here, in an object that is always linked, they
// keep the runtime's own definitions out of the link (the size each saves is in README, "Size of
// the executable").
//
// Contract: std::bad_alloc, the one exception the updater catches (where it keeps a command-line
// argument), is still thrown; every other exception the standard library would throw here has no
// handler and ends the process with abort(), as the uncaught exception would have.
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

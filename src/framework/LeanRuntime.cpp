// Replacements for a few C++ runtime helpers, linked into the program only.
// Each one keeps the behaviour the program relies on and leaves out what the
// runtime's own version drags in: the prebuilt versions pull in the whole
// narrow and wide string libraries, stream formatting and the demangler,
// well over half of the program's code.
#include <bits/functexcept.h>

#include <cstdlib>
#include <exception>
#include <new>

namespace {

// A standard-library error (a string or container too long, an index out of
// range): still an exception, so the installation worker's catch-all turns
// it into a failed installation as before.
struct LibraryError : std::exception {
    const char* what() const noexcept override { return "library error"; }
};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char*) { throw LibraryError(); }
void __throw_logic_error(const char*) { throw LibraryError(); }
void __throw_out_of_range(const char*) { throw LibraryError(); }
void __throw_out_of_range_fmt(const char*, ...) { throw LibraryError(); }
void __throw_invalid_argument(const char*) { throw LibraryError(); }

}  // namespace std

// An exception that nothing catches ends the process. The runtime's own
// handler would first print the exception's demangled type to a console that
// a GUI program does not have.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The stub's handler for a C++ exception that nothing catches. The
// runtime's default handler prints the exception's demangled type name and
// so links the whole demangler (about 46 KB) into the stub; the stub throws
// no exceptions of its own, so a plain abort is all it needs.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

// The parts of the OS module that do not depend on the platform.
#include <cstring>

#include "os/os.h"
#include "os/os_internal.h"

namespace sfx {
namespace os_internal {

uint32_t (*g_tickSource)() = nullptr;

void trimText(char* s) {
  size_t n = strlen(s);
  while (n > 0 && strchr(" \t\r\n", s[n - 1])) s[--n] = '\0';
  size_t lead = strspn(s, " \t\r\n");
  if (lead) memmove(s, s + lead, n - lead + 1);
}

}  // namespace os_internal

void setTickSourceForTesting(uint32_t (*source)()) {
  os_internal::g_tickSource = source;
}

}  // namespace sfx

// What the two platform files of the OS module share (os_common.cpp).
#ifndef SFX_OS_OS_INTERNAL_H_
#define SFX_OS_OS_INTERNAL_H_

#include <cstdint>

namespace sfx {
namespace os_internal {

// The tick source set by setTickSourceForTesting, or null.
extern uint32_t (*g_tickSource)();

// Removes leading and trailing space, tab, CR and LF from a C string.
void trimText(char* s);

}  // namespace os_internal
}  // namespace sfx

#endif  // SFX_OS_OS_INTERNAL_H_

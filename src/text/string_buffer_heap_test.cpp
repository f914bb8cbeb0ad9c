// Short strings live inside the StringBuffer: counts every allocation made
// through operator new (which StringBuffer uses) while buffers of up to 81
// bytes are built and edited. A program of its own, because it replaces the
// global operator new.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "text/string_buffer.h"

namespace {
size_t g_allocations = 0;
}  // namespace

// The replacements below pair malloc with free on purpose; inlined into a
// new/delete pair they look mismatched to the compiler.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  ++g_allocations;
  return std::malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace sfx {
namespace {

TEST(StringBufferHeapTest, UpTo81BytesNeverTouchTheHeap) {
  size_t before = g_allocations;
  {
    StringBuffer sb;
    for (int i = 0; i < 81; ++i) ASSERT_TRUE(sb.appendChar('x'));
    sb.replaceAllOccurrences("xx", "y");
    sb.prepend("-");
    sb.appendInt(-1234567);
    sb.trim2();
    StringBuffer copy(sb.getString());
    copy.setString("tag");
    copy.appendCharN(' ', 78);
    EXPECT_EQ(81u, copy.getSize());
  }
  EXPECT_EQ(before, g_allocations);

  StringBuffer grows;
  grows.appendCharN('x', 81);
  EXPECT_EQ(before, g_allocations);
  grows.appendChar('y');  // the 82nd byte moves the text to the heap
  EXPECT_EQ(before + 1, g_allocations);
  EXPECT_EQ(285u, grows.getCapacity());
}

}  // namespace
}  // namespace sfx

// The critical section accepts balanced use and stops the process when it
// or its guard is used after destruction.
#include "log/crit_sec.h"

#include <gtest/gtest.h>

#include <new>

namespace sfx {
namespace {

TEST(CritSecTest, NestedGuardsOnOneSection) {
  MarlithCritSec section;
  {
    CritSecExitor outer(section);
    CritSecExitor inner(section);
  }
  section.enterCriticalSection();
  section.leaveCriticalSection();
}

#if !defined(_WIN32)
TEST(CritSecDeathTest, UseAfterDestructionIsFatal) {
  EXPECT_DEATH(
      {
        alignas(MarlithCritSec) unsigned char store[sizeof(MarlithCritSec)];
        auto* section = new (store) MarlithCritSec;
        section->~MarlithCritSec();
        CritSecExitor guard(*section);
      },
      "Fatal internal error: MarlithCritSec");
}

TEST(CritSecDeathTest, GuardDestroyedTwiceIsFatal) {
  MarlithCritSec section;
  EXPECT_DEATH(
      {
        alignas(CritSecExitor) unsigned char store[sizeof(CritSecExitor)];
        auto* guard = new (store) CritSecExitor(section);
        guard->~CritSecExitor();
        guard->~CritSecExitor();
      },
      "Fatal internal error: CritSecExitor");
}
#endif

}  // namespace
}  // namespace sfx

#include "os/os.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <cstring>
#include <string>

namespace sfx {
namespace {

uint32_t fixedTick() { return 4242; }

TEST(OsTest, TickSourceCanBeReplacedAndRestored) {
  setTickSourceForTesting(fixedTick);
  EXPECT_EQ(4242u, tickCount());
  setTickSourceForTesting(nullptr);
  uint32_t a = tickCount();
  sleepMs(30);
  uint32_t b = tickCount();
  EXPECT_GE(b - a, 10u);  // the Win32 tick moves in steps of 10-16 ms
  EXPECT_LT(b - a, 5000u);
}

TEST(OsTest, ErrorTextIsTrimmedAndNeverEmpty) {
  char text[1024];
  osErrorText(2, text, sizeof text);  // file not found / no such file
  ASSERT_GT(strlen(text), 1u);
  EXPECT_NE(' ', text[0]);
  char last = text[strlen(text) - 1];
  EXPECT_TRUE(last != '\n' && last != '\r' && last != ' ') << text;

  // A tiny buffer still gets a terminated text.
  char tiny[2];
  osErrorText(2, tiny, sizeof tiny);
  EXPECT_EQ('\0', tiny[1]);
}

TEST(OsTest, LocalAndUtcFileTimesRoundTrip) {
  const uint64_t kLocal = 130000000000000000ULL;  // a day in 2012
  uint64_t utc = 0, back = 0;
  ASSERT_TRUE(localFileTimeToUtc(kLocal, &utc));
  ASSERT_TRUE(utcFileTimeToLocal(utc, &back));
  EXPECT_EQ(kLocal, back);
  // No time zone is more than 14 hours from UTC.
  const int64_t kFourteenHours = 14LL * 3600 * 10000000;
  EXPECT_LE(static_cast<int64_t>(kLocal - utc), kFourteenHours);
  EXPECT_GE(static_cast<int64_t>(kLocal - utc), -kFourteenHours);
}

#ifndef _WIN32
// Times past the largest FILETIME, in a zone east and one west of UTC:
// clamped, never computed with an overflowing subtraction or addition.
TEST(OsTest, OutOfRangeFileTimesAreClamped) {
  const unsigned long long kLatest = 0x7FFFFFFFFFFFFFFFULL;
  for (const char* tz : {"<+01>-1", "<-01>1"}) {
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", tz, 1);
    tzset();
    for (uint64_t t : {0x8000000000000001ULL, ~0ULL, kLatest}) {
      uint64_t utc = 0, local = 0;
      ASSERT_TRUE(localFileTimeToUtc(t, &utc)) << tz << " " << t;
      ASSERT_TRUE(utcFileTimeToLocal(t, &local)) << tz << " " << t;
      EXPECT_LE(utc, kLatest);
      EXPECT_LE(local, kLatest);
      EXPECT_GE(utc, kLatest - 3600ULL * 10000000);
      EXPECT_GE(local, kLatest - 3600ULL * 10000000);
    }
    if (old) {
      setenv("TZ", saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
}
#endif

TEST(OsTest, LocalNowIsAfter2020) {
  EXPECT_GT(localNowFileTime(), 132223104000000000ULL);  // 2020-01-01
}

TEST(OsTest, RandomBytesDiffer) {
  unsigned char a[32] = {0}, b[32] = {0};
  ASSERT_TRUE(osRandomBytes(a, sizeof a));
  ASSERT_TRUE(osRandomBytes(b, sizeof b));
  EXPECT_NE(0, memcmp(a, b, sizeof a));
}

TEST(OsTest, ThreadIdIsStableWithinAThread) {
  EXPECT_NE(0u, currentThreadId());
  EXPECT_EQ(currentThreadId(), currentThreadId());
}

TEST(OsTest, ActiveCodePageIsKnown) { EXPECT_NE(0u, activeAnsiCodePage()); }

#if !defined(_WIN32)  // death tests run natively
TEST(OsDeathTest, FatalInternalErrorStopsTheProcess) {
  EXPECT_DEATH(fatalInternalError("bad tag"), "bad tag");
}
#endif

}  // namespace
}  // namespace sfx

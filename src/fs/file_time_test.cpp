// The file time value and the daylight-saving shift, in a zone one hour east
// of UTC with summer time (set for the test through TZ).
#include "fs/file_time.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <string>

#include "fs/tz_for_test.h"

namespace sfx {
namespace {

// 2026-01-15 12:00 UTC and 2026-07-15 12:00 UTC.
constexpr int64_t kJanuary = 1768478400;
constexpr int64_t kJuly = 1784116800;

TEST(FileTimeTest, ConvertsToAndFromFileTimeAtWholeSeconds) {
  // 2001-01-01 00:00 UTC is 978307200 s after 1970 and
  // 126227808000000000 ticks after 1601.
  EXPECT_EQ(978307200, FileTime::fromFileTime(126227808000000000ULL).seconds());
  EXPECT_EQ(126227808000000000ULL, FileTime(978307200).toFileTime());
  // The fraction of a second is dropped.
  EXPECT_EQ(978307200,
            FileTime::fromFileTime(126227808000000000ULL + 9999999).seconds());
  EXPECT_EQ(0, FileTime::fromFileTime(116444736000000000ULL).seconds());
  EXPECT_EQ(116444736000000000ULL, FileTime(0).toFileTime());
}

// A FILETIME past the largest one, or seconds outside 1601 to that one,
// are clamped and never overflow (the sanitizer build aborts on overflow).
TEST(FileTimeTest, OutOfRangeTimesAreClamped) {
  const int64_t latest = FileTime::fromFileTime(kMaxFileTime).seconds();
  EXPECT_EQ(910692730085LL, latest);  // 30828-09-14
  for (uint64_t t : {0x8000000000000000ULL, 0x8000000000000001ULL, ~0ULL})
    EXPECT_EQ(latest, FileTime::fromFileTime(t).seconds()) << t;
  EXPECT_EQ(-11644473600LL, FileTime::fromFileTime(0).seconds());
  const struct {
    int64_t seconds;
    uint64_t fileTime;
  } kCases[] = {
      {INT64_MIN, 0},
      {-11644473601LL, 0},
      {-11644473600LL, 0},
      {latest, kMaxFileTime - kMaxFileTime % 10000000},
      {latest + 1, kMaxFileTime},
      {INT64_MAX, kMaxFileTime},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.fileTime, FileTime(c.seconds).toFileTime()) << c.seconds;
}

TEST(FileTimeTest, OffsetsAndShiftInAZoneWithSummerTime) {
  ScopedTimeZone zone(kCentralEuropeTz);
  EXPECT_EQ(3600, localUtcOffsetAt(kJanuary));
  EXPECT_EQ(7200, localUtcOffsetAt(kJuly));

  struct ShiftCase {
    int64_t t;
    int64_t now;
    int64_t shift;
  };
  const ShiftCase kCases[] = {
      {kJanuary, kJuly, 3600},  // set in summer: lands an hour earlier
      {kJanuary, kJanuary + 86400, 0},
      {kJuly, kJanuary, -3600},
      {kJuly, kJuly - 86400, 0},
  };
  for (const ShiftCase& c : kCases) {
    EXPECT_EQ(c.shift, daylightShiftSeconds(FileTime(c.t), FileTime(c.now)))
        << c.t << " set at " << c.now;
  }

  // Against the real clock: no shift for a time in the current period.
  time_t now = time(nullptr);
  struct tm local;
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  int64_t sameSeason = local.tm_isdst > 0 ? kJuly : kJanuary;
  int64_t otherSeason = local.tm_isdst > 0 ? kJanuary : kJuly;
  EXPECT_EQ(sameSeason, applyDaylightShift(FileTime(sameSeason)).seconds());
  EXPECT_EQ(otherSeason + (local.tm_isdst > 0 ? -3600 : 3600),
            applyDaylightShift(FileTime(otherSeason)).seconds());
}

TEST(FileTimeTest, NoShiftInAZoneWithoutSummerTime) {
  ScopedTimeZone zone("UTC0");
  EXPECT_EQ(0, localUtcOffsetAt(kJanuary));
  EXPECT_EQ(0, localUtcOffsetAt(kJuly));
  EXPECT_EQ(kJanuary, applyDaylightShift(FileTime(kJanuary)).seconds());
  EXPECT_EQ(kJuly, applyDaylightShift(FileTime(kJuly)).seconds());
}

}  // namespace
}  // namespace sfx

// The file time value and the daylight-saving shift, through the C runtime's
// local-time conversion.
#include "fs/file_time.h"

#include <time.h>

namespace sfx {
namespace {

// Days from 1970-01-01 to the given civil date of the proleptic Gregorian
// calendar (month 1-12), without any time zone.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool toLocalFields(int64_t utcSeconds, struct tm* fields) {
  time_t t = static_cast<time_t>(utcSeconds);
  if (static_cast<int64_t>(t) != utcSeconds) return false;
#ifdef _WIN32
  return localtime_s(fields, &t) == 0;
#else
  return localtime_r(&t, fields) != nullptr;
#endif
}

}  // namespace

FileTime FileTime::fromFileTime(uint64_t fileTime) {
  if (fileTime > kMaxFileTime) fileTime = kMaxFileTime;
  int64_t ticks = static_cast<int64_t>(fileTime) - kUnixEpochAsFileTime;
  return FileTime(ticks / kFileTimeTicksPerSecond);
}

uint64_t FileTime::toFileTime() const {
  constexpr int64_t kFirst = -kUnixEpochAsFileTime / kFileTimeTicksPerSecond;
  constexpr int64_t kLast =
      (static_cast<int64_t>(kMaxFileTime) - kUnixEpochAsFileTime) /
      kFileTimeTicksPerSecond;
  if (seconds_ <= kFirst) return 0;
  if (seconds_ > kLast) return kMaxFileTime;
  return static_cast<uint64_t>(seconds_ * kFileTimeTicksPerSecond +
                               kUnixEpochAsFileTime);
}

int64_t localUtcOffsetAt(int64_t utcSeconds) {
  struct tm f;
  if (!toLocalFields(utcSeconds, &f)) return 0;
  // The local calendar fields read as if they were UTC, minus the instant.
  int64_t asUtc =
      daysFromCivil(f.tm_year + 1900LL, f.tm_mon + 1LL, f.tm_mday) * 86400 +
      f.tm_hour * 3600LL + f.tm_min * 60LL + f.tm_sec;
  return asUtc - utcSeconds;
}

int64_t daylightShiftSeconds(const FileTime& t, const FileTime& now) {
  return localUtcOffsetAt(now.seconds()) - localUtcOffsetAt(t.seconds());
}

FileTime applyDaylightShift(const FileTime& t) {
  FileTime now(static_cast<int64_t>(time(nullptr)));
  return FileTime(t.seconds() - daylightShiftSeconds(t, now));
}

}  // namespace sfx

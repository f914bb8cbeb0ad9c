// The file time value that times are set through (whole seconds since
// 1970-01-01 00:00 UTC), its conversions to and from a Windows FILETIME,
// and the daylight-saving shift applied before a time is set on a file.
#ifndef SFX_FS_FILE_TIME_H_
#define SFX_FS_FILE_TIME_H_

#include <cstdint>

namespace sfx {

// 100-ns intervals between 1601-01-01 and 1970-01-01 (369 years, 89 of them
// leap years: 134774 days x 86400 s x 10^7).
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeTicksPerSecond = 10000000LL;
// The latest FILETIME the conversions represent (Windows refuses larger
// ones); a later one is taken as this one.
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

// A point in time at whole-second precision.
class FileTime {
 public:
  FileTime() = default;
  explicit FileTime(int64_t secondsSince1970) : seconds_(secondsSince1970) {}

  // From a FILETIME (100-ns units since 1601-01-01 UTC): the difference to
  // the 1970 epoch divided by 10^7, the remainder dropped. A FILETIME past
  // kMaxFileTime is taken as kMaxFileTime.
  static FileTime fromFileTime(uint64_t fileTime);
  // Back to a FILETIME: (seconds + 11644473600) x 10^7, clamped to 0 (1601)
  // and kMaxFileTime.
  uint64_t toFileTime() const;

  int64_t seconds() const { return seconds_; }

 private:
  int64_t seconds_ = 0;
};

// The local zone's distance from UTC, in seconds (positive east of UTC), in
// force at `utcSeconds` by the C runtime's zone rules (the TZ setting).
// 0 when the runtime cannot convert the time.
int64_t localUtcOffsetAt(int64_t utcSeconds);

// The daylight-saving shift for setting `t` while the clock shows `now`:
// offset(now) - offset(t). 0 when both lie in the same daylight-saving
// period, typically one hour (either sign) otherwise.
int64_t daylightShiftSeconds(const FileTime& t, const FileTime& now);

// `t` shifted as it must be before it is set on a file through a handle:
// t - daylightShiftSeconds(t, the current time).
FileTime applyDaylightShift(const FileTime& t);

}  // namespace sfx

#endif  // SFX_FS_FILE_TIME_H_

// Sets the C runtime's time zone (TZ) for the life of a scope, for tests of
// the daylight-saving shift.
#ifndef SFX_FS_TZ_FOR_TEST_H_
#define SFX_FS_TZ_FOR_TEST_H_

#include <stdlib.h>
#include <time.h>

#include <string>

namespace sfx {

// One hour east of UTC, summer time from the last Sunday of March to the
// last Sunday of October. The Windows runtime takes only the names and the
// offset and applies its own summer-time dates, which agree in January and
// July.
#ifdef _WIN32
constexpr const char* kCentralEuropeTz = "CET-1CEST";
#else
constexpr const char* kCentralEuropeTz = "CET-1CEST,M3.5.0,M10.5.0/3";
#endif

#ifdef _WIN32
// For the same reason, a test program sets TZ before its first time
// conversion when the environment leaves it unset.
inline const bool kTimeZoneSetAtStart = [] {
  if (!getenv("TZ")) {
    _putenv_s("TZ", "UTC0");
    _tzset();
  }
  return true;
}();
#endif

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    const char* old = getenv("TZ");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    set(tz);
  }
  // The Windows runtime keeps no summer time for any later TZ once it has
  // converted a time with TZ unset or empty, so there an unset TZ comes back
  // as "UTC0" (what a system in UTC has anyway).
#ifdef _WIN32
  ~ScopedTimeZone() { set(hadOld_ ? old_.c_str() : "UTC0"); }
#else
  ~ScopedTimeZone() { set(hadOld_ ? old_.c_str() : nullptr); }
#endif
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  static void set(const char* tz) {
#ifdef _WIN32
    _putenv_s("TZ", tz ? tz : "");
    _tzset();
#else
    if (tz)
      setenv("TZ", tz, 1);
    else
      unsetenv("TZ");
    tzset();
#endif
  }

  bool hadOld_ = false;
  std::string old_;
};

}  // namespace sfx

#endif  // SFX_FS_TZ_FOR_TEST_H_

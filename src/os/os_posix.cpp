// POSIX twin of the OS queries, so that the core builds and runs natively.
#include <errno.h>
#include <string.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "os/os.h"
#include "os/os_internal.h"

namespace sfx {
namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

// Offset of local time from UTC, in seconds, as it stands now. Like the
// Win32 conversions, the current offset applies to every time converted.
long currentUtcOffsetSeconds() {
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) return 0;
  return local.tm_gmtoff;
}

}  // namespace

uint32_t tickCount() {
  if (os_internal::g_tickSource) return os_internal::g_tickSource();
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

uint32_t activeAnsiCodePage() { return 1252; }

uint32_t lastOsError() { return static_cast<uint32_t>(errno); }

void setLastOsError(uint32_t code) { errno = static_cast<int>(code); }

void osErrorText(uint32_t code, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  out[0] = 'x';
  if (outSize > 1) out[1] = '\0';
  if (outSize < 2) {
    out[0] = '\0';
    return;
  }
  char buf[1024];
  // The GNU strerror_r returns a pointer that may or may not be buf.
  const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
  if (text && *text) snprintf(out, outSize, "%s", text);
  os_internal::trimText(out);
}

bool environmentValue(const char* name, std::string* value) {
  value->clear();
  const char* v = name ? getenv(name) : nullptr;
  if (!v) return false;
  value->assign(v);
  return true;
}

// A FILETIME past the largest one Windows converts is taken as that one.
constexpr uint64_t kLatestFileTime = 0x7FFFFFFFFFFFFFFFULL;

bool localFileTimeToUtc(uint64_t local, uint64_t* utc) {
  if (!utc) return false;
  if (local > kLatestFileTime) local = kLatestFileTime;
  int64_t shifted = 0;
  if (__builtin_sub_overflow(
          static_cast<int64_t>(local),
          static_cast<int64_t>(currentUtcOffsetSeconds()) * kTicksPerSecond,
          &shifted))
    shifted = static_cast<int64_t>(kLatestFileTime);
  if (shifted < 0) return false;
  *utc = static_cast<uint64_t>(shifted);
  return true;
}

bool utcFileTimeToLocal(uint64_t utc, uint64_t* local) {
  if (!local) return false;
  if (utc > kLatestFileTime) utc = kLatestFileTime;
  int64_t shifted = 0;
  if (__builtin_add_overflow(
          static_cast<int64_t>(utc),
          static_cast<int64_t>(currentUtcOffsetSeconds()) * kTicksPerSecond,
          &shifted))
    shifted = static_cast<int64_t>(kLatestFileTime);
  if (shifted < 0) return false;
  *local = static_cast<uint64_t>(shifted);
  return true;
}

uint64_t localNowFileTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  int64_t utc = kUnixEpochAsFileTime +
                static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond +
                ts.tv_nsec / 100;
  uint64_t local = 0;
  utcFileTimeToLocal(static_cast<uint64_t>(utc), &local);
  return local;
}

bool osRandomBytes(unsigned char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = getrandom(buf + got, n - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<size_t>(r);
  }
  return true;
}

uint32_t currentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

void sleepMs(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void fatalInternalError(const char* what) {
  fprintf(stderr, "Fatal internal error: %s\n", what ? what : "");
  fflush(stderr);
  abort();
}

}  // namespace sfx

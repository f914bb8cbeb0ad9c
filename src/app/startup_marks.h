// Phase marks for measuring the stub's start-up. A build configured with
// SFX_STARTUP_MARKS (a CMake option, never set for a shipped stub) writes
// one line per mark to stderr: the milliseconds since the process was
// created and the phase name. In every other build STARTUP_MARK expands to
// nothing and this header adds no code.
#ifndef SFX_APP_STARTUP_MARKS_H_
#define SFX_APP_STARTUP_MARKS_H_

#ifdef SFX_STARTUP_MARKS

#include <windows.h>

#include <cstdio>

namespace sfx {

// Writes "startup-mark MS PHASE" to stderr. The first call anchors the
// performance counter to the process's creation time (system clock); later
// marks are that anchor plus the counter's progress.
inline void startupMark(const char* phase) {
  static LARGE_INTEGER frequency = {};
  static LARGE_INTEGER anchorCount = {};
  static double anchorMs = 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (frequency.QuadPart == 0) {
    QueryPerformanceFrequency(&frequency);
    FILETIME creation, exitTime, kernelTime, userTime, system;
    GetProcessTimes(GetCurrentProcess(), &creation, &exitTime, &kernelTime,
                    &userTime);
    GetSystemTimeAsFileTime(&system);
    ULARGE_INTEGER c, s;
    c.LowPart = creation.dwLowDateTime;
    c.HighPart = creation.dwHighDateTime;
    s.LowPart = system.dwLowDateTime;
    s.HighPart = system.dwHighDateTime;
    anchorMs = static_cast<double>(s.QuadPart - c.QuadPart) / 1e4;  // 100 ns
    anchorCount = now;
  }
  double ms = anchorMs + 1e3 * static_cast<double>(now.QuadPart -
                                                   anchorCount.QuadPart) /
                             static_cast<double>(frequency.QuadPart);
  fprintf(stderr, "startup-mark %.2f %s\n", ms, phase);
  fflush(stderr);
}

}  // namespace sfx

#define STARTUP_MARK(phase) ::sfx::startupMark(phase)
#else
#define STARTUP_MARK(phase) static_cast<void>(0)
#endif

#endif  // SFX_APP_STARTUP_MARKS_H_

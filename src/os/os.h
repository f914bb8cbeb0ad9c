// The few operating-system queries the portable core needs: a millisecond
// tick counter, the active ANSI code page, OS error texts, local-time/UTC
// file-time conversion, random seed bytes and the fatal-error exit.
// os_win32.cpp and os_posix.cpp implement it; nothing else here is platform
// code.
#ifndef SFX_OS_OS_H_
#define SFX_OS_OS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx {

// Milliseconds since system start-up; wraps like GetTickCount. Tests may
// replace the source with setTickSourceForTesting (nullptr restores it).
uint32_t tickCount();
void setTickSourceForTesting(uint32_t (*source)());

// The system's active ANSI code page (GetACP on Windows; 1252 on POSIX).
uint32_t activeAnsiCodePage();

// The calling thread's last OS error code (GetLastError, or errno on POSIX).
uint32_t lastOsError();
void setLastOsError(uint32_t code);

// Writes the system message text for `code` into out[0..outSize) as UTF-8,
// zero terminated (on Windows it is taken in UTF-16 and converted; a text
// that does not fit is cut at a character boundary). The buffer is preset to "x" so that a code without a text gives
// "x"; the text is trimmed of leading and trailing space, tab, CR and LF.
void osErrorText(uint32_t code, char* out, size_t outSize);

// The value of the environment variable `name` (UTF-8) in *value as UTF-8.
// Returns false, with *value empty, when the variable is not set. Windows
// keeps the environment in UTF-16, and it is read and converted in that form,
// so a value outside the ANSI code page arrives whole.
bool environmentValue(const char* name, std::string* value);

// Converts a FILETIME value (100-ns intervals since 1601-01-01) between the
// machine's local time zone and UTC. Return false when the OS refuses.
bool localFileTimeToUtc(uint64_t local, uint64_t* utc);
bool utcFileTimeToLocal(uint64_t utc, uint64_t* local);

// The current local time as a FILETIME value.
uint64_t localNowFileTime();

// Fills buf with n bytes from the OS random source (CryptGenRandom of the
// base provider on Windows, getrandom on POSIX). Returns false on failure.
bool osRandomBytes(unsigned char* buf, size_t n);

// An id of the calling thread (GetCurrentThreadId, or the Linux thread id).
uint32_t currentThreadId();

// Sleeps the calling thread for `ms` milliseconds.
void sleepMs(uint32_t ms);

// Stops the process at once after writing `what` to stderr. Used for a
// validity-tag mismatch: use after destruction or memory corruption.
[[noreturn]] void fatalInternalError(const char* what);

}  // namespace sfx

#endif  // SFX_OS_OS_H_

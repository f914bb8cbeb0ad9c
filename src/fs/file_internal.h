// What the shared file operations (file_common.cpp) need from the platform
// files beyond the public interface of fs/file.h.
#ifndef SFX_FS_FILE_INTERNAL_H_
#define SFX_FS_FILE_INTERNAL_H_

#include <cstdint>

namespace sfx {

class LogBase;

// Logs a Windows error code as the platform files do: "WindowsError" with
// the system text of the condition and "WindowsErrorCode" ("0x%x"). The
// POSIX twin gives the text of the errno value for the same condition.
// Nothing is logged without a log.
void logWindowsErrorCode(LogBase* log, uint32_t code);

}  // namespace sfx

#endif  // SFX_FS_FILE_INTERNAL_H_

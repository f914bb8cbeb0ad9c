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

// Forgets the folders a living KnownFolders remembers (removeDirectory
// calls it on both platforms).
void forgetKnownFolders();

// The two steps of replacing a file with CREATE_ALWAYS, behind an interface
// so that the retry below can be driven without Windows.
class ReplaceOpener {
 public:
  virtual ~ReplaceOpener() = default;
  // One create-always attempt asking for `attributes`. On failure returns
  // false with the Windows error in *osError.
  virtual bool tryCreate(uint32_t attributes, uint32_t* osError) = 0;
  // The attributes of the file already there; false when there is none or
  // they cannot be read.
  virtual bool existingAttributes(uint32_t* attributes) = 0;
};

// Windows refuses (access denied) to replace an existing hidden or system
// file with CREATE_ALWAYS unless the same attributes are asked for. Tries
// `attributes`; on that refusal, when the existing file (not a directory)
// is hidden or system, tries once more with its hidden and system bits
// added. Returns whether an attempt succeeded; on failure *osError is the
// last attempt's error. The caller sets the attributes it wants afterwards.
bool createReplacingHiddenSystem(ReplaceOpener& opener, uint32_t attributes,
                                 uint32_t* osError);

}  // namespace sfx

#endif  // SFX_FS_FILE_INTERNAL_H_

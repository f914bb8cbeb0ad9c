// The times of the directories an extraction made, set again at its end.
#ifndef SFX_FS_DIRECTORY_TIMES_H_
#define SFX_FS_DIRECTORY_TIMES_H_

#include <cstdint>

#include "text/data_buffer.h"

namespace sfx {

// The directories an extraction made, with the times their entries set, so
// that those times can be set again once every file is in place: each file
// or directory created inside a directory changes the directory's time.
class DirectoryTimes {
 public:
  // Reads back the time of the directory at `path` (UTF-8), which its entry
  // has just set. A directory whose time cannot be read, or that finds no
  // room in the list, keeps whatever time the extraction leaves it.
  void remember(const char* path);

  // Sets every remembered time again, the deepest directories first (setting
  // a directory's time leaves its parent's alone), and forgets them.
  void restore();

 private:
  // Stored in front of each path, which follows with its terminating zero.
  struct Record {
    uint64_t time = 0;    // FILETIME, UTC
    uint32_t depth = 0;   // separators in the path
    uint32_t length = 0;  // bytes of the path
  };
  Record record(uint32_t at) const;
  uint32_t next(uint32_t at) const;
  // Sets the time of the record at byte `at`.
  void setAt(uint32_t at) const;

  DataBuffer records_;
};

}  // namespace sfx

#endif  // SFX_FS_DIRECTORY_TIMES_H_

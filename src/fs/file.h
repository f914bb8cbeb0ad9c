// File and directory operations on Win32 (file_win32.cpp) and their POSIX
// twin (file_posix.cpp), so that the core reads and writes files natively.
// Paths are XString values; failures are logged into the LogBase given.
#ifndef SFX_FS_FILE_H_
#define SFX_FS_FILE_H_

#include <cstdint>
#include <cstdio>

namespace sfx {

class LogBase;
class XString;

// Owner of one open file: an OS handle or a stdio stream. Moving a handle
// into another closes the target first and leaves the source empty; handles
// are not copied. Every operation takes an optional log.
class MarlithHandle {
 public:
  MarlithHandle() = default;
  virtual ~MarlithHandle();
  MarlithHandle(MarlithHandle&& other) noexcept;
  MarlithHandle& operator=(MarlithHandle&& other) noexcept;
  MarlithHandle(const MarlithHandle&) = delete;
  MarlithHandle& operator=(const MarlithHandle&) = delete;

  bool isOpen() const { return handle_ != kNoHandle || stream_ != nullptr; }
  void close();

  // Returns the current position, or -1 on failure.
  int64_t getPosition(LogBase* log);
  bool seekAbsolute(int64_t position, LogBase* log);
  bool seekRelative(int64_t offset, LogBase* log);
  bool seekToEnd(LogBase* log);

  // One read request. Stores the count read in *numRead and sets *eof when
  // the file ended (a read of 0 bytes succeeds with *eof set). Fails on a
  // missing buffer, a zero count or no open file.
  bool readSome(void* buf, uint32_t count, uint32_t* numRead, bool* eof,
                LogBase* log);

  // Reads in pieces of at most 65536 bytes until `count` bytes are read, the
  // file ends or a read fails. A zero count succeeds at once.
  bool readFull(void* buf, uint32_t count, uint32_t* numRead, bool* eof,
                LogBase* log);

  // The size of the open file, or -1 on failure.
  int64_t getFileSize64(LogBase* log);

  // Takes ownership of an OS handle (Win32 HANDLE or POSIX descriptor).
  void adoptOsHandle(intptr_t handle);

  static constexpr intptr_t kNoHandle = -1;

 private:
  intptr_t handle_ = kNoHandle;
  FILE* stream_ = nullptr;
};

// Opens an existing file for reading, shared for reading and writing.
// Returns a new handle owned by the caller, or nullptr with *errorKind set
// (1 access denied, 2 path not found, 3 other) and the reason logged.
MarlithHandle* openForReadWin32(const XString& path, int* errorKind,
                                LogBase* log);

// Companion that opens into a caller's handle. Returns false on failure.
bool openForReadWin32(const XString& path, MarlithHandle& out, int* errorKind,
                      LogBase* log);

// The full path of the program's own module file (empty on failure).
void getModulePath(XString& out);

// The process's current directory.
void getCurrentDir(XString& out);

}  // namespace sfx

#endif  // SFX_FS_FILE_H_

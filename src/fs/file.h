// File and directory operations on Win32 (file_win32.cpp) and their POSIX
// twin (file_posix.cpp), with the parts common to both in file_common.cpp.
// Paths are XString values; every operation converts "/" to "\" in its own
// copy and applies the path rules of fs/path_rules.h; the POSIX twin then
// turns "\" into "/". Failures are logged into the log given, when one is.
#ifndef SFX_FS_FILE_H_
#define SFX_FS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sfx {

class ExtPtrArray;
class FileTime;
class LogBase;
class StringBuffer;
class XString;

// Windows file attributes. The POSIX twin reports kFileAttributeDirectory
// for a directory, kFileAttributeArchive for any other file,
// kFileAttributeReadOnly when the owner may not write and
// kFileAttributeHidden for a name that begins with "."; of the attributes it
// is given to set, it expresses only read-only (no write permission at all)
// and ignores the others.
constexpr uint32_t kFileAttributeReadOnly = 0x1;
constexpr uint32_t kFileAttributeHidden = 0x2;
constexpr uint32_t kFileAttributeSystem = 0x4;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// Windows error codes the operations test for. The POSIX twin reports the
// same codes for the same conditions (see getAttributes).
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleEof = 38;

// Error kinds of the openers.
constexpr int kOpenErrorNone = 0;
constexpr int kOpenErrorAccessDenied = 1;
constexpr int kOpenErrorPathNotFound = 2;
constexpr int kOpenErrorOther = 3;

// A failed open is retried this many times, kSharingRetryWaitMs apart, while
// the file is held open by someone else without sharing (at most four
// attempts in all).
constexpr int kSharingRetries = 3;
constexpr uint32_t kSharingRetryWaitMs = 50;

// Owner of one open file: an OS handle (Win32 HANDLE or POSIX descriptor) or
// a stdio stream. Every operation works on the OS handle when there is one
// and on the stream otherwise. Moving a handle into another closes the
// target first and leaves the source empty; handles are not copied. Every
// operation takes an optional log.
class MarlithHandle {
 public:
  MarlithHandle() = default;
  virtual ~MarlithHandle();
  MarlithHandle(MarlithHandle&& other) noexcept;
  MarlithHandle& operator=(MarlithHandle&& other) noexcept;
  MarlithHandle(const MarlithHandle&) = delete;
  MarlithHandle& operator=(const MarlithHandle&) = delete;

  bool isOpen() const { return handle_ != kNoHandle || stream_ != nullptr; }
  // Closes the OS handle and the stream, whichever are there.
  void close();

  // Returns the current position, or -1 on failure ("Failed to get file
  // position (2)" with the OS error).
  int64_t getPosition(LogBase* log);
  bool seekAbsolute(int64_t position, LogBase* log);
  bool seekRelative(int64_t offset, LogBase* log);
  bool seekToEnd(LogBase* log);

  // One read request. Stores the count read in *numRead and sets *eof when
  // the file ended (a read of 0 bytes succeeds with *eof set). Fails on a
  // missing buffer or a zero count ("NULL buf or bufSize"), on no open file
  // ("No file is open.") or on a read error (the OS error is logged).
  bool readSome(void* buf, uint32_t count, uint32_t* numRead, bool* eof,
                LogBase* log);

  // Reads in pieces of at most `maxPiece` bytes (65536 unless asked
  // otherwise) until `count` bytes are read, the file ends or a read fails.
  // A zero count succeeds at once; a missing buffer logs "NULL buf pointer."
  // and fails.
  bool readFull(void* buf, uint32_t count, uint32_t* numRead, bool* eof,
                LogBase* log, uint32_t maxPiece = 65536);

  // Writes `count` bytes in pieces of at most 10,000,000 bytes; each piece
  // must be written whole. Adds the bytes written to *numWritten when it is
  // given. A zero count succeeds at once. Fails with "Failed to write
  // because file is not open.", with the OS error inside the log context
  // "WriteFileError", or with "fwrite failed." for a stream.
  bool write(const void* data, uint64_t count, uint64_t* numWritten,
             LogBase* log);

  // The size of the open file, or -1 on failure (the OS error text as an
  // error line, then "Failed to get file size (64)"). A size whose low 32
  // bits are all ones is a size like any other.
  int64_t getFileSize64(LogBase* log);

  // Sets the creation, last-access and last-write times all to `t` after
  // the daylight-saving shift (fs/file_time.h). Fails with "Cannot set file
  // time because file is not open." or the OS error. The POSIX twin sets
  // the access and modification times.
  bool setFileTime(const FileTime& t, LogBase* log);

  // Sets the three times to the FILETIME `fileTime` (UTC) as given, at full
  // precision and without any shift: the directory times of extraction.
  bool setFileTimeExact(uint64_t fileTime, LogBase* log);

  // The last-write time as a FILETIME (UTC). Fails without an open file or
  // on an OS error.
  bool getLastWriteTime(uint64_t* fileTime, LogBase* log);

  // Takes ownership of an OS handle (Win32 HANDLE or POSIX descriptor) / of
  // a stdio stream, closing what the handle held before.
  void adoptOsHandle(intptr_t handle);
  void adoptStream(FILE* stream);
  // The OS handle, kNoHandle when there is none; the handle keeps it.
  intptr_t osHandle() const { return handle_; }

  // INVALID_HANDLE_VALUE on Win32, -1 as a POSIX descriptor.
  static constexpr intptr_t kNoHandle = -1;

 private:
  // readSome on the OS handle, which is open; buf and count are checked.
  bool readOs(void* buf, uint32_t count, uint32_t* numRead, bool* eof,
              LogBase* log);

  intptr_t handle_ = kNoHandle;
  FILE* stream_ = nullptr;
};

// Opens `path` with the given access. "/" becomes "\" and the name is
// repaired with sanitizeFileName (device names only when writing); the
// POSIX twin repairs nothing and takes a "\" as part of a name when a file
// of that very name exists (a user's path on that system). Reading
// alone opens an existing file shared for reading and writing unless
// `exclusive`; reading and writing opens or creates it (shared the same
// way); writing alone creates or truncates it, unshared. `hidden` creates it
// hidden. A sharing violation is retried (kSharingRetries). A read-only file
// loses its read-only attribute before it is opened for writing, and any
// read-only file that cannot be opened loses it and is opened once more. With
// `seekToEnd` the file pointer is put at the end. Returns a new handle owned by
// the caller, or nullptr with *errorKind set (1 access denied, 2 path not
// found, 3 other), the failure logged ("Failed to open file (2)" or "(3)",
// "openFileWin32: file path is empty.") and the named value
// "localWindowsFilePath".
MarlithHandle* openFileWin32(const XString& path, bool forRead, bool forWrite,
                             bool exclusive, bool hidden, bool seekToEnd,
                             int* errorKind, LogBase* log);
// Companion that opens into a caller's handle (closing what it held).
bool openFileWin32(const XString& path, bool forRead, bool forWrite,
                   bool exclusive, bool hidden, bool seekToEnd,
                   MarlithHandle& out, int* errorKind, LogBase* log);

// The four openers and their companions, as openFileWin32 with:
// read, shared, existing file only;
MarlithHandle* openForReadWin32(const XString& path, int* errorKind,
                                LogBase* log);
bool openForReadWin32(const XString& path, MarlithHandle& out, int* errorKind,
                      LogBase* log);
// write, created or truncated, unshared (log context "openForWriteWin32");
MarlithHandle* openForWriteWin32(const XString& path, int* errorKind,
                                 LogBase* log);
bool openForWriteWin32(const XString& path, MarlithHandle& out, int* errorKind,
                       LogBase* log);
// the same, hidden (log context "openForWriteHiddenWin32");
MarlithHandle* openForWriteHiddenWin32(const XString& path, int* errorKind,
                                       LogBase* log);
bool openForWriteHiddenWin32(const XString& path, MarlithHandle& out,
                             int* errorKind, LogBase* log);
// read and write, opened or created, shared unless `exclusive` (log
// context "openForReadWriteWin32").
MarlithHandle* openForReadWriteWin32(const XString& path, bool exclusive,
                                     int* errorKind, LogBase* log);
bool openForReadWriteWin32(const XString& path, bool exclusive,
                           MarlithHandle& out, int* errorKind, LogBase* log);

// Creates the file at `path` for writing (unshared; hidden when `hidden`)
// only when nothing of that name is there: one system call, where
// openForWriteWin32 reads the attributes first. Returns false, logging
// nothing, when the file could not be created for any reason (one exists,
// the folder is missing, ...): the caller then takes the usual way
// (fileExists, openForWriteWin32), which reports the reason. The path is
// repaired as openForWriteWin32 repairs it; the POSIX twin creates no file
// where a name with a "\" exists as given and follows no link (as the
// usual open).
bool openNewForWriteWin32(const XString& path, bool hidden, MarlithHandle& out);

// Opens an existing directory so that its times can be set. Returns a new
// handle owned by the caller, or nullptr with the OS error logged.
MarlithHandle* openDirForTimesWin32(const XString& path, LogBase* log);

// Sets the three times of the directory at `path` to the FILETIME
// `fileTime` (UTC) without any shift.
bool setDirectoryTime(const XString& path, uint64_t fileTime, LogBase* log);

// Reads the attributes of `path` into *attributes. An empty path logs
// "GetAttributes: filename is empty" and fails. On failure *osError holds
// the Windows error code (the POSIX twin maps its error to the code Windows
// gives for the same condition: 2 file not found, 3 path not found, 5
// access denied) and nothing else is logged.
bool getAttributes(const XString& path, uint32_t* attributes, uint32_t* osError,
                   LogBase* log);

// True when `path` names an existing file or directory. An empty path is
// false; so is a path whose attributes cannot be read because it, or its
// directory, or its drive is missing (that error is logged when a log is
// given). Any other error counts as existing.
bool fileExists(const XString& path, LogBase* log);

// Sets the attributes of `path` (repaired with sanitizeFileName first).
bool setFileAttributes(const XString& path, uint32_t attributes, LogBase* log);

// Creates one directory; with a log, a failure is logged inside the context
// "createDirWin32".
bool createDirWin32(const XString& path, LogBase* log);

// Creates the directory unless it exists. *created tells whether it did. An
// empty path and "." succeed without creating anything.
bool createDirIfMissing(const XString& path, bool* created, LogBase* log);

// Creates the directory and every missing directory above it, from the root
// towards the leaf, in the log context "ensureDir". With an undo list, each
// directory created is appended as a heap StringBuffer holding its path
// ("\" separators) followed by "D". Fails with "Cannot ensure directory
// existence (1)", "(2)" or "(3)" and the named value "path".
bool ensureDir(const XString& dirPath, ExtPtrArray* undo, LogBase& log);

// While one lives, ensureDir (and so ensureFile) remembers every folder it
// found or made and asks the system about it no more: the files extracted
// into one folder then cost no directory check each. It holds one entry a
// folder (the path as ensureDir was given it), never one a file. Every
// removeDirectory forgets them all, so a folder removed is made again. One
// at a time, on the thread that extracts: while one lives, another made
// does nothing.
class KnownFolders {
 public:
  KnownFolders();
  ~KnownFolders();
  KnownFolders(const KnownFolders&) = delete;
  KnownFolders& operator=(const KnownFolders&) = delete;

  // The number of folders remembered (0 for one that is not in use).
  size_t size() const;

 private:
  bool active_;
};

// Ensures the directory that `filePath` lies in (log context "ensureFile").
// *dirPart receives the path cut at its last "\"; a path with no directory
// part succeeds without doing anything. An empty path logs "No filePath".
bool ensureFile(const XString& filePath, XString* dirPart, ExtPtrArray* undo,
                LogBase& log);

// Removes an empty directory; the OS error is logged on failure.
bool removeDirectory(const XString& path, LogBase* log);

// Deletes a file. A file that is already gone counts as deleted. Any other
// failure logs the OS error and "failedToDeleteFilepath". A read-only
// attribute is not touched (the delete of such a file fails on Windows).
bool deleteFile(const XString& path, LogBase* log);

// The process's current directory / the temporary directory (with a
// trailing separator; empty when it cannot be read) / the full path of the
// program's own file (empty on failure).
void getCurrentDir(XString& out);
void getTempDir(XString& out);
void getModulePath(XString& out);

// Makes `path` the process's current directory.
bool setCurrentDir(const XString& path);

// A name in `dir` that does not exist yet: stem + "_" + four characters of
// A-Z and 0-9 + extension, where `baseName` (default "x", extension ".tmp"
// when it has none) gives the stem and extension. Tries at most 201 names;
// then `out` is emptied and the call fails.
bool makeTempName(const XString& baseName, const XString& dir, XString& out,
                  LogBase& log);

// makeTempName in the directory of getTempDir.
bool makeTempFilePath(const XString& baseName, XString& out, LogBase& log);

// Creates or truncates the file at `path` and writes `size` bytes of `data`
// into it. Fails for an empty path, with "Failed to write complete file
// (7)" when it cannot be opened and "(1)" when the write fails, each after
// the named value "filename". The second form takes the path as UTF-8.
bool writeWholeFile(const XString& path, const void* data, uint32_t size,
                    LogBase& log);
bool writeWholeFile(const StringBuffer& pathUtf8, const void* data,
                    uint32_t size, LogBase& log);

}  // namespace sfx

#endif  // SFX_FS_FILE_H_

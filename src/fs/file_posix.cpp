// POSIX twin of the file operations, for native builds and tests: "\"
// becomes "/", times go through futimens, read-only is the absence of write
// permission, hidden is a name that begins with ".". Errors are reported with
// the codes and messages the Win32 side gives for the same condition.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "fs/confined_paths.h"
#include "fs/file.h"
#include "fs/file_internal.h"
#include "fs/file_time.h"
#include "fs/path_rules.h"
#include "log/log_base.h"
#include "os/os.h"
#include "text/xstring.h"

namespace sfx {
namespace {

constexpr uint64_t kMaxWritePiece = 10000000;

int fdOf(intptr_t h) { return static_cast<int>(h); }

// The path for the system: "\" becomes "/".
std::string nativePath(const XString& path) {
  std::string p = path.getUtf8();
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

// A copy of the path with every "/" turned into "\".
XString backslashed(const XString& path) {
  XString copy;
  std::string s = path.getUtf8();
  std::replace(s.begin(), s.end(), '/', '\\');
  copy.setFromUtf8(s.c_str());
  return copy;
}

bool isDirectory(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Windows error for `err` raised on `path`. A missing name is "file not
// found" when its directory exists and "path not found" otherwise.
uint32_t windowsErrorOf(int err, const std::string& path) {
  switch (err) {
    case ENOENT: {
      size_t cut = path.find_last_of('/');
      std::string dir = cut == std::string::npos ? "."
                        : cut == 0               ? "/"
                                                 : path.substr(0, cut);
      return isDirectory(dir) ? kErrorFileNotFound : kErrorPathNotFound;
    }
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EEXIST:
      return 183;  // ERROR_ALREADY_EXISTS
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOTEMPTY:
      return 145;  // ERROR_DIR_NOT_EMPTY
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

// The OS error as the Win32 side logs it: the system text of the error and
// the Windows code of the same condition.
void logOsError(LogBase* log, int err, const std::string& path) {
  if (!log) return;
  log->logWindowsError(static_cast<uint32_t>(err));
  log->logDataHex("WindowsErrorCode", windowsErrorOf(err, path));
}

std::string osErrorString(int err) {
  char text[1024];
  osErrorText(static_cast<uint32_t>(err), text, sizeof text);
  return text;
}

int streamOrHandleFd(intptr_t handle, FILE* stream) {
  if (handle != MarlithHandle::kNoHandle) return fdOf(handle);
  return stream ? fileno(stream) : -1;
}

bool setTimes(int fd, const struct timespec times[2], LogBase* log) {
  if (futimens(fd, times) == 0) return true;
  logOsError(log, errno, std::string());
  return false;
}

// ---- Confined paths ----

std::atomic<bool> gConfined{false};
std::mutex gRefusedMutex;
std::string gRefusedLink;

void refuseLink(const std::string& path) {
  std::lock_guard<std::mutex> lock(gRefusedMutex);
  gRefusedLink = path;
}

// The directory that holds the last component of a path, opened for an
// operation on that component, and the component. Without confinement, or
// for an absolute path, the directory is the current one (AT_FDCWD) and the
// component is the whole path, so the operation is the plain one.
class ParentDir {
 public:
  explicit ParentDir(const std::string& path) : leaf_(path) {
    if (!gConfined.load() || path.empty() || path[0] == '/') return;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
      size_t end = path.find('/', at);
      if (end == std::string::npos) end = path.size();
      std::string part = path.substr(at, end - at);
      if (!part.empty() && part != ".") parts.push_back(part);
      at = end + 1;
    }
    leaf_ = parts.empty() ? "." : parts.back();
    std::string walked;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (parts[i] == "..") {
        fail(EPERM);
        return;
      }
      if (i + 1 == parts.size()) break;
      walked += (walked.empty() ? "" : "/") + parts[i];
      int next = openat(fd_, parts[i].c_str(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0) {
        int err = errno;
        struct stat st;
        if ((err == ELOOP || err == ENOTDIR) &&
            fstatat(fd_, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
          refuseLink(walked);
          err = ELOOP;
        }
        fail(err);
        return;
      }
      if (fd_ != AT_FDCWD) ::close(fd_);
      fd_ = next;
    }
    confined_ = true;
    prefix_ = walked;
  }
  ~ParentDir() {
    if (fd_ >= 0) ::close(fd_);
  }
  ParentDir(const ParentDir&) = delete;
  ParentDir& operator=(const ParentDir&) = delete;

  // False with errno set when the walk failed.
  bool ok() const {
    if (!failed_) return true;
    errno = err_;
    return false;
  }
  int fd() const { return fd_; }
  const char* leaf() const { return leaf_.c_str(); }
  // Flags that keep the operation on the component itself.
  int noFollow() const { return confined_ ? O_NOFOLLOW : 0; }
  int statFlags() const { return confined_ ? AT_SYMLINK_NOFOLLOW : 0; }
  // After an operation failed with `err`: a link in the component's place
  // is remembered and reported as ELOOP.
  int linkCheck(int err) const {
    struct stat st;
    if (confined_ && (err == ELOOP || err == ENOTDIR || err == EEXIST) &&
        fstatat(fd_, leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      refuseLink(prefix_.empty() ? leaf_ : prefix_ + "/" + leaf_);
      return ELOOP;
    }
    return err;
  }
 private:
  void fail(int err) {
    failed_ = true;
    err_ = err;
  }

  int fd_ = AT_FDCWD;
  std::string leaf_;
  std::string prefix_;
  bool confined_ = false;
  bool failed_ = false;
  int err_ = 0;
};

}  // namespace

void setConfinedPaths(bool on) { gConfined.store(on); }
bool confinedPaths() { return gConfined.load(); }

std::string takeRefusedLink() {
  std::lock_guard<std::mutex> lock(gRefusedMutex);
  std::string out;
  out.swap(gRefusedLink);
  return out;
}

void logWindowsErrorCode(LogBase* log, uint32_t code) {
  if (!log) return;
  int err;
  switch (code) {
    case kErrorFileNotFound:
    case kErrorPathNotFound:
      err = ENOENT;
      break;
    case kErrorAccessDenied:
      err = EACCES;
      break;
    case kErrorNotReady:
      err = ENODEV;
      break;
    case kErrorSharingViolation:
      err = EBUSY;
      break;
    default:
      err = EIO;
      break;
  }
  log->logWindowsError(static_cast<uint32_t>(err));
  log->logDataHex("WindowsErrorCode", code);
}

// ---- System queries of the path rules ----

WindowsVersion WindowsVersion::query() { return WindowsVersion(); }

void getFullPath(const XString& path, XString& out) {
  std::string s = path.getUtf8();
  bool windowsAbsolute = (s.size() >= 2 && s[1] == ':') ||
                         (s.size() >= 2 && (s[0] == '\\' || s[0] == '/') &&
                          (s[1] == '\\' || s[1] == '/'));
  if (windowsAbsolute) {
    std::replace(s.begin(), s.end(), '/', '\\');
    out.setFromUtf8(s.c_str());
    return;
  }
  if (s.empty() || s[0] == '/' || s[0] == '\\') {
    out.copyFrom(path);
    return;
  }
  XString cwd;
  getCurrentDir(cwd);
  if (cwd.isEmpty()) {
    out.copyFrom(path);
    return;
  }
  std::string full = cwd.getUtf8();
  if (full.back() != '/') full += '/';
  full += s;
  out.setFromUtf8(full.c_str());
}

void getFileNamePart(const XString& path, XString& out) {
  lastPathComponent(path, out);
}

// ---- MarlithHandle ----

void MarlithHandle::close() {
  if (handle_ != kNoHandle) ::close(fdOf(handle_));
  if (stream_) fclose(stream_);
  handle_ = kNoHandle;
  stream_ = nullptr;
}

int64_t MarlithHandle::getPosition(LogBase* log) {
  if (handle_ == kNoHandle)
    return stream_ ? static_cast<int64_t>(ftello(stream_)) : -1;
  off_t pos = lseek(fdOf(handle_), 0, SEEK_CUR);
  if (pos < 0) {
    int err = errno;
    if (log) log->logError("Failed to get file position (2)");
    logOsError(log, err, std::string());
    return -1;
  }
  return pos;
}

bool MarlithHandle::seekAbsolute(int64_t position, LogBase* log) {
  if (handle_ == kNoHandle && !stream_) return false;
  bool ok = handle_ != kNoHandle ? lseek(fdOf(handle_), position, SEEK_SET) >= 0
                                 : fseeko(stream_, position, SEEK_SET) == 0;
  int err = errno;
  if (!ok && log) {
    if (handle_ != kNoHandle) {
      logOsError(log, err, std::string());
      log->logError("Failed to SetFilePointer to absolute file position");
    } else {
      log->logError("Failed to fseek to absolute file position");
    }
    log->logDataInt64("position", position);
  }
  return ok;
}

bool MarlithHandle::seekRelative(int64_t offset, LogBase* log) {
  if (handle_ == kNoHandle && !stream_) return false;
  bool ok = handle_ != kNoHandle ? lseek(fdOf(handle_), offset, SEEK_CUR) >= 0
                                 : fseeko(stream_, offset, SEEK_CUR) == 0;
  int err = errno;
  if (!ok && log) {
    if (handle_ != kNoHandle) {
      log->logError("Failed to SetFilePointer to relative file position");
      logOsError(log, err, std::string());
    } else {
      log->logError("Failed to fseek to relative file position");
    }
    log->logDataInt64("position", offset);
  }
  return ok;
}

bool MarlithHandle::seekToEnd(LogBase* log) {
  if (handle_ == kNoHandle && !stream_) return false;
  bool ok = handle_ != kNoHandle ? lseek(fdOf(handle_), 0, SEEK_END) >= 0
                                 : fseeko(stream_, 0, SEEK_END) == 0;
  int err = errno;
  if (!ok && log) {
    if (handle_ != kNoHandle) {
      log->logError("Failed to SetFilePointer to end of file.");
      logOsError(log, err, std::string());
    } else {
      log->logError("Failed to fseek to end of file");
    }
  }
  return ok;
}

bool MarlithHandle::readOs(void* buf, uint32_t count, uint32_t* numRead,
                           bool* eof, LogBase* log) {
  for (;;) {
    ssize_t n = ::read(fdOf(handle_), buf, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      logOsError(log, errno, std::string());
      return false;
    }
    *numRead = static_cast<uint32_t>(n);
    if (n == 0) *eof = true;
    return true;
  }
}

bool MarlithHandle::write(const void* data, uint64_t count,
                          uint64_t* numWritten, LogBase* log) {
  if (count == 0) return true;
  if (!isOpen()) {
    if (log) log->logError("Failed to write because file is not open.");
    return false;
  }
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (count > 0) {
    size_t piece = static_cast<size_t>(std::min(count, kMaxWritePiece));
    if (handle_ == kNoHandle) {
      if (fwrite(p, 1, piece, stream_) != piece) {
        if (log) log->logError("fwrite failed.");
        return false;
      }
    } else {
      // A POSIX write may take part of a piece; the rest follows at once.
      size_t done = 0;
      while (done < piece) {
        ssize_t n = ::write(fdOf(handle_), p + done, piece - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          int err = n < 0 ? errno : ENOSPC;
          LogContextExitor ctx(log, "WriteFileError");
          logOsError(log, err, std::string());
          return false;
        }
        done += static_cast<size_t>(n);
      }
    }
    if (numWritten) *numWritten += piece;
    p += piece;
    count -= piece;
  }
  return true;
}

int64_t MarlithHandle::getFileSize64(LogBase* log) {
  struct stat st;
  int fd = streamOrHandleFd(handle_, stream_);
  if (stream_ && handle_ == kNoHandle) fflush(stream_);
  if (fd < 0 || fstat(fd, &st) != 0) {
    int err = fd < 0 ? EBADF : errno;
    if (log) {
      log->logError(osErrorString(err).c_str());
      log->logError("Failed to get file size (64)");
    }
    return -1;
  }
  return st.st_size;
}

bool MarlithHandle::setFileTime(const FileTime& t, LogBase* log) {
  int fd = streamOrHandleFd(handle_, stream_);
  if (fd < 0) {
    if (log) log->logError("Cannot set file time because file is not open.");
    return false;
  }
  if (stream_ && handle_ == kNoHandle) fflush(stream_);
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(applyDaylightShift(t).seconds());
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return setTimes(fd, times, log);
}

bool MarlithHandle::setFileTimeExact(uint64_t fileTime, LogBase* log) {
  int fd = streamOrHandleFd(handle_, stream_);
  if (fd < 0) {
    if (log) log->logError("Cannot set file time because file is not open.");
    return false;
  }
  if (stream_ && handle_ == kNoHandle) fflush(stream_);
  if (fileTime > kMaxFileTime) fileTime = kMaxFileTime;
  int64_t ticks = static_cast<int64_t>(fileTime) - kUnixEpochAsFileTime;
  int64_t sec = ticks / kFileTimeTicksPerSecond;
  int64_t rem = ticks % kFileTimeTicksPerSecond;
  if (rem < 0) {
    rem += kFileTimeTicksPerSecond;
    --sec;
  }
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(sec);
  times[0].tv_nsec = static_cast<long>(rem * 100);
  times[1] = times[0];
  return setTimes(fd, times, log);
}

bool MarlithHandle::getLastWriteTime(uint64_t* fileTime, LogBase* log) {
  *fileTime = 0;
  int fd = streamOrHandleFd(handle_, stream_);
  if (fd < 0) {
    if (log) log->logError("No file is open.");
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    logOsError(log, errno, std::string());
    return false;
  }
  // A time the FILETIME cannot hold is clamped to 1601 or kMaxFileTime.
  *fileTime = FileTime(static_cast<int64_t>(st.st_mtim.tv_sec)).toFileTime();
  if (*fileTime > 0 && *fileTime < kMaxFileTime)
    *fileTime += static_cast<uint64_t>(st.st_mtim.tv_nsec / 100);
  return true;
}

// ---- Opening ----

bool openFileWin32(const XString& path, bool forRead, bool forWrite,
                   bool exclusive, bool hidden, bool seekToEnd,
                   MarlithHandle& out, int* errorKind, LogBase* log) {
  (void)exclusive;  // POSIX has no share modes.
  (void)hidden;     // Hidden is a property of the name here.
  if (errorKind) *errorKind = kOpenErrorNone;
  out.close();
  // The path is opened as given: names taken from a payload were repaired
  // by the extraction already, and a path the user gave may hold any byte
  // but "/" and NUL in a name (a ":" or "?" is no fault here).
  XString p = backslashed(path);
  if (p.isEmpty()) {
    if (log) log->logError("openFileWin32: file path is empty.");
    if (errorKind) *errorKind = kOpenErrorOther;
    return false;
  }
  std::string np = nativePath(p);
  // A "" is a separator unless the path names an existing file with the
  // "" as part of a name, as a user's path on this system may.
  struct stat literal;
  std::string asGiven = path.getUtf8();
  if (np != asGiven && stat(asGiven.c_str(), &literal) == 0) np = asGiven;
  int flags = O_CLOEXEC;
  if (forRead && forWrite) {
    flags |= O_RDWR | O_CREAT;
  } else if (forWrite) {
    flags |= O_WRONLY | O_CREAT | O_TRUNC;
  } else {
    flags |= O_RDONLY;
  }

  auto attempt = [&]() {
    ParentDir parent(np);
    if (!parent.ok()) return -1;
    int fd = ::openat(parent.fd(), parent.leaf(), flags | parent.noFollow(),
                      0666);
    if (fd < 0) errno = parent.linkCheck(errno);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) {
      // Windows does not open a directory as a file.
      if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
      }
      // A read-only file opened for writing (by a process with the right to
      // ignore permissions) is made writable, as Windows clears the
      // attribute of a file it lets a writer open.
      if (forWrite && !(st.st_mode & S_IWUSR))
        fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
    }
    return fd;
  };

  int fd = attempt();
  int err = fd < 0 ? errno : 0;
  if (fd < 0) {
    // A read-only file that refused the open is made writable and opened
    // once more.
    uint32_t attributes = 0, attrErr = 0;
    if (getAttributes(p, &attributes, &attrErr, nullptr) &&
        (attributes & kFileAttributeReadOnly) &&
        !(attributes & kFileAttributeDirectory) &&
        setFileAttributes(p, attributes & ~kFileAttributeReadOnly, nullptr)) {
      fd = attempt();
      err = fd < 0 ? errno : 0;
    }
  }
  if (fd < 0) {
    uint32_t winErr = windowsErrorOf(err, np);
    if (errorKind) {
      *errorKind = winErr == kErrorAccessDenied   ? kOpenErrorAccessDenied
                   : winErr == kErrorPathNotFound ? kOpenErrorPathNotFound
                                                  : kOpenErrorOther;
    }
    if (log) {
      // The lines the Win32 side logs for the function form it would use.
      if (chooseOpenCallForm(p, false) == PathCallForm::kAnsi) {
        XString cwd;
        getCurrentDir(cwd);
        log->logError("Failed to open file (2)");
        log->logDataX("localFilePath", p);
        log->logDataX("currentWorkingDirectory", cwd);
      } else {
        log->logError("Failed to open file (3)");
        log->logDataX("utf8Filename", p);
      }
      log->logData("osErrorInfo", osErrorString(err).c_str());
      log->logDataHex("WindowsErrorCode", winErr);
      log->logDataX("localWindowsFilePath", p);
    }
    return false;
  }
  out.adoptOsHandle(fd);
  if (seekToEnd) out.seekToEnd(log);
  return true;
}

bool openNewForWriteWin32(const XString& path, bool hidden,
                          MarlithHandle& out) {
  (void)hidden;  // Hidden is a property of the name here.
  out.close();
  XString p = backslashed(path);
  if (p.isEmpty()) return false;
  std::string np = nativePath(p);
  // Where a name with a "\" exists as given, openFileWin32 writes that file:
  // the usual way decides.
  struct stat literal;
  std::string asGiven = path.getUtf8();
  if (np != asGiven && stat(asGiven.c_str(), &literal) == 0) return false;
  ParentDir parent(np);
  if (!parent.ok()) return false;
  int fd = ::openat(parent.fd(), parent.leaf(),
                    O_CLOEXEC | O_WRONLY | O_CREAT | O_EXCL | parent.noFollow(),
                    0666);
  if (fd < 0) return false;
  out.adoptOsHandle(fd);
  return true;
}

MarlithHandle* openDirForTimesWin32(const XString& path, LogBase* log) {
  std::string np = nativePath(path);
  ParentDir parent(np);
  int fd = parent.ok() ? ::openat(parent.fd(), parent.leaf(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                                      parent.noFollow())
                       : -1;
  if (fd < 0) {
    logOsError(log, parent.linkCheck(errno), np);
    return nullptr;
  }
  MarlithHandle* handle = new (std::nothrow) MarlithHandle();
  if (!handle) {
    ::close(fd);
    return nullptr;
  }
  handle->adoptOsHandle(fd);
  return handle;
}

// ---- Attributes, directories, deletion ----

bool getAttributes(const XString& path, uint32_t* attributes, uint32_t* osError,
                   LogBase* log) {
  *attributes = kInvalidFileAttributes;
  *osError = 0;
  if (path.isEmpty()) {
    if (log) log->logError("GetAttributes: filename is empty");
    return false;
  }
  std::string np = nativePath(path);
  struct stat st;
  ParentDir parent(np);
  if (!parent.ok()) {
    // A confined walk met a link (or a missing folder) on the way: to the
    // caller the path is not there, so that making it fails at the link.
    *osError = kErrorPathNotFound;
    return false;
  }
  if (fstatat(parent.fd(), parent.leaf(), &st, parent.statFlags()) != 0) {
    *osError = windowsErrorOf(errno, np);
    return false;
  }
  uint32_t a =
      S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
  if (!(st.st_mode & S_IWUSR)) a |= kFileAttributeReadOnly;
  size_t cut = np.find_last_of('/');
  std::string name = cut == std::string::npos ? np : np.substr(cut + 1);
  if (name.size() > 1 && name[0] == '.' && name != "..")
    a |= kFileAttributeHidden;
  *attributes = a;
  return true;
}

bool setFileAttributes(const XString& path, uint32_t attributes, LogBase* log) {
  std::string np = nativePath(path);
  struct stat st;
  ParentDir parent(np);
  if (!parent.ok() ||
      fstatat(parent.fd(), parent.leaf(), &st, parent.statFlags()) != 0) {
    logOsError(log, errno, np);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {  // only met when confined
    logOsError(log, parent.linkCheck(ELOOP), np);
    return false;
  }
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & kFileAttributeReadOnly)
                      ? (mode & ~static_cast<mode_t>(0222))
                      : (mode | S_IWUSR);
  if (wanted == mode) return true;
  if (fchmodat(parent.fd(), parent.leaf(), wanted, 0) == 0) return true;
  logOsError(log, errno, np);
  return false;
}

bool createDirWin32(const XString& path, LogBase* log) {
  std::string np = nativePath(path);
  ParentDir parent(np);
  if (parent.ok() && mkdirat(parent.fd(), parent.leaf(), 0777) == 0)
    return true;
  int err = parent.linkCheck(errno);
  if (log) {
    LogContextExitor ctx(log, "createDirWin32");
    logOsError(log, err, np);
  }
  return false;
}

bool removeDirectory(const XString& path, LogBase* log) {
  forgetKnownFolders();
  std::string np = nativePath(path);
  ParentDir parent(np);
  if (parent.ok() && unlinkat(parent.fd(), parent.leaf(), AT_REMOVEDIR) == 0)
    return true;
  logOsError(log, errno, np);
  return false;
}

bool deleteFile(const XString& path, LogBase* log) {
  std::string np = nativePath(path);
  ParentDir parent(np);
  if (parent.ok() && unlinkat(parent.fd(), parent.leaf(), 0) == 0) return true;
  int err = errno;
  if (windowsErrorOf(err, np) == kErrorFileNotFound) return true;
  if (log) {
    logOsError(log, err, np);
    log->logDataX("failedToDeleteFilepath", backslashed(path));
  }
  return false;
}

// ---- Directory queries ----

void getCurrentDir(XString& out) {
  std::string buf(1024, '\0');
  for (;;) {
    if (getcwd(&buf[0], buf.size())) {
      out.setFromUtf8(buf.c_str());
      return;
    }
    if (errno != ERANGE || buf.size() >= 1u << 20) {
      out.clear();
      return;
    }
    buf.assign(buf.size() * 2, '\0');
  }
}

void getTempDir(XString& out) {
  const char* env = getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  out.setFromUtf8(dir.c_str());
}

void getModulePath(XString& out) {
  std::string buf(1024, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
    if (n <= 0) {
      out.clear();
      return;
    }
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      out.setFromUtf8(buf.c_str());
      return;
    }
    buf.assign(buf.size() * 2, '\0');
  }
}

bool setCurrentDir(const XString& path) {
  return chdir(nativePath(path).c_str()) == 0;
}

}  // namespace sfx

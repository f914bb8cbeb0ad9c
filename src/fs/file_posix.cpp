// POSIX twin of the file operations, for native builds and tests.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "fs/file.h"
#include "log/log_base.h"
#include "os/os.h"
#include "text/xstring.h"

namespace sfx {
namespace {

constexpr uint32_t kMaxReadPiece = 65536;

int fdOf(intptr_t h) { return static_cast<int>(h); }

// Windows paths separate with "\"; here a "\" becomes "/".
std::string nativePath(const XString& path) {
  std::string p = path.getUtf8();
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

void logOsError(LogBase* log, int err) {
  if (log) log->logWindowsError(static_cast<uint32_t>(err));
}

}  // namespace

MarlithHandle::~MarlithHandle() { close(); }

MarlithHandle::MarlithHandle(MarlithHandle&& other) noexcept
    : handle_(other.handle_), stream_(other.stream_) {
  other.handle_ = kNoHandle;
  other.stream_ = nullptr;
}

MarlithHandle& MarlithHandle::operator=(MarlithHandle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    stream_ = other.stream_;
    other.handle_ = kNoHandle;
    other.stream_ = nullptr;
  }
  return *this;
}

void MarlithHandle::close() {
  if (handle_ != kNoHandle) ::close(fdOf(handle_));
  if (stream_) fclose(stream_);
  handle_ = kNoHandle;
  stream_ = nullptr;
}

void MarlithHandle::adoptOsHandle(intptr_t handle) {
  close();
  handle_ = handle;
}

int64_t MarlithHandle::getPosition(LogBase* log) {
  if (handle_ == kNoHandle)
    return stream_ ? static_cast<int64_t>(ftello(stream_)) : -1;
  off_t pos = lseek(fdOf(handle_), 0, SEEK_CUR);
  if (pos < 0) {
    int err = errno;
    if (log) log->logError("Failed to get file position (2)");
    logOsError(log, err);
    return -1;
  }
  return pos;
}

bool MarlithHandle::seekAbsolute(int64_t position, LogBase* log) {
  if (handle_ == kNoHandle && !stream_) return false;
  bool ok = handle_ != kNoHandle ? lseek(fdOf(handle_), position, SEEK_SET) >= 0
                                 : fseeko(stream_, position, SEEK_SET) == 0;
  if (!ok && log) {
    logOsError(log, errno);
    log->logError(handle_ != kNoHandle
                      ? "Failed to SetFilePointer to absolute file position"
                      : "Failed to fseek to absolute file position");
    log->logDataInt64("position", position);
  }
  return ok;
}

bool MarlithHandle::seekRelative(int64_t offset, LogBase* log) {
  if (handle_ == kNoHandle && !stream_) return false;
  bool ok = handle_ != kNoHandle ? lseek(fdOf(handle_), offset, SEEK_CUR) >= 0
                                 : fseeko(stream_, offset, SEEK_CUR) == 0;
  if (!ok && log) {
    log->logError(handle_ != kNoHandle
                      ? "Failed to SetFilePointer to relative file position"
                      : "Failed to fseek to relative file position");
    logOsError(log, errno);
    log->logDataInt64("position", offset);
  }
  return ok;
}

bool MarlithHandle::seekToEnd(LogBase* log) {
  if (handle_ == kNoHandle && !stream_) return false;
  bool ok = handle_ != kNoHandle ? lseek(fdOf(handle_), 0, SEEK_END) >= 0
                                 : fseeko(stream_, 0, SEEK_END) == 0;
  if (!ok && log) {
    log->logError(handle_ != kNoHandle
                      ? "Failed to SetFilePointer to end of file."
                      : "Failed to fseek to end of file");
    logOsError(log, errno);
  }
  return ok;
}

bool MarlithHandle::readSome(void* buf, uint32_t count, uint32_t* numRead,
                             bool* eof, LogBase* log) {
  *numRead = 0;
  *eof = false;
  if (!buf || count == 0) {
    if (log) log->logError("NULL buf or bufSize");
    return false;
  }
  if (handle_ == kNoHandle && !stream_) {
    if (log) log->logError("No file is open.");
    return false;
  }
  if (handle_ == kNoHandle) {
    size_t n = fread(buf, 1, count, stream_);
    *numRead = static_cast<uint32_t>(n);
    if (n < count) {
      if (ferror(stream_)) {
        logOsError(log, errno);
        return false;
      }
      *eof = true;
    }
    return true;
  }
  for (;;) {
    ssize_t n = ::read(fdOf(handle_), buf, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      logOsError(log, errno);
      return false;
    }
    *numRead = static_cast<uint32_t>(n);
    if (n == 0) *eof = true;
    return true;
  }
}

bool MarlithHandle::readFull(void* buf, uint32_t count, uint32_t* numRead,
                             bool* eof, LogBase* log) {
  *numRead = 0;
  *eof = false;
  if (!buf) {
    if (log) log->logError("NULL buf pointer.");
    return false;
  }
  unsigned char* p = static_cast<unsigned char*>(buf);
  while (*numRead < count) {
    uint32_t piece = std::min(kMaxReadPiece, count - *numRead);
    uint32_t got = 0;
    if (!readSome(p + *numRead, piece, &got, eof, log)) return false;
    *numRead += got;
    if (*eof) break;
  }
  return true;
}

int64_t MarlithHandle::getFileSize64(LogBase* log) {
  struct stat st;
  int rc = handle_ != kNoHandle ? fstat(fdOf(handle_), &st)
           : stream_            ? fstat(fileno(stream_), &st)
                                : -1;
  if (rc != 0) {
    if (log) {
      char text[1024];
      osErrorText(static_cast<uint32_t>(errno), text, sizeof text);
      log->logError(text);
      log->logError("Failed to get file size (64)");
    }
    return -1;
  }
  return st.st_size;
}

MarlithHandle* openForReadWin32(const XString& path, int* errorKind,
                                LogBase* log) {
  MarlithHandle* h = new MarlithHandle();
  if (!openForReadWin32(path, *h, errorKind, log)) {
    delete h;
    return nullptr;
  }
  return h;
}

bool openForReadWin32(const XString& path, MarlithHandle& out, int* errorKind,
                      LogBase* log) {
  if (errorKind) *errorKind = 0;
  std::string p = nativePath(path);
  if (p.empty()) {
    if (log) log->logError("openFileWin32: file path is empty.");
    if (errorKind) *errorKind = 3;
    return false;
  }
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
      errno = EISDIR;
    }
  }
  if (fd < 0) {
    int err = errno;
    if (errorKind)
      *errorKind =
          (err == EACCES || err == EPERM) ? 1 : (err == ENOENT ? 2 : 3);
    if (log) {
      char text[1024];
      osErrorText(static_cast<uint32_t>(err), text, sizeof text);
      log->logError("Failed to open file (3)");
      log->logData("utf8Filename", p.c_str());
      log->logData("osErrorInfo", text);
      log->logData("localWindowsFilePath", p.c_str());
    }
    return false;
  }
  out.adoptOsHandle(fd);
  return true;
}

void getModulePath(XString& out) {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  out.setFromUtf8(n > 0 ? std::string(buf, static_cast<size_t>(n)).c_str()
                        : "");
}

void getCurrentDir(XString& out) {
  char buf[PATH_MAX + 1];
  out.setFromUtf8(getcwd(buf, sizeof buf) ? buf : "");
}

}  // namespace sfx

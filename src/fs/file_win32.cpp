// Win32 file operations: wide functions on the caller's path.
#include <windows.h>

#include <algorithm>
#include <string>

#include "fs/file.h"
#include "log/log_base.h"
#include "os/os.h"
#include "text/xstring.h"

namespace sfx {
namespace {

constexpr uint32_t kMaxReadPiece = 65536;
constexpr DWORD kSharingViolationRetries = 3;
constexpr DWORD kSharingViolationWaitMs = 50;

HANDLE osHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::wstring widePath(const XString& path) {
  const wchar_t* w = reinterpret_cast<const wchar_t*>(path.getUtf16());
  std::wstring p = w ? w : L"";
  std::replace(p.begin(), p.end(), L'/', L'\\');
  return p;
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
  if (handle_ != kNoHandle) CloseHandle(osHandle(handle_));
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
    return stream_ ? static_cast<int64_t>(ftello64(stream_)) : -1;
  LARGE_INTEGER zero, pos;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(osHandle(handle_), zero, &pos, FILE_CURRENT)) {
    if (log) {
      log->logError("Failed to get file position (2)");
      log->logLastWindowsError();
    }
    return -1;
  }
  return pos.QuadPart;
}

bool MarlithHandle::seekAbsolute(int64_t position, LogBase* log) {
  if (handle_ == kNoHandle) {
    if (!stream_) return false;
    if (fseeko64(stream_, position, SEEK_SET) == 0) return true;
    if (log) {
      log->logError("Failed to fseek to absolute file position");
      log->logDataInt64("position", position);
    }
    return false;
  }
  LARGE_INTEGER to;
  to.QuadPart = position;
  if (SetFilePointerEx(osHandle(handle_), to, nullptr, FILE_BEGIN)) return true;
  if (log) {
    log->logLastWindowsError();
    log->logError("Failed to SetFilePointer to absolute file position");
    log->logDataInt64("position", position);
  }
  return false;
}

bool MarlithHandle::seekRelative(int64_t offset, LogBase* log) {
  if (handle_ == kNoHandle) {
    if (!stream_) return false;
    if (fseeko64(stream_, offset, SEEK_CUR) == 0) return true;
    if (log) {
      log->logError("Failed to fseek to relative file position");
      log->logDataInt64("position", offset);
    }
    return false;
  }
  LARGE_INTEGER by;
  by.QuadPart = offset;
  if (SetFilePointerEx(osHandle(handle_), by, nullptr, FILE_CURRENT))
    return true;
  if (log) {
    log->logError("Failed to SetFilePointer to relative file position");
    log->logLastWindowsError();
    log->logDataInt64("position", offset);
  }
  return false;
}

bool MarlithHandle::seekToEnd(LogBase* log) {
  if (handle_ == kNoHandle) {
    if (!stream_) return false;
    if (fseeko64(stream_, 0, SEEK_END) == 0) return true;
    if (log) log->logError("Failed to fseek to end of file");
    return false;
  }
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (SetFilePointerEx(osHandle(handle_), zero, nullptr, FILE_END)) return true;
  if (log) {
    log->logError("Failed to SetFilePointer to end of file.");
    log->logLastWindowsError();
  }
  return false;
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
        if (log) log->logError("fread failed.");
        return false;
      }
      *eof = true;
    }
    return true;
  }
  DWORD got = 0;
  if (!ReadFile(osHandle(handle_), buf, count, &got, nullptr)) {
    DWORD err = GetLastError();
    if (err == ERROR_HANDLE_EOF) {
      *eof = true;
      return true;
    }
    if (log) log->logWindowsError(err);
    return false;
  }
  *numRead = got;
  if (got == 0) *eof = true;
  return true;
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
  if (handle_ == kNoHandle) {
    if (!stream_) return -1;
    int64_t here = ftello64(stream_);
    if (here < 0 || fseeko64(stream_, 0, SEEK_END) != 0) return -1;
    int64_t size = ftello64(stream_);
    fseeko64(stream_, here, SEEK_SET);
    return size;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(osHandle(handle_), &size)) {
    if (log) {
      char text[1024];
      osErrorText(GetLastError(), text, sizeof text);
      log->logError(text);
      log->logError("Failed to get file size (64)");
    }
    return -1;
  }
  return size.QuadPart;
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
  std::wstring p = widePath(path);
  if (p.empty()) {
    if (log) log->logError("openFileWin32: file path is empty.");
    if (errorKind) *errorKind = 3;
    return false;
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  for (DWORD attempt = 0;; ++attempt) {
    h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE ||
        GetLastError() != ERROR_SHARING_VIOLATION ||
        attempt >= kSharingViolationRetries) {
      break;
    }
    Sleep(kSharingViolationWaitMs);
  }
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if (errorKind) {
      *errorKind = err == ERROR_ACCESS_DENIED
                       ? 1
                       : (err == ERROR_PATH_NOT_FOUND ? 2 : 3);
    }
    if (log) {
      char text[1024];
      osErrorText(err, text, sizeof text);
      log->logError("Failed to open file (3)");
      log->logData("utf8Filename", path.getUtf8());
      log->logData("osErrorInfo", text);
    }
    return false;
  }
  out.adoptOsHandle(reinterpret_cast<intptr_t>(h));
  return true;
}

void getModulePath(XString& out) {
  std::wstring buf(1024, L'\0');
  for (;;) {
    DWORD n =
        GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) {
      out.clear();
      return;
    }
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  out.setFromUtf16(reinterpret_cast<const char16_t*>(buf.c_str()));
}

void getCurrentDir(XString& out) {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  std::wstring buf(n + 1, L'\0');
  n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), &buf[0]);
  buf.resize(n < buf.size() ? n : 0);
  out.setFromUtf16(reinterpret_cast<const char16_t*>(buf.c_str()));
}

}  // namespace sfx

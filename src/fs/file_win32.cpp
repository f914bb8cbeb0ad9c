// Win32 file operations and the system queries of the path rules: the wide
// functions on the extended-length form of a path, the ANSI functions where
// the path rules choose them (short ANSI-safe paths, the legacy system).
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <new>
#include <string>

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
// The first buffer size for the path queries; a longer result is fetched
// again with the size the system asks for.
constexpr DWORD kPathBufferChars = 2048;

HANDLE osHandleOf(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::wstring wideOf(const XString& path) {
  return reinterpret_cast<const wchar_t*>(path.getUtf16());
}

void setFromWide(XString& out, const wchar_t* text) {
  out.setFromUtf16(reinterpret_cast<const char16_t*>(text));
}

// A copy of the path with every "/" turned into "\".
XString backslashed(const XString& path) {
  XString copy;
  std::string s = path.getUtf8();
  std::replace(s.begin(), s.end(), '/', '\\');
  copy.setFromUtf8(s.c_str());
  return copy;
}

// The extended-length form as a wide string; an empty path stays empty.
std::wstring extendedWide(const XString& path) {
  if (path.isEmpty()) return std::wstring();
  XString ext;
  toExtendedPath(path, ext);
  return wideOf(ext);
}

void logOsError(LogBase* log, DWORD err) {
  if (!log) return;
  log->logWindowsError(err);
  log->logDataHex("WindowsErrorCode", err);
}

std::string osErrorString(DWORD err) {
  char text[1024];
  osErrorText(err, text, sizeof text);
  return text;
}

// Calls a GetXxxW query that takes (size, buffer) or (path, size, buffer),
// growing the buffer until the result fits. Returns false when the call
// returns 0.
template <typename Call>
bool wideQuery(Call call, std::wstring& out) {
  std::wstring buf(kPathBufferChars, L'\0');
  for (int round = 0; round < 4; ++round) {
    DWORD n = call(static_cast<DWORD>(buf.size()), &buf[0]);
    if (n == 0) return false;
    if (n < buf.size()) {
      buf.resize(n);
      out.swap(buf);
      return true;
    }
    buf.assign(n + 1, L'\0');
  }
  return false;
}

template <typename Call>
bool ansiQuery(Call call, std::string& out) {
  std::string buf(kPathBufferChars, '\0');
  for (int round = 0; round < 4; ++round) {
    DWORD n = call(static_cast<DWORD>(buf.size()), &buf[0]);
    if (n == 0) return false;
    if (n < buf.size()) {
      buf.resize(n);
      out.swap(buf);
      return true;
    }
    buf.assign(n + 1, '\0');
  }
  return false;
}

// CreateFileA / CreateFileW with the sharing-violation retries. The ANSI
// open widens a share of reading alone to reading and writing before it
// retries. On failure *err holds the Windows error.
HANDLE createFileRetrying(const XString& path, PathCallForm form, DWORD access,
                          DWORD share, DWORD creation, DWORD flags,
                          DWORD* err) {
  std::wstring wide;
  if (form == PathCallForm::kWideExtended) wide = extendedWide(path);
  for (int attempt = 0;; ++attempt) {
    HANDLE h = form == PathCallForm::kAnsi
                   ? CreateFileA(path.getAnsi(), access, share, nullptr,
                                 creation, flags, nullptr)
                   : CreateFileW(wide.c_str(), access, share, nullptr, creation,
                                 flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    *err = GetLastError();
    if (*err != ERROR_SHARING_VIOLATION || attempt >= kSharingRetries)
      return INVALID_HANDLE_VALUE;
    if (form == PathCallForm::kAnsi && share == FILE_SHARE_READ)
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    Sleep(kSharingRetryWaitMs);
  }
}

bool handleFileTime(HANDLE h, uint64_t fileTime, LogBase* log) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(fileTime);
  ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  if (SetFileTime(h, &ft, &ft, &ft)) return true;
  logOsError(log, GetLastError());
  return false;
}

// CreateFile with the retries above for one path, access, share and
// creation, asking for the attributes each attempt gives.
class Win32ReplaceOpener : public ReplaceOpener {
 public:
  Win32ReplaceOpener(const XString& path, PathCallForm form, DWORD access,
                     DWORD share, DWORD creation)
      : path_(path),
        form_(form),
        access_(access),
        share_(share),
        creation_(creation) {}

  bool tryCreate(uint32_t attributes, uint32_t* osError) override {
    DWORD err = 0;
    handle_ = createFileRetrying(path_, form_, access_, share_, creation_,
                                 attributes, &err);
    *osError = err;
    return handle_ != INVALID_HANDLE_VALUE;
  }

  bool existingAttributes(uint32_t* attributes) override {
    uint32_t err = 0;
    return getAttributes(path_, attributes, &err, nullptr);
  }

  HANDLE handle() const { return handle_; }

 private:
  const XString& path_;
  PathCallForm form_;
  DWORD access_, share_, creation_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// An open as openFileWin32 makes it: a create-always open replaces a hidden
// or system file (createReplacingHiddenSystem). On failure *err holds the
// Windows error.
HANDLE openOnce(const XString& path, PathCallForm form, DWORD access,
                DWORD share, DWORD creation, DWORD flags, DWORD* err) {
  if (creation != CREATE_ALWAYS)
    return createFileRetrying(path, form, access, share, creation, flags, err);
  Win32ReplaceOpener opener(path, form, access, share, creation);
  uint32_t osError = 0;
  createReplacingHiddenSystem(opener, flags, &osError);
  *err = osError;
  return opener.handle();
}

// Clears the read-only attribute of an existing file, keeping the others.
// True when it was set and is now cleared.
bool clearReadOnly(const XString& path) {
  uint32_t attributes = 0, err = 0;
  if (!getAttributes(path, &attributes, &err, nullptr) ||
      !(attributes & kFileAttributeReadOnly) ||
      (attributes & kFileAttributeDirectory)) {
    return false;
  }
  uint32_t cleared = attributes & ~kFileAttributeReadOnly;
  return setFileAttributes(path, cleared ? cleared : kFileAttributeNormal,
                           nullptr);
}

}  // namespace

void logWindowsErrorCode(LogBase* log, uint32_t code) { logOsError(log, code); }

// ---- System queries of the path rules ----

WindowsVersion WindowsVersion::query() {
  WindowsVersion v;
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExA(&info)) {
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    v.build = info.dwBuildNumber;
    v.platformId = info.dwPlatformId;
  }
  return v;
}

void getFullPath(const XString& path, XString& out) {
  if (isLegacySystem()) {
    std::string ansi = path.getAnsi();
    std::string full;
    if (ansiQuery(
            [&](DWORD n, char* b) {
              return GetFullPathNameA(ansi.c_str(), n, b, nullptr);
            },
            full)) {
      out.setFromAnsi(full.c_str());
    } else {
      out.copyFrom(path);
    }
    return;
  }
  std::wstring w = wideOf(path);
  std::wstring full;
  if (!w.empty() && wideQuery(
                        [&](DWORD n, wchar_t* b) {
                          return GetFullPathNameW(w.c_str(), n, b, nullptr);
                        },
                        full)) {
    setFromWide(out, full.c_str());
  } else {
    out.copyFrom(path);
  }
}

void getFileNamePart(const XString& path, XString& out) {
  bool found = false;
  if (isLegacySystem()) {
    std::string ansi = path.getAnsi();
    std::string buf(kPathBufferChars, '\0');
    char* part = nullptr;
    DWORD n = GetFullPathNameA(ansi.c_str(), kPathBufferChars, &buf[0], &part);
    if (n > 0 && n < kPathBufferChars && part && *part) {
      out.setFromAnsi(part);
      found = true;
    }
  } else {
    std::wstring w = wideOf(path);
    if (!w.empty()) {
      std::wstring buf(kPathBufferChars, L'\0');
      wchar_t* part = nullptr;
      DWORD n = GetFullPathNameW(w.c_str(), kPathBufferChars, &buf[0], &part);
      if (n >= kPathBufferChars) {
        buf.assign(n + 1, L'\0');
        n = GetFullPathNameW(w.c_str(), n + 1, &buf[0], &part);
      }
      if (n > 0 && n < buf.size() && part && *part) {
        setFromWide(out, part);
        found = true;
      }
    }
  }
  if (!found) lastPathComponent(path, out);
}

// ---- MarlithHandle ----

void MarlithHandle::close() {
  if (handle_ != kNoHandle) CloseHandle(osHandleOf(handle_));
  if (stream_) fclose(stream_);
  handle_ = kNoHandle;
  stream_ = nullptr;
}

int64_t MarlithHandle::getPosition(LogBase* log) {
  if (handle_ == kNoHandle)
    return stream_ ? static_cast<int64_t>(ftello64(stream_)) : -1;
  LARGE_INTEGER zero, pos;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(osHandleOf(handle_), zero, &pos, FILE_CURRENT)) {
    DWORD err = GetLastError();
    if (log) log->logError("Failed to get file position (2)");
    logOsError(log, err);
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
  if (SetFilePointerEx(osHandleOf(handle_), to, nullptr, FILE_BEGIN))
    return true;
  DWORD err = GetLastError();
  if (log) {
    logOsError(log, err);
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
  if (SetFilePointerEx(osHandleOf(handle_), by, nullptr, FILE_CURRENT))
    return true;
  DWORD err = GetLastError();
  if (log) {
    log->logError("Failed to SetFilePointer to relative file position");
    logOsError(log, err);
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
  if (SetFilePointerEx(osHandleOf(handle_), zero, nullptr, FILE_END))
    return true;
  DWORD err = GetLastError();
  if (log) log->logError("Failed to SetFilePointer to end of file.");
  logOsError(log, err);
  return false;
}

bool MarlithHandle::readOs(void* buf, uint32_t count, uint32_t* numRead,
                           bool* eof, LogBase* log) {
  DWORD got = 0;
  if (!ReadFile(osHandleOf(handle_), buf, count, &got, nullptr)) {
    DWORD err = GetLastError();
    if (err == ERROR_HANDLE_EOF) {
      *eof = true;
      return true;
    }
    logOsError(log, err);
    return false;
  }
  *numRead = got;
  if (got == 0) *eof = true;
  return true;
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
    uint64_t piece = std::min(count, kMaxWritePiece);
    if (handle_ == kNoHandle) {
      if (fwrite(p, 1, static_cast<size_t>(piece), stream_) != piece) {
        if (log) log->logError("fwrite failed.");
        return false;
      }
    } else {
      // A full disk lets WriteFile succeed with part of a piece; writing the
      // rest then fails with the reason (ERROR_DISK_FULL), which is logged.
      uint64_t done = 0;
      while (done < piece) {
        DWORD written = 0;
        BOOL wrote = WriteFile(osHandleOf(handle_), p + done,
                               static_cast<DWORD>(piece - done), &written,
                               nullptr);
        if (!wrote || written == 0) {
          // Success with nothing written has no error of its own.
          DWORD err = wrote ? ERROR_DISK_FULL : GetLastError();
          LogContextExitor ctx(log, "WriteFileError");
          logOsError(log, err);
          return false;
        }
        done += written;
      }
    }
    if (numWritten) *numWritten += piece;
    p += piece;
    count -= piece;
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
  if (!GetFileSizeEx(osHandleOf(handle_), &size)) {
    DWORD err = GetLastError();
    if (log) {
      log->logError(osErrorString(err).c_str());
      log->logError("Failed to get file size (64)");
    }
    return -1;
  }
  return size.QuadPart;
}

bool MarlithHandle::setFileTime(const FileTime& t, LogBase* log) {
  if (!isOpen()) {
    if (log) log->logError("Cannot set file time because file is not open.");
    return false;
  }
  return setFileTimeExact(applyDaylightShift(t).toFileTime(), log);
}

bool MarlithHandle::setFileTimeExact(uint64_t fileTime, LogBase* log) {
  HANDLE h = osHandleOf(handle_);
  if (handle_ == kNoHandle && stream_)
    h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_)));
  if (h == INVALID_HANDLE_VALUE) {
    if (log) log->logError("Cannot set file time because file is not open.");
    return false;
  }
  if (stream_) fflush(stream_);
  return handleFileTime(h, fileTime, log);
}

bool MarlithHandle::getLastWriteTime(uint64_t* fileTime, LogBase* log) {
  *fileTime = 0;
  HANDLE h = osHandleOf(handle_);
  if (handle_ == kNoHandle && stream_)
    h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_)));
  if (h == INVALID_HANDLE_VALUE) {
    if (log) log->logError("No file is open.");
    return false;
  }
  FILETIME ft;
  if (!GetFileTime(h, nullptr, nullptr, &ft)) {
    logOsError(log, GetLastError());
    return false;
  }
  *fileTime =
      (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return true;
}

// ---- Opening ----

bool openFileWin32(const XString& path, bool forRead, bool forWrite,
                   bool exclusive, bool hidden, bool seekToEnd,
                   MarlithHandle& out, int* errorKind, LogBase* log) {
  if (errorKind) *errorKind = kOpenErrorNone;
  out.close();
  XString p = backslashed(path);
  sanitizeFileName(p, forWrite, nullptr);
  if (p.isEmpty()) {
    if (log) log->logError("openFileWin32: file path is empty.");
    if (errorKind) *errorKind = kOpenErrorOther;
    return false;
  }

  DWORD flags = hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
  DWORD access = (forRead ? GENERIC_READ : 0) | (forWrite ? GENERIC_WRITE : 0);
  DWORD creation =
      !forWrite ? OPEN_EXISTING : (forRead ? OPEN_ALWAYS : CREATE_ALWAYS);
  DWORD share =
      (forRead && !exclusive) ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  PathCallForm form = chooseOpenCallForm(p, isLegacySystem());

  // A read-only file opened for writing is made writable first: a process
  // that may ignore the attribute would otherwise write it and leave it
  // read-only.
  if (forWrite) clearReadOnly(p);
  DWORD err = 0;
  HANDLE h = openOnce(p, form, access, share, creation, flags, &err);
  if (h == INVALID_HANDLE_VALUE && clearReadOnly(p)) {
    // Made writable: opened once more.
    h = openOnce(p, form, access, share, creation, flags, &err);
  }
  if (h == INVALID_HANDLE_VALUE) {
    if (errorKind) {
      *errorKind = err == ERROR_ACCESS_DENIED    ? kOpenErrorAccessDenied
                   : err == ERROR_PATH_NOT_FOUND ? kOpenErrorPathNotFound
                                                 : kOpenErrorOther;
    }
    if (log) {
      if (form == PathCallForm::kAnsi) {
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
      // The code as well: the text differs between systems and languages.
      log->logDataHex("WindowsErrorCode", err);
      log->logDataX("localWindowsFilePath", p);
    }
    return false;
  }
  out.adoptOsHandle(reinterpret_cast<intptr_t>(h));
  if (seekToEnd) out.seekToEnd(log);
  return true;
}

bool openNewForWriteWin32(const XString& path, bool hidden,
                          MarlithHandle& out) {
  out.close();
  XString p = backslashed(path);
  sanitizeFileName(p, true, nullptr);
  if (p.isEmpty()) return false;
  DWORD flags = hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
  HANDLE h =
      chooseOpenCallForm(p, isLegacySystem()) == PathCallForm::kAnsi
          ? CreateFileA(p.getAnsi(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        flags, nullptr)
          : CreateFileW(extendedWide(p).c_str(), GENERIC_WRITE, 0, nullptr,
                        CREATE_NEW, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out.adoptOsHandle(reinterpret_cast<intptr_t>(h));
  return true;
}

MarlithHandle* openDirForTimesWin32(const XString& path, LogBase* log) {
  XString p = backslashed(path);
  PathCallForm form = chooseOpenCallForm(p, isLegacySystem());
  DWORD err = 0;
  HANDLE h =
      createFileRetrying(p, form, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, &err);
  if (h == INVALID_HANDLE_VALUE) {
    logOsError(log, err);
    return nullptr;
  }
  MarlithHandle* handle = new (std::nothrow) MarlithHandle();
  if (!handle) {
    CloseHandle(h);
    return nullptr;
  }
  handle->adoptOsHandle(reinterpret_cast<intptr_t>(h));
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
  XString p = backslashed(path);
  DWORD a = chooseOpenCallForm(p, isLegacySystem()) == PathCallForm::kAnsi
                ? GetFileAttributesA(p.getAnsi())
                : GetFileAttributesW(extendedWide(p).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    *osError = GetLastError();
    return false;
  }
  *attributes = a;
  return true;
}

bool setFileAttributes(const XString& path, uint32_t attributes, LogBase* log) {
  XString p = backslashed(path);
  sanitizeFileName(p, true, nullptr);
  BOOL ok = isLegacySystem()
                ? SetFileAttributesA(p.getAnsi(), attributes)
                : SetFileAttributesW(extendedWide(p).c_str(), attributes);
  if (!ok) logOsError(log, GetLastError());
  return ok != FALSE;
}

bool createDirWin32(const XString& path, LogBase* log) {
  BOOL ok;
  if (isLegacySystem()) {
    ok = CreateDirectoryA(path.getAnsi(), nullptr);
  } else {
    std::wstring w = path.isEmpty() ? wideOf(path) : extendedWide(path);
    ok = CreateDirectoryW(w.c_str(), nullptr);
  }
  if (!ok && log) {
    DWORD err = GetLastError();
    LogContextExitor ctx(log, "createDirWin32");
    logOsError(log, err);
  }
  return ok != FALSE;
}

bool removeDirectory(const XString& path, LogBase* log) {
  forgetKnownFolders();
  XString p = backslashed(path);
  std::wstring w = p.isEmpty() ? wideOf(p) : extendedWide(p);
  if (RemoveDirectoryW(w.c_str())) return true;
  logOsError(log, GetLastError());
  return false;
}

bool deleteFile(const XString& path, LogBase* log) {
  XString p = backslashed(path);
  BOOL ok;
  if (isLegacySystem()) {
    ok = DeleteFileA(p.getAnsi());
  } else {
    XString target;
    toDeletePath(p, target);
    ok = DeleteFileW(wideOf(target).c_str());
  }
  if (ok) return true;
  DWORD err = GetLastError();
  if (err == ERROR_FILE_NOT_FOUND) return true;
  if (log) {
    logOsError(log, err);
    log->logDataX("failedToDeleteFilepath", p);
  }
  return false;
}

// ---- Directory queries ----

void getCurrentDir(XString& out) {
  std::wstring w;
  std::string a;
  if (!isLegacySystem() &&
      wideQuery([](DWORD n, wchar_t* b) { return GetCurrentDirectoryW(n, b); },
                w)) {
    setFromWide(out, w.c_str());
  } else if (ansiQuery(
                 [](DWORD n, char* b) { return GetCurrentDirectoryA(n, b); },
                 a)) {
    out.setFromAnsi(a.c_str());
  } else {
    out.clear();
  }
}

void getTempDir(XString& out) {
  std::wstring w;
  std::string a;
  if (!isLegacySystem() &&
      wideQuery([](DWORD n, wchar_t* b) { return GetTempPathW(n, b); }, w)) {
    setFromWide(out, w.c_str());
  } else if (ansiQuery([](DWORD n, char* b) { return GetTempPathA(n, b); },
                       a)) {
    out.setFromAnsi(a.c_str());
  } else {
    out.clear();
  }
}

void getModulePath(XString& out) {
  // GetModuleFileName fills the whole buffer when it truncates the name, so
  // the buffer doubles until the name fits.
  if (!isLegacySystem()) {
    for (DWORD size = 1024; size <= 65536; size *= 2) {
      std::wstring buf(size, L'\0');
      DWORD n = GetModuleFileNameW(nullptr, &buf[0], size);
      if (n == 0) break;
      if (n < size) {
        buf.resize(n);
        setFromWide(out, buf.c_str());
        return;
      }
    }
  }
  std::string buf(1024, '\0');
  DWORD n = GetModuleFileNameA(nullptr, &buf[0], 1024);
  if (n == 0 || n >= 1024) {
    out.clear();
    return;
  }
  buf.resize(n);
  out.setFromAnsi(buf.c_str());
}

bool setCurrentDir(const XString& path) {
  XString p = backslashed(path);
  if (isLegacySystem()) return SetCurrentDirectoryA(p.getAnsi()) != FALSE;
  // A short path is set as its full path, so that the current directory
  // that child processes inherit has no extended-length prefix; only a
  // path too long for that goes in the extended-length form.
  XString full;
  getFullPath(p, full);
  std::wstring w =
      utf16Length(full) < kMaxShortPath - 1 ? wideOf(full) : extendedWide(p);
  return SetCurrentDirectoryW(w.c_str()) != FALSE;
}

}  // namespace sfx

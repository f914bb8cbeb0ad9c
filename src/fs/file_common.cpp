// The file and directory operations that are the same on every platform:
// they are built on the platform primitives of file_win32.cpp and
// file_posix.cpp.
#include <algorithm>
#include <new>
#include <string>
#include <unordered_set>

#include "codec/random.h"
#include "fs/file.h"
#include "fs/file_internal.h"
#include "fs/path_rules.h"
#include "log/log_base.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

// makeTempName tries the first name and at most this many more.
constexpr int kMaxTempNameRetries = 200;

// The folders of the KnownFolders that lives, or nullptr.
std::unordered_set<std::string>* g_knownFolders = nullptr;

bool isKnownFolder(const std::string& path) {
  return g_knownFolders && g_knownFolders->count(path) != 0;
}

void rememberFolder(const std::string& path) {
  if (g_knownFolders) g_knownFolders->insert(path);
}

bool isTrimChar(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trimmedBackslashed(const XString& path) {
  std::string s = path.getUtf8();
  size_t b = 0, e = s.size();
  while (b < e && isTrimChar(s[b])) ++b;
  while (e > b && isTrimChar(s[e - 1])) --e;
  s = s.substr(b, e - b);
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// Appends `path` + "D" to the undo list. False when memory runs out.
bool recordCreated(ExtPtrArray* undo, const std::string& path) {
  if (!undo) return true;
  StringBuffer* entry = new (std::nothrow) StringBuffer();
  if (!entry) return false;
  if (!entry->append(path.c_str()) || !entry->appendChar('D') ||
      !undo->append(entry)) {
    delete entry;
    return false;
  }
  return true;
}

// createDirIfMissing on `path` unless it is a known folder, recording it
// when it was created and remembering it.
bool createAndRecord(const std::string& path, ExtPtrArray* undo, LogBase* log) {
  if (isKnownFolder(path)) return true;
  XString x;
  x.setFromUtf8(path.c_str());
  bool created = false;
  if (!createDirIfMissing(x, &created, log)) return false;
  if (created && !recordCreated(undo, path)) return false;
  rememberFolder(path);
  return true;
}

// Where the walk of ensureDir starts: the index after the root of `s`, or
// npos for a UNC path that names only a server and a share.
size_t walkStart(const std::string& s) {
  size_t i = 0;
  bool unc = false;
  if (s.compare(0, 4, "\\\\?\\") == 0) {
    i = 4;
    if (s.compare(4, 4, "UNC\\") == 0) {
      i = 8;
      unc = true;
    }
  } else if (s.compare(0, 2, "\\\\") == 0) {
    i = 2;
    unc = true;
  }
  if (unc) {
    size_t server = s.find('\\', i);
    if (server != std::string::npos) {
      size_t share = s.find('\\', server + 1);
      if (share == std::string::npos || share + 1 >= s.size())
        return std::string::npos;
      i = share + 1;
    }
  }
  if (i + 1 < s.size() && s[i + 1] == ':') i += 2;
  while (i < s.size() && s[i] == '\\') ++i;
  return i;
}

char randomNameChar() {
  int32_t r = randomInRange(0, 35);
  return r < 26 ? static_cast<char>('A' + r) : static_cast<char>('0' + r - 26);
}

}  // namespace

KnownFolders::KnownFolders() : active_(false) {
  if (g_knownFolders) return;
  g_knownFolders = new (std::nothrow) std::unordered_set<std::string>();
  active_ = g_knownFolders != nullptr;
}

KnownFolders::~KnownFolders() {
  if (!active_) return;
  delete g_knownFolders;
  g_knownFolders = nullptr;
}

size_t KnownFolders::size() const {
  return active_ ? g_knownFolders->size() : 0;
}

void forgetKnownFolders() {
  if (g_knownFolders) g_knownFolders->clear();
}

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

void MarlithHandle::adoptOsHandle(intptr_t handle) {
  close();
  handle_ = handle;
}

void MarlithHandle::adoptStream(FILE* stream) {
  close();
  stream_ = stream;
}

bool createReplacingHiddenSystem(ReplaceOpener& opener, uint32_t attributes,
                                 uint32_t* osError) {
  constexpr uint32_t kKept = kFileAttributeHidden | kFileAttributeSystem;
  *osError = 0;
  if (opener.tryCreate(attributes, osError)) return true;
  if (*osError != kErrorAccessDenied) return false;
  uint32_t existing = 0;
  if (!opener.existingAttributes(&existing) ||
      (existing & kFileAttributeDirectory) || !(existing & kKept)) {
    return false;
  }
  uint32_t retry = (attributes & ~kFileAttributeNormal) | (existing & kKept);
  return opener.tryCreate(retry, osError);
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
  return readOs(buf, count, numRead, eof, log);
}

bool MarlithHandle::readFull(void* buf, uint32_t count, uint32_t* numRead,
                             bool* eof, LogBase* log, uint32_t maxPiece) {
  *numRead = 0;
  *eof = false;
  if (!buf) {
    if (log) log->logError("NULL buf pointer.");
    return false;
  }
  unsigned char* p = static_cast<unsigned char*>(buf);
  while (*numRead < count) {
    uint32_t piece = std::min(maxPiece, count - *numRead);
    uint32_t got = 0;
    if (!readSome(p + *numRead, piece, &got, eof, log)) return false;
    *numRead += got;
    if (*eof) break;
  }
  return true;
}

MarlithHandle* openFileWin32(const XString& path, bool forRead, bool forWrite,
                             bool exclusive, bool hidden, bool seekToEnd,
                             int* errorKind, LogBase* log) {
  MarlithHandle* h = new (std::nothrow) MarlithHandle();
  if (!h) {
    if (errorKind) *errorKind = kOpenErrorOther;
    if (log) log->memoryAllocFailed(1, static_cast<int>(sizeof *h));
    return nullptr;
  }
  if (!openFileWin32(path, forRead, forWrite, exclusive, hidden, seekToEnd, *h,
                     errorKind, log)) {
    delete h;
    return nullptr;
  }
  return h;
}

MarlithHandle* openForReadWin32(const XString& path, int* errorKind,
                                LogBase* log) {
  return openFileWin32(path, true, false, false, false, false, errorKind, log);
}

bool openForReadWin32(const XString& path, MarlithHandle& out, int* errorKind,
                      LogBase* log) {
  return openFileWin32(path, true, false, false, false, false, out, errorKind,
                       log);
}

MarlithHandle* openForWriteWin32(const XString& path, int* errorKind,
                                 LogBase* log) {
  LogContextExitor ctx(log, "openForWriteWin32");
  return openFileWin32(path, false, true, false, false, false, errorKind, log);
}

bool openForWriteWin32(const XString& path, MarlithHandle& out, int* errorKind,
                       LogBase* log) {
  LogContextExitor ctx(log, "openForWriteWin32");
  return openFileWin32(path, false, true, false, false, false, out, errorKind,
                       log);
}

MarlithHandle* openForWriteHiddenWin32(const XString& path, int* errorKind,
                                       LogBase* log) {
  LogContextExitor ctx(log, "openForWriteHiddenWin32");
  return openFileWin32(path, false, true, false, true, false, errorKind, log);
}

bool openForWriteHiddenWin32(const XString& path, MarlithHandle& out,
                             int* errorKind, LogBase* log) {
  LogContextExitor ctx(log, "openForWriteHiddenWin32");
  return openFileWin32(path, false, true, false, true, false, out, errorKind,
                       log);
}

MarlithHandle* openForReadWriteWin32(const XString& path, bool exclusive,
                                     int* errorKind, LogBase* log) {
  LogContextExitor ctx(log, "openForReadWriteWin32");
  return openFileWin32(path, true, true, exclusive, false, false, errorKind,
                       log);
}

bool openForReadWriteWin32(const XString& path, bool exclusive,
                           MarlithHandle& out, int* errorKind, LogBase* log) {
  LogContextExitor ctx(log, "openForReadWriteWin32");
  return openFileWin32(path, true, true, exclusive, false, false, out,
                       errorKind, log);
}

bool setDirectoryTime(const XString& path, uint64_t fileTime, LogBase* log) {
  MarlithHandle* h = openDirForTimesWin32(path, log);
  if (!h) return false;
  bool ok = h->setFileTimeExact(fileTime, log);
  delete h;
  return ok;
}

bool fileExists(const XString& path, LogBase* log) {
  if (path.isEmpty()) return false;
  uint32_t attributes = 0, err = 0;
  if (getAttributes(path, &attributes, &err, nullptr)) return true;
  if (err == kErrorFileNotFound || err == kErrorPathNotFound ||
      err == kErrorNotReady) {
    logWindowsErrorCode(log, err);
    return false;
  }
  return true;
}

bool createDirIfMissing(const XString& path, bool* created, LogBase* log) {
  *created = false;
  if (path.isEmpty() || path.equalsUtf8(".")) return true;
  // Created first, asked about only when that failed: a new folder costs
  // one call. A failure for a name that exists is no failure; any other is
  // logged by one more attempt (the error path only).
  if (createDirWin32(path, nullptr)) {
    *created = true;
    return true;
  }
  if (fileExists(path, nullptr)) return true;
  if (!createDirWin32(path, log)) return false;
  *created = true;
  return true;
}

bool ensureDir(const XString& dirPath, ExtPtrArray* undo, LogBase& log) {
  LogContextExitor ctx(log, "ensureDir");
  std::string s = trimmedBackslashed(dirPath);
  if (s.empty() || isKnownFolder(s)) return true;

  // The whole path at once; a failure here only means that levels above it
  // are missing too, so nothing is logged for it.
  {
    XString whole;
    whole.setFromUtf8(s.c_str());
    bool created = false;
    if (createDirIfMissing(whole, &created, nullptr)) {
      if (created && !recordCreated(undo, s)) return false;
      rememberFolder(s);
      return true;
    }
  }

  size_t i = walkStart(s);
  if (i == std::string::npos) return createAndRecord(s, undo, &log);
  size_t next = s.find('\\', i);
  if (next == std::string::npos) {
    log.logError("Cannot ensure directory existence (1)");
    log.logData("path", s.c_str());
    return false;
  }
  while (next != std::string::npos) {
    std::string prefix = s.substr(0, next);
    if (!createAndRecord(prefix, undo, &log)) {
      log.logError("Cannot ensure directory existence (2)");
      log.logData("path", prefix.c_str());
      return false;
    }
    next = s.find('\\', next + 1);
  }
  if (!createAndRecord(s, undo, &log)) {
    log.logError("Cannot ensure directory existence (3)");
    log.logData("path", s.c_str());
    return false;
  }
  return true;
}

bool ensureFile(const XString& filePath, XString* dirPart, ExtPtrArray* undo,
                LogBase& log) {
  LogContextExitor ctx(log, "ensureFile");
  if (filePath.isEmpty()) {
    log.logError("No filePath");
    return false;
  }
  std::string s = trimmedBackslashed(filePath);
  size_t cut = s.rfind('\\');
  std::string dir =
      (cut == std::string::npos || cut == 0) ? std::string() : s.substr(0, cut);
  if (dirPart) dirPart->setFromUtf8(dir.c_str());
  if (dir.empty()) return true;
  XString d;
  d.setFromUtf8(dir.c_str());
  return ensureDir(d, undo, log);
}

bool makeTempName(const XString& baseName, const XString& dir, XString& out,
                  LogBase& log) {
  out.clear();
  std::string base = baseName.isEmpty() ? "x" : baseName.getUtf8();
  if (base.find('.') == std::string::npos) base += ".tmp";
  size_t dot = base.rfind('.');
  std::string stem = base.substr(0, dot);
  std::string ext = base.substr(dot);
  std::string d = dir.getUtf8();
  if (!d.empty() && d.back() != '/' && d.back() != '\\') d += '/';
  XString dirX;
  dirX.setFromUtf8(d.c_str());

  for (int tries = 0; tries <= kMaxTempNameRetries; ++tries) {
    std::string name = stem + "_";
    for (int k = 0; k < 4; ++k) name += randomNameChar();
    name += ext;
    XString nameX;
    nameX.setFromUtf8(name.c_str());
    joinFileName(dirX, nameX, out);
    if (!fileExists(out, nullptr)) return true;
  }
  out.clear();
  log.logError("Failed to find an unused temporary file name.");
  log.logDataX("dir", dir);
  return false;
}

bool makeTempFilePath(const XString& baseName, XString& out, LogBase& log) {
  XString dir;
  getTempDir(dir);
  return makeTempName(baseName, dir, out, log);
}

bool writeWholeFile(const XString& path, const void* data, uint32_t size,
                    LogBase& log) {
  MarlithHandle file;
  int errorKind = 0;
  if (!openForWriteWin32(path, file, &errorKind, &log)) {
    log.logDataX("filename", path);
    log.logError("Failed to write complete file (7)");
    return false;
  }
  if (data && size != 0 && !file.write(data, size, nullptr, &log)) {
    log.logDataX("filename", path);
    log.logError("Failed to write complete file (1)");
    return false;
  }
  return true;
}

bool writeWholeFile(const StringBuffer& pathUtf8, const void* data,
                    uint32_t size, LogBase& log) {
  XString path;
  path.setFromUtf8Sb(pathUtf8);
  return writeWholeFile(path, data, size, log);
}

}  // namespace sfx

// DataBuffer::loadFileX: a whole file read into memory with one allocation
// and one read request. The only text file that uses the file layer.
#include <cstdlib>

#include "fs/file.h"
#include "log/log_base.h"
#include "text/data_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

// Zero bytes allocated past the end of the file's contents.
constexpr uint32_t kLoadSlack = 32;

}  // namespace

bool DataBuffer::loadFileX(const XString& path, LogBase& log) {
  LogContextExitor ctx(log, "loadFileX");
  clearAndFree();

  MarlithHandle file;
  int errorKind = 0;
  if (!openForReadWin32(path, file, &errorKind, &log)) {
    log.logError("Failed to open for read.");
    return false;
  }
  int64_t fileSize = file.getFileSize64(&log);
  if (fileSize < 0) {
    log.logError("Failed to get file size.");
    return false;
  }
  if (fileSize == 0) return true;
  if (fileSize > static_cast<int64_t>(UINT32_MAX)) {
    log.logError("Out of memory for data buffer");
    log.logDataInt64("fileSize", fileSize);
    return false;
  }
  uint64_t allocSize = static_cast<uint64_t>(fileSize) + kLoadSlack;
  void* bytes = nullptr;
  if (allocSize <= UINT32_MAX && allocSize <= SIZE_MAX) {
    bytes = calloc(static_cast<size_t>(allocSize), 1);
  }
  if (!bytes) {
    log.logError("Out of memory");
    log.logDataInt64("fileSize", fileSize);
    return false;
  }
  data_ = static_cast<uint8_t*>(bytes);
  capacity_ = static_cast<uint32_t>(allocSize);
  size_ = static_cast<uint32_t>(fileSize);

  uint32_t numRead = 0;
  bool eof = false;
  bool readOk = file.readFull(data_, size_, &numRead, &eof, &log);
  if (!readOk) {
    log.logData("path", path.getUtf8());
    XString currentDir;
    getCurrentDir(currentDir);
    log.logData("current_dir", currentDir.getUtf8());
  }
  if (numRead < size_) {
    log.logDataInt64("fileSize", fileSize);
    log.logDataUint32("numBytesRead", numRead);
    log.logError("Failed to read the entire file (2)");
    size_ = numRead;
  }
  file.close();
  return readOk && numRead == static_cast<uint64_t>(fileSize);
}

}  // namespace sfx

#include "stream/output_file.h"

#include <utility>

#include "fs/file_time.h"
#include "log/log_base.h"

namespace sfx {

OutputFile::OutputFile(const char* utf8Path, MarlithHandle& handle)
    : Output(kFileOutput), file_(std::move(handle)) {
  path_.setFromUtf8(utf8Path);
}

OutputFile::~OutputFile() = default;

bool OutputFile::writeBytes(const void* data, uint32_t count, ProgressMonitor*,
                            LogBase& log) {
  if (!data || count == 0) return true;
  if (!file_.write(data, count, nullptr, &log)) return false;
  bytesWritten_ += count;
  position_ += count;
  if (position_ > size_) size_ = position_;
  return true;
}

bool OutputFile::seekToEnd(LogBase& log) {
  position_ = size_;
  return file_.seekToEnd(&log);
}

bool OutputFile::seekAbsolute(uint64_t position, LogBase& log) {
  if (!file_.seekAbsolute(static_cast<int64_t>(position), &log)) return false;
  position_ = position;
  return true;
}

bool OutputFile::resetOutput(LogBase& log) {
  bytesWritten_ = 0;
  // Nothing written yet: nothing to start over. A file seeked back to 0
  // after writing is started over too, so no old byte survives.
  if (position_ == 0 && size_ == 0) return true;
  file_.close();
  deleteFile(path_, &log);
  size_ = position_ = 0;
  int errorKind = 0;
  return openForReadWriteWin32(path_, false, file_, &errorKind, &log);
}

bool OutputFile::setFileTime(const FileTime& t, LogBase* log) {
  if (file_.isOpen()) return file_.setFileTime(t, log);
  if (path_.isEmpty()) {
    if (log)
      log->logError(
          "Cannot set file time because output file path is empty. (1a)");
    return false;
  }
  int errorKind = 0;
  MarlithHandle h;
  if (!openForReadWriteWin32(path_, false, h, &errorKind, log)) return false;
  return h.setFileTime(t, log);
}

}  // namespace sfx

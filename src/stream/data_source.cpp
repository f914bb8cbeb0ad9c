#include "stream/data_source.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "fs/file.h"
#include "log/log_base.h"
#include "stream/progress_monitor.h"
#include "text/little_endian.h"
#include "text/xstring.h"

namespace sfx {
namespace {

constexpr uint32_t kDiscardPiece = 20000;
constexpr uint32_t kScanWindow = 20000;

// A heap block freed on scope exit; allocation failure leaves it empty.
struct ScratchBlock {
  explicit ScratchBlock(size_t n) : p(new (std::nothrow) unsigned char[n]) {}
  ~ScratchBlock() { delete[] p; }
  unsigned char* p;
};

}  // namespace

// ---- DataSource --------------------------------------------------------

DataSource::~DataSource() = default;

void DataSource::closeSource() {}

bool DataSource::readSource(void*, uint32_t, uint32_t* numRead,
                            bool* endReached, ProgressMonitor*, LogBase&) {
  *numRead = 0;
  *endReached = true;
  return true;
}

bool DataSource::endOfStream() { return true; }
bool DataSource::seekAbsolute(int64_t, LogBase&) { return false; }
bool DataSource::seekRelative(int64_t, LogBase&) { return false; }
int64_t DataSource::getPosition() { return 0; }
void DataSource::rewindSource() {}
bool DataSource::scanForUint32(uint32_t, LogBase&) { return false; }

bool DataSource::discardBytes(uint64_t count, ProgressMonitor* pm,
                              LogBase& log) {
  ScratchBlock work(kDiscardPiece + 8);
  if (!work.p) return false;
  while (count > 0) {
    if (endOfStream()) return true;
    uint32_t piece =
        count < kDiscardPiece ? static_cast<uint32_t>(count) : kDiscardPiece;
    uint32_t got = 0;
    bool end = false;
    if (!readSource(work.p, piece, &got, &end, pm, log)) return false;
    if (got < piece) return endOfStream();
    count -= got;
  }
  return true;
}

bool DataSource::readSourcePM(void* buf, uint32_t count, uint32_t* numRead,
                              ProgressMonitor* pm, LogBase& log) {
  bool endReached = false;
  bool ok = readSource(buf, count, numRead, &endReached, pm, log);
  if (!ok || *numRead == 0) return ok;
  totalDelivered_ += *numRead;
  if (pm) {
    bool aborted =
        progressByBytes_ ? pm->consumeBytes(*numRead, log) : pm->pollAbort();
    if (aborted) {
      log.logError("Source read aborted by application callback.");
      return false;
    }
  }
  return true;
}

// ---- FileDataSource ----------------------------------------------------

FileDataSource::FileDataSource() : DataSource(kFileSource) {}

FileDataSource::~FileDataSource() {
  close();
  delete[] ahead_;
}

void FileDataSource::close() {
  delete file_;
  file_ = nullptr;
  path_.clear();
  dropAhead();
}

void FileDataSource::closeSource() { close(); }

bool FileDataSource::openPath(LogBase& log) {
  delete file_;
  file_ = nullptr;
  dropAhead();
  XString path;
  path.setFromUtf8(path_.getString());
  int errorKind = 0;
  file_ = openForReadWin32(path, &errorKind, &log);
  return file_ != nullptr;
}

bool FileDataSource::openDataSource(const XString& path, LogBase& log) {
  close();
  path_.setString(path.getUtf8());
  endReached_ = false;
  if (!ahead_) ahead_ = new (std::nothrow) unsigned char[kReadAheadSize];
  if (!openPath(log)) {
    log.logError("Failed to open file data source.");
    return false;
  }
  return true;
}

int64_t FileDataSource::getFileSize64(LogBase& log) {
  return file_ ? file_->getFileSize64(&log) : -1;
}

uint32_t FileDataSource::takeAhead(unsigned char* out, uint32_t count) {
  uint32_t n = aheadEnd_ - aheadPos_;
  if (n > count) n = count;
  if (n) {
    memcpy(out, ahead_ + aheadPos_, n);
    aheadPos_ += n;
  }
  return n;
}

bool FileDataSource::readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                                bool* endReached, ProgressMonitor*,
                                LogBase& log) {
  *numRead = 0;
  *endReached = false;
  if (!buf || maxCount == 0 || !file_) return false;
  unsigned char* out = static_cast<unsigned char*>(buf);
  uint32_t done = takeAhead(out, maxCount);
  bool ok = true;
  if (done < maxCount) {
    uint32_t want = maxCount - done;
    uint32_t got = 0;
    bool eof = false;
    if (want >= kReadAheadSize || !ahead_) {
      // One read request for all that is missing, not one per 64 KB.
      ok = file_->readFull(out + done, want, &got, &eof, &log, UINT32_MAX);
      done += got;
    } else {
      // The buffer is empty here: refill it and take from it.
      ok = file_->readFull(ahead_, kReadAheadSize, &got, &eof, &log);
      aheadPos_ = 0;
      aheadEnd_ = ok ? got : 0;
      done += takeAhead(out + done, want);
    }
  }
  *numRead = done;
  endReached_ = !ok || done < maxCount;
  *endReached = endReached_;
  return ok;
}

bool FileDataSource::endOfStream() { return !file_ || endReached_; }

bool FileDataSource::seekAbsolute(int64_t position, LogBase& log) {
  if (!file_) return false;
  if (aheadEnd_ > 0) {
    // The buffer holds the file's bytes [filePos - aheadEnd_, filePos).
    int64_t filePos = file_->getPosition(nullptr);
    int64_t bufferStart = filePos - aheadEnd_;
    if (filePos >= 0 && position >= bufferStart && position <= filePos) {
      aheadPos_ = static_cast<uint32_t>(position - bufferStart);
      endReached_ = false;
      return true;
    }
    dropAhead();
  }
  if (!file_->seekAbsolute(position, &log)) return false;
  endReached_ = false;
  return true;
}

bool FileDataSource::seekRelative(int64_t distance, LogBase& log) {
  if (!file_) {
    log.logError("Cannot fseek relative, file already closed.");
    return false;
  }
  int64_t unread = aheadEnd_ - aheadPos_;
  if (distance >= -static_cast<int64_t>(aheadPos_) && distance <= unread &&
      aheadEnd_ > 0) {
    aheadPos_ = static_cast<uint32_t>(aheadPos_ + distance);
    endReached_ = false;
    return true;
  }
  // The file stands `unread` bytes past the source's position.
  if (distance >= INT64_MIN + unread) distance -= unread;
  dropAhead();
  if (!file_->seekRelative(distance, &log)) {
    log.logError("Failed to seek to relative offset in file");
    return false;
  }
  int64_t position = file_->getPosition(&log);
  if (position < 0) return false;
  if (distance >= 0 || path_.getSize() == 0) {
    endReached_ = false;
    return true;
  }
  // Backwards: start again from a fresh open of the same file.
  if (!openPath(log)) return false;
  return seekAbsolute(position, log);
}

int64_t FileDataSource::getPosition() {
  if (!file_) return 0;
  int64_t filePos = file_->getPosition(nullptr);
  return filePos < 0 ? filePos : filePos - (aheadEnd_ - aheadPos_);
}

void FileDataSource::rewindSource() {
  LogNull quiet;
  seekAbsolute(0, quiet);
  endReached_ = false;
}

bool FileDataSource::scanForUint32(uint32_t value, LogBase& log) {
  if (!file_) return false;
  ScratchBlock window(kScanWindow);
  if (!window.p) return false;
  const unsigned char first = static_cast<unsigned char>(value);
  uint32_t filled = 0;
  for (;;) {
    // Fill the window behind the 0 to 3 bytes carried over. A fill takes at
    // most what the read-ahead buffer still holds, so the bytes after a match
    // are all in that buffer and the seek back to the match below is served
    // from it, without the file seek that re-opens the file.
    uint32_t room = kScanWindow - filled;
    uint32_t buffered = aheadEnd_ - aheadPos_;
    if (buffered > 0 && buffered < room) room = buffered;
    uint32_t got = 0;
    bool end = false;
    if (!readSource(window.p + filled, room, &got, &end, nullptr, log) ||
        got == 0) {
      return false;
    }
    filled += got;
    // The first match: only offsets holding the value's low byte can start
    // one, and memchr finds those far faster than a word compare at each.
    uint32_t i = 0;
    while (i + 4 <= filled) {
      const void* hit = memchr(window.p + i, first, filled - 3 - i);
      if (!hit) {
        i = filled - 3;
        break;
      }
      i = static_cast<uint32_t>(static_cast<const unsigned char*>(hit) -
                                window.p);
      if (loadLe32(window.p + i) == value) {
        int64_t after = static_cast<int64_t>(filled) - (i + 4);
        return seekRelative(-after, log);
      }
      ++i;
    }
    // Carry the 0 to 3 unexamined bytes to the front.
    uint32_t keep = filled - i;
    memmove(window.p, window.p + i, keep);
    filled = keep;
  }
}

bool FileDataSource::discardBytes(uint64_t count, ProgressMonitor*,
                                  LogBase& log) {
  return seekRelative(static_cast<int64_t>(count), log);
}

// ---- MemoryDataSource --------------------------------------------------

MemoryDataSource::MemoryDataSource() : DataSource(kMemorySource) {}

MemoryDataSource::~MemoryDataSource() { closeSource(); }

void MemoryDataSource::setData(const void* data, uint32_t length) {
  data_ = static_cast<const unsigned char*>(data);
  size_ = length;
  position_ = 0;
}

void MemoryDataSource::closeSource() {
  data_ = nullptr;
  size_ = 0;
  position_ = 0;
}

bool MemoryDataSource::readSource(void* buf, uint32_t maxCount,
                                  uint32_t* numRead, bool* endReached,
                                  ProgressMonitor*, LogBase&) {
  *numRead = 0;
  *endReached = false;
  if (!buf || maxCount == 0) return false;
  if (!data_ || size_ == 0) {
    *endReached = true;
    return true;
  }
  if (buf == data_ && maxCount == size_) {
    // The caller reads the whole buffer in place: nothing to copy.
    if (position_ != 0) return false;
    *numRead = maxCount;
    position_ = size_;
    return true;
  }
  uint64_t left = size_ - position_;
  uint32_t n = left < maxCount ? static_cast<uint32_t>(left) : maxCount;
  if (n) memcpy(buf, data_ + position_, n);
  position_ += n;
  *numRead = n;
  if (position_ >= size_ || n == 0) *endReached = true;
  return true;
}

bool MemoryDataSource::endOfStream() { return position_ >= size_; }

bool MemoryDataSource::seekAbsolute(int64_t position, LogBase&) {
  if (position < 0) position = 0;
  position_ = static_cast<uint64_t>(position) > size_
                  ? size_
                  : static_cast<uint64_t>(position);
  return true;
}

bool MemoryDataSource::seekRelative(int64_t distance, LogBase&) {
  if (distance < 0) {
    uint64_t back =
        distance == INT64_MIN ? UINT64_MAX : static_cast<uint64_t>(-distance);
    position_ = back >= position_ ? 0 : position_ - back;
  } else {
    uint64_t ahead = static_cast<uint64_t>(distance);
    position_ = ahead >= size_ - position_ ? size_ : position_ + ahead;
  }
  return true;
}

int64_t MemoryDataSource::getPosition() {
  return static_cast<int64_t>(position_);
}

void MemoryDataSource::rewindSource() { position_ = 0; }

bool MemoryDataSource::scanForUint32(uint32_t value, LogBase&) {
  if (!data_) return false;
  if (size_ - position_ < 4) {
    position_ = size_;
    return false;
  }
  for (uint64_t i = position_; i + 4 <= size_; ++i) {
    if (loadLe32(data_ + i) == value) {
      position_ = i + 4;
      return true;
    }
  }
  position_ = size_;
  return false;
}

bool MemoryDataSource::discardBytes(uint64_t count, ProgressMonitor*,
                                    LogBase& log) {
  return seekRelative(
      count > INT64_MAX ? INT64_MAX : static_cast<int64_t>(count), log);
}

}  // namespace sfx

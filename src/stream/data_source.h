// Byte sources: a forward stream with optional seeking. Every caller reads
// through readSourcePM, which reports progress and honours an abort.
// FileDataSource reads a file (the program's own executable) through a
// read-ahead buffer; MemoryDataSource reads a caller's buffer (a chunk on its
// way to the inflater).
#ifndef SFX_STREAM_DATA_SOURCE_H_
#define SFX_STREAM_DATA_SOURCE_H_

#include <cstdint>

#include "text/string_buffer.h"

namespace sfx {

class LogBase;
class MarlithHandle;
class ProgressMonitor;
class XString;

class DataSource {
 public:
  enum Kind : int32_t { kMemorySource = 1, kFileSource = 2 };

  explicit DataSource(int32_t kind) : kind_(kind) {}
  virtual ~DataSource();
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  virtual void closeSource();
  // Delivers up to maxCount bytes into buf. Stores the count in *numRead and
  // sets *endReached when the source ended. Returns false on failure.
  virtual bool readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                          bool* endReached, ProgressMonitor* pm, LogBase& log);
  virtual bool endOfStream();
  virtual bool seekAbsolute(int64_t position, LogBase& log);
  virtual bool seekRelative(int64_t distance, LogBase& log);
  virtual int64_t getPosition();
  virtual void rewindSource();
  // Scans forward for the 4 bytes of `value` (little-endian) and leaves the
  // position just after them. False when the source ends first.
  virtual bool scanForUint32(uint32_t value, LogBase& log);
  // Reads and throws away `count` bytes (or seeks past them).
  virtual bool discardBytes(uint64_t count, ProgressMonitor* pm, LogBase& log);

  // The read every caller uses. Returns the result of readSource; on a read
  // of one byte or more, adds the count to the total delivered and reports
  // it to the monitor (consumeBytes when progress by bytes is on, else
  // pollAbort). An abort logs "Source read aborted by application callback."
  // and returns false; the bytes stay in buf and *numRead stands. Callers
  // compare *numRead with count themselves.
  bool readSourcePM(void* buf, uint32_t count, uint32_t* numRead,
                    ProgressMonitor* pm, LogBase& log);

  uint64_t totalDelivered() const { return totalDelivered_; }
  int32_t kind() const { return kind_; }
  bool progressByBytes() const { return progressByBytes_; }
  void setProgressByBytes(bool on) { progressByBytes_ = on; }

 private:
  uint64_t totalDelivered_ = 0;
  int32_t kind_;
  bool progressByBytes_ = false;
};

// Reads a file. Reads smaller than kReadAheadSize are served from a
// read-ahead buffer that is refilled kReadAheadSize bytes at a time, so the
// payload reader's many small field reads cost one file read per block;
// larger reads take what the buffer still holds and read the rest straight
// into the caller's buffer. Positions are those of the bytes delivered: the
// bytes read ahead but not yet delivered never show. A read sets the end
// flag exactly when it delivers fewer bytes than asked for.
class FileDataSource : public DataSource {
 public:
  // The read-ahead block: 64 KB, the largest piece of one file read.
  static constexpr uint32_t kReadAheadSize = 65536;

  FileDataSource();
  ~FileDataSource() override;

  // Closes any open file and opens `path` for reading; keeps the path so the
  // file can be re-opened. Logs "Failed to open file data source." on failure.
  // The read-ahead buffer is allocated at the first open; when that fails
  // the source reads unbuffered.
  bool openDataSource(const XString& path, LogBase& log);
  // The size of the open file, or -1 when no file is open.
  int64_t getFileSize64(LogBase& log);
  void close();

  void closeSource() override;
  // On a failed file read *numRead holds the bytes delivered before it and
  // the end flag is set.
  bool readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                  bool* endReached, ProgressMonitor* pm, LogBase& log) override;
  bool endOfStream() override;
  // A position inside the bytes read ahead is reached without touching the
  // file; any other position drops them and seeks the file.
  bool seekAbsolute(int64_t position, LogBase& log) override;
  // Inside the bytes read ahead as seekAbsolute. Otherwise a backward seek
  // re-opens the file and seeks it to the new absolute position.
  bool seekRelative(int64_t distance, LogBase& log) override;
  // The position of the next byte to be delivered (0 when no file is open,
  // -1 when the file's position cannot be had).
  int64_t getPosition() override;
  void rewindSource() override;
  // Reads through the read-ahead buffer, a window of 20,000 bytes or what
  // the buffer holds at a time; the seek back to a match stays inside the
  // buffer, so the scan never re-opens the file.
  bool scanForUint32(uint32_t value, LogBase& log) override;
  bool discardBytes(uint64_t count, ProgressMonitor* pm, LogBase& log) override;

 private:
  bool openPath(LogBase& log);
  // Copies up to `count` read-ahead bytes to `out`; returns how many.
  uint32_t takeAhead(unsigned char* out, uint32_t count);
  void dropAhead() { aheadPos_ = aheadEnd_ = 0; }

  bool endReached_ = false;
  MarlithHandle* file_ = nullptr;
  StringBuffer path_;  // UTF-8
  // kReadAheadSize bytes, or none. Bytes [aheadPos_, aheadEnd_) are read
  // from the file but not yet delivered; the file stands just after them.
  unsigned char* ahead_ = nullptr;
  uint32_t aheadPos_ = 0;
  uint32_t aheadEnd_ = 0;
};

class MemoryDataSource : public DataSource {
 public:
  MemoryDataSource();
  ~MemoryDataSource() override;

  // Points the source at `data`, which it never owns (the caller keeps it
  // alive while the source reads it): size = length, position 0.
  void setData(const void* data, uint32_t length);

  void closeSource() override;
  bool readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                  bool* endReached, ProgressMonitor* pm, LogBase& log) override;
  bool endOfStream() override;
  bool seekAbsolute(int64_t position, LogBase& log) override;
  bool seekRelative(int64_t distance, LogBase& log) override;
  int64_t getPosition() override;
  void rewindSource() override;
  bool scanForUint32(uint32_t value, LogBase& log) override;
  bool discardBytes(uint64_t count, ProgressMonitor* pm, LogBase& log) override;

 private:
  const unsigned char* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
};

}  // namespace sfx

#endif  // SFX_STREAM_DATA_SOURCE_H_

// Byte sinks. Output is the base and, used on its own, the sink that
// discards everything; OutputDataBuffer lays a sink over a caller's
// DataBuffer. Every write goes through writeBytesPM, which counts the bytes,
// keeps the running Adler-32 when asked, reports to the progress monitor and
// honours its abort.
#ifndef SFX_STREAM_OUTPUT_H_
#define SFX_STREAM_OUTPUT_H_

#include <cstdint>

namespace sfx {

class DataBuffer;
class LogBase;
class ProgressMonitor;

class Output {
 public:
  enum Kind : int32_t {
    kPlainOutput = 0,
    kDataBufferOutput = 1,
    kFileOutput = 2,
  };

  // A plain, discarding output.
  Output();
  virtual ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Takes `count` bytes at `data`; the pointer may be null only when count
  // is 0. Returns false when the sink cannot take them. The plain output
  // discards them and returns true. Callers use writeBytesPM instead.
  virtual bool writeBytes(const void* data, uint32_t count, ProgressMonitor* pm,
                          LogBase& log);
  // Moves the write position to the end of what was written. Plain: true.
  virtual bool seekToEnd(LogBase& log);
  // Moves the write position to `position`. Plain: true.
  virtual bool seekAbsolute(uint64_t position, LogBase& log);
  // The write position. Plain: 0.
  virtual uint64_t getPosition();
  // Starts the sink over. Plain: true.
  virtual bool resetOutput(LogBase& log);

  // The progress-aware write every caller uses. A null `data` or a count of
  // 0 succeeds at once and changes nothing. Otherwise calls writeBytes; on
  // its failure sets failed() and returns false. Then adds the count to
  // totalWritten() and, while the running Adler-32 is on, updates it over
  // the bytes. With a monitor: reports the count (consumeBytes) when
  // progress by bytes is on, else calls pollAbort; an abort logs "Output
  // aborted by application callback.", sets failed() and returns false.
  bool writeBytesPM(const void* data, uint32_t count, ProgressMonitor* pm,
                    LogBase& log);

  // Notifications around one transfer (an inflation, a copy). They count
  // the transfers begun and keep whether one is open; they change neither
  // the bytes nor the checksum.
  void beginTransfer();
  void endTransfer();
  bool inTransfer() const { return inTransfer_; }
  uint32_t transfersBegun() const { return transfersBegun_; }

  // The running Adler-32 over every byte accepted by writeBytesPM while it
  // is on. Switching it on restarts it at 1 (kAdler32Init); switching it
  // off keeps the last value.
  void setRunningAdler32(bool on);
  bool runningAdler32On() const { return adlerOn_; }
  uint32_t runningAdler32() const { return adler_; }

  int32_t kind() const { return kind_; }
  // Set when a write failed or was aborted; never cleared.
  bool failed() const { return failed_; }
  uint64_t totalWritten() const { return totalWritten_; }
  bool progressByBytes() const { return progressByBytes_; }
  void setProgressByBytes(bool on) { progressByBytes_ = on; }

 protected:
  explicit Output(int32_t kind);

 private:
  int32_t kind_;
  bool failed_ = false;
  uint64_t totalWritten_ = 0;
  bool progressByBytes_ = false;
  bool adlerOn_ = false;
  uint32_t adler_ = 1;
  bool inTransfer_ = false;
  uint32_t transfersBegun_ = 0;
};

// A sink that writes into a DataBuffer it does not own; the caller keeps the
// buffer alive while the output is used. Writes land at an index that starts
// at the buffer's size when the output is built, so it appends after what
// the buffer already holds; writes inside the data overwrite it, and a write
// beyond the end first fills the gap with zero bytes. Once the buffer cannot
// grow, the output is marked failed and refuses every further write.
class OutputDataBuffer : public Output {
 public:
  // `target` may be null: every write then fails.
  explicit OutputDataBuffer(DataBuffer* target);
  ~OutputDataBuffer() override;

  // On a failed growth logs "Failed to allocate memory for output data
  // buffer." with "ensureSz0", "ensureSz", "m_idx" and "size".
  bool writeBytes(const void* data, uint32_t count, ProgressMonitor* pm,
                  LogBase& log) override;
  // The index becomes the target's size; false without a target.
  bool seekToEnd(LogBase& log) override;
  // False when the output failed, without a target, or when `position`
  // does not fit in 32 bits. A position past the target's size takes no
  // memory yet; the next write zero-fills the gap.
  bool seekAbsolute(uint64_t position, LogBase& log) override;
  // The index; 0 without a target.
  uint64_t getPosition() override;
  // Index 0 and the target emptied; true.
  bool resetOutput(LogBase& log) override;

  bool bufferFailed() const { return bufferFailed_; }

 private:
  DataBuffer* target_;
  uint32_t index_;
  bool bufferFailed_ = false;
};

}  // namespace sfx

#endif  // SFX_STREAM_OUTPUT_H_

// OutputFile: the sink that writes an extracted file through the file
// handle it owns, and sets the file's times when the entry is done.
#ifndef SFX_STREAM_OUTPUT_FILE_H_
#define SFX_STREAM_OUTPUT_FILE_H_

#include <cstdint>

#include "fs/file.h"
#include "stream/output.h"
#include "text/xstring.h"

namespace sfx {

class FileTime;

class OutputFile : public Output {
 public:
  // Takes over the open handle (`handle` is left empty) and keeps the path.
  OutputFile(const char* utf8Path, MarlithHandle& handle);
  ~OutputFile() override;

  bool writeBytes(const void* data, uint32_t count, ProgressMonitor* pm,
                  LogBase& log) override;
  bool seekToEnd(LogBase& log) override;
  bool seekAbsolute(uint64_t position, LogBase& log) override;
  uint64_t getPosition() override { return position_; }
  // Starts the file over: when anything was written (even if the position
  // was moved back to 0), closes it, deletes it and opens the path again as
  // a new file for reading and writing; size and position become 0.
  bool resetOutput(LogBase& log) override;

  bool isOpen() const { return file_.isOpen(); }
  // Sets the three file times to `t` (whole seconds, after the
  // daylight-saving shift) through the open handle; without one, through
  // the path.
  bool setFileTime(const FileTime& t, LogBase* log);
  void close() { file_.close(); }

  uint64_t size() const { return size_; }
  uint64_t bytesWritten() const { return bytesWritten_; }
  const XString& path() const { return path_; }

 private:
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  MarlithHandle file_;
  XString path_;
  uint64_t bytesWritten_ = 0;
};

}  // namespace sfx

#endif  // SFX_STREAM_OUTPUT_FILE_H_

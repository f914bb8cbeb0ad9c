// A read-ahead data source for the packer's reading commands: the payload
// reader asks for a few bytes per field, and each such read would otherwise
// be a system call.
#ifndef SFX_TOOLS_SFXPACK_BUFFERED_SOURCE_H_
#define SFX_TOOLS_SFXPACK_BUFFERED_SOURCE_H_

#include <cstdint>
#include <memory>

#include "stream/data_source.h"

namespace sfxpack {

class BufferedSource : public sfx::DataSource {
 public:
  // Reads forward from the current position of `inner` (not owned), which
  // must not be read by anyone else while this source is used.
  explicit BufferedSource(sfx::DataSource* inner);
  ~BufferedSource() override;

  // Delivers exactly maxCount bytes unless the inner source ends or fails
  // first; reads of at least the buffer's size bypass the buffer. Returns
  // false when an inner read fails (the bytes delivered before stay counted
  // in *numRead).
  bool readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                  bool* endReached, sfx::ProgressMonitor* pm,
                  sfx::LogBase& log) override;
  bool endOfStream() override;

  static constexpr uint32_t kBufferSize = 256 * 1024;

 private:
  sfx::DataSource* inner_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t begin_ = 0;
  uint32_t end_ = 0;
  bool innerEnded_ = false;
};

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_BUFFERED_SOURCE_H_

// Read-ahead over another data source.
#include "buffered_source.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sfxpack {

BufferedSource::BufferedSource(sfx::DataSource* inner)
    : sfx::DataSource(kFileSource),
      inner_(inner),
      buffer_(new (std::nothrow) uint8_t[kBufferSize]) {}

BufferedSource::~BufferedSource() = default;

bool BufferedSource::readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                                bool* endReached, sfx::ProgressMonitor* pm,
                                sfx::LogBase& log) {
  uint8_t* out = static_cast<uint8_t*>(buf);
  *numRead = 0;
  while (*numRead < maxCount) {
    uint32_t want = maxCount - *numRead;
    if (begin_ < end_) {
      uint32_t take = std::min(want, end_ - begin_);
      memcpy(out + *numRead, buffer_.get() + begin_, take);
      begin_ += take;
      *numRead += take;
      continue;
    }
    if (innerEnded_) break;
    // Large reads, and every read when the buffer could not be had, go
    // straight to the inner source.
    bool direct = want >= kBufferSize || !buffer_;
    uint8_t* target = direct ? out + *numRead : buffer_.get();
    uint32_t got = 0;
    bool ended = false;
    if (!inner_->readSource(target, direct ? want : kBufferSize, &got, &ended,
                            pm, log)) {
      return false;
    }
    if (ended || got == 0) innerEnded_ = true;
    if (direct) {
      *numRead += got;
    } else {
      begin_ = 0;
      end_ = got;
    }
  }
  if (endReached) *endReached = begin_ == end_ && innerEnded_;
  return true;
}

bool BufferedSource::endOfStream() {
  return begin_ == end_ && (innerEnded_ || inner_->endOfStream());
}

}  // namespace sfxpack

// The discarding base sink, the progress-aware write shared by all sinks,
// and the sink over a DataBuffer.
#include "stream/output.h"

#include <cstring>

#include "codec/adler32.h"
#include "log/log_base.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"

namespace sfx {

// ---- Output -----------------------------------------------------------------

Output::Output() : kind_(kPlainOutput) {}

Output::Output(int32_t kind) : kind_(kind) {}

Output::~Output() = default;

bool Output::writeBytes(const void*, uint32_t, ProgressMonitor*, LogBase&) {
  return true;
}

bool Output::seekToEnd(LogBase&) { return true; }

bool Output::seekAbsolute(uint64_t, LogBase&) { return true; }

uint64_t Output::getPosition() { return 0; }

bool Output::resetOutput(LogBase&) { return true; }

bool Output::writeBytesPM(const void* data, uint32_t count, ProgressMonitor* pm,
                          LogBase& log) {
  if (!data || count == 0) return true;
  if (!writeBytes(data, count, pm, log)) {
    failed_ = true;
    return false;
  }
  totalWritten_ += count;
  if (adlerOn_) adler_ = adler32Update(adler_, data, count);
  if (pm) {
    bool aborted =
        progressByBytes_ ? pm->consumeBytes(count, log) : pm->pollAbort();
    if (aborted) {
      log.logError("Output aborted by application callback.");
      failed_ = true;
      return false;
    }
  }
  return true;
}

void Output::beginTransfer() {
  inTransfer_ = true;
  ++transfersBegun_;
}

void Output::endTransfer() { inTransfer_ = false; }

void Output::setRunningAdler32(bool on) {
  if (on) adler_ = kAdler32Init;
  adlerOn_ = on;
}

// ---- OutputDataBuffer -------------------------------------------------------

OutputDataBuffer::OutputDataBuffer(DataBuffer* target)
    : Output(kDataBufferOutput),
      target_(target),
      index_(target ? target->getSize() : 0) {}

OutputDataBuffer::~OutputDataBuffer() = default;

bool OutputDataBuffer::writeBytes(const void* data, uint32_t count,
                                  ProgressMonitor*, LogBase& log) {
  if (!data || count == 0) return true;
  if (bufferFailed_ || !target_) return false;

  // Computed in 64 bits: an index near 4 GB must fail, not wrap around.
  uint64_t needed = uint64_t{index_} + count + 8;
  uint64_t grown = needed + needed / 2;
  if (target_->getCapacity() < needed) {
    bool ok = grown <= UINT32_MAX &&
              target_->ensureCapacity(static_cast<uint32_t>(grown));
    if (!ok) {
      log.logError("Failed to allocate memory for output data buffer.");
      log.logDataInt64("ensureSz0", static_cast<int64_t>(needed));
      log.logDataInt64("ensureSz", static_cast<int64_t>(grown));
      log.logDataUint32("m_idx", index_);
      log.logDataUint32("size", count);
      bufferFailed_ = true;
      return false;
    }
  }

  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  uint32_t size = target_->getSize();
  if (index_ < size) {
    // Overwrite what lies inside the data, append the rest.
    uint32_t inside = size - index_ < count ? size - index_ : count;
    std::memmove(target_->getData() + index_, bytes, inside);
    if (!target_->append(bytes + inside, count - inside)) {
      bufferFailed_ = true;
      return false;
    }
  } else {
    static const uint8_t kZeros[256] = {};
    while (target_->getSize() < index_) {
      uint32_t gap = index_ - target_->getSize();
      if (!target_->append(kZeros, gap < sizeof kZeros ? gap : sizeof kZeros)) {
        bufferFailed_ = true;
        return false;
      }
    }
    if (!target_->append(bytes, count)) {
      bufferFailed_ = true;
      return false;
    }
  }
  index_ += count;
  return true;
}

bool OutputDataBuffer::seekToEnd(LogBase&) {
  if (!target_) return false;
  index_ = target_->getSize();
  return true;
}

bool OutputDataBuffer::seekAbsolute(uint64_t position, LogBase&) {
  if (bufferFailed_ || !target_ || position > UINT32_MAX) return false;
  // No memory is taken here: the next write grows the buffer, zero-fills
  // the gap and reports a growth that cannot be had.
  index_ = static_cast<uint32_t>(position);
  return true;
}

uint64_t OutputDataBuffer::getPosition() { return target_ ? index_ : 0; }

bool OutputDataBuffer::resetOutput(LogBase&) {
  index_ = 0;
  if (target_) target_->clear();
  return true;
}

}  // namespace sfx

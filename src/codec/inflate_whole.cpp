// inflateWhole: one raw Deflate stream held whole in memory, decoded into a
// flat buffer of known capacity.
#include <cstring>

#include "codec/inflate.h"
#include "log/log_base.h"
#include "stream/output.h"

namespace sfx {
namespace {

// Copies decoded bytes into the caller's buffer and refuses what would not
// fit.
class FlatOutput : public Output {
 public:
  FlatOutput(uint8_t* out, uint32_t capacity) : out_(out), capacity_(capacity) {}
  bool writeBytes(const void* data, uint32_t count, ProgressMonitor*,
                  LogBase&) override {
    if (count > capacity_ - used_) {
      overflow_ = true;
      return false;
    }
    std::memcpy(out_ + used_, data, count);
    used_ += count;
    return true;
  }
  uint32_t used() const { return used_; }
  bool overflow() const { return overflow_; }

 private:
  uint8_t* out_;
  uint32_t capacity_;
  uint32_t used_ = 0;
  bool overflow_ = false;
};

}  // namespace

WholeInflate inflateWhole(const uint8_t* input, uint32_t count, uint8_t* out,
                          uint32_t capacity, uint32_t* produced) {
  InflateState state(false, false);
  FlatOutput sink(out, capacity);
  LogNull quiet;
  uint32_t surplus = 0;
  bool ok = inflateBlock(state, input, count, &surplus, sink, nullptr, quiet);
  if (sink.overflow()) return WholeInflate::kTooLarge;
  if (!ok || sink.failed() || !state.finished) return WholeInflate::kBadData;
  *produced = sink.used();
  return WholeInflate::kDone;
}

}  // namespace sfx

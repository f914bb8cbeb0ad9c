#include "stream/progress_monitor.h"

#include "log/log_base.h"
#include "os/os.h"

namespace sfx {

ProgressEvent::~ProgressEvent() { marker_ = 0; }

void ProgressEvent::percentDone(uint32_t, bool* abort) {
  if (abort) *abort = false;
}

void ProgressEvent::abortCheck(bool* abort) {
  if (abort) *abort = false;
}

void AsyncProgressEvent::percentDone(uint32_t percent, bool* abort) {
  lastPercent_ = percent;
  if (abort) *abort = abortRequested_;
}

void AsyncProgressEvent::abortCheck(bool* abort) {
  if (abort) *abort = abortRequested_;
}

ProgressMonitor::ProgressMonitor(ProgressEvent* sink, uint32_t heartbeatMs,
                                 int64_t total)
    : sink_(sink ? sink : &ownSink_),
      total_(total < 0 ? 0 : total),
      heartbeatMs_(heartbeatMs),
      lastCallbackTick_(tickCount()) {}

ProgressMonitor::~ProgressMonitor() = default;

uint32_t ProgressMonitor::percentOf(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  while (total > 1000000) {
    done /= 10;
    total /= 10;
  }
  return static_cast<uint32_t>(done * 100 / total);
}

bool ProgressMonitor::consumeBytes(int64_t amount, LogBase& log) {
  if (amount < 0) amount = 0;
  uint32_t before = percentOf(done_, total_);
  done_ += amount;
  if (done_ > total_) done_ = total_;
  uint32_t after = percentOf(done_, total_);
  if (after > before && after > lastPercent_) {
    lastCallbackTick_ = tickCount();
    lastPercent_ = after;
    if (log.verbose()) log.logDataUint32("percentDoneCB", after);
    if (sink_->isValid()) {
      bool abort = false;
      sink_->percentDone(after, &abort);
      if (abort) aborted_ = true;
    }
  } else if (!heartbeatSuppressed_ && heartbeatMs_ != 0) {
    uint32_t now = tickCount();
    if (now - lastCallbackTick_ > heartbeatMs_) {
      lastHeartbeatTick_ = lastCallbackTick_ = now;
      if (sink_->isValid()) {
        bool abort = false;
        sink_->abortCheck(&abort);
        if (abort) aborted_ = true;
      }
    }
  }
  return aborted_;
}

bool ProgressMonitor::consumeSilently(int64_t amount, LogBase& log) {
  bool saved = heartbeatSuppressed_;
  heartbeatSuppressed_ = true;
  bool aborted = consumeBytes(amount, log);
  heartbeatSuppressed_ = saved;
  return aborted;
}

bool ProgressMonitor::pollAbort() {
  if (aborted_) return true;
  if (heartbeatMs_ == 0 || !sink_) return false;
  uint32_t now = tickCount();
  if (now <= lastHeartbeatTick_) {
    lastHeartbeatTick_ = now;
    return false;
  }
  if (now - lastHeartbeatTick_ >= heartbeatMs_) {
    lastHeartbeatTick_ = lastCallbackTick_ = now;
    if (sink_->isValid()) sink_->abortCheck(&aborted_);
    return aborted_;
  }
  return false;
}

void ProgressMonitor::setAmountDone(int64_t amount, bool* abort, LogBase& log) {
  if (abort) *abort = false;
  if (amount < 0) amount = 0;
  uint32_t before = percentOf(done_, total_);
  done_ = amount < total_ ? amount : total_;
  uint32_t after = percentOf(done_, total_);
  if (sink_ && after > before && after > lastPercent_) {
    lastPercent_ = after;
    if (log.verbose()) log.logDataUint32("setPercentDoneCB", after);
    bool local = false;
    bool* flag = abort ? abort : &local;
    if (sink_->isValid()) sink_->percentDone(after, flag);
    if (*flag) aborted_ = true;
  }
}

void ProgressMonitor::progressReset(int64_t total, LogBase& log) {
  if (log.verbose()) log.logDataInt64("progressReset", total);
  total_ = total < 0 ? 0 : total;
  done_ = 0;
  aborted_ = false;
  lastPercent_ = 0;
}

void ProgressMonitor::consumeRemaining(LogBase& log) {
  if (done_ < total_) consumeSilently(total_ - done_, log);
}

}  // namespace sfx

// Progress accounting: turns byte counts into whole percentages for the
// application's ProgressEvent, carries its abort request to every read and
// write, and calls it at least once per heartbeat interval.
#ifndef SFX_STREAM_PROGRESS_MONITOR_H_
#define SFX_STREAM_PROGRESS_MONITOR_H_

#include <cstdint>

namespace sfx {

class LogBase;

// The application's callbacks. The monitor calls an event only while its
// validity marker is intact.
class ProgressEvent {
 public:
  static constexpr uint32_t kValidMarker = 0x77109ACDu;

  ProgressEvent() = default;
  virtual ~ProgressEvent();
  ProgressEvent(const ProgressEvent&) = delete;
  ProgressEvent& operator=(const ProgressEvent&) = delete;

  // A new whole percentage (0 to 100). Set *abort to ask for an abort.
  virtual void percentDone(uint32_t percent, bool* abort);
  // Periodic chance to ask for an abort.
  virtual void abortCheck(bool* abort);

  bool isValid() const { return marker_ == kValidMarker; }

 private:
  uint32_t marker_ = kValidMarker;
};

// The passive sink a monitor uses when it is given none: remembers the last
// percentage and answers with its abort-requested flag.
class AsyncProgressEvent : public ProgressEvent {
 public:
  void percentDone(uint32_t percent, bool* abort) override;
  void abortCheck(bool* abort) override;

  void requestAbort() { abortRequested_ = true; }
  uint32_t lastPercent() const { return lastPercent_; }

 private:
  bool abortRequested_ = false;
  uint32_t lastPercent_ = 0;
};

class ProgressMonitor {
 public:
  // `sink` is not owned; nullptr uses the monitor's own passive sink. A
  // negative total is stored as 0. A heartbeat interval of 0 means none.
  ProgressMonitor(ProgressEvent* sink, uint32_t heartbeatMs, int64_t total);
  virtual ~ProgressMonitor();
  ProgressMonitor(const ProgressMonitor&) = delete;
  ProgressMonitor& operator=(const ProgressMonitor&) = delete;

  // done * 100 / total in 64-bit integers, scaling both down by 10 while the
  // total exceeds 1,000,000; 100 when the total is 0 or less.
  static uint32_t percentOf(int64_t done, int64_t total);

  bool isAborted() const { return aborted_; }

  // Adds `amount` to the amount done and calls the sink when the whole
  // percentage rises, or its abort check when a heartbeat is due. Returns
  // the aborted flag.
  bool consumeBytes(int64_t amount, LogBase& log);
  // consumeBytes without the heartbeat.
  bool consumeSilently(int64_t amount, LogBase& log);
  // The abort test of writes and of reads that report no byte counts.
  bool pollAbort();
  void setAmountDone(int64_t amount, bool* abort, LogBase& log);
  void progressReset(int64_t total, LogBase& log);
  // Brings the amount done up to the total.
  void consumeRemaining(LogBase& log);

  int64_t amountDone() const { return done_; }
  int64_t total() const { return total_; }
  uint32_t lastPercent() const { return lastPercent_; }

 private:
  AsyncProgressEvent ownSink_;
  ProgressEvent* sink_;
  int64_t total_;
  int64_t done_ = 0;
  uint32_t lastPercent_ = 0;
  bool aborted_ = false;
  uint32_t heartbeatMs_;
  uint32_t lastCallbackTick_;
  uint32_t lastHeartbeatTick_ = 0;
  bool heartbeatSuppressed_ = false;
};

}  // namespace sfx

#endif  // SFX_STREAM_PROGRESS_MONITOR_H_

// The critical section that Logger and the random source hold for each
// public operation, and its scoped guard. The program runs one thread; the
// section takes no OS lock and only checks that it is still alive.
#ifndef SFX_LOG_CRIT_SEC_H_
#define SFX_LOG_CRIT_SEC_H_

#include <cstdint>

namespace sfx {

// Not polymorphic: owners hold it as a member or a base, never delete it
// through a MarlithCritSec pointer.
// Entering and leaving check the validity tag; a mismatch (use after
// destruction or a corrupt object) stops the process through
// fatalInternalError.
class MarlithCritSec {
 public:
  MarlithCritSec() = default;
  ~MarlithCritSec();

  MarlithCritSec(const MarlithCritSec&) = delete;
  MarlithCritSec& operator=(const MarlithCritSec&) = delete;

  void enterCriticalSection();
  void leaveCriticalSection();

  // 0xcbcb2903 while the section is alive, 0 after its destruction.
  static constexpr uint32_t kValidTag = 0xcbcb2903u;

 private:
  void checkValid() const;

  uint32_t valid_ = kValidTag;
};

// Enters `section` on construction and leaves it on destruction.
class CritSecExitor {
 public:
  explicit CritSecExitor(MarlithCritSec& section);
  ~CritSecExitor();

  CritSecExitor(const CritSecExitor&) = delete;
  CritSecExitor& operator=(const CritSecExitor&) = delete;

  // 0x7521a004 while the guard is alive, 0 after its destruction.
  static constexpr uint32_t kValidTag = 0x7521a004u;

 private:
  MarlithCritSec& section_;
  uint32_t valid_ = kValidTag;
};

}  // namespace sfx

#endif  // SFX_LOG_CRIT_SEC_H_

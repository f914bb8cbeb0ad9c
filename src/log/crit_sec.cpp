// MarlithCritSec and CritSecExitor: validity checks only, no OS lock.
#include "log/crit_sec.h"

#include "os/os.h"

namespace sfx {

MarlithCritSec::~MarlithCritSec() {
  checkValid();
  valid_ = 0;
}

void MarlithCritSec::checkValid() const {
  if (valid_ != kValidTag) {
    fatalInternalError("MarlithCritSec used after destruction or corrupt");
  }
}

void MarlithCritSec::enterCriticalSection() { checkValid(); }

void MarlithCritSec::leaveCriticalSection() { checkValid(); }

CritSecExitor::CritSecExitor(MarlithCritSec& section) : section_(section) {
  section_.enterCriticalSection();
}

CritSecExitor::~CritSecExitor() {
  if (valid_ != kValidTag) {
    fatalInternalError("CritSecExitor used after destruction or corrupt");
  }
  section_.leaveCriticalSection();
  valid_ = 0;
}

}  // namespace sfx

// LogBase::logDataX, apart from log_base.cpp because XString belongs to a
// higher layer than the log interface.
#include "log/log_base.h"
#include "text/xstring.h"

namespace sfx {

bool LogBase::logDataX(const char* tag, const XString& value) {
  return logData(tag, value.getUtf8());
}

}  // namespace sfx

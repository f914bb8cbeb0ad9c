// LogBase: the do-nothing virtual operations and the conveniences built on
// logData; LogNull; LogContextExitor.
#include "log/log_base.h"

#include <cinttypes>
#include <cstdio>

#include "os/os.h"
#include "text/string_buffer.h"

namespace sfx {

// The OS message text of one error code fits in this buffer, as on Windows.
constexpr size_t kOsErrorTextSize = 1024;

LogBase::~LogBase() = default;

void LogBase::getLogXml(StringBuffer& /*out*/) {}
void LogBase::getLogHtml(StringBuffer& /*out*/) {}
void LogBase::getLogText(StringBuffer& /*out*/) {}
bool LogBase::saveLogXml(const char* /*path*/, uint32_t /*reserved*/) {
  return true;
}
bool LogBase::logError(const char* /*text*/) { return true; }
bool LogBase::logInfo(const char* /*text*/) { return true; }
bool LogBase::logRaw(const char* /*text*/) { return true; }
bool LogBase::clearLog() { return true; }
bool LogBase::enterContext(const char* /*tag*/, bool /*flag*/) { return true; }
bool LogBase::leaveContext() { return true; }
bool LogBase::logData(const char* /*tag*/, const char* /*value*/) {
  return true;
}

bool LogBase::logDataLong(const char* tag, int32_t value) {
  char buf[16];
  snprintf(buf, sizeof buf, "%" PRId32, value);
  return logData(tag, buf);
}

bool LogBase::logDataUint32(const char* tag, uint32_t value) {
  char buf[16];
  snprintf(buf, sizeof buf, "%" PRIu32, value);
  return logData(tag, buf);
}

bool LogBase::logDataInt64(const char* tag, int64_t value) {
  char buf[32];
  snprintf(buf, sizeof buf, "%" PRId64, value);
  return logData(tag, buf);
}

bool LogBase::logDataHex(const char* tag, uint32_t value) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%" PRIx32, value);
  return logData(tag, buf);
}

bool LogBase::logDataSb(const char* tag, const StringBuffer& value) {
  return logData(tag, value.getString());
}

// logDataX lives in log_base_xstring.cpp: XString sits above this file.

void LogBase::logLastWindowsError() {
  uint32_t code = lastOsError();
  char text[kOsErrorTextSize];
  osErrorText(code, text, sizeof text);
  logData("WindowsError", text);
  logDataHex("WindowsErrorCode", code);
}

void LogBase::logWindowsError(uint32_t code) {
  if (code == 0) return;
  char text[kOsErrorTextSize];
  osErrorText(code, text, sizeof text);
  logData("WindowsError", text);
}

void LogBase::memoryAllocFailed(int failurePoint, int numBytes) {
  logError("Memory allocation failed.");
  logDataLong("failurePoint", failurePoint);
  logDataLong("numBytes", numBytes);
}

LogNull::~LogNull() = default;

LogContextExitor::LogContextExitor(LogBase* log, const char* tag)
    : LogContextExitor(log, tag, true) {}

LogContextExitor::LogContextExitor(LogBase& log, const char* tag)
    : LogContextExitor(&log, tag, true) {}

LogContextExitor::LogContextExitor(LogBase* log, const char* tag, bool enter) {
  if (log && enter) {
    log_ = log;
    log_->enterContext(tag, true);
  }
}

LogContextExitor::~LogContextExitor() {
  if (valid_ != kValidTag) {
    fatalInternalError("LogContextExitor used after destruction or corrupt");
  }
  if (log_) log_->leaveContext();
  valid_ = 0;
}

}  // namespace sfx

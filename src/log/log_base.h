// The log interface every operation writes into, the log that keeps nothing,
// and the scoped guard that pairs enterContext with leaveContext.
// All texts, tags and values are zero-terminated 8-bit strings in UTF-8.
#ifndef SFX_LOG_LOG_BASE_H_
#define SFX_LOG_LOG_BASE_H_

#include <cstdint>

namespace sfx {

class StringBuffer;
class XString;

// Base class of every log. Usable as is: every virtual operation does
// nothing and reports success, which is exactly what LogNull does. Logger
// (log/logger.h) keeps the records as a tree and renders it.
//
// Operations never fail their caller except where noted; a log that cannot
// store an entry drops it silently.
class LogBase {
 public:
  LogBase() = default;
  virtual ~LogBase();

  LogBase(const LogBase&) = delete;
  LogBase& operator=(const LogBase&) = delete;

  // Empty `out`, then append the XML, HTML or indented-text rendering of the
  // whole log. The base versions leave `out` untouched.
  virtual void getLogXml(StringBuffer& out);
  virtual void getLogHtml(StringBuffer& out);
  virtual void getLogText(StringBuffer& out);

  // Writes the XML rendering as the whole content of the file at `path`.
  // `reserved` is read by no implementation; pass 0. Returns false when the
  // file cannot be written. The base version returns true.
  virtual bool saveLogXml(const char* path, uint32_t reserved);

  // Add an error, an information or a raw-text entry to the current context.
  // A null text adds nothing. Return true.
  virtual bool logError(const char* text);
  virtual bool logInfo(const char* text);
  virtual bool logRaw(const char* text);

  // Drops every entry and starts again with an empty root context.
  virtual bool clearLog();

  // Opens a child context named `tag` of the current context and makes it
  // current. `flag` is read by no implementation; callers pass true.
  virtual bool enterContext(const char* tag, bool flag);

  // Closes the current context. Never closes the root.
  virtual bool leaveContext();

  // Adds a name/value entry. The tag is trimmed of space, tab, CR and LF and
  // its inner spaces become "_"; when nothing remains the call returns false
  // and logs nothing. A null value is logged as "(NULL)".
  virtual bool logData(const char* tag, const char* value);

  // Conveniences built on logData. Return what logData returns.
  bool logDataLong(const char* tag, int32_t value);     // decimal, signed
  bool logDataUint32(const char* tag, uint32_t value);  // decimal
  bool logDataInt64(const char* tag, int64_t value);    // decimal, signed
  bool logDataHex(const char* tag, uint32_t value);     // "0x%x"
  bool logDataSb(const char* tag, const StringBuffer& value);
  bool logDataX(const char* tag, const XString& value);  // its UTF-8 form

  // Reads the calling thread's last OS error code, then logs "WindowsError"
  // with the system message text for it and "WindowsErrorCode" as "0x%x".
  void logLastWindowsError();

  // Logs "WindowsError" with the system message text for `code`; a code of
  // 0 logs nothing.
  void logWindowsError(uint32_t code);

  // Logs the error "Memory allocation failed." and the named values
  // "failurePoint" and "numBytes".
  void memoryAllocFailed(int failurePoint, int numBytes);

  // The verbose flag, false at construction. A Logger times its contexts
  // while it is set.
  bool verbose() const { return verbose_; }
  void setVerbose(bool on) { verbose_ = on; }

 private:
  bool verbose_ = false;
};

// A log that accepts every call and keeps nothing; pass it when nobody will
// read the log.
class LogNull : public LogBase {
 public:
  LogNull() = default;
  ~LogNull() override;
};

// Scoped guard: enters a context on construction and leaves it on
// destruction. A null log, or a false `enter`, makes the guard hold no log;
// its destructor then touches no log.
class LogContextExitor {
 public:
  LogContextExitor(LogBase* log, const char* tag);
  LogContextExitor(LogBase* log, const char* tag, bool enter);
  LogContextExitor(LogBase& log, const char* tag);
  ~LogContextExitor();

  LogContextExitor(const LogContextExitor&) = delete;
  LogContextExitor& operator=(const LogContextExitor&) = delete;

  // 0xcc38a8b8 while the guard is alive, 0 after its destruction.
  static constexpr uint32_t kValidTag = 0xcc38a8b8u;

 private:
  LogBase* log_ = nullptr;
  uint32_t valid_ = kValidTag;
};

}  // namespace sfx

#endif  // SFX_LOG_LOG_BASE_H_

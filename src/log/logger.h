// Logger: the log that keeps every record as a tree of contexts and entries,
// renders it as text, XML or HTML, and can echo each record to a file.
#ifndef SFX_LOG_LOGGER_H_
#define SFX_LOG_LOGGER_H_

#include <cstdint>

#include "log/crit_sec.h"
#include "log/log_base.h"
#include "log/log_entry.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {

// The tree of a Logger and its stack of open contexts. Element 0 of the
// stack is the root context; the last element is the current context. The
// root owns every node; the stack only points into the tree.
class ErrorLog {
 public:
  // A tree holding only a root context named `rootName`, not timed. When
  // memory for the root cannot be allocated the log has no root and drops
  // every entry.
  explicit ErrorLog(const char* rootName);
  virtual ~ErrorLog();
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;

  LogEntry2* root() const { return stack_.elementAtAs<LogEntry2>(0); }
  LogEntry2* current() const {
    return static_cast<LogEntry2*>(stack_.lastElement());
  }
  int stackSize() const { return stack_.getSize(); }

  // Pushes a context already attached to the tree. False when the stack
  // cannot grow.
  bool push(LogEntry2* context) { return stack_.append(context); }
  // Pops the current context unless it is the root; returns it, or null.
  LogEntry2* pop();

 private:
  ExtPtrArray stack_;  // does not own; the root is deleted by ~ErrorLog
};

// The in-memory tree log. Every public operation holds the logger's critical
// section. Logging never fails its caller: a full context (10000 children)
// or a failed allocation drops the entry.
class Logger : public LogBase, public MarlithCritSec {
 public:
  // The tag of the root context.
  static constexpr const char* kRootName = "MarlithLog";

  // An empty tree (root only), depth 0, verbose off, no echo file.
  Logger();
  ~Logger() override;

  void getLogXml(StringBuffer& out) override;
  void getLogHtml(StringBuffer& out) override;
  void getLogText(StringBuffer& out) override;
  bool saveLogXml(const char* path, uint32_t reserved) override;
  bool logError(const char* text) override;
  bool logInfo(const char* text) override;
  bool logRaw(const char* text) override;
  bool clearLog() override;
  bool enterContext(const char* tag, bool flag) override;
  bool leaveContext() override;
  bool logData(const char* tag, const char* value) override;

  // The echo file: while a path is set, each logError, logInfo, logData,
  // enterContext and leaveContext appends one line to that file (opened and
  // closed each time; a file that cannot be opened loses the line). An empty
  // path removes it; the getter gives "" when none is set.
  void setEchoFilePath(const XString& path);
  void getEchoFilePath(XString& path);

  // Contexts entered and not yet left (never below 0); it drives the echo
  // file's indentation.
  int32_t depth();

 private:
  // Adds `entry` to the current context; drops it when the context is full.
  void addEntry(LogEntry2* entry);
  bool addText(char kind, const char* text);
  // Appends one formatted line to the echo file, if one is set.
  void echo(const char* format, const char* a, const char* b = "",
            const char* c = "");

  ErrorLog* tree_;
  int32_t depth_ = 0;
  // Contexts entered while no context node could be attached (the current
  // context was full, or memory ran out); each matching leaveContext only
  // counts down, so enter and leave stay balanced.
  int32_t unattached_ = 0;
  XString echoPath_;
  StringBuffer rootName_;
};

}  // namespace sfx

#endif  // SFX_LOG_LOGGER_H_

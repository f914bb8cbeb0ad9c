// Logger: the tree operations, the echo file and the renderings of the
// whole tree.
#include "log/logger.h"

#include <cstdio>
#include <new>

#include "os/os.h"

namespace sfx {
namespace {

// Opens the file at `path` with the C library; on Windows through the wide
// form of the path so that any file name works.
FILE* openFile(const XString& path, const char* mode) {
#if defined(_WIN32)
  XString wideMode;
  wideMode.setFromUtf8(mode);
  return _wfopen(reinterpret_cast<const wchar_t*>(path.getUtf16()),
                 reinterpret_cast<const wchar_t*>(wideMode.getUtf16()));
#else
  return fopen(path.getUtf8(), mode);
#endif
}

// Writes `len` bytes as the whole content of the file at `utf8Path`.
// Stand-in for the file layer's write-whole-file operation.
bool writeWholeFile(const char* utf8Path, const char* bytes, uint32_t len) {
  if (!utf8Path || !*utf8Path) return false;
  XString path;
  if (!path.setFromUtf8(utf8Path)) return false;
  FILE* f = openFile(path, "wb");
  if (!f) return false;
  bool ok = fwrite(bytes, 1, len, f) == len;
  if (fclose(f) != 0) ok = false;
  return ok;
}

}  // namespace

ErrorLog::ErrorLog(const char* rootName) {
  LogEntry2* root = LogEntry2::newContext(rootName, 0);
  if (root && !stack_.append(root)) delete root;
}

ErrorLog::~ErrorLog() { delete root(); }

LogEntry2* ErrorLog::pop() {
  if (stack_.getSize() <= 1) return nullptr;
  return static_cast<LogEntry2*>(stack_.pop());
}

Logger::Logger() : rootName_(kRootName) {
  tree_ = new (std::nothrow) ErrorLog(kRootName);
}

Logger::~Logger() {
  CritSecExitor guard(*this);
  delete tree_;
  tree_ = nullptr;
}

void Logger::echo(const char* format, const char* a, const char* b,
                  const char* c) {
  if (echoPath_.isEmpty()) return;
  // Text mode: each LF reaches the file as CR LF on Windows.
  FILE* f = openFile(echoPath_, "a");
  if (!f) return;
  // Four spaces per open context, taken before the operation changes it.
  StringBuffer indent;
  if (depth_ > 0) indent.appendCharN(' ', static_cast<uint32_t>(4 * depth_));
  fprintf(f, format, indent.getString(), a, b, c);
  fclose(f);
}

void Logger::addEntry(LogEntry2* entry) {
  if (!entry) return;
  LogEntry2* current = tree_ ? tree_->current() : nullptr;
  if (!current) {
    delete entry;
    return;
  }
  current->addChild(entry);  // destroys the entry when it cannot be added
}

bool Logger::addText(char kind, const char* text) {
  if (!text) return true;
  LogEntry2* current = tree_ ? tree_->current() : nullptr;
  if (current && current->acceptsChild()) {
    addEntry(LogEntry2::newText(kind, text));
  }
  return true;
}

bool Logger::logError(const char* text) {
  CritSecExitor guard(*this);
  addText(LogEntry2::kError, text);
  if (text) echo("%s%s\n", text);
  return true;
}

bool Logger::logInfo(const char* text) {
  CritSecExitor guard(*this);
  addText(LogEntry2::kInfo, text);
  if (text) echo("%s%s\n", text);
  return true;
}

bool Logger::logRaw(const char* text) {
  CritSecExitor guard(*this);
  addText(LogEntry2::kRawText, text);
  return true;
}

bool Logger::logData(const char* tag, const char* value) {
  CritSecExitor guard(*this);
  StringBuffer cleanTag(tag);
  cleanTag.trim2();
  cleanTag.replaceChar(' ', '_');
  if (cleanTag.isEmpty()) return false;
  if (!value) value = "(NULL)";
  LogEntry2* current = tree_ ? tree_->current() : nullptr;
  if (current && current->acceptsChild()) {
    addEntry(LogEntry2::newTagValue(cleanTag.getString(), value));
  }
  echo("%s%s: %s\n", cleanTag.getString(), value);
  return true;
}

bool Logger::enterContext(const char* tag, bool /*flag*/) {
  CritSecExitor guard(*this);
  if (!tag) tag = "";
  bool attached = false;
  LogEntry2* current = tree_ ? tree_->current() : nullptr;
  if (unattached_ == 0 && current && current->acceptsChild()) {
    LogEntry2* context =
        LogEntry2::newContext(tag, verbose() ? tickCount() : 0);
    if (context && current->addChild(context)) {
      if (tree_->push(context)) {
        attached = true;
      } else {
        delete current->children()->pop();
      }
    }
  }
  if (!attached) ++unattached_;
  echo("%s%s:\n", tag);
  ++depth_;
  return true;
}

bool Logger::leaveContext() {
  CritSecExitor guard(*this);
  echo("%s(leaveContext)\n", "");
  if (unattached_ > 0) {
    --unattached_;
  } else if (tree_) {
    LogEntry2* left = tree_->pop();
    if (left && verbose() && left->milliseconds() != 0) {
      uint32_t now = tickCount();
      uint32_t start = left->milliseconds();
      left->setMilliseconds(now > start ? now - start : 0);
    }
    // A context that received no entries disappears when it is left, unless
    // it hangs directly under the root.
    if (tree_->stackSize() > 1) {
      LogEntry2* current = tree_->current();
      LogEntry2* last = current->childAt(current->numChildren() - 1);
      if (last && last->kind() == LogEntry2::kContext &&
          last->numChildren() == 0) {
        delete current->children()->pop();
      }
    }
  }
  if (depth_ > 0) --depth_;
  return true;
}

bool Logger::clearLog() {
  CritSecExitor guard(*this);
  delete tree_;
  tree_ = new (std::nothrow) ErrorLog(rootName_.getString());
  depth_ = 0;
  unattached_ = 0;
  return true;
}

void Logger::getLogText(StringBuffer& out) {
  CritSecExitor guard(*this);
  out.clear();
  if (LogEntry2* root = tree_ ? tree_->root() : nullptr) {
    root->renderText(out, 0);
  }
}

void Logger::getLogXml(StringBuffer& out) {
  CritSecExitor guard(*this);
  out.clear();
  if (LogEntry2* root = tree_ ? tree_->root() : nullptr) {
    root->renderXml(out, 0);
  }
}

void Logger::getLogHtml(StringBuffer& out) {
  CritSecExitor guard(*this);
  out.clear();
  if (LogEntry2* root = tree_ ? tree_->root() : nullptr) root->renderHtml(out);
}

bool Logger::saveLogXml(const char* path, uint32_t /*reserved*/) {
  StringBuffer xml;
  getLogXml(xml);
  CritSecExitor guard(*this);
  return writeWholeFile(path, xml.getString(), xml.getSize());
}

void Logger::setEchoFilePath(const XString& path) {
  CritSecExitor guard(*this);
  if (!echoPath_.copyFrom(path)) echoPath_.clear();
}

void Logger::getEchoFilePath(XString& path) {
  CritSecExitor guard(*this);
  if (!path.copyFrom(echoPath_)) path.clear();
}

int32_t Logger::depth() {
  CritSecExitor guard(*this);
  return depth_;
}

}  // namespace sfx

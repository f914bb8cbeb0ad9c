// Helpers for the file-system tests: a log that records every call as one
// line, and XString from UTF-8 in one expression.
#ifndef SFX_FS_FS_TEST_UTIL_H_
#define SFX_FS_FS_TEST_UTIL_H_

#include <string>
#include <vector>

#include "log/log_base.h"
#include "text/xstring.h"

namespace sfx {

// Records "E:text" for errors, "I:text" for information, "tag=value" for
// named values, "[tag" and "]" for entering and leaving contexts.
class RecordingLog : public LogBase {
 public:
  bool logError(const char* text) override {
    lines.push_back(std::string("E:") + text);
    return true;
  }
  bool logInfo(const char* text) override {
    lines.push_back(std::string("I:") + text);
    return true;
  }
  bool logData(const char* tag, const char* value) override {
    lines.push_back(std::string(tag) + "=" + (value ? value : "(NULL)"));
    return true;
  }
  bool enterContext(const char* tag, bool) override {
    lines.push_back(std::string("[") + tag);
    return true;
  }
  bool leaveContext() override {
    lines.push_back("]");
    return true;
  }

  bool has(const std::string& line) const {
    for (const std::string& l : lines)
      if (l == line) return true;
    return false;
  }
  // True when some line begins with `prefix`.
  bool hasPrefix(const std::string& prefix) const {
    for (const std::string& l : lines)
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
  std::string all() const {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
  }

  std::vector<std::string> lines;
};

inline XString X(const std::string& utf8) {
  XString x;
  x.setFromUtf8(utf8.c_str());
  return x;
}

}  // namespace sfx

#endif  // SFX_FS_FS_TEST_UTIL_H_

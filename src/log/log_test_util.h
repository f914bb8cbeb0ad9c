// Test helper: a log that keeps what it is given, for tests that check which
// errors, information lines, named values and contexts an operation logged.
#ifndef SFX_LOG_LOG_TEST_UTIL_H_
#define SFX_LOG_LOG_TEST_UTIL_H_

#include <algorithm>
#include <string>
#include <vector>

#include "log/log_base.h"

namespace sfx {
namespace log_test {

// Keeps every error and information line, every named value as
// "tag=value" and every context it enters, in order. A null text or value
// is kept as an empty string.
class CapturingLog : public LogBase {
 public:
  bool logError(const char* text) override {
    errors.push_back(text ? text : "");
    return true;
  }
  bool logInfo(const char* text) override {
    infos.push_back(text ? text : "");
    return true;
  }
  bool logData(const char* tag, const char* value) override {
    data.push_back(std::string(tag ? tag : "") + "=" + (value ? value : ""));
    return true;
  }
  bool enterContext(const char* tag, bool) override {
    contexts.push_back(tag ? tag : "");
    return true;
  }
  bool hasError(const std::string& e) const {
    return std::find(errors.begin(), errors.end(), e) != errors.end();
  }
  bool hasData(const std::string& d) const {
    return std::find(data.begin(), data.end(), d) != data.end();
  }

  std::vector<std::string> errors;
  std::vector<std::string> infos;
  std::vector<std::string> data;
  std::vector<std::string> contexts;
};

}  // namespace log_test
}  // namespace sfx

#endif  // SFX_LOG_LOG_TEST_UTIL_H_

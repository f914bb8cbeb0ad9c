// Tests of the LogBase conveniences and the scoped context guard, through a
// log that records every call it receives.
#include "log/log_base.h"

#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <string>
#include <vector>

#include "os/os.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

class RecordingLog : public LogBase {
 public:
  bool logError(const char* text) override {
    calls.push_back(std::string("E ") + text);
    return true;
  }
  bool enterContext(const char* tag, bool flag) override {
    calls.push_back(std::string("enter ") + tag + (flag ? " true" : " false"));
    return true;
  }
  bool leaveContext() override {
    calls.push_back("leave");
    return true;
  }
  bool logData(const char* tag, const char* value) override {
    calls.push_back(std::string(tag) + "=" + value);
    return true;
  }
  std::vector<std::string> calls;
};

TEST(LogBaseTest, ConveniencesFormatTheValue) {
  struct Case {
    void (*log)(LogBase&);
    const char* expected;
  };
  const Case cases[] = {
      {[](LogBase& l) { l.logDataLong("n", -42); }, "n=-42"},
      {[](LogBase& l) { l.logDataLong("n", INT32_MIN); }, "n=-2147483648"},
      {[](LogBase& l) { l.logDataUint32("n", 4294967295u); }, "n=4294967295"},
      {[](LogBase& l) { l.logDataInt64("n", INT64_MIN); },
       "n=-9223372036854775808"},
      {[](LogBase& l) { l.logDataInt64("n", 5000000000LL); }, "n=5000000000"},
      {[](LogBase& l) { l.logDataHex("n", 0); }, "n=0x0"},
      {[](LogBase& l) { l.logDataHex("n", 0xABCDEF01u); }, "n=0xabcdef01"},
      {[](LogBase& l) { l.logDataSb("s", StringBuffer("text")); }, "s=text"},
      {[](LogBase& l) {
         XString x;
         x.setFromUtf16(u"caf\u00e9");
         l.logDataX("x", x);
       },
       "x=caf\xc3\xa9"},
  };
  for (const Case& c : cases) {
    RecordingLog log;
    c.log(log);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0], c.expected);
  }
}

TEST(LogBaseTest, LastWindowsErrorLogsTextAndHexCode) {
  RecordingLog log;
  setLastOsError(2);
  log.logLastWindowsError();
  ASSERT_EQ(log.calls.size(), 2u);
  EXPECT_EQ(log.calls[0].rfind("WindowsError=", 0), 0u);
  EXPECT_GT(log.calls[0].size(), std::string("WindowsError=").size());
  EXPECT_EQ(log.calls[1], "WindowsErrorCode=0x2");
}

TEST(LogBaseTest, WindowsErrorZeroLogsNothing) {
  RecordingLog log;
  log.logWindowsError(0);
  EXPECT_TRUE(log.calls.empty());
  log.logWindowsError(5);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0].rfind("WindowsError=", 0), 0u);
}

TEST(LogBaseTest, MemoryAllocFailed) {
  RecordingLog log;
  log.memoryAllocFailed(7, 1024);
  const std::vector<std::string> expected = {"E Memory allocation failed.",
                                             "failurePoint=7", "numBytes=1024"};
  EXPECT_EQ(log.calls, expected);
}

TEST(LogBaseTest, BaseAndNullAcceptEverything) {
  LogNull null_log;
  LogBase& log = null_log;
  EXPECT_FALSE(log.verbose());
  log.setVerbose(true);
  EXPECT_TRUE(log.verbose());
  EXPECT_TRUE(log.enterContext("a", true));
  EXPECT_TRUE(log.logError("e"));
  EXPECT_TRUE(log.logData("t", nullptr));
  EXPECT_TRUE(log.leaveContext());
  EXPECT_TRUE(log.saveLogXml("unused", 0));
  EXPECT_TRUE(log.clearLog());
}

TEST(LogContextExitorTest, PairsEnterAndLeave) {
  RecordingLog log;
  {
    LogContextExitor outer(&log, "readHeader");
    LogContextExitor inner(log, "readArgs");
    LogContextExitor skipped(&log, "never", false);
    LogContextExitor no_log(nullptr, "none");
  }
  const std::vector<std::string> expected = {
      "enter readHeader true", "enter readArgs true", "leave", "leave"};
  EXPECT_EQ(log.calls, expected);
}

#if !defined(_WIN32)
TEST(LogContextExitorDeathTest, DestroyingTwiceIsFatal) {
  EXPECT_DEATH(
      {
        alignas(LogContextExitor) unsigned char store[sizeof(LogContextExitor)];
        auto* guard = new (store) LogContextExitor(nullptr, "x");
        guard->~LogContextExitor();
        guard->~LogContextExitor();
      },
      "Fatal internal error");
}
#endif

}  // namespace
}  // namespace sfx

// Logger: the tree rules (empty-context removal, tag clean-up, the child
// limit, balance of enter and leave), timing, the three renderings and the
// echo file.
#include "log/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "os/os.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

std::string text(Logger& log) {
  StringBuffer sb;
  log.getLogText(sb);
  return sb.getString();
}

std::string xml(Logger& log) {
  StringBuffer sb;
  log.getLogXml(sb);
  return sb.getString();
}

std::string html(Logger& log) {
  StringBuffer sb;
  log.getLogHtml(sb);
  return sb.getString();
}

// The C library takes UTF-8 names natively; Windows needs the wide form.
FILE* openUtf8(const std::string& path, const char* mode) {
#if defined(_WIN32)
  XString p, m;
  p.setFromUtf8(path.c_str());
  m.setFromUtf8(mode);
  return _wfopen(reinterpret_cast<const wchar_t*>(p.getUtf16()),
                 reinterpret_cast<const wchar_t*>(m.getUtf16()));
#else
  return fopen(path.c_str(), mode);
#endif
}

void removeUtf8(const std::string& path) {
#if defined(_WIN32)
  XString p;
  p.setFromUtf8(path.c_str());
  _wremove(reinterpret_cast<const wchar_t*>(p.getUtf16()));
#else
  remove(path.c_str());
#endif
}

std::string readFile(const std::string& path) {
  std::string content;
  FILE* f = openUtf8(path, "rb");
  if (!f) return "<missing>";
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
  fclose(f);
  return content;
}

std::string tempPath(const char* name) {
  return ::testing::TempDir() + "sfx_log_" + name;
}

TEST(LoggerTest, FreshLoggerRendersRootOnly) {
  Logger log;
  EXPECT_EQ(text(log), "MarlithLog:\r\n--MarlithLog\r\n");
  EXPECT_EQ(xml(log), "<MarlithLog>\r\n</MarlithLog>\r\n");
  EXPECT_EQ(html(log), "MarlithLog:<blockquote>\r\n</blockquote>\r\n");
  EXPECT_EQ(log.depth(), 0);
}

TEST(LoggerTest, RendersAnErrorInsideAContext) {
  Logger log;
  log.enterContext("readHeader", true);
  log.logError("No source");
  log.leaveContext();
  EXPECT_EQ(text(log),
            "MarlithLog:\r\n"
            "  readHeader:\r\n"
            "    No source\r\n"
            "  --readHeader\r\n"
            "--MarlithLog\r\n");
}

TEST(LoggerTest, OutBufferIsEmptiedFirst) {
  Logger log;
  StringBuffer sb("stale");
  log.getLogText(sb);
  EXPECT_EQ(std::string(sb.getString()), "MarlithLog:\r\n--MarlithLog\r\n");
  sb.setString("stale");
  log.getLogXml(sb);
  EXPECT_EQ(std::string(sb.getString()), "<MarlithLog>\r\n</MarlithLog>\r\n");
}

TEST(LoggerTest, EmptyContextsDisappearExceptUnderTheRoot) {
  Logger log;
  log.enterContext("a", true);
  log.leaveContext();
  log.enterContext("b", true);
  log.logError("e");
  log.leaveContext();
  log.enterContext("outer", true);
  log.enterContext("empty", true);
  log.leaveContext();
  log.enterContext("kept", true);
  log.logInfo("i");
  log.leaveContext();
  log.leaveContext();
  EXPECT_EQ(text(log),
            "MarlithLog:\r\n"
            "  a:\r\n"
            "  --a\r\n"
            "  b:\r\n"
            "    e\r\n"
            "  --b\r\n"
            "  outer:\r\n"
            "    kept:\r\n"
            "      i\r\n"
            "    --kept\r\n"
            "  --outer\r\n"
            "--MarlithLog\r\n");
}

TEST(LoggerTest, LogDataCleansTheTag) {
  struct Case {
    const char* tag;
    const char* value;
    bool result;
    const char* line;  // text line under the root, "" when nothing is logged
  };
  const Case cases[] = {
      {"  my tag  ", "v", true, "  my_tag: v\r\n"},
      {"\t\r\na b c\n", "v", true, "  a_b_c: v\r\n"},
      {"x", nullptr, true, "  x: (NULL)\r\n"},
      {"x", "", true, "  x: \r\n"},
      {"   ", "v", false, ""},
      {"\t\r\n", "v", false, ""},
      {"", "v", false, ""},
      {nullptr, "v", false, ""},
  };
  for (const Case& c : cases) {
    Logger log;
    EXPECT_EQ(log.logData(c.tag, c.value), c.result)
        << (c.tag ? c.tag : "(null)");
    EXPECT_EQ(text(log),
              std::string("MarlithLog:\r\n") + c.line + "--MarlithLog\r\n")
        << (c.tag ? c.tag : "(null)");
  }
}

TEST(LoggerTest, NullTextsAddNothing) {
  Logger log;
  EXPECT_TRUE(log.logError(nullptr));
  EXPECT_TRUE(log.logInfo(nullptr));
  EXPECT_TRUE(log.logRaw(nullptr));
  EXPECT_EQ(text(log), "MarlithLog:\r\n--MarlithLog\r\n");
}

TEST(LoggerTest, ContextTakesAtMostTenThousandChildren) {
  Logger log;
  log.enterContext("outer", true);
  for (int i = 0; i < LogEntry2::kMaxChildren; ++i) log.logInfo("i");
  log.logError("dropped");
  log.logRaw("dropped");
  EXPECT_TRUE(log.logData("dropped", "v"));
  // A context entered while full is not attached, yet its leave must not
  // close the enclosing context.
  log.enterContext("dropped", true);
  log.logInfo("dropped");
  EXPECT_EQ(log.depth(), 2);
  log.leaveContext();
  log.logInfo("dropped");
  log.leaveContext();
  log.logInfo("after");
  EXPECT_EQ(log.depth(), 0);

  std::string t = text(log);
  EXPECT_EQ(t.find("dropped"), std::string::npos);
  size_t lines = 0;
  for (char ch : t) lines += ch == '\n';
  EXPECT_EQ(lines, 2u + 2u + LogEntry2::kMaxChildren + 1u);
  const std::string tail = "  --outer\r\n  after\r\n--MarlithLog\r\n";
  ASSERT_GE(t.size(), tail.size());
  EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

TEST(LoggerTest, ExtraLeavesKeepRootAndDepthAtZero) {
  Logger log;
  log.leaveContext();
  log.leaveContext();
  EXPECT_EQ(log.depth(), 0);
  log.enterContext("a", true);
  EXPECT_EQ(log.depth(), 1);
  log.logInfo("i");
  log.leaveContext();
  log.leaveContext();
  EXPECT_EQ(log.depth(), 0);
  log.logInfo("root");
  EXPECT_EQ(text(log),
            "MarlithLog:\r\n  a:\r\n    i\r\n  --a\r\n  root\r\n"
            "--MarlithLog\r\n");
}

TEST(LoggerTest, ClearLogStartsAgain) {
  Logger log;
  log.enterContext("a", true);
  log.logInfo("i");
  EXPECT_TRUE(log.clearLog());
  EXPECT_EQ(log.depth(), 0);
  EXPECT_EQ(text(log), "MarlithLog:\r\n--MarlithLog\r\n");
  log.logInfo("j");
  EXPECT_EQ(text(log), "MarlithLog:\r\n  j\r\n--MarlithLog\r\n");
}

uint32_t g_fakeTicks[2];
int g_fakeTickCalls;
uint32_t fakeTicks() { return g_fakeTicks[g_fakeTickCalls++ % 2]; }

class TickSourceTest : public ::testing::Test {
 protected:
  void TearDown() override { setTickSourceForTesting(nullptr); }
};

TEST_F(TickSourceTest, VerboseContextsShowElapsedMilliseconds) {
  struct Case {
    bool verbose;
    uint32_t enter, leave;
    const char* textHead;
    const char* xmlHead;
    const char* htmlHead;
  };
  const Case cases[] = {
      {true, 1000, 1015, "  timed(15ms):\r\n", "  <timed ms=\"15\">\r\n",
       "timed(15ms):<blockquote>\r\n"},
      {false, 1000, 1015, "  timed:\r\n", "  <timed>\r\n",
       "timed:<blockquote>\r\n"},
      // The tick counter wrapped: no time is shown.
      {true, 4000, 3000, "  timed:\r\n", "  <timed>\r\n",
       "timed:<blockquote>\r\n"},
      // Left within the same tick.
      {true, 1000, 1000, "  timed:\r\n", "  <timed>\r\n",
       "timed:<blockquote>\r\n"},
      // A start tick of 0 means untimed.
      {true, 0, 20, "  timed:\r\n", "  <timed>\r\n", "timed:<blockquote>\r\n"},
  };
  setTickSourceForTesting(fakeTicks);
  for (const Case& c : cases) {
    g_fakeTicks[0] = c.enter;
    g_fakeTicks[1] = c.leave;
    g_fakeTickCalls = 0;
    Logger log;
    log.setVerbose(c.verbose);
    log.enterContext("timed", true);
    log.logInfo("i");
    log.leaveContext();
    EXPECT_NE(text(log).find(c.textHead), std::string::npos)
        << c.enter << " " << c.leave << "\n"
        << text(log);
    EXPECT_NE(xml(log).find(c.xmlHead), std::string::npos) << xml(log);
    EXPECT_NE(html(log).find(c.htmlHead), std::string::npos) << html(log);
  }
}

TEST(LoggerRenderTest, XmlWrapsSpecialTextsInCdata) {
  struct Case {
    const char* text;
    const char* errorLine;
  };
  const Case cases[] = {
      {"plain text", "  <error>plain text</error>\r\n"},
      {"a<b", "  <error><![CDATA[a<b]]></error>\r\n"},
      {"a>b", "  <error><![CDATA[a>b]]></error>\r\n"},
      {"a&b", "  <error><![CDATA[a&b]]></error>\r\n"},
      {"tab\there", "  <error><![CDATA[tab\there]]></error>\r\n"},
      {"two\nlines", "  <error><![CDATA[two\nlines]]></error>\r\n"},
      {"quote \"q\"", "  <error>quote \"q\"</error>\r\n"},
      {"<![CDATA[a<b]]>", "  <error><![CDATA[a<b]]></error>\r\n"},
      {"<![CDATA[ open only <",
       "  <error><![CDATA[<![CDATA[ open only <]]></error>\r\n"},
  };
  for (const Case& c : cases) {
    Logger log;
    log.logError(c.text);
    EXPECT_EQ(xml(log), std::string("<MarlithLog>\r\n") + c.errorLine +
                            "</MarlithLog>\r\n")
        << c.text;
  }
}

TEST(LoggerRenderTest, EachKindInEachRendering) {
  Logger log;
  log.enterContext("ctx", true);
  log.logInfo("i<1>");
  log.logRaw("<raw & \"as is\">");
  log.logData("x", "1");
  log.logData("v", "a&b");
  log.leaveContext();
  EXPECT_EQ(xml(log),
            "<MarlithLog>\r\n"
            "  <ctx>\r\n"
            "    <info><![CDATA[i<1>]]></info>\r\n"
            "    <raw & \"as is\">\r\n"
            "    <x>1</x>\r\n"
            "    <v><![CDATA[a&b]]></v>\r\n"
            "  </ctx>\r\n"
            "</MarlithLog>\r\n");
  EXPECT_EQ(html(log),
            "MarlithLog:<blockquote>\r\n"
            "ctx:<blockquote>\r\n"
            "i&lt;1&gt;<br>\r\n"
            "&lt;raw &amp; &quot;as is&quot;&gt;<br>\r\n"
            "x: 1<br>\r\n"
            "v: a&amp;b<br>\r\n"
            "</blockquote>\r\n"
            "</blockquote>\r\n");
  EXPECT_EQ(text(log),
            "MarlithLog:\r\n"
            "  ctx:\r\n"
            "    i<1>\r\n"
            "    <raw & \"as is\">\r\n"
            "    x: 1\r\n"
            "    v: a&b\r\n"
            "  --ctx\r\n"
            "--MarlithLog\r\n");
}

TEST(LoggerTest, ErrorHelpersThroughTheTree) {
  Logger log;
  setLastOsError(2);
  log.logLastWindowsError();
  log.logWindowsError(0);
  log.memoryAllocFailed(3, 77);
  std::string t = text(log);
  EXPECT_NE(t.find("\r\n  WindowsError: "), std::string::npos) << t;
  EXPECT_NE(t.find("\r\n  WindowsErrorCode: 0x2\r\n"), std::string::npos);
  EXPECT_EQ(t.find("WindowsError:"), t.rfind("WindowsError:"));
  EXPECT_NE(t.find("  Memory allocation failed.\r\n  failurePoint: 3\r\n"
                   "  numBytes: 77\r\n"),
            std::string::npos);
}

TEST(LoggerTest, EchoFileGetsOneIndentedLinePerOperation) {
  const std::string path = tempPath("echo-\xc3\xa9.txt");  // non-ASCII name
  removeUtf8(path);
  Logger log;
  XString echoPath;
  echoPath.setFromUtf8(path.c_str());
  log.setEchoFilePath(echoPath);
  XString back;
  log.getEchoFilePath(back);
  EXPECT_EQ(path, back.getUtf8());

  log.enterContext("a", true);
  log.logInfo("i");
  log.logData(" t t ", nullptr);
  log.logRaw("raw is not echoed");
  log.enterContext("b", true);
  log.logError("e");
  log.leaveContext();
  log.leaveContext();
  log.leaveContext();
  log.clearLog();
  log.setEchoFilePath(XString());
  log.logInfo("not echoed after removal");
  log.getEchoFilePath(back);
  EXPECT_TRUE(back.isEmpty());

#if defined(_WIN32)
  const char* nl = "\r\n";  // the file is written in text mode
#else
  const char* nl = "\n";
#endif
  std::string expected;
  for (const char* line :
       {"a:", "    i", "    t_t: (NULL)", "    b:", "        e",
        "        (leaveContext)", "    (leaveContext)", "(leaveContext)"}) {
    expected += line;
    expected += nl;
  }
  EXPECT_EQ(readFile(path), expected);
  removeUtf8(path);
}

TEST(LoggerTest, EchoToAnUnopenableFileIsSkipped) {
  Logger log;
  const std::string dir = tempPath("no_such_dir/");
  XString echoPath;
  echoPath.setFromUtf8((dir + "echo.txt").c_str());
  log.setEchoFilePath(echoPath);
  EXPECT_TRUE(log.logInfo("kept in the tree"));
  EXPECT_NE(text(log).find("kept in the tree"), std::string::npos);
}

TEST(LoggerTest, SaveLogXmlWritesTheXmlRendering) {
  Logger log;
  log.logError("a<b");
  // A plain name and one outside ASCII ("save-" e-acute ".xml", UTF-8).
  for (const char* name : {"save.xml", "save-\xc3\xa9.xml"}) {
    const std::string path = tempPath(name);
    EXPECT_TRUE(log.saveLogXml(path.c_str(), 0)) << name;
    EXPECT_EQ(readFile(path), xml(log)) << name;
    removeUtf8(path);
  }
  EXPECT_FALSE(log.saveLogXml(tempPath("no_such_dir/save.xml").c_str(), 0));
  EXPECT_FALSE(log.saveLogXml("", 0));
}

}  // namespace
}  // namespace sfx

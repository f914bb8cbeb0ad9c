#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/sfx_config.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

using Tokens = std::vector<std::string>;

TEST(SplitCommandLineTest, Rules) {
  struct Case {
    const char* line;
    Tokens tokens;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a b\tc", {"a", "b", "c"}},
      {"a  b", {"a", "", "b"}},
      {" a ", {"", "a", ""}},
      {"-unzipDir \"C:\\Program Files\\App\"",
       {"-unzipDir", "\"C:\\Program Files\\App\""}},
      // The backslash escapes the closing quote: the rest is one token.
      {"-unzipDir \"C:\\dir\\\" -pwd x", {"-unzipDir", "\"C:\\dir\\\" -pwd x"}},
      {"a\\ b", {"a\\ b"}},
      {"\"a b\"c d", {"\"a b\"c", "d"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.tokens, splitCommandLine(c.line)) << c.line;
  }
  EXPECT_TRUE(splitCommandLine(nullptr).empty());
}

class ParseCommandLineTest : public ::testing::Test {
 protected:
  std::string run(const char* line) {
    target_.config = &config_;
    target_.password = &password_;
    target_.logPath = &logPath_;
    target_.logFile = &logFile_;
    parseCommandLine(line, target_);
    std::string log;
    if (logFile_) {
      fclose(logFile_);
      logFile_ = nullptr;
      std::ifstream in(logPath_.getString(), std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      log = ss.str();
    }
    return log;
  }
  std::string text(const char* key) {
    XString x;
    config_.getText(key, x);
    return x.getUtf8();
  }
  std::string logFileName(const char* leaf) {
    path_ = (std::filesystem::temp_directory_path() / leaf).string();
    return path_;
  }
  void TearDown() override {
    if (!path_.empty()) std::remove(path_.c_str());
  }

  SfxConfig config_;
  StringBuffer password_, logPath_;
  FILE* logFile_ = nullptr;
  CommandLineTarget target_;
  std::string path_;
};

TEST_F(ParseCommandLineTest, UnzipDirInQuotesSetsBothDirectories) {
  run("-unzipDir \"C:\\Program Files\\App\"");
  EXPECT_EQ("C:\\Program Files\\App", text("UnzipDir"));
  EXPECT_EQ("C:\\Program Files\\App", text("DefaultDir"));
  EXPECT_TRUE(config_.unzipDirKnown());
}

TEST_F(ParseCommandLineTest, QuotedDirectoryEndingInBackslashSwallowsTheRest) {
  run("-unzipDir \"C:\\dir\\\" -pwd secret");
  EXPECT_EQ("C:\\dir\\ -pwd secret", text("UnzipDir"));
  EXPECT_STREQ("", password_.getString());
}

TEST_F(ParseCommandLineTest, OptionNamesIgnoreCase) {
  for (const char* line : {"-PWD abc", "-Pwd abc", "-pwd abc"}) {
    password_.clear();
    run(line);
    EXPECT_STREQ("abc", password_.getString()) << line;
  }
  run("-unzipdir D:\\x -CLEANUP -Verbose -dEbUg");
  EXPECT_EQ("D:\\x", text("UnzipDir"));
  EXPECT_EQ(1, config_.getInt("Cleanup"));
  EXPECT_EQ(1, config_.getInt("Verbose"));
  EXPECT_EQ(1, config_.getInt("Debug"));
}

TEST_F(ParseCommandLineTest, PasswordLosesItsQuotes) {
  run("-pwd \"my 'pass' word\"");
  EXPECT_STREQ("my pass word", password_.getString());
}

TEST_F(ParseCommandLineTest, SetupArgsKeepEscapedQuotesAndExpandVariables) {
#if defined(_WIN32)
  _putenv_s("SFX_CL_TEST", "T V");
#else
  setenv("SFX_CL_TEST", "T V", 1);
#endif
  run("-ap \"a \\\"b c\\\" %SFX_CL_TEST% 'q' %SFX_UNSET_VAR%x\"");
  EXPECT_EQ("a \"b c\" T V 'q' x", text("SetupExeArgs"));
}

TEST_F(ParseCommandLineTest, IgnoredTokens) {
  run("--unzipDir X -unzipDir=Y stray -x -pwdx z");
  EXPECT_EQ("", text("UnzipDir"));
  EXPECT_STREQ("", password_.getString());
}

TEST_F(ParseCommandLineTest, MissingArgumentEndsParsingWithAMessage) {
  std::string log =
      run((std::string("-log ") + logFileName("sfx_cl_missing.log") +
           " -cleanup -unzipDir")
              .c_str());
  EXPECT_EQ("", text("UnzipDir"));
  EXPECT_EQ(1, config_.getInt("Cleanup"));
  EXPECT_NE(std::string::npos, log.find("Missing argument for -unzipDir\n"));
}

TEST_F(ParseCommandLineTest, LogGetsCommandLineAndEarlierSummaryLines) {
  std::string line = "-pwd p1 -unzipDir \"C:\\\xC3\xA9t\xC3\xA9\" -log " +
                     logFileName("sfx_cl_summary.log") + " -ap x";
  std::string log = run(line.c_str());
  std::string expected = "command line: " + line +
                         "\r\n"
                         "-pwd p1\n"
                         "-unzipDir \"C:\\\xC3\xA9t\xC3\xA9\"\n"
                         "quoted-printable: \"C:\\=C3=A9t=C3=A9\"\n"
                         "-ap x\n";
  EXPECT_EQ(expected, log);
  EXPECT_EQ(logFileName("sfx_cl_summary.log"), logPath_.getString());
}

TEST_F(ParseCommandLineTest, LastOfTwoOptionsWinsOverThePayload) {
  XString doc;
  doc.setFromUtf8("<SfxConfig><UnzipDir>payload</UnzipDir></SfxConfig>");
  ASSERT_TRUE(config_.loadDocument(doc));
  run("-unzipDir first -unzipDir second");
  EXPECT_EQ("second", text("UnzipDir"));
}

TEST_F(ParseCommandLineTest, LogWithoutArgumentIsIgnored) {
  run("-cleanup -log");
  EXPECT_EQ(nullptr, logFile_);
  EXPECT_EQ(1, config_.getInt("Cleanup"));
}

#if defined(_WIN32)
TEST_F(ParseCommandLineTest, QuotedLogPathDoesNotOpen) {
  run("-log \"C:\\x.log\"");
  EXPECT_EQ(nullptr, logFile_);
  EXPECT_STREQ("\"C:\\x.log\"", logPath_.getString());
}
#endif

}  // namespace
}  // namespace sfx

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
      std::ifstream in(std::filesystem::u8path(logPath_.getString()),
                       std::ios::binary);
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
    // UTF-8 both ways: the name may hold letters outside the ANSI page.
    path_ = (std::filesystem::temp_directory_path() /
             std::filesystem::u8path(leaf))
                .u8string();
    return path_;
  }
  void TearDown() override {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove(std::filesystem::u8path(path_), ec);
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
  // The token has no enclosing pair, so its quote stays with it.
  EXPECT_EQ("\"C:\\dir\\\" -pwd secret", text("UnzipDir"));
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

TEST(RemoveEnclosingQuotesTest, OnlyTheEnclosingPairGoes) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\"C:\\Bob's Files\"", "C:\\Bob's Files"},
      {"'Bob\"s key'", "Bob\"s key"},
      {"\"my 'pass' word\"", "my 'pass' word"},
      {"Bob's key", "Bob's key"},
      {"\"a\"b\"", "a\"b"},
      {"\"mixed'", "\"mixed'"},  // not a pair
      {"\"", "\""},
      {"''", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    StringBuffer v(c.in);
    removeEnclosingQuotes(v);
    EXPECT_STREQ(c.out, v.getString()) << c.in;
  }
}

TEST_F(ParseCommandLineTest, QuotesInsideValuesStay) {
  run("-pwd \"Bob's key\" -unzipDir \"C:\\Bob's Files\"");
  EXPECT_STREQ("Bob's key", password_.getString());
  EXPECT_EQ("C:\\Bob's Files", text("UnzipDir"));
  // Single quotes do not join tokens; they only enclose a value.
  run("-pwd 'say\"hi\"'");
  EXPECT_STREQ("say\"hi\"", password_.getString());
}

TEST_F(ParseCommandLineTest, Utf8ValuesKeepEveryCharacter) {
  // Cyrillic and CJK folder names, a password outside any ANSI page.
  run("-unzipDir \"C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B\\\xE9\xA1\xB9\xE7\x9B\xAE\" "
      "-pwd \xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C -ap \xE9\xA1\xB9");
  EXPECT_EQ("C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B\\\xE9\xA1\xB9\xE7\x9B\xAE",
            text("UnzipDir"));
  EXPECT_STREQ("\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", password_.getString());
  EXPECT_EQ("\xE9\xA1\xB9", text("SetupExeArgs"));
}

TEST(MaskPasswordsTest, EveryPasswordTokenIsMasked) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"-pwd secret -log x", "-pwd ******** -log x"},
      {"-PWD \"two words\" -cleanup", "-PWD ******** -cleanup"},
      {"-pwd a -pwd b", "-pwd ******** -pwd ********"},
      {"-unzipDir d  -pwd\tsecret", "-unzipDir d  -pwd\t********"},
      {"-pwd", "-pwd"},
      {"-pwd \"C:\\x\\\" rest\" tail", "-pwd ******** tail"},
      {"-log secret.log", "-log secret.log"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.out, maskPasswords(c.in)) << c.in;
  }
}

TEST(SkipProgramNameTest, QuotedAndPlainNames) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\"C:\\My Files\\a.exe\" -pwd x", "-pwd x"},
      {"a.exe   -log  l", "-log  l"},
      {"a.exe", ""},
      {"\"C:\\a b.exe\"", ""},
      {"\"a.exe\"-x", "-x"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.out, skipProgramName(c.in)) << c.in;
  }
}

TEST(HasUnattendedSwitchTest, AnyCaseAnyPlace) {
  EXPECT_TRUE(hasUnattendedSwitch("-unattended"));
  EXPECT_TRUE(hasUnattendedSwitch("-log x -UNATTENDED -cleanup"));
  EXPECT_FALSE(hasUnattendedSwitch("--unattended -unattendedx"));
  EXPECT_FALSE(hasUnattendedSwitch(""));
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

TEST_F(ParseCommandLineTest, UnknownSwitchesAreLoggedAsIgnored) {
  std::string log = run(("-log " + logFileName("sfx_cl_unknown.log") +
                         " -silent stray -Unattended -x")
                            .c_str());
  EXPECT_NE(std::string::npos, log.find("ignored unknown switch: -silent\n"));
  EXPECT_NE(std::string::npos, log.find("ignored unknown switch: -x\n"));
  EXPECT_EQ(std::string::npos, log.find("stray\n"));
  EXPECT_EQ(std::string::npos, log.find("switch: -Unattended"));
  EXPECT_EQ(1, config_.getInt("Unattended"));
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
  std::string rest = " -unzipDir \"C:\\\xC3\xA9t\xC3\xA9\" -log " +
                     logFileName("sfx_cl_summary.log") + " -ap x";
  std::string log = run(("-pwd p1" + rest).c_str());
  // The password appears in neither line, nor does its length.
  EXPECT_EQ(std::string::npos, log.find("p1"));
  std::string expected = "command line: -pwd ********" + rest +
                         "\r\n"
                         "-pwd ********\n"
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

TEST_F(ParseCommandLineTest, QuotedLogPathOpensWithoutItsQuotes) {
  std::string path = logFileName("sfx cl quoted \xD0\xBB\xD0\xBE\xD0\xB3.log");
  std::string log = run(("-log \"" + path + "\" -pwd k").c_str());
  EXPECT_EQ(path, logPath_.getString());
  EXPECT_NE(std::string::npos, log.find("command line: -log \""));
  EXPECT_NE(std::string::npos, log.find("-pwd ********"));
}

}  // namespace
}  // namespace sfx

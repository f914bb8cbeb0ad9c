#include "app/unzip_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "text/string_buffer.h"

namespace sfx {
namespace {

void setEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

std::string normalized(const char* dir) {
  StringBuffer sb(dir);
  normalizeUnzipDir(sb);
  return sb.getString();
}

TEST(NormalizeUnzipDirTest, Rules) {
  setEnv("SFX_TEST_TEMP", "C:\\Temp\\");
  setEnv("SFX_TEST_PLAIN", "C:\\Plain");
  setEnv("SFX_TEST_NOSUCH", nullptr);
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      // The value ends in a backslash: one backslash between the parts.
      {"%SFX_TEST_TEMP%\\app", "C:\\Temp\\app"},
      {"%SFX_TEST_PLAIN%\\app", "C:\\Plain\\app"},
      {"C:/x//y", "C:\\x\\y"},
      {"\\\\server\\share", "\\server\\share"},
      {"%SFX_TEST_NOSUCH%\\x", "\\x"},
      {"50%", "50%"},
      {"C:\\a\\\\\\\\b", "C:\\a\\b"},
      {"C:\\plain", "C:\\plain"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, normalized(c.in)) << c.in;
}

TEST(StripExtendedPrefixTest, OnlyTheExactPrefix) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\\\\?\\C:\\Temp\\qz_AB12", "C:\\Temp\\qz_AB12"},
      {"C:\\Temp", "C:\\Temp"},
      {"\\\\.\\C:\\x", "\\\\.\\C:\\x"},
      {"\\\\?", "\\\\?"},
  };
  for (const Case& c : cases) {
    StringBuffer sb(c.in);
    stripExtendedPrefix(sb);
    EXPECT_STREQ(c.out, sb.getString()) << c.in;
  }
}

TEST(NormalizeSetupExeTest, Rules) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"sub//setup.exe", "sub\\setup.exe"},
      {"sub\\\\setup.exe", "sub\\setup.exe"},
      {"a/b\\c.exe", "a\\b\\c.exe"},
      {"setup.exe", "setup.exe"},
      // One pass: four slashes become two.
      {"a////b", "a\\\\b"},
  };
  for (const Case& c : cases) {
    StringBuffer sb(c.in);
    normalizeSetupExe(sb);
    EXPECT_STREQ(c.out, sb.getString()) << c.in;
  }
}

TEST(CutExtensionTest, Rules) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\Temp\\qz_AB12.tmp", "C:\\Temp\\qz_AB12"},
      {"C:\\a.b\\qz_X.tmp", "C:\\a.b\\qz_X"},
      {"noext", "noext"},
      {"dot.", "dot"},
  };
  for (const Case& c : cases) {
    StringBuffer sb(c.in);
    cutExtension(sb);
    EXPECT_STREQ(c.out, sb.getString()) << c.in;
  }
}

TEST(IsShellSetupNameTest, AnyCase) {
  EXPECT_TRUE(isShellSetupName("shell"));
  EXPECT_TRUE(isShellSetupName("SHELL"));
  EXPECT_TRUE(isShellSetupName("sHeLl"));
  EXPECT_FALSE(isShellSetupName("shell.exe"));
  EXPECT_FALSE(isShellSetupName(""));
}

TEST(ExtractionErrorTextTest, InUseBecomesTheOverwriteMessage) {
  const char* const kInUse =
      "Cannot overwrite docs\\notes.txt because it is currently in use";
  struct Case {
    const char* log;
    const char* expected;  // nullptr: the log itself
  } const cases[] = {
      {"Failed to open file.\r\n", nullptr},
      // Windows' wording of a sharing violation.
      {"The process cannot access the file because it is being used by "
       "another process.\r\nFailed to open file.\r\n",
       kInUse},
      // Wine's wording; the logged error code tells.
      {"OpenFile:\r\n  WindowsError: Sharing violation.\r\n"
       "  WindowsErrorCode: 0x20\r\nFailed to open file.\r\n",
       kInUse},
      // Other codes that begin with the same digits are not in-use errors.
      {"  WindowsErrorCode: 0x200\r\n", nullptr},
      {"  WindowsErrorCode: 0x2\r\n", nullptr},
  };
  for (const Case& c : cases) {
    StringBuffer errorText("stale");
    extractionErrorText(StringBuffer(c.log), "docs\\notes.txt", errorText);
    EXPECT_STREQ(c.expected ? c.expected : c.log, errorText.getString())
        << c.log;
  }
}

}  // namespace
}  // namespace sfx

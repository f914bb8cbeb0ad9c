// The path rules as tables of cases; they hold alike in the native build
// and in the Win32 build under Wine.
#include "fs/path_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/fs_test_util.h"
#include "text/xstring.h"

namespace sfx {
namespace {

struct Case {
  const char* in;
  const char* want;
};

// ---- sanitizeFileName ----

TEST(PathRulesTest, SanitizeRepairsCharactersWindowsRefuses) {
  const Case kCases[] = {
      {"C:\\dir\\a:b.txt", "C:\\dir\\a_b.txt"},  // drive colon kept
      {"\\\\?\\C:\\x", "\\\\?\\C:\\x"},          // prefix ? and drive kept
      {"\\\\?\\UNC\\srv\\sh\\f?.txt", "\\\\?\\UNC\\srv\\sh\\f_.txt"},
      {"longname:stream", "longname_stream"},  // first colon at index 8
      {"abcdefgh:x:y", "abcdefgh_x_y"},
      {"\\\\?\\C:\\a:b:c", "\\\\?\\C:\\a_b_c"},  // drive colon at index 5
      {":abc:d", ":abc:d"},                      // colon at index 0: unchanged
      {"C:\\a|b*c<d>e\"f", "C:\\a_b_c_d_e_f"},
      {"what?.txt", "what_.txt"},
      {"a\\\\?b", "a\\\\_b"},  // "\\?" inside a path is no prefix
      {"line\r\nbreak\n.txt", "linebreak.txt"},
      {"C:\\plain\\name.txt", "C:\\plain\\name.txt"},
      // UTF-8 text passes untouched around the repaired characters.
      {"C:\\\xD0\x96\xD0\xB6:\xE4\xB8\xAD.txt",
       "C:\\\xD0\x96\xD0\xB6_\xE4\xB8\xAD.txt"},
  };
  for (const Case& c : kCases) {
    XString p = X(c.in);
    sanitizeFileName(p, false, nullptr);
    EXPECT_STREQ(c.want, p.getUtf8()) << "input: " << c.in;
  }
}

TEST(PathRulesTest, SanitizeRepairsReservedDeviceNamesInAnyCase) {
  const Case kCases[] = {
      {"C:\\out\\con.txt", "C:\\out\\_con.txt"},
      {"C:\\out\\CON.txt", "C:\\out\\_CON.txt"},
      {"C:\\out\\com7.log", "C:\\out\\_com7.log"},
      {"C:\\out\\LpT1.a.b", "C:\\out\\_LpT1.a.b"},
      {"C:/out/Nul", "C:/out/_Nul"},  // bare device names too
      {"C:\\out\\con", "C:\\out\\_con"},
      {"prn", "_prn"},
      {"aux.h", "_aux.h"},
      {"clock$.txt", "_clock$.txt"},
      {"C:\\out\\con .txt", "C:\\out\\_con .txt"},
      {"C:\\out\\com.log", "C:\\out\\com.log"},  // no digit
      {"C:\\out\\console.txt", "C:\\out\\console.txt"},
      {"C:\\out\\com10.txt", "C:\\out\\com10.txt"},
      {"C:\\con\\file.txt", "C:\\con\\file.txt"},  // only the final component
      {"C:\\out\\", "C:\\out\\"},
  };
  for (const Case& c : kCases) {
    XString p = X(c.in);
    sanitizeFileName(p, true, nullptr);
    EXPECT_STREQ(c.want, p.getUtf8()) << "input: " << c.in;
  }
  XString unchecked = X("C:\\out\\con.txt");
  sanitizeFileName(unchecked, false, nullptr);
  EXPECT_STREQ("C:\\out\\con.txt", unchecked.getUtf8());
}

TEST(PathRulesTest, SanitizeLogsEachRepairWithTheNameBeforeAndAfter) {
  RecordingLog log;
  XString p = X("C:\\d\\a:b|c");
  sanitizeFileName(p, true, &log);
  EXPECT_STREQ("C:\\d\\a_b_c", p.getUtf8());
  const std::vector<std::string> kWant = {
      "I:The : character is not allowed in Windows filenames..",
      "filename=C:\\d\\a:b|c",
      "modifiedFilename=C:\\d\\a_b|c",
      "I:The | character is not allowed in Windows filenames.",
      "filename=C:\\d\\a_b|c",
  };
  EXPECT_EQ(kWant, log.lines);

  RecordingLog late;
  XString q = X("longname:x");
  sanitizeFileName(q, false, &late);
  EXPECT_TRUE(
      late.has("I:The : character is not allowed in Windows filenames."))
      << late.all();
  EXPECT_TRUE(late.has("modifiedFilename=longname_x")) << late.all();

  const Case kMessages[] = {
      {"a*", "I:The asterisk character is not allowed in Windows filenames."},
      {"a<",
       "I:The open-angle-bracket character is not allowed in Windows "
       "filenames."},
      {"a>",
       "I:The close-angle-bracket character is not allowed in Windows "
       "filenames."},
      {"a\"",
       "I:The double-quote character is not allowed in Windows filenames."},
      {"a?", "I:The ? character is not allowed in Windows filenames."},
  };
  for (const Case& c : kMessages) {
    RecordingLog one;
    XString x = X(c.in);
    sanitizeFileName(x, false, &one);
    EXPECT_TRUE(one.has(c.want)) << c.in << "\n" << one.all();
    EXPECT_TRUE(one.has(std::string("filename=") + c.in)) << one.all();
  }

  // Nothing to repair: nothing logged.
  RecordingLog quiet;
  XString clean = X("C:\\ok\\file.txt");
  sanitizeFileName(clean, true, &quiet);
  EXPECT_TRUE(quiet.lines.empty()) << quiet.all();
}

// ---- stripRoot, joinPath, joinFileName ----

TEST(PathRulesTest, StripRootMakesAnyPathRelative) {
  const Case kCases[] = {
      {"C:\\\\\\a\\b", "a\\b"},
      {"\\\\srv\\share\\a\\b", "a\\b"},
      {"\\\\?\\UNC\\srv\\share\\x", "x"},
      {"\\\\?\\C:\\y\\z", "y\\z"},
      {"\\a", "a"},
      {"a\\b", "a\\b"},
      {"C:/x/y", "x\\y"},
      {"//srv/share/f", "f"},
      {"\\\\srv", ""},         // no share
      {"\\\\srv\\share", ""},  // nothing after the share
      {"\\\\srv\\share\\\\f", "f"},
      {"", ""},
  };
  for (const Case& c : kCases) {
    XString p = X(c.in);
    stripRoot(p);
    EXPECT_STREQ(c.want, p.getUtf8()) << "input: " << c.in;
  }
}

TEST(PathRulesTest, JoinPathAppendsTheRelativeNameInsideTheDirectory) {
  struct JoinCase {
    const char* dir;
    const char* name;
    const char* want;
  };
  const JoinCase kCases[] = {
      {" C:/out \t", "D:\\x\\y.txt", "C:\\out\\x\\y.txt"},
      {"C:\\out\\", "sub/f.txt", "C:\\out\\sub\\f.txt"},
      {"C:\\out", "\\\\srv\\share\\f", "C:\\out\\f"},
      {"", "a/b", "a\\b"},
      {" \r\n", "a/b", "a\\b"},
      {"", "C:\\x\\..\\..\\y", "y"},
      // Dot components never lead out of the directory.
      {"C:\\out", "..\\..\\evil.txt", "C:\\out\\evil.txt"},
      {"C:\\out", "a\\..\\b.txt", "C:\\out\\b.txt"},
      {"C:\\out", "a/./b/", "C:\\out\\a\\b\\"},
      {"C:\\out", "/../../Windows/x.dll", "C:\\out\\Windows\\x.dll"},
  };
  for (const JoinCase& c : kCases) {
    XString out;
    joinPath(X(c.dir), X(c.name), out);
    EXPECT_STREQ(c.want, out.getUtf8()) << c.dir << " + " << c.name;
  }
}

TEST(PathRulesTest, JoinFileNameAppendsOnlyTheFinalComponent) {
  struct JoinCase {
    const char* dir;
    const char* path;
    const char* want;
  };
  const JoinCase kCases[] = {
      {"C:\\out", "x\\y\\z.txt", "C:\\out\\z.txt"},
      {"C:/out/", "D:/x/y.bin", "C:\\out\\y.bin"},
      {"", "x\\y.txt", "y.txt"},
  };
  for (const JoinCase& c : kCases) {
    XString out;
    joinFileName(X(c.dir), X(c.path), out);
    EXPECT_STREQ(c.want, out.getUtf8()) << c.dir << " + " << c.path;
  }
}

// ---- Full, extended and final parts ----

TEST(PathRulesTest, ExtendedFormOfDrivePathsAndUncPaths) {
  const Case kCases[] = {
      {"\\\\srv\\share\\a\\b.txt", "\\\\?\\UNC\\srv\\share\\a\\b.txt"},
      {"C:\\a\\b", "\\\\?\\C:\\a\\b"},
      {"C:/a/b", "\\\\?\\C:\\a\\b"},
      {"\\\\?\\C:\\x", "\\\\?\\C:\\x"},
      {"\\\\?\\UNC\\s\\h\\f", "\\\\?\\UNC\\s\\h\\f"},
  };
  for (const Case& c : kCases) {
    XString out;
    toExtendedPath(X(c.in), out);
    EXPECT_STREQ(c.want, out.getUtf8()) << "input: " << c.in;
  }
}

TEST(PathRulesTest, LongPathsAreDeletedInTheirExtendedForm) {
  const std::string kTail = "\\" + std::string(280, 'f') + ".txt";
  const Case kCases[] = {
      {"\\\\srv\\share\\f.txt", "\\\\srv\\share\\f.txt"},
      {"C:\\d\\f.txt", "C:\\d\\f.txt"},
  };
  for (const Case& c : kCases) {
    XString out;
    toDeletePath(X(c.in), out);
    EXPECT_STREQ(c.want, out.getUtf8());
  }
  XString out;
  toDeletePath(X("\\\\srv\\share" + kTail), out);
  EXPECT_EQ("\\\\?\\UNC\\srv\\share" + kTail, std::string(out.getUtf8()));
  toDeletePath(X("C:\\d" + kTail), out);
  EXPECT_EQ("\\\\?\\C:\\d" + kTail, std::string(out.getUtf8()));
}

TEST(PathRulesTest, FullPathOfARelativeNameStartsWithTheCurrentDirectory) {
  XString full;
  getFullPath(X("some_name.txt"), full);
  std::string f = full.getUtf8();
  EXPECT_GT(f.size(), std::string("some_name.txt").size());
  EXPECT_EQ(std::string("some_name.txt"), f.substr(f.size() - 13));
  XString ext;
  toExtendedPath(X("some_name.txt"), ext);
  EXPECT_EQ(std::string("\\\\?\\") + f, ext.getUtf8());
}

TEST(PathRulesTest, FileNamePartIsTheFinalComponent) {
  const Case kCases[] = {
      {"C:\\a\\b.txt", "b.txt"},
      {"C:/a/b.txt", "b.txt"},
      {"\\\\srv\\share\\dir\\f.bin", "f.bin"},
      {"name.ext", "name.ext"},
      {"C:\\a\\", ""},
  };
  for (const Case& c : kCases) {
    XString out;
    getFileNamePart(X(c.in), out);
    EXPECT_STREQ(c.want, out.getUtf8()) << "input: " << c.in;
  }
}

// ---- Choice of the function form ----

TEST(PathRulesTest, OpenCallFormFollowsLengthAnsiSafetyAndLegacy) {
  // Cyrillic, CJK and a character outside the BMP: no single-byte ANSI
  // code page holds them all.
  const std::string kForeign =
      "C:\\t\\\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80.txt";
  const std::string kLong = "C:\\" + std::string(300, 'a');
  const std::string k259 = "C:\\" + std::string(256, 'b');  // 259 units
  const std::string k260 = "C:\\" + std::string(257, 'b');  // 260 units

  EXPECT_EQ(PathCallForm::kAnsi, chooseOpenCallForm(X("C:\\t\\a.txt"), false));
  EXPECT_EQ(PathCallForm::kWideExtended,
            chooseOpenCallForm(X(kForeign), false));
  EXPECT_EQ(PathCallForm::kAnsi, chooseOpenCallForm(X(kForeign), true));
  EXPECT_EQ(PathCallForm::kAnsi, chooseOpenCallForm(X(k259), false));
  EXPECT_EQ(PathCallForm::kWideExtended, chooseOpenCallForm(X(k260), false));
  EXPECT_EQ(PathCallForm::kWideExtended, chooseOpenCallForm(X(kLong), true));

  EXPECT_TRUE(isAnsiLossless(X("plain ascii")));
  EXPECT_FALSE(isAnsiLossless(X(kForeign)));
  // The character outside the BMP counts two UTF-16 units.
  EXPECT_EQ(4u, utf16Length(X("\xD0\x96\xF0\x9F\x98\x80x")));
}

TEST(PathRulesTest, LegacyMeansMajorVersionFour) {
  WindowsVersion v;
  v.major = 4;
  EXPECT_TRUE(v.isLegacy());
  v.major = 5;
  EXPECT_FALSE(v.isLegacy());
  v.major = 10;
  EXPECT_FALSE(v.isLegacy());
  // Neither the native build nor the Win32 build runs on a legacy system.
  EXPECT_FALSE(isLegacySystem());
}

}  // namespace
}  // namespace sfx

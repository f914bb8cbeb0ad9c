#include "charset/charset_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "os/os.h"

namespace sfx {
namespace {

TEST(CharsetNamesTest, TableIsSortedAndEveryNameFindsItsPage) {
  EXPECT_EQ(422u, kNumCharsetNames);
  for (uint32_t i = 0; i < kNumCharsetNames; ++i) {
    if (i > 0) {
      EXPECT_LT(strcmp(kCharsetNames[i - 1].name, kCharsetNames[i].name), 0)
          << kCharsetNames[i].name;
    }
    EXPECT_EQ(kCharsetNames[i].codePage,
              charsetToCodePage(kCharsetNames[i].name))
        << kCharsetNames[i].name;
  }
}

TEST(CharsetNamesTest, NormalisesAndLooksUp) {
  struct Case {
    const char* name;
    uint32_t codePage;
  } cases[] = {
      {" \tUTF_8\r\n", 65001},
      {"Windows-1252", 1252},
      {"ISO_8859_1", 28591},
      {"Shift_JIS", 932},
      {"iso-8859-8 visual", 28598},
      {"ISO-8859-8 Visual  ", 28598},
      {"iso-8859-8  visual", 0},  // inner blanks are kept
      {"utf8 ", 65001},
      {"nonsense", 0},
      {"utf-8x", 0},
      {"x-mac-japanese-and-some-more-letters-beyond-any-name", 0},
      // Names beginning with f, o, p, q or r have no page.
      {"foo", 0},
      {"oem", 0},
      {"pc850", 0},
      {"QWERTY", 0},
      {"roman8", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.codePage, charsetToCodePage(c.name)) << "[" << c.name << "]";
  }
}

TEST(CharsetNamesTest, ShortNamesAndAnsiGiveTheAnsiCodePage) {
  const uint32_t ansi = activeAnsiCodePage();
  for (const char* name : {"ansi", "ANSI", " ansi ", "", "ab", "  x\t", "_-"}) {
    EXPECT_EQ(ansi, charsetToCodePage(name)) << "[" << name << "]";
  }
  EXPECT_EQ(ansi, charsetToCodePage(nullptr));
}

// Lower-casing also adds 32 to bytes 192-223: such a name is not taken for
// the upper-case form of a three-letter name either.
TEST(CharsetNamesTest, HighBytesAreLowerCasedNotDropped) {
  EXPECT_EQ(0u, charsetToCodePage("\xC0\xC1\xC2"));
  EXPECT_EQ(0u, charsetToCodePage("utf-8\xC0"));
}

TEST(CharsetNamesTest, PagesTheSystemReliesOn) {
  struct Case {
    const char* name;
    uint32_t codePage;
  } cases[] = {
      {"utf-8", 65001},
      {"unicode-1-1-utf-8", 65001},
      {"x-unicode-2-0-utf-8", 65001},
      {"utf-16", 1200},
      {"ucs-2", 1200},
      {"unicode", 1200},
      {"iso-10646-ucs-2", 1200},
      {"utf-16le", 1200},
      {"unicodefffe", 1201},
      {"utf-16be", 1201},
      {"utf16be", 1201},
      {"utf-7", 65000},
      {"csunicode11utf7", 65000},
      {"utf-32", 65005},
      {"utf-32be", 65006},
      {"gb18030", 936},
      {"gb18030-2000", 936},
      {"iso-8859-11", 874},
      {"iso-8859-8-i", 38598},
      {"iso-2022-kr-8", 51949},
      {"iso-2022-kr-8bit", 51949},
      {"iso-2022-jpeuc", 51932},
      {"cp819", 28591},
      {"latin1", 28591},
      {"iso-ir-100", 28591},
      {"latin5", 28599},
      {"latin-5", 28599},
      {"latin9", 28605},
      {"latin-9", 28605},
      {"iso-8859-15", 28605},
      {"koi8", 20866},
      {"koi8r", 20866},
      {"koi8-r", 20866},
      {"koi8-u", 21866},
      {"koi8-ru", 21866},
      {"ebcdic-cp-be", 500},
      {"ebcdic-cp-ch", 500},
      {"ebcdic-cp-ca", 37},
      {"ebcdic-cp-nl", 37},
      {"ebcdic-cp-us", 37},
      {"ebcdic-cp-wt", 37},
      {"german", 20106},
      {"din-66003", 20106},
      {"asmo-449", 709},
      {"ecma-114", 28596},
      {"cp1025", 21025},
      {"x-user-defined", 50000},
      {"x-ansi", 1252},
      {"iso-2022-jp", 50220},
      {"iso-2022-kr", 50225},
      {"euc-kr", 51949},
      {"ks-c-5601-1987", 949},
      {"big5", 950},
      {"johab", 1361},
      {"macintosh", 10000},
      {"x-mac-arabic", 10004},
      {"ibm037", 37},
      {"ibm01047", 1047},
      {"ebcdic-de-273+euro", 1141},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.codePage, charsetToCodePage(c.name)) << c.name;
  }
}

}  // namespace
}  // namespace sfx

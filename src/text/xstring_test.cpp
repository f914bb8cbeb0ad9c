#include "text/xstring.h"

#include <gtest/gtest.h>

#include <string>

#include "os/os.h"

namespace sfx {

class XStringTestPeer {
 public:
  static void corrupt(XString& x) { x.valid_ = 0xdeadbeef; }
};

namespace {

// The ANSI expectations below are written for Windows-1252, the active code
// page of the test machines (and the fixed answer on POSIX).
class XStringTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1252u, activeAnsiCodePage()); }
};

// "Grüße € " plus two characters 1252 cannot hold: U+65E5 and U+1F600.
const char kUtf8Text[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x82\xAC \xE6\x97\xA5\xF0\x9F\x98\x80";
const char16_t kUtf16Text[] = u"Gr\u00FC\u00DFe \u20AC \u65E5\U0001F600";
const char kAnsiText[] =
    "Gr\xFC\xDF"
    "e \x80 ";  // what 1252 can hold of it

TEST_F(XStringTest, Utf8ConvertsToUtf16AndAnsi) {
  XString x;
  ASSERT_TRUE(x.setFromUtf8(kUtf8Text));
  EXPECT_TRUE(x.isUtf8Current());
  EXPECT_FALSE(x.isAnsiCurrent());
  EXPECT_FALSE(x.isWideCurrent());
  EXPECT_EQ(std::u16string(kUtf16Text), x.getUtf16());
  EXPECT_TRUE(x.isWideCurrent());
  // Unmappable characters are dropped and the ANSI form stays not current.
  EXPECT_STREQ(kAnsiText, x.getAnsi());
  EXPECT_FALSE(x.isAnsiCurrent());
  EXPECT_STREQ(kUtf8Text, x.getUtf8());
  EXPECT_EQ(sizeof kUtf8Text - 1, x.getSizeUtf8());
}

TEST_F(XStringTest, Utf16ConvertsToUtf8AndAnsi) {
  XString x;
  ASSERT_TRUE(x.setFromUtf16(kUtf16Text));
  EXPECT_EQ(11u, x.getNumChars());  // code units, the emoji counts twice
  EXPECT_STREQ(kUtf8Text, x.getUtf8());
  XString w;
  w.setFromUtf16N(kUtf16Text, 7);  // "Grüße €"
  EXPECT_STREQ(
      "Gr\xFC\xDF"
      "e \x80",
      w.getAnsi());
  EXPECT_TRUE(w.isAnsiCurrent());
}

TEST_F(XStringTest, AnsiRoundTripsThroughUtf8AndUtf16) {
  XString x;
  ASSERT_TRUE(x.setFromAnsi("caf\xE9 \x80\x9F"));
  EXPECT_EQ(7u, x.getNumChars());  // bytes of the current ANSI form
  EXPECT_STREQ("caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8", x.getUtf8());
  EXPECT_EQ(std::u16string(u"caf\u00E9 \u20AC\u0178"), x.getUtf16());

  XString back;
  back.setFromUtf8(x.getUtf8());
  EXPECT_STREQ("caf\xE9 \x80\x9F", back.getAnsi());
  EXPECT_TRUE(back.isAnsiCurrent());
}

TEST_F(XStringTest, LeadingByteOrderMarkIsDropped) {
  XString x;
  x.setFromUtf8(
      "\xEF\xBB\xBF"
      "a");
  EXPECT_STREQ("a", x.getUtf8());
  EXPECT_EQ(std::u16string(u"a"), x.getUtf16());
  x.setFromUtf8("\xEF\xBB\xBF");
  EXPECT_TRUE(x.isEmpty());
  EXPECT_TRUE(x.equalsUtf8("\xEF\xBB\xBF"));
}

TEST_F(XStringTest, EmptyAndClear) {
  XString x;
  EXPECT_TRUE(x.isEmpty());
  EXPECT_STREQ("", x.getUtf8());
  EXPECT_EQ(std::u16string(), x.getUtf16());
  x.setFromUtf8("text");
  EXPECT_FALSE(x.isEmpty());
  x.clear();
  EXPECT_TRUE(x.isEmpty());
  EXPECT_TRUE(x.isAnsiCurrent());
  EXPECT_TRUE(x.isUtf8Current());
  EXPECT_FALSE(x.isWideCurrent());
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    x.setFromAnsi("a");
    x.setFromUtf8(empty);
    EXPECT_TRUE(x.isEmpty());
    EXPECT_STREQ("", x.getAnsi());
  }
}

TEST_F(XStringTest, AppendAnsiGoesToTheCurrentForm) {
  XString a;
  a.setFromAnsi("x");
  ASSERT_TRUE(a.appendAnsi("\xE9"));
  EXPECT_TRUE(a.isAnsiCurrent());
  EXPECT_FALSE(a.isUtf8Current());
  EXPECT_STREQ("x\xC3\xA9", a.getUtf8());

  XString u;
  u.setFromUtf8("\xE2\x82\xAC");
  ASSERT_TRUE(u.appendAnsi("\x80"));  // converted to UTF-8 first
  EXPECT_TRUE(u.isUtf8Current());
  EXPECT_FALSE(u.isAnsiCurrent());
  EXPECT_STREQ("\xE2\x82\xAC\xE2\x82\xAC", u.getUtf8());
}

TEST_F(XStringTest, Utf8SbForWritingMakesUtf8TheOnlyForm) {
  XString x;
  x.setFromAnsi("C:\\dir");
  x.getUtf16();
  StringBuffer& sb = x.getUtf8Sb();
  EXPECT_FALSE(x.isAnsiCurrent());
  EXPECT_FALSE(x.isWideCurrent());
  sb.append("\\f\xC3\xBC");
  EXPECT_EQ(std::u16string(u"C:\\dir\\f\u00FC"), x.getUtf16());
  EXPECT_TRUE(
      x.beginsWithUtf8("\xEF\xBB\xBF"
                       "C:"));
  EXPECT_TRUE(x.endsWithUtf8("f\xC3\xBC"));
  ASSERT_TRUE(x.appendUtf8("!"));
  EXPECT_STREQ("C:\\dir\\f\xC3\xBC!", x.getUtf8());
}

TEST_F(XStringTest, CopiesKeepFormsAndFlags) {
  XString a;
  a.setFromUtf16(u"\u00E9t\u00E9");
  XString b(a);
  EXPECT_TRUE(b.isWideCurrent());
  EXPECT_FALSE(b.isUtf8Current());
  EXPECT_STREQ("\xE9t\xE9", b.getAnsi());
  XString c;
  c.setFromUtf8("other");
  c = b;
  EXPECT_STREQ("\xC3\xA9t\xC3\xA9", c.getUtf8());
  a.setFromUtf8("changed");
  EXPECT_STREQ("\xC3\xA9t\xC3\xA9", b.getUtf8());
}

TEST_F(XStringTest, SettingFromItsOwnFormIsSafe) {
  XString x;
  x.setFromUtf8("0123456789");
  x.setFromUtf8(x.getUtf8() + 5);
  EXPECT_STREQ("56789", x.getUtf8());
  x.setFromAnsi(x.getAnsi() + 1);
  EXPECT_STREQ("6789", x.getUtf8());
  x.setFromUtf16(x.getUtf16() + 2);
  EXPECT_STREQ("89", x.getUtf8());
}

TEST_F(XStringTest, InvalidUtf8NeverYieldsOutOfRangeText) {
  // Truncated sequences, a stray continuation byte, an overlong form and an
  // encoded surrogate: each bad byte is dropped, the rest survives.
  XString x;
  x.setFromUtf8N("a\xE2\x82", 3);
  EXPECT_EQ(std::u16string(u"a"), x.getUtf16());
  x.setFromUtf8(
      "\x80"
      "b\xC0\xAF"
      "c\xED\xA0\x80"
      "d\xF0\x9F");
  EXPECT_EQ(std::u16string(u"bcd"), x.getUtf16());
}

#if !defined(_WIN32)
TEST(XStringDeathTest, DamagedValidityTagStopsTheProcess) {
  EXPECT_DEATH(
      {
        XString x;
        XStringTestPeer::corrupt(x);
        x.getUtf8();
      },
      "XString is not valid");
}
#endif

}  // namespace
}  // namespace sfx

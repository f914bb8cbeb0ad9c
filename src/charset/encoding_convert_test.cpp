#include "charset/encoding_convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/code_page_data.h"
#include "charset/code_page_tables.h"
#include "log/log_base.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

std::string bytes(const DataBuffer& db) {
  return db.getSize() ? std::string(reinterpret_cast<const char*>(db.getData()),
                                    db.getSize())
                      : std::string();
}

// Converts `in` and returns the output; *ok gets the converter's result.
std::string convertWith(EncodingConvert& conv, uint32_t from, uint32_t to,
                        const std::string& in, bool* ok = nullptr) {
  LogNull log;
  DataBuffer out;
  bool result =
      conv.EncConvert(from, to, reinterpret_cast<const uint8_t*>(in.data()),
                      static_cast<uint32_t>(in.size()), out, log);
  if (ok) *ok = result;
  return bytes(out);
}

std::string convert(uint32_t from, uint32_t to, const std::string& in,
                    bool* ok = nullptr,
                    int errorAction = EncodingConvert::kEmitNothing) {
  EncodingConvert conv;
  EXPECT_TRUE(conv.setErrorAction(errorAction));
  LogNull log;
  DataBuffer out;
  bool result =
      conv.EncConvert(from, to, reinterpret_cast<const uint8_t*>(in.data()),
                      static_cast<uint32_t>(in.size()), out, log);
  if (ok) *ok = result;
  return bytes(out);
}

// "é€" and U+1F600 in each encoding.
const std::string kUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 9);
const std::string kUtf16LE("\xE9\x00\xAC\x20\x3D\xD8\x00\xDE", 8);
const std::string kUtf16BE("\x00\xE9\x20\xAC\xD8\x3D\xDE\x00", 8);

TEST(EncodingConvertTest, ConvertsBetweenTheUnicodeForms) {
  struct Case {
    uint32_t from, to;
    std::string in, out;
  } cases[] = {
      {65001, 1200, kUtf8, kUtf16LE},   {65001, 1201, kUtf8, kUtf16BE},
      {1200, 65001, kUtf16LE, kUtf8},   {1201, 65001, kUtf16BE, kUtf8},
      {1201, 1200, kUtf16BE, kUtf16LE}, {1200, 1201, kUtf16LE, kUtf16BE},
  };
  for (const Case& c : cases) {
    bool ok = false;
    EXPECT_EQ(c.out, convert(c.from, c.to, c.in, &ok))
        << c.from << "->" << c.to;
    EXPECT_TRUE(ok);
  }
}

TEST(EncodingConvertTest, ConvertsThroughTheWindows1252Table) {
  const std::string ansi("caf\xE9 \x80\x9F\x8A", 8);
  const std::string utf8("caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8\xC5\xA0");
  bool ok = false;
  EXPECT_EQ(utf8, convert(1252, 65001, ansi, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(ansi, convert(65001, 1252, utf8, &ok));
  EXPECT_TRUE(ok);
  std::string wide = convert(1252, 1200, ansi, &ok);
  EXPECT_EQ(std::string("c\0a\0f\0\xE9\0 \0\xAC\x20\x78\x01\x60\x01", 16),
            wide);
  EXPECT_EQ(ansi, convert(1200, 1252, wide, &ok));
  EXPECT_TRUE(ok);
}

TEST(EncodingConvertTest, UnmappableInputIsDroppedOrWrittenAsHexReference) {
  bool ok = true;
  // U+65E5 and U+1F600 have no byte in 1252.
  const std::string utf8(
      "a\xE6\x97\xA5"
      "b\xF0\x9F\x98\x80");
  EXPECT_EQ("ab", convert(65001, 1252, utf8, &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ("a&#xE565;b&#x3DD800DE;",
            convert(65001, 1252, utf8, &ok, EncodingConvert::kEmitHexCharRef));
  // 0xAA is undefined in 1253.
  EXPECT_EQ(
      std::string("x\0&\0#\0x\0"
                  "A\0"
                  "A\0;\0",
                  14),
      convert(1253, 1200, "x\xAA", &ok, EncodingConvert::kEmitHexCharRef));
  EXPECT_FALSE(ok);
  EXPECT_EQ("x", convert(1253, 65001, "x\xAA", &ok));
  EXPECT_FALSE(ok);

  EncodingConvert conv;
  EXPECT_FALSE(conv.setErrorAction(5));
  EXPECT_EQ(EncodingConvert::kEmitNothing, conv.getErrorAction());
}

TEST(EncodingConvertTest, ByteOrderMarks) {
  bool ok = false;
  // A UTF-16 mark decides the order whatever the code page said.
  const std::string le = std::string("\xFF\xFE", 2) + kUtf16LE;
  EXPECT_EQ(kUtf8, convert(1201, 65001, le, &ok));
  EXPECT_EQ(kUtf8, convert(1200, 65001, le, &ok));
  const std::string be = std::string("\xFE\xFF", 2) + kUtf16BE;
  EXPECT_EQ(kUtf8, convert(1200, 65001, be, &ok));
  // UTF-8 marks are dropped; a mark alone converts to nothing, successfully.
  EXPECT_EQ("", convert(65001, 1200, "\xEF\xBB\xBF", &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(std::string("a\0", 2), convert(65001, 1200,
                                           "\xEF\xBB\xBF"
                                           "a",
                                           &ok));
  EXPECT_EQ("\xE9", convert(65001, 1252, "\xEF\xBB\xBF\xC3\xA9", &ok));
}

TEST(EncodingConvertTest, EqualOrZeroCodePagesCopyUnchanged) {
  const std::string raw("\xEF\xBB\xBF\x81\x00z", 6);
  bool ok = false;
  EXPECT_EQ(raw, convert(1252, 1252, raw, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(raw, convert(1252, 0, raw, &ok));
  EXPECT_EQ(raw, convert(0, 65001, raw, &ok));
  EXPECT_EQ(raw, convert(65001, 65001, raw, &ok));
}

TEST(EncodingConvertTest, OutputIsAppendedNotReplaced) {
  EncodingConvert conv;
  LogNull log;
  DataBuffer out;
  out.append("<<", 2);
  ASSERT_TRUE(conv.EncConvert(
      1252, 65001, reinterpret_cast<const uint8_t*>("\xE9"), 1, out, log));
  EXPECT_EQ("<<\xC3\xA9", bytes(out));
}

TEST(EncodingConvertTest, CodePageWithoutTableFails) {
  bool ok = true;
  EXPECT_EQ("", convert(65001, 99999, "abc", &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ("", convert(99999, 1200, "abc", &ok));
  EXPECT_FALSE(ok);
}

TEST(EncodingConvertTest, MalformedInputStaysInBounds) {
  bool ok = true;
  struct Case {
    uint32_t from, to;
    std::string in, out;
  } cases[] = {
      // Truncated, overlong, surrogate and out-of-range UTF-8.
      {65001, 1200, std::string("\xF0\x9F\x98", 3), ""},
      {65001, 1200, "\xC1\xBF", ""},
      {65001, 1200, "\xE0\x80\xAF", ""},
      {65001, 1200, "\xED\xB0\x80", ""},
      {65001, 1200, "\xF4\x90\x80\x80", ""},
      {65001, 1200, "\xF0\x80\x80\xAF", ""},
      {65001, 1200, "\xF5\x80\x80\x80", ""},
      {65001, 1200, "\xC0\xAF", ""},
      {65001, 1200, "\xC3", ""},
      {65001, 1200,
       "\xC3"
       "A",
       std::string("A\0", 2)},
      // Lone surrogates and an odd last byte of UTF-16.
      {1200, 65001, std::string("\x3D\xD8", 2), ""},
      {1200, 65001,
       std::string("\x00\xDE"
                   "A\0",
                   4),
       "A"},
      {1200, 65001, std::string("A\0B", 3), "A"},
      {1201, 65001, std::string("\0A\0", 3), "A"},
      {1200, 1252,
       std::string("\x3D\xD8"
                   "A",
                   3),
       ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.out, convert(c.from, c.to, c.in, &ok));
    EXPECT_FALSE(ok);
  }
}

// Records contexts, information lines and named values as flat text lines.
class RecordingLog : public LogBase {
 public:
  bool enterContext(const char* tag, bool) override {
    lines.push_back(std::string("enter ") + tag);
    return true;
  }
  bool logInfo(const char* text) override {
    lines.push_back(std::string("info ") + text);
    return true;
  }
  bool logError(const char* text) override {
    lines.push_back(std::string("error ") + text);
    return true;
  }
  bool logData(const char* tag, const char* value) override {
    lines.push_back(std::string(tag) + "=" + value);
    return true;
  }
  bool has(const std::string& line) const {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

TEST(EncodingConvertTest, VerboseLogNamesTheContextsAndCodePages) {
  RecordingLog log;
  log.setVerbose(true);
  EncodingConvert conv;
  DataBuffer out;
  ASSERT_TRUE(conv.EncConvert(
      1252, 65001, reinterpret_cast<const uint8_t*>("ab\xE9"), 3, out, log));
  for (const char* line :
       {"enter EncConvert", "fromCodePage=1252", "toCodePage=65001",
        "enter convert_a",
        "info Converting to utf-8 using utf-16 as a pivot table...",
        "enter convertToUnicodeHC", "inDataLen=3",
        "enter convertToUnicodeByLookup", "enter convertFromUnicode"}) {
    EXPECT_TRUE(log.has(line)) << line;
  }

  RecordingLog jis;
  jis.setVerbose(true);
  DataBuffer sjis;
  ASSERT_TRUE(conv.EncConvert(
      50220, 932, reinterpret_cast<const uint8_t*>("\x1B$B\x24\x22"), 5, sjis,
      jis));
  EXPECT_TRUE(jis.has("info Converting from iso-2022-*"));
  EXPECT_EQ("\x82\xA0", bytes(sjis));

  RecordingLog quiet;
  DataBuffer none;
  EXPECT_FALSE(conv.EncConvert(
      65001, 4242, reinterpret_cast<const uint8_t*>("a"), 1, none, quiet));
  EXPECT_FALSE(
      quiet.has("fromCodePage=65001"));  // named values only when verbose
  EXPECT_TRUE(quiet.has("codePage=4242"));
}

TEST(EncodingConvertTest, LongInputCrossesTheChunkSize) {
  std::string in;
  for (int i = 0; i < 1000; ++i) in += "\xC3\xA9";
  bool ok = false;
  std::string ansi = convert(65001, 1252, in, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(std::string(1000, '\xE9'), ansi);
  EXPECT_EQ(in, convert(1252, 65001, ansi, &ok));
}

std::string wide(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

TEST(EncodingConvertTest, DoubleBytePagesBothWays) {
  struct Case {
    uint32_t codePage;
    std::string native, utf8;
  } cases[] = {
      // a, HIRAGANA A, the kanji for "day", half-width KA... (0xB1 = KATAKANA
      // A)
      {932, "a\x82\xA0\x93\xFA\xB1", "a\xE3\x81\x82\xE6\x97\xA5\xEF\xBD\xB1"},
      {10001, "a\x82\xA0\x93\xFA", "a\xE3\x81\x82\xE6\x97\xA5"},
      {51932, "a\xA4\xA2\xC6\xFC\x8E\xB1",
       "a\xE3\x81\x82\xE6\x97\xA5\xEF\xBD\xB1"},
      {936, "a\xB0\xA1\xD6\xD0\x81\x40",
       "a\xE5\x95\x8A\xE4\xB8\xAD\xE4\xB8\x82"},
      {51936, "a\xB0\xA1\xD6\xD0", "a\xE5\x95\x8A\xE4\xB8\xAD"},
      {949, "a\xB0\xA1\xC7\xD1\x81\x41",
       "a\xEA\xB0\x80\xED\x95\x9C\xEA\xB0\x82"},
      {51949, "a\xB0\xA1\xC7\xD1", "a\xEA\xB0\x80\xED\x95\x9C"},
      {1361, "a\x88\x61", "a\xEA\xB0\x80"},
      {950, "a\xA4\x40\xA4\xA4", "a\xE4\xB8\x80\xE4\xB8\xAD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    bool ok = false;
    EXPECT_EQ(c.utf8, convert(c.codePage, 65001, c.native, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(c.native, convert(65001, c.codePage, c.utf8, &ok));
    EXPECT_TRUE(ok);
    std::string units = convert(c.codePage, 1200, c.native, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(c.native, convert(1200, c.codePage, units, &ok));
    EXPECT_TRUE(ok);
  }
  bool ok = false;
  // Between two table pages through UTF-16.
  EXPECT_EQ("a\xA4\xA2", convert(932, 51932, "a\x82\xA0", &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ("\x82", convert(1252, 437, "\xE9", &ok));
  EXPECT_TRUE(ok);
}

TEST(EncodingConvertTest, BrokenDoubleByteSequences) {
  struct Case {
    std::string in, out, hex;
  } cases[] = {
      // A lead byte at the end, before a byte that cannot trail, and an
      // unassigned pair.
      {"a\x82", "a", "a&#x82;"},
      {"\x82 b", " b", "&#x82; b"},
      {"\x85\x40z", "z", "&#x8540;z"},
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(c.out, convert(932, 65001, c.in, &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.hex,
              convert(932, 65001, c.in, &ok, EncodingConvert::kEmitHexCharRef));
  }
}

TEST(EncodingConvertTest, ErrorActions) {
  struct Case {
    const char* what;
    uint32_t from, to;
    int action;
    std::string replacement;
    uint32_t alt;
    std::string in, out;
  } cases[] = {
      // First leg of a pivot (1253 has no 0xAA): what is emitted passes the
      // second leg unchanged.
      {"first leg, nothing", 1253, 65001, 0, "", 0, "a\xAAz", "az"},
      {"first leg, replacement", 1253, 65001, 1, "?", 0, "a\xAAz", "a?z"},
      {"first leg, raw replacement", 1253, 65001, 1, "\xBF\xBF", 0, "a\xAAz",
       "a\xBF\xBFz"},
      {"first leg, reference", 1253, 65001, 2, "", 0, "a\xAAz", "a&#xAA;z"},
      {"first leg, unchanged", 1253, 65001, 7, "", 0, "a\xAAz", "a\xAAz"},
      {"first leg, to 1200 unchanged", 1253, 1200, 7, "", 0, "a\xAA",
       std::string("a\0\xAA", 3)},
      {"invalid UTF-8, unchanged", 65001, 1252, 7, "", 0, "a\xFFz", "a\xFFz"},
      // Second leg (U+00E9 has no byte in ASCII).
      {"second leg, nothing", 65001, 20127, 0, "", 0, "x\xC3\xA9y", "xy"},
      {"second leg, replacement", 65001, 20127, 1, "?", 0, "x\xC3\xA9y", "x?y"},
      {"second leg, reference", 65001, 20127, 2, "", 0, "x\xC3\xA9y",
       "x&#xE900;y"},
      {"second leg, unchanged", 65001, 20127, 7, "", 0, "x\xC3\xA9y",
       std::string("x\xE9\0y", 4)},
      {"second leg, alternate page", 65001, 20127, 6, "", 1252, "x\xC3\xA9y",
       "x\xE9y"},
      {"second leg, no alternate page", 65001, 20127, 6, "", 0, "x\xC3\xA9y",
       "xy"},
      {"from UTF-16, alternate page", 1200, 20127, 6, "", 437, wide(u"x\u00E9"),
       "x\x82"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EncodingConvert conv;
    ASSERT_TRUE(conv.setErrorAction(c.action));
    ASSERT_TRUE(conv.setReplacement(
        reinterpret_cast<const uint8_t*>(c.replacement.data()),
        static_cast<uint32_t>(c.replacement.size())));
    conv.setAltCodePage(c.alt);
    bool ok = true;
    EXPECT_EQ(c.out, convertWith(conv, c.from, c.to, c.in, &ok));
    EXPECT_FALSE(ok);
    // The action stays for the next conversion.
    EXPECT_EQ(c.action, conv.getErrorAction());
  }
  EncodingConvert conv;
  const uint8_t tooLong[EncodingConvert::kMaxReplacement + 1] = {};
  EXPECT_FALSE(conv.setReplacement(tooLong, sizeof tooLong));
  EXPECT_TRUE(conv.setReplacement(tooLong, sizeof tooLong - 1));
}

// A private-use U+EFFD in ordinary input is text, not a pass-through mark.
TEST(EncodingConvertTest, MarkerUnitOutsideAPivotIsText) {
  bool ok = false;
  EXPECT_EQ("\xEE\xBF\xBD\x01z",
            convert(1200, 65001, wide(u"\uEFFD\u0001z"), &ok));
  EXPECT_TRUE(ok);
}

// Inside a pivot conversion too: only a marker that the first leg wrote
// passes bytes through; a U+EFFD from the input is a character of its own
// (here one ASCII lacks) and the text after it is converted as usual.
TEST(EncodingConvertTest, MarkerUnitInsideAPivotIsText) {
  const std::string effd = "\xEE\xBF\xBD";
  std::string many, manyOut;
  for (int i = 0; i < 1000; ++i) {
    many += "\xFF" + effd + "\x01z";
    manyOut += "??\x01z";
  }
  struct Case {
    const char* what;
    int action;
    std::string in, out;
  } cases[] = {
      {"nothing", 0, "a" + effd + "bcd", "abcd"},
      {"replacement", 1, "a" + effd + "bcd", "a?bcd"},
      {"unchanged", 7, "a" + effd + "\x01z", "a\xFD\xEF\x01z"},
      {"after a real marker", 1, "\xFF" + effd + "\x01z", "??\x01z"},
      {"last", 1, "ab" + effd, "ab?"},
      {"many of both", 1, many, manyOut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EncodingConvert conv;
    ASSERT_TRUE(conv.setErrorAction(c.action));
    ASSERT_TRUE(conv.setReplacement(reinterpret_cast<const uint8_t*>("?"), 1));
    bool ok = true;
    EXPECT_EQ(c.out, convertWith(conv, 65001, 20127, c.in, &ok));
    EXPECT_FALSE(ok);
  }
}

TEST(EncodingConvertTest, ConvertFromCharset) {
  EncodingConvert conv;
  RecordingLog log;
  DataBuffer out;
  ASSERT_TRUE(conv.ConvertFromCharset(
      " UTF_8 ", 1252, reinterpret_cast<const uint8_t*>("\xC3\xA9"), 2, out,
      log));
  EXPECT_EQ("\xE9", bytes(out));
  EXPECT_FALSE(conv.ConvertFromCharset("no-such-charset", 1252,
                                       reinterpret_cast<const uint8_t*>("a"), 1,
                                       out, log));
  EXPECT_EQ("\xE9", bytes(out));
  EXPECT_TRUE(log.has("error Unrecognized fromCharset"));
  EXPECT_TRUE(log.has("charsetName=no-such-charset"));
}

TEST(EncodingConvertTest, Utf7) {
  bool ok = false;
  // Decoding the examples of RFC 2152, section "Examples".
  struct Case {
    std::string utf7, utf8;
  } decodes[] = {
      {"A+ImIDkQ.", "A\xE2\x89\xA2\xCE\x91."},
      {"Hi Mom -+Jjo--!", "Hi Mom -\xE2\x98\xBA-!"},
      {"+ZeVnLIqe-", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
      {"1 +- 1", "1 + 1"},
      {"+2D3eAA-", "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : decodes) {
    EXPECT_EQ(c.utf8, convert(65000, 65001, c.utf7, &ok)) << c.utf7;
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ("+ZeVnLIqe-",
            convert(65001, 65000, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", &ok));
  EXPECT_EQ("1 +- 1", convert(65001, 65000, "1 + 1", &ok));
  for (const std::string text :
       {"A\xE2\x89\xA2\xCE\x91.", "Hi Mom -\xE2\x98\xBA-!", "a+b=c?",
        "\xF0\x9F\x98\x80 \xC3\xA9\xC3\xA9\xC3\xA9x", "~\\[]{}"}) {
    std::string utf7 = convert(65001, 65000, text, &ok);
    EXPECT_TRUE(ok);
    for (unsigned char c : utf7) EXPECT_LT(c, 0x80) << utf7;
    EXPECT_EQ(text, convert(65000, 65001, utf7, &ok)) << utf7;
    EXPECT_TRUE(ok);
    EXPECT_EQ(convert(65001, 1200, text, &ok), convert(65000, 1200, utf7, &ok));
  }
  // Runs cut short, and a byte outside ASCII.
  EXPECT_EQ("a", convert(65000, 65001, "a+", &ok));
  EXPECT_EQ("a", convert(65000, 65001, "a+Z", &ok));
  EXPECT_EQ("ab", convert(65000, 65001,
                          "a\x80"
                          "b",
                          &ok));
  EXPECT_FALSE(ok);
}

TEST(EncodingConvertTest, Utf32) {
  const std::string utf8("a\xE2\x82\xAC\xF0\x9F\x98\x80", 8);
  const std::string le("a\0\0\0\xAC\x20\0\0\x00\xF6\x01\x00", 12);
  const std::string be("\0\0\0a\0\0\x20\xAC\x00\x01\xF6\x00", 12);
  bool ok = false;
  EXPECT_EQ(le, convert(65001, 65005, utf8, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(be, convert(65001, 65006, utf8, &ok));
  EXPECT_EQ(utf8, convert(65005, 65001, le, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(utf8, convert(65006, 65001, be, &ok));
  EXPECT_EQ(be, convert(65005, 65006, le, &ok));
  EXPECT_EQ(le, convert(1200, 65005, convert(65001, 1200, utf8), &ok));
  EXPECT_EQ("a\x80",
            convert(65006, 1252, std::string("\0\0\0a\0\0\x20\xAC", 8), &ok));
  // A mark decides the order whatever the code page said.
  EXPECT_EQ(utf8, convert(65006, 65001, std::string("\xFF\xFE\0\0", 4) + le));
  EXPECT_EQ(utf8, convert(65005, 65001, std::string("\0\0\xFE\xFF", 4) + be));
  EXPECT_EQ("", convert(65005, 65001, std::string("\xFF\xFE\0\0", 4), &ok));
  EXPECT_TRUE(ok);
  // Beyond U+10FFFF, a surrogate, and a cut-off unit.
  struct Case {
    std::string in, out;
  } bad[] = {
      {std::string("a\0\0\0\0\0\x11\0", 8), "a"},
      {std::string("\0\xD8\0\0b\0\0\0", 8), "b"},
      {std::string("a\0\0\0b\0", 6), "a"},
  };
  for (const Case& c : bad) {
    EXPECT_EQ(c.out, convert(65005, 65001, c.in, &ok));
    EXPECT_FALSE(ok);
  }
}

TEST(EncodingConvertTest, Iso2022Jp) {
  bool ok = false;
  // "a", HIRAGANA A (JIS 0x2422), "b".
  const std::string utf8(
      "a\xE3\x81\x82"
      "b");
  const std::string jis("a\x1B$B\x24\x22\x1B(Bb");
  for (uint32_t cp : {50220u, 50221u, 50222u}) {
    EXPECT_EQ(jis, convert(65001, cp, utf8, &ok)) << cp;
    EXPECT_TRUE(ok);
    EXPECT_EQ(utf8, convert(cp, 65001, jis, &ok)) << cp;
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(
      "a\x82\xA0"
      "b",
      convert(50221, 932, jis, &ok));
  // Half-width katakana KA KI (0xB6 0xB7 in 932).
  const std::string kana("\xEF\xBD\xB6\xEF\xBD\xB7");
  EXPECT_EQ("\x1B(I\x36\x37\x1B(B", convert(65001, 50221, kana, &ok));
  EXPECT_EQ("\x0E\x36\x37\x0F", convert(65001, 50222, kana, &ok));
  EXPECT_EQ(kana, convert(50222, 65001, "\x0E\x36\x37\x0F", &ok));
  EXPECT_EQ(kana, convert(50221, 65001, "\x1B(I\x36\x37\x1B(B", &ok));
  // 50220 has no half-width katakana: KA KI become full-width KA KI
  // (JIS 0x252B 0x252D), and the sound mark its full-width form.
  EXPECT_EQ("\x1B$B\x25\x2B\x25\x2D\x21\x2B\x1B(B",
            convert(65001, 50220, kana + "\xEF\xBE\x9E", &ok));
  EXPECT_TRUE(ok);
  const std::string mixed(
      "x\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1y\xE3\x80\x81z\r\n");
  EXPECT_EQ("x\xE6\x97\xA5\xE6\x9C\xAC\xE3\x82\xA2y\xE3\x80\x81z\r\n",
            convert(50220, 65001, convert(65001, 50220, mixed), &ok));
  for (uint32_t cp : {50221u, 50222u}) {
    EXPECT_EQ(mixed, convert(cp, 65001, convert(65001, cp, mixed), &ok)) << cp;
    EXPECT_TRUE(ok);
  }
  // Between two ISO-2022-JP variants.
  EXPECT_EQ("\x0E\x36\x37\x0F",
            convert(50221, 50222, "\x1B(I\x36\x37\x1B(B", &ok));
  // A character outside JIS X 0208 (IBM extension 0xFA40 in 932).
  EXPECT_EQ("a", convert(932, 50220, "a\xFA\x40", &ok));
  EXPECT_FALSE(ok);
  // Half a pair and cut-off escapes.
  EXPECT_EQ("a", convert(50220, 65001, "a\x1B$B\x24", &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ("a\x1B$", convert(50220, 65001, "a\x1B$", &ok));
}

TEST(EncodingConvertTest, Iso2022Kr) {
  bool ok = false;
  const std::string utf8(
      "a\xEA\xB0\x80\xED\x95\x9C"
      "b");  // a, GA, HAN, b
  const std::string iso(
      "\x1B$)Ca\x0E\x30\x21\x47\x51\x0F"
      "b");
  EXPECT_EQ(iso, convert(65001, 50225, utf8, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(utf8, convert(50225, 65001, iso, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(
      "a\xB0\xA1\xC7\xD1"
      "b",
      convert(50225, 949, iso, &ok));
  // GGAG (U+AC02) exists only in the extended Hangul of 949.
  EXPECT_EQ("\x1B$)Ca", convert(65001, 50225, "a\xEA\xB0\x82", &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ("a", convert(50225, 65001, "\x1B$)Ca\x0E\x30", &ok));
  EXPECT_FALSE(ok);
}

TEST(EncodingConvertTest, UnicodeFormsUnpackNoTable) {
  uint32_t before = numUnpackedCodePageTables();
  bool ok = false;
  std::string units = convert(65001, 1200, kUtf8, &ok);
  EXPECT_EQ(kUtf8, convert(1200, 65001, units, &ok));
  EXPECT_EQ(kUtf8, convert(65000, 65001, convert(65001, 65000, kUtf8), &ok));
  EXPECT_EQ(before, numUnpackedCodePageTables());
}

TEST(EncodingConvertTest, MalformedInputOfEveryFormStaysInBounds) {
  // Every prefix of inputs that mix the forms' special bytes, through every
  // source that has a decoder of its own.
  const std::string inputs[] = {
      std::string("\xEF\xBB\xBF\xF0\x9F\x98\x80\xC3", 8),
      std::string("\xFF\xFE\x3D\xD8\x00\xDE\x00\xD8", 8),
      std::string("\x00\x00\xFE\xFF\x00\x01\xF6\x00\x00", 9),
      std::string("+2D3eAA+ZeV-+\x1B$B\x24\x22\x0E\x30", 18),
      std::string("~{\x30\x21~}~~~\n~{\x30", 13),
  };
  for (uint32_t from : {65001u, 1200u, 1201u, 65000u, 65005u, 65006u, 50220u,
                        50222u, 50225u, 52936u, 932u, 949u}) {
    for (const std::string& in : inputs) {
      for (size_t n = 0; n <= in.size(); ++n) {
        for (int action : {0, 2, 6, 7}) {
          convert(from, 65001, in.substr(0, n), nullptr, action);
          convert(from, 1201, in.substr(0, n), nullptr, action);
        }
      }
    }
  }
}

// Long mixed input crosses the writers' blocks at every kind of character,
// and the fast ASCII runs meet the other characters at every alignment.
TEST(EncodingConvertTest, LongMixedInputRoundTrips) {
  const std::string pieces[] = {"abcdefgh",         "x",
                                "\xC3\xA9",         "\xE6\x97\xA5",
                                "\xF0\x9F\x98\x80", "0123456789ABCDEF"};
  std::string text, withBad;
  int numBad = 0;
  for (int i = 0; i < 6000; ++i) {
    const std::string& p = pieces[(i * 7 + i / 5) % 6];
    text += p;
    withBad += p;
    if (i % 97 == 0) {
      withBad += '\xFF';
      ++numBad;
    }
  }
  bool ok = false;
  std::string units = convert(65001, 1200, text, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(units, convert(65000, 1200, convert(65001, 65000, text)));
  EXPECT_EQ(text, convert(1200, 65001, units, &ok));
  EXPECT_TRUE(ok);
  std::string marked =
      convert(65001, 1200, withBad, &ok, EncodingConvert::kEmitHexCharRef);
  EXPECT_FALSE(ok);
  std::string back = convert(1200, 65001, marked, &ok);
  size_t found = 0;
  for (size_t at = back.find("&#xFF;"); at != std::string::npos;
       at = back.find("&#xFF;", at + 1)) {
    ++found;
  }
  EXPECT_EQ(static_cast<size_t>(numBad), found);
  EXPECT_EQ(text.size() + 6 * numBad, back.size());
}

TEST(EncodingConvertTest, Hz) {
  bool ok = false;
  // "a", the GB 2312 characters 0xB0A1 and 0xD6D0, "~b", after RFC 1843.
  const std::string utf8("a\xE5\x95\x8A\xE4\xB8\xAD~b");
  const std::string hz("a~{\x30\x21\x56\x50~}~~b");
  EXPECT_EQ(hz, convert(65001, 52936, utf8, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(utf8, convert(52936, 65001, hz, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ("ab", convert(52936, 65001, "a~\nb", &ok));
  // A GBK-only character (0x8140 in 936) has no HZ form.
  EXPECT_EQ("x", convert(936, 52936, "x\x81\x40", &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ("", convert(52936, 65001, "~{\x30", &ok));
  EXPECT_FALSE(ok);
}

// Arbitrary bytes through every table page, under every error action: the
// conversions stay in bounds (under the sanitizers) and, without markers in
// the way, UTF-16 output stays whole code units.
TEST(EncodingConvertTest, EveryTablePageTakesArbitraryBytes) {
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 700; ++i) {
    x = x * 1103515245u + 12345u;
    noise += static_cast<char>(x >> 24);
  }
  for (uint32_t k = 0; k < kNumPackedCodePages; ++k) {
    uint32_t cp = kPackedCodePages[k].codePage;
    SCOPED_TRACE(cp);
    for (int action : {0, 1, 2, 6, 7}) {
      std::string units = convert(cp, 1200, noise, nullptr, action);
      if (action == 0 || action == 2) {
        EXPECT_EQ(0u, units.size() % 2);
      }
      convert(1200, cp, units, nullptr, action);
      convert(cp, 65001, noise, nullptr, action);
      convert(65001, cp, noise, nullptr, action);
    }
  }
}

}  // namespace
}  // namespace sfx

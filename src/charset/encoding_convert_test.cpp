#include "charset/encoding_convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  // 0x81 is undefined in 1252.
  EXPECT_EQ(
      std::string("x\0&\0#\0x\0"
                  "8\0"
                  "1\0;\0",
                  14),
      convert(1252, 1200, "x\x81", &ok, EncodingConvert::kEmitHexCharRef));
  EXPECT_FALSE(ok);
  EXPECT_EQ("x", convert(1252, 65001, "x\x81", &ok));
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

}  // namespace
}  // namespace sfx

#include "text/content_coding.h"

#include <gtest/gtest.h>

#include <string>

#include "log/log_base.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

std::string str(const StringBuffer& sb) {
  return std::string(sb.getString(), sb.getSize());
}

std::string qp(const std::string& in, uint32_t lineLength = 76) {
  ContentCoding coding;
  coding.setMaxLineLength(lineLength);
  StringBuffer out;
  EXPECT_TRUE(coding.encodeQuotedPrintable(
      in.data(), static_cast<uint32_t>(in.size()), out));
  return str(out);
}

std::string decode64(const std::string& text) {
  DataBuffer out;
  EXPECT_TRUE(ContentCoding::decodeBase64(
      text.data(), static_cast<uint32_t>(text.size()), out));
  return out.getSize()
             ? std::string(reinterpret_cast<const char*>(out.getData()),
                           out.getSize())
             : std::string();
}

// Test vectors of RFC 4648, section 10, plus a zero byte.
TEST(ContentCodingTest, Base64EncodesRfc4648Vectors) {
  struct Case {
    std::string in;
    const char* out;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"abc", "YWJj"},
               {std::string(1, '\0'), "AA=="},
               {"\xFF\xFE\xFD", "//79"}};
  for (const Case& c : cases) {
    StringBuffer out;
    ASSERT_TRUE(ContentCoding::encodeBase64(
        c.in.data(), static_cast<uint32_t>(c.in.size()), out));
    EXPECT_EQ(c.out, str(out));
    EXPECT_EQ(c.in, decode64(c.out));
  }
}

TEST(ContentCodingTest, Base64DecodingSkipsAndStops) {
  struct Case {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"Zm9v\r\nYmFy", "foobar"},
      {" Zm\t9v.YmE=", "fooba"},
      {"Z!m*9v", "foo"},     // strays outside the alphabet are skipped
      {"Zm9vY", "foo"},      // a lone last character gives nothing
      {"Zm9vYg", "foob"},    // two characters give one byte
      {"Zm9vYmE", "fooba"},  // three give two
      {"Zm=9vYmFy", "f"},    // "=" ends the input
      {std::string("Zm9v\0YmFy", 9), "foo"},  // so does a zero byte
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.bytes, decode64(c.text)) << c.text;

  // Output longer than the local block.
  std::string big(3000, 'A');
  EXPECT_EQ(std::string(2250, '\0'), decode64(big));
}

TEST(ContentCodingTest, QuotedPrintable) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"a=b", "a=3Db"},
      {"trailing ", "trailing=20"},
      {"tab\t", "tab=09"},
      {"a \r\nb", "a=20\r\nb"},
      {"a\tb c", "a\tb c"},
      {"From me", "=46rom me"},
      {"x\r\nFrom y", "x\r\n=46rom y"},
      {"From", "From"},
      {"a From b", "a From b"},
      {".dot", "=2Edot"},
      {"a.b", "a.b"},
      {"a\nb\rc", "a=0Ab=0Dc"},
      {"caf\xE9~\x7F", "caf=E9~=7F"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, qp(c.in)) << c.in;
}

TEST(ContentCodingTest, QuotedPrintableSoftLineBreaks) {
  const std::string a75(75, 'a');
  struct Case {
    std::string in;
    uint32_t lineLength;
    std::string out;
  } cases[] = {
      // The column reaching L - 1 breaks the line, unless CR LF follows.
      {std::string(80, 'a'), 76, a75 + "=\r\n" + std::string(5, 'a')},
      {a75 + "\r\nb", 76, a75 + "\r\nb"},
      {a75, 76, a75 + "=\r\n"},
      // An escape does not start at column L - 3 or later.
      {std::string(73, 'a') + "=", 76, std::string(73, 'a') + "=\r\n=3D"},
      {std::string(72, 'a') + "=", 76, std::string(72, 'a') + "=3D=\r\n"},
      // After a soft break the new line may not start with "." either.
      {a75 + ".", 76, a75 + "=\r\n=2E"},
      {std::string(25, 'b'), 20,
       std::string(19, 'b') + "=\r\n" + std::string(6, 'b')},
      // Lengths below 10 count as 10.
      {std::string(12, 'c'), 3, std::string(9, 'c') + "=\r\nccc"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, qp(c.in, c.lineLength)) << c.in;
}

TEST(ContentCodingTest, HexAndUrlEncodings) {
  StringBuffer hex;
  ContentCoding::encodeHex("\x00\xAB\x7F", 3, hex);
  EXPECT_EQ("00AB7F", str(hex));
  struct Case {
    ContentCoding::UrlRule rule;
    const char* in;
    const char* out;
  } cases[] = {
      {ContentCoding::kUrlRfc3986, "a b,c", "a%20b,c"},
      {ContentCoding::kUrlRfc3986, "A-z.0_~$/\xE9", "A-z.0_~%24%2F%E9"},
      {ContentCoding::kUrlRfc1738, "$-_.+!*'(),~", "$-_.+!*'(),%7E"},
      {ContentCoding::kUrlRfc2396, "-_.!~*'(),", "-_.!~*'()%2C"},
  };
  for (const Case& c : cases) {
    StringBuffer out;
    ContentCoding::encodeUrl(c.in, static_cast<uint32_t>(strlen(c.in)), c.rule,
                             out);
    EXPECT_EQ(c.out, str(out)) << c.in;
  }
}

TEST(ContentCodingTest, EncodeDbSelectsTheEncoderByName) {
  DataBuffer db;
  db.append("a b,c", 5);
  struct Case {
    const char* name;
    const char* out;
  } cases[] = {
      {"base64", "YSBiLGM="},
      {"Base-64", "YSBiLGM="},
      {"HEX ", "6120622C63"},
      {"hexidecimal", "6120622C63"},
      {"\tasc", "a b,c"},
      {"ANSI", "a b,c"},
      {"url", "a%20b,c"},
      {"url_oauth", "a%20b,c"},
      {"URL_RFC3986", "a%20b,c"},
      {"url_rfc1738", "a%20b,c"},
      {"url_rfc2396", "a%20b%2Cc"},
      {"qp", "a b,c"},
      {"quoted-printable", "a b,c"},
      {"xyz", ""},
      {"", ""},
  };
  LogNull log;
  for (const Case& c : cases) {
    StringBuffer out("x:");
    ASSERT_TRUE(db.encodeDB(c.name, out, log));
    EXPECT_EQ(std::string("x:") + c.out, str(out)) << c.name;
  }
}

TEST(ContentCodingTest, EncodeDbReadsTheQpLineLength) {
  DataBuffer db;
  std::string text(30, 'q');
  db.append(text.data(), 30);
  struct Case {
    const char* name;
    uint32_t lineLength;
  } cases[] = {
      {"qp-20", 20}, {"qp-0", 76}, {"qp-x", 76}, {"qp-4", 10}, {"QP-12", 12}};
  LogNull log;
  for (const Case& c : cases) {
    StringBuffer out;
    ASSERT_TRUE(db.encodeDB(c.name, out, log));
    EXPECT_EQ(qp(text, c.lineLength), str(out)) << c.name;
  }
}

}  // namespace
}  // namespace sfx

#include "app/password_bytes.h"

#include <gtest/gtest.h>

#include "codec/aes.h"
#include "os/os.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace sfx {
namespace {

using Candidates = std::vector<std::string>;

// The ANSI code page of these tests is 1252: the POSIX build's, and the
// test prefix's under Wine. The letters below are in 1252, so their ANSI
// form is one byte each.
TEST(PasswordCandidatesTest, Utf8FirstThenAnsiWhenItDiffers) {
  ASSERT_EQ(1252u, activeAnsiCodePage())
      << "the native build and the test prefix use page 1252";
  struct Case {
    const char* utf8;
    Candidates expected;
  } cases[] = {
      {"", {""}},
      {"plain ascii", {"plain ascii"}},
      {"Bob's key", {"Bob's key"}},
      {"caf\xC3\xA9", {"caf\xC3\xA9", "caf\xE9"}},
      {"\xC3\x9F\xC3\xBC", {"\xC3\x9F\xC3\xBC", "\xDF\xFC"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, passwordCandidates(c.utf8)) << c.utf8;
  }
  EXPECT_EQ(Candidates{""}, passwordCandidates(nullptr));
}

// Letters outside the ANSI page: the UTF-8 bytes stay first, so a payload
// whose key the packer derived from UTF-8 matches on the first try.
TEST(PasswordCandidatesTest, LettersOutsideTheAnsiPageKeepUtf8First) {
  const char* cyrillic = "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C";
  Candidates got = passwordCandidates(cyrillic);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(cyrillic, got.front());
  if (got.size() > 1) {
    EXPECT_NE(got[0], got[1]);
  }
}

// The two candidates derive different keys, so trying both is needed.
TEST(PasswordCandidatesTest, CandidatesDeriveDifferentKeys) {
  ASSERT_EQ(1252u, activeAnsiCodePage())
      << "the native build and the test prefix use page 1252";
  Candidates got = passwordCandidates("caf\xC3\xA9");
  ASSERT_EQ(2u, got.size());
  DataBuffer k0, k1;
  StringBuffer p0(got[0].c_str()), p1(got[1].c_str());
  ASSERT_TRUE(AesCipher::deriveKey(p0, 256, k0));
  ASSERT_TRUE(AesCipher::deriveKey(p1, 256, k1));
  EXPECT_FALSE(k0.equals(k1));
}

}  // namespace
}  // namespace sfx

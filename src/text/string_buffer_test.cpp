#include "text/string_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
// windows.h defines these as macros; the tests use them as names.
#undef near
#undef far
#endif

namespace sfx {

// Reaches the validity byte, to show that a damaged object stops the process.
class StringBufferTestPeer {
 public:
  static void corrupt(StringBuffer& sb) { sb.valid_ = 0x55; }
};

namespace {

std::string str(const StringBuffer& sb) {
  return std::string(sb.getString(), sb.getSize());
}

#if defined(_WIN32)
std::wstring wideOf(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &w[0], n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}
#endif

// Sets (UTF-8) or, with a null value, removes a variable of the process
// environment; on Windows through the UTF-16 call, as a user's profile puts
// a name outside the ANSI code page there.
void setEnv(const char* name, const char* value) {
#if defined(_WIN32)
  SetEnvironmentVariableW(wideOf(name).c_str(),
                          value ? wideOf(value).c_str() : nullptr);
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

TEST(StringBufferTest, EightyOneBytesStayInlineAndTheNextAllocates285) {
  StringBuffer sb;
  ASSERT_TRUE(sb.appendCharN('a', 81));
  EXPECT_FALSE(sb.usesHeap());
  EXPECT_EQ(82u, sb.getCapacity());
  ASSERT_TRUE(sb.appendChar('b'));
  EXPECT_TRUE(sb.usesHeap());
  EXPECT_EQ(82u + 202u + 1u, sb.getCapacity());
  // The first heap allocation does not change the increment.
  EXPECT_EQ(202u, sb.getGrowBy());
  EXPECT_EQ(std::string(81, 'a') + "b", str(sb));
}

TEST(StringBufferTest, HeapGrowthHalvesCapacityIntoTheIncrement) {
  StringBuffer sb;
  sb.appendCharN('x', 82);  // capacity 285
  ASSERT_EQ(285u, sb.getCapacity());
  sb.appendCharN('x', 202);  // 284 < 285: fits
  EXPECT_EQ(285u, sb.getCapacity());
  sb.appendChar('x');  // 285 reaches the capacity: 285 + 202 + 1
  EXPECT_EQ(488u, sb.getCapacity());
  EXPECT_EQ(244u, sb.getGrowBy());
  EXPECT_EQ(285u, sb.getSize());
}

TEST(StringBufferTest, IncrementNeverExceeds500000) {
  StringBuffer sb;
  sb.appendCharN('x', 100);
  sb.appendCharN('y', 1200000);  // heap growth with a large append
  sb.appendCharN('z', sb.getCapacity() - sb.getSize());
  EXPECT_EQ(500000u, sb.getGrowBy());
  sb.clear();
  EXPECT_EQ(202u, sb.getGrowBy());
  EXPECT_TRUE(sb.usesHeap());  // clear keeps the heap buffer
}

TEST(StringBufferTest, CustomIncrementAppliesToTheFirstAllocation) {
  StringBuffer sb = StringBuffer::withGrowBy(120);
  sb.appendCharN('a', 82);
  EXPECT_EQ(82u + 120u + 1u, sb.getCapacity());
}

TEST(StringBufferTest, ShrinkMovesInlineOrTrimsTheHeapBuffer) {
  StringBuffer big;
  big.appendCharN('a', 100);
  big.appendCharN('b', 300);  // capacity > 100 + 256 after shortening
  big.shorten(300);
  ASSERT_EQ(100u, big.getSize());
  ASSERT_GT(big.getCapacity(), 356u);
  big.shrink();
  EXPECT_EQ(101u, big.getCapacity());
  EXPECT_EQ(std::string(100, 'a'), str(big));

  StringBuffer small;
  small.appendCharN('c', 400);
  small.shorten(350);
  small.shrink();
  EXPECT_FALSE(small.usesHeap());
  EXPECT_EQ(std::string(50, 'c'), str(small));

  // Within 256 bytes of slack nothing changes.
  StringBuffer near;
  near.appendCharN('d', 290);
  uint32_t cap = near.getCapacity();
  near.shrink();
  EXPECT_EQ(cap, near.getCapacity());
}

TEST(StringBufferTest, ClearAndFreeAndSecureClearReleaseTheHeap) {
  StringBuffer sb;
  sb.appendCharN('s', 200);
  sb.clearAndFree();
  EXPECT_FALSE(sb.usesHeap());
  EXPECT_EQ(0u, sb.getSize());
  sb.appendCharN('s', 200);
  sb.secureClear();
  EXPECT_FALSE(sb.usesHeap());
  EXPECT_STREQ("", sb.getString());
}

TEST(StringBufferTest, AnAppendBeyond32BitsFailsAndChangesNothing) {
  StringBuffer sb;
  sb.appendCharN('a', 100);
  EXPECT_FALSE(sb.appendN("x", UINT32_MAX - 10));
  EXPECT_FALSE(sb.appendCharN('x', UINT32_MAX - 10));
  EXPECT_EQ(std::string(100, 'a'), str(sb));
}

TEST(StringBufferTest, AppendsOfEveryKind) {
  StringBuffer sb;
  EXPECT_TRUE(sb.append(nullptr));
  EXPECT_TRUE(sb.append(""));
  EXPECT_TRUE(sb.appendN("xyz", 0));
  EXPECT_EQ(0u, sb.getSize());
  sb.append("ab");
  sb.appendN("cdef", 2);
  sb.appendChar('e');
  sb.appendChar2('f', 'g');
  sb.appendChar3('h', 'i', 'j');
  sb.appendCharN(' ', 3);
  StringBuffer other("k");
  sb.appendSb(other);
  EXPECT_EQ("abcdefghij   k", str(sb));
  sb.prepend(">>");
  EXPECT_EQ(">>abcdefghij   k", str(sb));
  sb.setString("new");
  EXPECT_EQ("new", str(sb));
  sb.setString(nullptr);
  EXPECT_EQ("", str(sb));
}

TEST(StringBufferTest, AppendOfOwnTextSurvivesGrowth) {
  StringBuffer sb;
  sb.appendCharN('q', 80);
  ASSERT_TRUE(sb.appendN(sb.getString(), sb.getSize()));  // moves to the heap
  EXPECT_EQ(std::string(160, 'q'), str(sb));
  sb.setString(sb.getString() + 150);
  EXPECT_EQ(std::string(10, 'q'), str(sb));
}

TEST(StringBufferTest, DecimalForms) {
  struct Case {
    int64_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {7, "7"},
               {-42, "-42"},
               {2147483647, "2147483647"},
               {INT64_MIN, "-9223372036854775808"},
               {INT64_MAX, "9223372036854775807"}};
  for (const Case& c : cases) {
    StringBuffer sb;
    sb.appendInt64(c.value);
    EXPECT_EQ(c.text, str(sb));
  }
  StringBuffer sb;
  sb.appendInt(INT32_MIN);
  sb.appendChar(' ');
  sb.appendUint32(UINT32_MAX);
  EXPECT_EQ("-2147483648 4294967295", str(sb));
}

TEST(StringBufferTest, IntValue) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"", 0},       {"abc", 0}, {"0042", 42},
               {"-17x", -17}, {"+9", 9},  {" 5", 0},
               {"12 34", 12}, {"-", 0},   {"2147483647", 2147483647}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, StringBuffer(c.text).intValue()) << c.text;
  }
}

TEST(StringBufferTest, ReplaceAllOccurrences) {
  struct Case {
    const char* text;
    const char* find;
    const char* repl;
    const char* result;
    uint32_t count;
  } cases[] = {
      {"aab", "ab", "b", "ab", 1},  // one pass, no rescan
      {"aaaa", "aa", "a", "aa", 2},  {"abc", "x", "y", "abc", 0},
      {"abc", "", "y", "abc", 0},    {"a.b.c", ".", "", "abc", 2},
      {"a.b", ".", "::", "a::b", 1}, {"ab", "abc", "x", "ab", 0},
  };
  for (const Case& c : cases) {
    StringBuffer sb(c.text);
    EXPECT_EQ(c.count, sb.replaceAllOccurrences(c.find, c.repl)) << c.text;
    EXPECT_EQ(c.result, str(sb)) << c.text;
  }
  StringBuffer sb("x--y--z");
  EXPECT_EQ(2u, sb.replaceAllWithChar("--", '/'));
  EXPECT_EQ("x/y/z", str(sb));
}

TEST(StringBufferTest, ReplaceGrowsPastTheInlineStore) {
  StringBuffer sb;
  sb.appendCharN('a', 60);
  EXPECT_EQ(60u, sb.replaceAllOccurrences("a", "bb"));
  EXPECT_EQ(std::string(120, 'b'), str(sb));
}

TEST(StringBufferTest, CharacterEdits) {
  StringBuffer sb("a,b,,c");
  EXPECT_EQ(3u, sb.replaceChar(',', ';'));
  EXPECT_EQ("a;b;;c", str(sb));
  EXPECT_EQ(2u, sb.removeChar(';', 3));
  EXPECT_EQ("a;bc", str(sb));
  EXPECT_EQ(1u, sb.removeCharOccurrences(';'));
  EXPECT_EQ("abc", str(sb));
}

TEST(StringBufferTest, Trim2AndLineEnds) {
  struct Case {
    const char* text;
    const char* trimmed;
  } trims[] = {{" \t\r\nab c\n ", "ab c"}, {"   ", ""}, {"x", "x"}, {"", ""}};
  for (const Case& c : trims) {
    StringBuffer sb(c.text);
    sb.trim2();
    EXPECT_EQ(c.trimmed, str(sb));
  }
  struct Lines {
    const char* text;
    const char* crlf;
    const char* lf;
  } lines[] = {{"a\nb", "a\r\nb", "a\nb"},
               {"a\r\nb\r", "a\r\nb", "a\nb\r"},
               {"\r\r\n\n", "\r\n\r\n", "\r\n\n"},
               {"", "", ""}};
  for (const Lines& c : lines) {
    StringBuffer a(c.text);
    ASSERT_TRUE(a.toCRLF());
    EXPECT_EQ(c.crlf, str(a));
    StringBuffer b(c.text);
    b.toLF();
    EXPECT_EQ(c.lf, str(b));
  }
  // toCRLF that crosses the inline store.
  StringBuffer many;
  for (int i = 0; i < 50; ++i) many.append("x\n");
  ASSERT_TRUE(many.toCRLF());
  EXPECT_EQ(150u, many.getSize());
  EXPECT_TRUE(many.endsWith("x\r\n"));
}

TEST(StringBufferTest, LowerCaseFoldsAsciiAndTheC0ToDfRange) {
  StringBuffer sb("AbZ\xC0\xDF\xE0\xBF");
  sb.toLowerCase();
  EXPECT_EQ("abz\xE0\xFF\xE0\xBF", str(sb));
}

TEST(StringBufferTest, XmlSpecialCharacters) {
  StringBuffer sb("a<b>&\"c'");
  ASSERT_TRUE(sb.encodeXmlSpecial());
  EXPECT_EQ("a&lt;b&gt;&amp;&quot;c'", str(sb));
  sb.decodeXmlSpecial(0);
  EXPECT_EQ("a<b>&\"c'", str(sb));

  StringBuffer partial("&amp;x&amp;&apos;&nbsp;&amp;lt;&");
  partial.decodeXmlSpecial(5);
  // Before the offset nothing changes; "&amp;lt;" decodes once.
  EXPECT_EQ("&amp;x&'&nbsp;&lt;&", str(partial));
}

TEST(StringBufferTest, Comparisons) {
  StringBuffer sb("Hello.TXT");
  EXPECT_TRUE(sb.equals("Hello.TXT"));
  EXPECT_FALSE(sb.equals("hello.txt"));
  EXPECT_TRUE(sb.equalsIgnoreCase("hello.txt"));
  EXPECT_TRUE(sb.beginsWith("Hell"));
  EXPECT_FALSE(sb.beginsWith("hell"));
  EXPECT_TRUE(sb.beginsWithIgnoreCase("hELL"));
  EXPECT_TRUE(sb.endsWith(".TXT"));
  EXPECT_TRUE(sb.endsWithIgnoreCase(".txt"));
  EXPECT_FALSE(sb.endsWith("Hello.TXT!"));
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    EXPECT_TRUE(sb.beginsWith(empty));
    EXPECT_TRUE(sb.endsWith(empty));
    EXPECT_TRUE(sb.beginsWithIgnoreCase(empty));
    EXPECT_TRUE(sb.endsWithIgnoreCase(empty));
  }
  EXPECT_TRUE(sb.containsChar('.'));
  EXPECT_FALSE(sb.containsChar('!'));
  EXPECT_EQ('T', sb.lastChar());
  EXPECT_EQ('\0', StringBuffer().lastChar());
  EXPECT_TRUE(sb.is7bit());
  EXPECT_FALSE(StringBuffer("caf\xC3\xA9").is7bit());
  EXPECT_STREQ(".TXT", sb.findSubstring("."));
  EXPECT_EQ(nullptr, sb.findSubstring("xyz"));
  EXPECT_TRUE(sb.equals(StringBuffer("Hello.TXT")));
}

TEST(StringBufferTest, ExpandEnvironmentVariables) {
  setEnv("SFX_TEST_HOME", "C:\\Users\\me");
  setEnv("SFX_TEST_UNSET", nullptr);
  // "José" (é is in the ANSI code page 1252) and a CJK name (it is not).
  setEnv("SFX_TEST_USER", "C:\\Users\\Jos\xC3\xA9");
  setEnv("SFX_TEST_CJK", "\xE4\xB8\xAD\xE6\x96\x87");
  setEnv("SFX_TEST_EMPTY", "");
  struct Case {
    const char* text;
    const char* expanded;
  } cases[] = {
      {"%SFX_TEST_UNSET%x", "x"},
      {"%SFX_TEST_HOME%\\dir", "C:\\Users\\me\\dir"},
      {"a%%b", "ab"},
      {"100%", "100%"},
      // Percent signs pair left to right: " of " is taken as a name.
      {"50% of %SFX_TEST_HOME%", "50SFX_TEST_HOME%"},
      {"no percent", "no percent"},
      {"%SFX_TEST_USER%\\Temp\\App", "C:\\Users\\Jos\xC3\xA9\\Temp\\App"},
      {"%SFX_TEST_CJK%\\%SFX_TEST_USER%",
       "\xE4\xB8\xAD\xE6\x96\x87\\C:\\Users\\Jos\xC3\xA9"},
      {"[%SFX_TEST_EMPTY%]", "[]"},
  };
  for (const Case& c : cases) {
    StringBuffer sb(c.text);
    ASSERT_TRUE(sb.expandEnvironmentVariables());
    EXPECT_EQ(c.expanded, str(sb)) << c.text;
  }
}

TEST(StringBufferTest, TakeSbMovesTheTextAndEmptiesTheSource) {
  StringBuffer a, b("short");
  a.takeSb(b);
  EXPECT_EQ("short", str(a));
  EXPECT_EQ(0u, b.getSize());

  StringBuffer big;
  big.appendCharN('h', 300);
  const char* heapText = big.getString();
  a.takeSb(big);
  EXPECT_EQ(heapText, a.getString());  // the heap buffer itself moved
  EXPECT_FALSE(big.usesHeap());
  EXPECT_EQ(0u, big.getSize());
  big.append("still usable");
  EXPECT_EQ("still usable", str(big));
}

TEST(StringBufferTest, CopiesAreIndependent) {
  StringBuffer a;
  a.appendCharN('c', 100);
  StringBuffer b(a);
  b.setString("b");
  EXPECT_EQ(100u, a.getSize());
  a = b;
  EXPECT_EQ("b", str(a));
}

TEST(StringBufferTest, WindowsErrorTextIsAppended) {
  StringBuffer sb("E: ");
  ASSERT_TRUE(sb.appendWindowsErrorText(2));
  EXPECT_GT(sb.getSize(), 4u);
  EXPECT_NE(' ', sb.lastChar());
}

#if !defined(_WIN32)
TEST(StringBufferDeathTest, DamagedValidityByteStopsTheProcess) {
  EXPECT_DEATH(
      {
        StringBuffer sb("x");
        StringBufferTestPeer::corrupt(sb);
        sb.getSize();
      },
      "StringBuffer is not valid");
}
#endif

}  // namespace
}  // namespace sfx

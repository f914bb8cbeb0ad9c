// Tests of the driver's command language: words and quoting, numbers, command
// checking, scripts and Windows command lines.
#include "driver/script.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace sfx {
namespace {

using Words = std::vector<std::string>;

TEST(SplitWordsTest, Cases) {
  struct Case {
    const char* line;
    Words words;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"a b\t c", {"a", "b", "c"}},
      {"  padded  ", {"padded"}},
      {"\"two words\" x", {"two words", "x"}},
      {"'C:\\dir\\x y'", {"C:\\dir\\x y"}},
      {"C:\\dir\\x", {"C:\\dir\\x"}},
      {"\"a\\\\b\\\"c\\nd\\te\\rf\"", {"a\\b\"c\nd\te\rf"}},
      {"\"C:\\dir\"", {"C:\\dir"}},  // an unknown escape keeps its backslash
      {"'it''s'", {"its"}},
      {"\"\" ''", {"", ""}},
      {"ab\"c d\"e'f g'", {"abc def g"}},
      {"'say \"hi\"'", {"say \"hi\""}},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       {"Gr\xC3\xBC\xC3\x9F"
        "e"}},
  };
  for (const Case& c : cases) {
    Words words;
    std::string error;
    EXPECT_TRUE(splitWords(c.line, &words, &error)) << c.line;
    EXPECT_EQ(words, c.words) << c.line;
  }
}

TEST(SplitWordsTest, UnterminatedQuotesFail) {
  for (const char* line : {"\"open", "x 'open", "\"ends in backslash\\"}) {
    Words words;
    std::string error;
    EXPECT_FALSE(splitWords(line, &words, &error)) << line;
    EXPECT_NE(error.find("unterminated"), std::string::npos) << line;
  }
}

TEST(QuoteWordTest, PlainWordsStayAsTheyAre) {
  EXPECT_EQ(quoteWord("Name:"), "Name:");
  EXPECT_EQ(quoteWord("Unzipping..."), "Unzipping...");
  EXPECT_EQ(quoteWord(""), "\"\"");
  EXPECT_EQ(quoteWord("two words"), "\"two words\"");
}

TEST(QuoteWordTest, RoundTripsThroughSplitWords) {
  const char* texts[] = {"",
                         "plain",
                         "two words",
                         "a\"b",
                         "it's",
                         "back\\slash",
                         "C:\\temp\\",
                         "line\nbreak\ttab\rcr",
                         "Gr\xC3\xBC\xC3\x9F"
                         "e",
                         "#hash",
                         "'"};
  for (const char* text : texts) {
    Words words;
    std::string error;
    ASSERT_TRUE(splitWords("x " + quoteWord(text), &words, &error)) << text;
    EXPECT_EQ(words, (Words{"x", text})) << text;
  }
}

TEST(ParseNumberTest, Cases) {
  struct Case {
    const char* text;
    int64_t min, max;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {"0", 0, 10, true, 0},
      {"65535", 0, 0xFFFF, true, 65535},
      {"65536", 0, 0xFFFF, false, 0},
      {"0x10", 0, 100, true, 16},
      {"0XfF", 0, 1000, true, 255},
      {"0xC0000005", INT32_MIN, 0xFFFFFFFFLL, true, 0xC0000005LL},
      {"-1", INT32_MIN, 10, true, -1},
      {"-1", 0, 10, false, 0},
      {"", 0, 10, false, 0},
      {"-", -10, 10, false, 0},
      {"0x", 0, 10, false, 0},
      {"12a", 0, 1000, false, 0},
      {"1 ", 0, 10, false, 0},
      {"+1", 0, 10, false, 0},
      {"99999999999999999999999", 0, INT64_MAX, false, 0},
  };
  for (const Case& c : cases) {
    int64_t value = -77;
    EXPECT_EQ(parseNumber(c.text, c.min, c.max, &value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : -77) << c.text;
  }
}

TEST(ParseCommandTest, AcceptsArgumentsOfTheRightKinds) {
  struct Case {
    const char* line;
    const char* name;
    Words args;
  };
  const Case cases[] = {
      {"wait-window Error", "wait-window", {"Error"}},
      {"wait-window \"Enter Password\" 500",
       "wait-window",
       {"Enter Password", "500"}},
      {"list", "list", {}},
      {"text Error 65535", "text", {"Error", "65535"}},
      {"text Error 0xFFFF", "text", {"Error", "0xFFFF"}},
      {"expect-text T 1016 \"\"", "expect-text", {"T", "1016", ""}},
      {"key T escape", "key", {"T", "escape"}},
      {"rect T", "rect", {"T"}},
      {"expect-rect T 1001 414 * 75 25",
       "expect-rect",
       {"T", "1001", "414", "*", "75", "25"}},
      {"run stub.exe", "run", {"stub.exe"}},
      {"run stub.exe -unzipDir 'C:\\out dir' -cleanup",
       "run",
       {"stub.exe", "-unzipDir", "C:\\out dir", "-cleanup"}},
      {"wait-exit", "wait-exit", {}},
      {"exit-code -1", "exit-code", {"-1"}},
      {"exit-code 0xC0000005", "exit-code", {"0xC0000005"}},
      {"  sleep 10  ", "sleep", {"10"}},
      {"expect-layout 'Enter Password'", "expect-layout", {"Enter Password"}},
      {"snapshot T 'C:\\shots\\main.bmp'",
       "snapshot",
       {"T", "C:\\shots\\main.bmp"}},
  };
  for (const Case& c : cases) {
    Command command;
    bool isEmpty = true;
    std::string error;
    ASSERT_TRUE(parseCommand(c.line, "here", &command, &isEmpty, &error))
        << c.line << ": " << error;
    EXPECT_FALSE(isEmpty);
    EXPECT_STREQ(command.info->name, c.name);
    EXPECT_EQ(command.args, c.args) << c.line;
    EXPECT_EQ(command.where, "here");
  }
}

TEST(ParseCommandTest, RejectsBadCommandsWithTheReason) {
  struct Case {
    const char* line;
    const char* error;
  };
  const Case cases[] = {
      {"frobnicate", "here: unknown command frobnicate"},
      {"wait-window",
       "here: too few arguments; usage: wait-window TITLE [TIMEOUT_MS]"},
      {"wait-window Error 500 7", "here: too many arguments; usage: "},
      {"wait-window Error soon",
       "here: wait-window: soon is not a number of milliseconds"},
      {"wait-gone Error -5", "is not a number of milliseconds"},
      {"text Error 65536", "65536 is not a control id (0 to 65535)"},
      {"text Error -1", "is not a control id"},
      {"key T space", "here: key: unknown key space (enter or escape)"},
      {"expect-rect T 0 * * 10 x", "x is not a number or *"},
      {"expect-rect T 0 * * 10", "too few arguments"},
      {"exit-code 0x100000000", "is not a 32-bit number"},
      {"run", "too few arguments; usage: run EXE [ARGS...]"},
      {"list all", "too many arguments"},
      {"layout T 1014", "here: too many arguments; usage: layout TITLE"},
      {"snapshot T", "too few arguments; usage: snapshot TITLE FILE.bmp"},
      {"text \"Error 1", "here: unterminated \" quote"},
  };
  for (const Case& c : cases) {
    Command command;
    bool isEmpty = true;
    std::string error;
    EXPECT_FALSE(parseCommand(c.line, "here", &command, &isEmpty, &error))
        << c.line;
    EXPECT_NE(error.find(c.error), std::string::npos)
        << c.line << " gave: " << error;
    EXPECT_EQ(command.info, nullptr);
  }
}

TEST(ParseCommandTest, BlankLinesAndCommentsAreEmpty) {
  for (const char* line : {"", "   ", "# a comment", "  \t# indented"}) {
    Command command;
    bool isEmpty = false;
    std::string error;
    EXPECT_TRUE(parseCommand(line, "here", &command, &isEmpty, &error));
    EXPECT_TRUE(isEmpty) << line;
  }
}

TEST(ParseScriptTest, ReadsCommandsWithTheirLines) {
  std::istringstream in(
      "\xEF\xBB\xBF# driver script\r\n"
      "run stub.exe\r\n"
      "\n"
      "wait-window \"Marlith Zip Self-Extractor\"\n"
      "   # indented comment\n"
      "press \"Marlith Zip Self-Extractor\" 2");
  std::vector<Command> commands;
  std::string error;
  ASSERT_TRUE(parseScript(in, "s.txt", &commands, &error)) << error;
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].info->id, CommandId::kRun);
  EXPECT_EQ(commands[0].args, Words{"stub.exe"});  // no CR left
  EXPECT_EQ(commands[0].where, "s.txt:2");
  EXPECT_EQ(commands[1].where, "s.txt:4");
  EXPECT_EQ(commands[2].args, (Words{"Marlith Zip Self-Extractor", "2"}));
  EXPECT_EQ(commands[2].where, "s.txt:6");
}

TEST(ParseScriptTest, StopsAtTheFirstBadLine) {
  std::istringstream in("list\nlist\nwait-windw Error\nbogus\n");
  std::vector<Command> commands;
  std::string error;
  EXPECT_FALSE(parseScript(in, "s.txt", &commands, &error));
  EXPECT_EQ(error, "s.txt:3: unknown command wait-windw");
}

TEST(RectMatchesTest, Cases) {
  const Rect actual{414, 11, 75, 25};
  struct Case {
    Words expected;
    bool matches;
  };
  const Case cases[] = {
      {{"414", "11", "75", "25"}, true},  {{"*", "*", "*", "*"}, true},
      {{"414", "*", "75", "*"}, true},    {{"0x19E", "11", "75", "25"}, true},
      {{"415", "11", "75", "25"}, false}, {{"414", "11", "75", "26"}, false},
      {{"*", "*", "*", "-25"}, false},    {{"414", "11", "75"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rectMatches(c.expected, actual), c.matches)
        << testing::PrintToString(c.expected);
  }
}

struct CommandLineCase {
  Words argv;
  const char* line;
};

const CommandLineCase kCommandLineCases[] = {
    {{"stub.exe"}, "stub.exe"},
    {{"stub.exe", "-unzipDir", "C:\\out"}, "stub.exe -unzipDir C:\\out"},
    {{"C:\\Program Files\\stub.exe", "x"}, "\"C:\\Program Files\\stub.exe\" x"},
    {{"p", ""}, "p \"\""},
    {{"p", "a b", "c\td"}, "p \"a b\" \"c\td\""},
    {{"p", "say \"hi\""}, "p \"say \\\"hi\\\"\""},
    {{"p", "C:\\dir\\"}, "p C:\\dir\\"},
    {{"p", "C:\\my dir\\"}, "p \"C:\\my dir\\\\\""},
    {{"p", "a\\\"b"}, "p \"a\\\\\\\"b\""},
    {{"p", "a\\\\b c"}, "p \"a\\\\b c\""},
};

TEST(BuildCommandLineTest, QuotesOnlyWhereNeeded) {
  for (const CommandLineCase& c : kCommandLineCases) {
    EXPECT_EQ(buildCommandLine(c.argv), c.line);
  }
}

#ifdef _WIN32
// The system's own parser gives the arguments back unchanged.
TEST(BuildCommandLineTest, RoundTripsThroughCommandLineToArgvW) {
  for (const CommandLineCase& c : kCommandLineCases) {
    const std::string line = buildCommandLine(c.argv);
    const std::wstring wide(line.begin(), line.end());  // ASCII cases
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(wide.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    Words back;
    for (int i = 0; i < argc; ++i) {
      const std::wstring arg = argv[i];
      back.push_back(std::string(arg.begin(), arg.end()));
    }
    LocalFree(argv);
    EXPECT_EQ(back, c.argv) << line;
  }
}
#endif

}  // namespace
}  // namespace sfx

// The command language of the Win32 test driver: splitting a command line
// into words, the table of commands with their argument kinds, and parsing a
// whole script before anything runs. Portable; the Win32 side executes it.
#ifndef SFX_DRIVER_SCRIPT_H_
#define SFX_DRIVER_SCRIPT_H_

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace sfx {

enum class CommandId {
  kWaitWindow,
  kWaitGone,
  kList,
  kText,
  kStaticTexts,
  kExpectText,
  kWaitText,
  kType,
  kPress,
  kKey,
  kClose,
  kRect,
  kExpectRect,
  kExpectEnabled,
  kExpectDisabled,
  kRun,
  kWaitExit,
  kExitCode,
  kSleep,
  kProgress,
  kExpectProgress,
  kSetEnv,
  kAttributes,
  kLock,
  kLayout,
  kExpectLayout,
  kIcon,
  kSnapshot,
};

// One command as the table describes it. `args` gives the kind of each
// argument, one letter each: t window title, i control id (0..65535),
// m milliseconds, s any text, n signed 32-bit number, r rectangle value
// (a number or "*"), k key name ("enter" or "escape"). Arguments after a '['
// are optional; a trailing '+' makes the last kind repeat (at least once).
struct CommandInfo {
  CommandId id;
  const char* name;
  const char* args;
  const char* usage;
};

// The command table, in the order the usage text lists it.
const std::vector<CommandInfo>& commandTable();

// Returns the entry named `name`, or nullptr.
const CommandInfo* findCommand(const std::string& name);

// A parsed command: its table entry, its words after the name, and where it
// came from ("script.txt:12" or "argument 3") for messages.
struct Command {
  const CommandInfo* info = nullptr;
  std::vector<std::string> args;
  std::string where;
};

// Splits `line` into words. Words are separated by spaces and tabs. Inside
// "..." the escapes \\ \" \n \r \t are replaced and any other backslash is
// kept; inside '...' every character is literal; quoted and unquoted parts
// that touch form one word, and "" gives an empty word. On success stores
// the words in *words and returns true; on an unterminated quote stores the
// reason in *error and returns false.
bool splitWords(const std::string& line, std::vector<std::string>* words,
                std::string* error);

// Returns `text` as one word that splitWords reads back unchanged: as is when
// it is not empty and has no space, quote, backslash or control character,
// otherwise in double quotes with escapes.
std::string quoteWord(const std::string& text);

// Parses a decimal number or a "0x" hexadecimal one, with an optional leading
// '-', into *value. Returns false unless the whole text is a number within
// [min, max].
bool parseNumber(const std::string& text, int64_t min, int64_t max,
                 int64_t* value);

// Parses one command line. A blank line or one whose first non-blank
// character is '#' gives *isEmpty = true and no command. Otherwise the first
// word names the command and the others must match its argument kinds. On
// failure stores "WHERE: reason" in *error and returns false.
bool parseCommand(const std::string& line, const std::string& where,
                  Command* command, bool* isEmpty, std::string* error);

// Parses every line of `in` (UTF-8, an optional byte-order mark, LF or CR LF
// line ends) and appends the commands to *commands, each with the place
// "NAME:LINE". Stops at the first bad line: stores its message in *error and
// returns false.
bool parseScript(std::istream& in, const std::string& name,
                 std::vector<Command>* commands, std::string* error);

// A rectangle as x, y, width and height.
struct Rect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t w = 0;
  int32_t h = 0;
};

// True when every expected value ("*" or a number, as parseCommand accepted
// them, in the order x, y, w, h) equals the corresponding actual value.
bool rectMatches(const std::vector<std::string>& expected, const Rect& actual);

// Builds a Windows command line from a program and its arguments, quoting each
// so that the C run-time's argument parser (and CommandLineToArgvW) gives the
// same words back.
std::string buildCommandLine(const std::vector<std::string>& argv);

}  // namespace sfx

#endif  // SFX_DRIVER_SCRIPT_H_

// The stub's command line: "-unzipDir DIR", "-pwd PASSWORD", "-ap ARGS",
// "-cleanup", "-verbose", "-debug", "-log FILE" and "-unattended". The
// text is UTF-8 (the stub converts its UTF-16 command line). Options change the
// configuration after the payload's document is loaded, so they win over it.
// Portable: built and tested natively as well as for the stub.
#ifndef SFX_APP_COMMAND_LINE_H_
#define SFX_APP_COMMAND_LINE_H_

#include <cstdio>
#include <string>
#include <vector>

namespace sfx {

class SfxConfig;
class StringBuffer;

// Splits a command line into tokens. Space and tab separate tokens (two in a
// row give an empty token) except inside a double-quoted stretch; quotes and
// backslashes stay in the tokens, and a backslash keeps the character after
// it from acting (a \" neither opens nor closes a quoted stretch). An empty
// command line gives no tokens.
std::vector<std::string> splitCommandLine(const char* commandLine);

// What the run log shows in place of a password.
constexpr const char kPasswordMask[] = "********";

// Removes one enclosing pair of double or single quotes (the same character
// at both ends of a value of at least two characters); quotes inside stay.
void removeEnclosingQuotes(StringBuffer& value);

// The command line with the token after each "-pwd" replaced by
// kPasswordMask, for the run log; everything else byte for byte.
std::string maskPasswords(const char* commandLine);

// The command line without the program name in front (quoted or not) and
// the blanks after it, as WinMain's command line argument has it.
std::string skipProgramName(const char* commandLine);

// True when a token of the command line is "-unattended" (any case); read
// before the payload is opened, so that start-up shows no box either.
bool hasUnattendedSwitch(const char* commandLine);

// fopen with a UTF-8 path (through the UTF-16 call on Windows).
FILE* openUtf8(const char* path, const char* mode);

// What parsing changes besides the configuration.
struct CommandLineTarget {
  SfxConfig* config = nullptr;
  StringBuffer* password = nullptr;
  StringBuffer* logPath = nullptr;
  FILE** logFile = nullptr;  // the run log, opened by "-log"
};

// Applies the options of `commandLine` (the UTF-8 text after the program
// name) in order. A value loses one enclosing pair of quotes (-ap keeps its
// own rule). An unknown switch is ignored with an "ignored unknown switch:"
// line in the summary; an option whose argument is missing ends parsing
// with a line in the summary. At the end the summary goes to the run log,
// when one is open. Passwords appear there only as kPasswordMask. Shows no
// message.
void parseCommandLine(const char* commandLine, const CommandLineTarget& target);

}  // namespace sfx

#endif  // SFX_APP_COMMAND_LINE_H_

// The stub's command line: "-unzipDir DIR", "-pwd PASSWORD", "-ap ARGS",
// "-cleanup", "-verbose", "-debug" and "-log FILE". Options change the
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

// What parsing changes besides the configuration.
struct CommandLineTarget {
  SfxConfig* config = nullptr;
  StringBuffer* password = nullptr;
  StringBuffer* logPath = nullptr;
  FILE** logFile = nullptr;  // the run log, opened by "-log"
};

// Applies the options of `commandLine` (the ANSI text after the program
// name) in order. Unknown tokens are ignored; an option whose argument is
// missing ends parsing with a line in the summary. At the end the summary
// goes to the run log, when one is open. Shows no message.
void parseCommandLine(const char* commandLine, const CommandLineTarget& target);

}  // namespace sfx

#endif  // SFX_APP_COMMAND_LINE_H_

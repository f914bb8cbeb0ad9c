// The bash completion and the manual page of sfxpack, written from the same
// option tables as --help, so that the three cannot drift apart.
#ifndef SFX_TOOLS_SFXPACK_CLI_DOCGEN_H_
#define SFX_TOOLS_SFXPACK_CLI_DOCGEN_H_

#include <cstdio>
#include <string>
#include <vector>

namespace sfxpack {

struct OptionDoc {
  std::string commands;  // "create", "list test extract config"; "": none
  std::string names;     // "-o|--output"
  std::string value;     // "OUT.exe"; empty for a switch
  std::string help;
};

struct CommandDoc {
  const char* name;
  const char* synopsis;  // after "sfxpack NAME "
  const char* help;
};

// A bash completion script: commands, each command's options, and for an
// option's value the words of "a|b" values, folders for DIR values, files
// for FILE-like ones.
void writeBashCompletion(FILE* out, const CommandDoc* begin,
                         const CommandDoc* end,
                         const std::vector<OptionDoc>& options);

// The manual page: the roff text of `templatePath` with the line
// `.\" @COMMANDS@` replaced by the commands and the line `.\" @OPTIONS@` by
// every option, one .TP each, grouped by command. False with *error set
// when the template cannot be read or lacks a marker.
bool writeManPage(FILE* out, const std::string& templatePath,
                  const CommandDoc* begin, const CommandDoc* end,
                  const std::vector<OptionDoc>& options, std::string* error);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_CLI_DOCGEN_H_

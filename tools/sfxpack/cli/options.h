// The command line of sfxpack: the options every command collects into
// Options, the option tables (option_table.cpp), their parser and the
// messages of bad usage and failure (options.cpp), and --help (help.cpp).
#ifndef SFX_TOOLS_SFXPACK_CLI_OPTIONS_H_
#define SFX_TOOLS_SFXPACK_CLI_OPTIONS_H_

#include <string>
#include <utility>
#include <vector>

#include "cli/docgen.h"
#include "pack/exclude.h"
#include "pack/packer.h"
#include "pe/branding.h"
#include "read/reader.h"

namespace sfxpack {
namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kGoOn = -1;

struct Options {
  std::string output;
  std::string stub;
  std::string arch = "x86";
  bool archGiven = false;
  std::string config;
  bool haveConfig = false;
  bool quiet = false;
  bool verbose = false;
  bool dryRun = false;
  bool rename = false;
  bool forceName = false;
  // The password's source when not given as --password PW: "-" (ask on
  // the terminal), "file" or "env", with the file or variable name.
  std::string passwordSource;
  std::string passwordFrom;
  int passwordOptions = 0;  // how many of the password options were given
  ExcludeList excludes;
  std::vector<std::string> excluded;  // stored paths left out, for --dry-run
  std::vector<std::string> given;     // the options given, as spelt
  std::vector<std::pair<std::string, std::string>> extraArgs;
  std::vector<std::pair<std::string, std::string>> configOverrides;
  PackOptions pack;
  ReadOptions read;
  BrandingOptions branding;
};

// An option: its spellings ("-o|--output"), the name of its value (nullptr
// for a switch), a help line, and what it does. apply returns kGoOn, or an
// exit status after printing why.
struct OptionRow {
  const char* names;
  const char* value;
  const char* help;
  int (*apply)(Options* o, const std::string& value);
};

// A table of options: its first row and the end.
using OptionTable = std::pair<const OptionRow*, const OptionRow*>;

// The tables (option_table.cpp), which feed the parser, --help, the manual
// page and the completion. The branding and global rows have no apply:
// parseBrandingOption and the command dispatch take those options.
OptionTable createOptions();
OptionTable readOptions();     // list, test, extract and config
OptionTable extractOptions();  // extract only
OptionTable brandingOptions();
OptionTable globalOptions();

// Prints the message and the hint to --help on stderr; returns kExitUsage.
int usageError(const std::string& message);
// Prints a failure on one line: the reason (the message's first line) and
// the first message of the log that may follow it. With `verbose` the whole
// log follows. Returns kExitFailure.
int failure(const std::string& message, bool verbose);
// A decimal number from lo to hi, the whole text.
bool parseNumber(const std::string& text, unsigned long long lo,
                 unsigned long long hi, unsigned long long* out);
// Whether `arg` is one of the spellings in `names` ("-o|--output").
bool matches(const char* names, const std::string& arg);
// The spellings as --help shows them ("-o, --output").
std::string spelling(const char* names);

// Parses argv[2...] against the tables; other arguments go to `operands`.
// With `configFlags` (create) the branding and configuration flags are
// taken too. Returns kGoOn or an exit status.
int parseOptions(int argc, char** argv, std::vector<OptionTable> tables,
                 bool configFlags, Options* o,
                 std::vector<std::string>* operands);

// --help (help.cpp), and every option of every command for the manual page
// and the completion.
void printHelp();
std::vector<OptionDoc> optionDocs();
const CommandDoc* commandDocsBegin();
const CommandDoc* commandDocsEnd();

}  // namespace cli
}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_CLI_OPTIONS_H_

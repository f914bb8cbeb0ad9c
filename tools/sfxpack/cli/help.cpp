// sfxpack --help, and the option list the manual page and the completion
// are written from.
#include <cstdio>
#include <iterator>
#include <string>

#include "cli/docgen.h"
#include "cli/options.h"
#include "pack/config_keys.h"

namespace sfxpack {
namespace cli {
namespace {

// One option line of --help: the spelling in 30 columns, the help text
// wrapped at 79.
void printOptionLine(const std::string& left, const std::string& help) {
  constexpr size_t kWidth = 79 - 33;
  std::string rest = help;
  bool first = true;
  while (!rest.empty()) {
    size_t cut = rest.size();
    if (cut > kWidth) {
      cut = rest.rfind(' ', kWidth);
      if (cut == std::string::npos || cut == 0) cut = kWidth;
    }
    printf("  %-30s %s\n", first ? left.c_str() : "",
           rest.substr(0, cut).c_str());
    first = false;
    rest.erase(0, cut);
    while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  }
}

void printOptions(const OptionRow* begin, const OptionRow* end) {
  for (const OptionRow* o = begin; o != end; ++o) {
    std::string left = spelling(o->names);
    if (o->value) left += std::string(" ") + o->value;
    printOptionLine(left, o->help);
  }
}

}  // namespace

// Every option of every command, from the option tables, for the manual
// page and the completion.
std::vector<OptionDoc> optionDocs() {
  std::vector<OptionDoc> docs;
  auto add = [&](const char* commands, const OptionRow* b, const OptionRow* e) {
    for (const OptionRow* o = b; o != e; ++o)
      docs.push_back({commands, o->names, o->value ? o->value : "", o->help});
  };
  add("create", createOptions().first, createOptions().second);
  add("create", brandingOptions().first, brandingOptions().second);
  for (const ConfigFlag& f : configFlags()) {
    docs.push_back({"create", f.name, f.valueName ? f.valueName : "",
                    std::string(f.help) + " [" + f.sets + "]"});
  }
  add("list test extract config", readOptions().first, readOptions().second);
  add("extract", extractOptions().first, extractOptions().second);
  add("", globalOptions().first, globalOptions().second);
  return docs;
}

namespace {

const CommandDoc kCommandDocs[] = {
    {"create", "-o OUT.exe [options] [DIR|FILE ...]",
     "write a self-extracting executable: the stub, then a payload of the "
     "configuration, the named arguments and the given folders and files"},
    {"list", "FILE.exe [--password PW]",
     "show each entry's type, size, time, attributes, CRC-32 and name"},
    {"test", "FILE.exe [--password PW]",
     "read, decrypt and inflate every entry without writing anything"},
    {"extract", "FILE.exe [-C DIR] [--password PW] [--threads N]",
     "create the entries below DIR"},
    {"config", "FILE.exe", "print the stored configuration document"},
    {"info", "FILE.exe",
     "show the architecture, the resources, the payload's offset and size "
     "and the stored configuration"},
};

}  // namespace

const CommandDoc* commandDocsBegin() { return std::begin(kCommandDocs); }
const CommandDoc* commandDocsEnd() { return std::end(kCommandDocs); }

void printHelp() {
  printf(
      "Usage: sfxpack create -o OUT.exe [options] [DIR|FILE ...]\n"
      "       sfxpack list FILE.exe [-q] [-v] [--password PW]\n"
      "       sfxpack test FILE.exe [-q] [-v] [--password PW]\n"
      "       sfxpack extract FILE.exe [-C DIR] [--password PW] [--threads N]\n"
      "                       [--overwrite|--skip-existing] [-q] [-v]\n"
      "       sfxpack config FILE.exe\n"
      "       sfxpack info FILE.exe\n"
      "       sfxpack --version\n"
      "\n"
      "create writes a copy of the built-in stub (or STUB.exe) followed by a\n"
      "payload: the configuration document, the named arguments and the\n"
      "given folders and files. The contents of each DIR are stored relative\n"
      "to DIR; a FILE is stored under its own name. Every name is checked\n"
      "first: names Windows cannot hold (< > : \" | ? * \\, control\n"
      "characters, a trailing dot or space, device names such as CON or\n"
      "nul.txt, more than 255 UTF-16 units, names equal when case is\n"
      "ignored) are listed and nothing is written, unless --rename is given.\n"
      "A symbolic link is stored as what it points to; one leading outside\n"
      "the packed folder is refused unless --follow-links is given.\n"
      "\n"
      "Options:\n");
  printOptions(createOptions().first, createOptions().second);
  printf(
      "\n"
      "Branding (the self-extractor's own resources):\n");
  printOptions(brandingOptions().first, brandingOptions().second);
  printf(
      "\n"
      "Configuration (each flag sets the key named; see CONFIG.md):\n");
  for (const ConfigFlag& f : configFlags()) {
    std::string left = f.name;
    if (f.valueName) left += std::string(" ") + f.valueName;
    printOptionLine(left, std::string(f.help) + " [" + f.sets + "]");
  }
  printf(
      "\n"
      "list shows each entry's type, size, modification time (local time, "
      "as\n"
      "stored), attributes, CRC-32 from the integrity record and name. test\n"
      "reads, decrypts and inflates every\n"
      "entry without writing anything. extract creates the entries below "
      "DIR.\n"
      "All three read the payload with the stub's own reader and fail on "
      "the\n"
      "first entry that does not decode. config prints the stored "
      "configuration.\n"
      "extract never follows a symbolic link below DIR, and refuses to\n"
      "replace files that exist already: it lists them and writes nothing\n"
      "unless --overwrite or --skip-existing is given.\n"
      "extract decodes on --threads N threads (default: one per core, at "
      "most 2;\n"
      "1: the reading thread alone); the files are the same for any count.\n"
      "info shows the architecture, the resources, the payload's offset and\n"
      "size and the stored configuration.\n"
      "\n"
      "Options of list, test, extract and config:\n");
  printOptions(readOptions().first, readOptions().second);
  printf("\nOptions of extract:\n");
  printOptions(extractOptions().first, extractOptions().second);
  printf("\n");
  printOptions(globalOptions().first, globalOptions().second);
  printf(
      "\n"
      "With SOURCE_DATE_EPOCH set, stored times later than it are stored as\n"
      "it, and all times as UTC wall-clock time: the same inputs give the "
      "same\n"
      "bytes in any time zone and after a touch. Without it, times are the\n"
      "packing machine's local time.\n"
      "\n"
      "Exit status: 0 on success, 1 on failure, 2 on bad usage.\n"
      "\n"
      "Passwords (--password) are taken as UTF-8; the stub tries the UTF-8\n"
      "bytes of a typed or -pwd password first, then its ANSI bytes.\n"
      "The stub's switches: -unzipDir DIR, -pwd PASSWORD, -ap ARGS, -log "
      "FILE,\n"
      "-cleanup, -verbose, -debug, -unattended (no window of any kind; a\n"
      "failure goes to the run log and the exit code). The stub's exit codes:\n"
      "0 success, 1 unpack failed, 2 damaged self-extractor, 3 no or wrong\n"
      "password (unattended), 4 setup program not started, else the setup\n"
      "program's own code.\n");
}

}  // namespace cli
}  // namespace sfxpack

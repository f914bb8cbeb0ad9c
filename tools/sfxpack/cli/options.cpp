// Parsing the command line against the option tables, and the messages of
// bad usage and failure.
#include "cli/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "pack/config_keys.h"

namespace sfxpack {
namespace cli {
namespace {

// The last message of a rendered context log (the outermost step's word
// on the failure): its last line that is
// neither a context's opening ("name:") or close ("--name") nor a named
// value ("name: value").
std::string lastLogMessage(const std::string& log) {
  std::string last;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    start = end + 1;
    size_t text = line.find_first_not_of(' ');
    if (text == std::string::npos) continue;
    line = line.substr(text);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.back() == ':' || line.compare(0, 2, "--") == 0)
      continue;
    size_t colon = line.find(": ");
    if (colon != std::string::npos &&
        line.find(' ') > colon)  // a named value ("numBytes: 12")
      continue;
    last = line;
  }
  return last;
}

}  // namespace

int usageError(const std::string& message) {
  std::cerr << "sfxpack: " << message << "\n"
            << "Try 'sfxpack --help' for more information.\n";
  return kExitUsage;
}

int failure(const std::string& message, bool verbose) {
  size_t cut = message.find('\n');
  std::string line = message.substr(0, cut);
  if (cut != std::string::npos) {
    std::string log = message.substr(cut + 1);
    std::string cause = lastLogMessage(log);
    if (!cause.empty() && line.find(cause) == std::string::npos)
      line += ": " + cause;
    if (verbose) line += "\n" + log;
  }
  std::cerr << "sfxpack: " << line << "\n";
  return kExitFailure;
}

bool parseNumber(const std::string& text, unsigned long long lo,
                 unsigned long long hi, unsigned long long* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (errno || !end || end == text.c_str() || *end || n < lo || n > hi)
    return false;
  *out = n;
  return true;
}

bool matches(const char* names, const std::string& arg) {
  const char* p = names;
  while (*p) {
    const char* end = std::strchr(p, '|');
    if (!end) end = p + std::strlen(p);
    if (arg.size() == static_cast<size_t>(end - p) &&
        arg.compare(0, arg.size(), p, arg.size()) == 0)
      return true;
    p = *end ? end + 1 : end;
  }
  return false;
}

std::string spelling(const char* names) {
  std::string s = names;
  size_t bar;
  while ((bar = s.find('|')) != std::string::npos) s.replace(bar, 1, ", ");
  return s;
}

int parseOptions(int argc, char** argv, std::vector<OptionTable> tables,
                 bool configFlags, Options* o,
                 std::vector<std::string>* operands) {
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      printHelp();
      return kExitOk;
    }
    if (a == "--") {
      for (++i; i < argc; ++i) operands->push_back(argv[i]);
      break;
    }
    if (configFlags) {  // create: the branding flags first
      std::string brandingError;
      if (parseBrandingOption(argc, argv, &i, &o->branding, &brandingError)) {
        if (!brandingError.empty()) return usageError(brandingError);
        o->given.push_back(a);
        continue;
      }
    }
    const OptionRow* row = nullptr;
    for (const auto& t : tables) {
      for (const OptionRow* s = t.first; s != t.second && !row; ++s) {
        if (matches(s->names, a)) row = s;
      }
    }
    const ConfigFlag* flag = configFlags ? findConfigFlag(a) : nullptr;
    bool takesValue =
        row ? row->value != nullptr : flag && flag->valueName != nullptr;
    if (!row && !flag) {
      if (!a.empty() && a[0] == '-')
        return usageError("unknown option '" + a + "'");
      operands->push_back(a);
      continue;
    }
    std::string value;
    if (takesValue) {
      if (i + 1 >= argc) return usageError("option " + a + " needs a value");
      value = argv[++i];
    }
    o->given.push_back(a);
    if (row) {
      int status = row->apply(o, value);
      if (status != kGoOn) return status;
    } else {
      std::string error;
      if (!expandConfigFlag(*flag, value, &o->configOverrides, &error))
        return usageError(error);
    }
  }
  return kGoOn;
}

}  // namespace cli
}  // namespace sfxpack

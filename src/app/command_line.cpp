#include "app/command_line.h"

#include <cstring>

#include "archive/sfx_config.h"
#include "log/log_base.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

enum class Option {
  kNone,
  kUnzipDir,
  kPwd,
  kAp,
  kCleanup,
  kVerbose,
  kDebug,
  kLog,
  kUnattended
};

Option optionOf(const StringBuffer& token) {
  static const struct {
    const char* name;
    Option option;
  } kOptions[] = {{"-unzipDir", Option::kUnzipDir},
                  {"-pwd", Option::kPwd},
                  {"-ap", Option::kAp},
                  {"-cleanup", Option::kCleanup},
                  {"-verbose", Option::kVerbose},
                  {"-debug", Option::kDebug},
                  {"-log", Option::kLog},
                  {"-unattended", Option::kUnattended}};
  for (const auto& o : kOptions) {
    if (token.equalsIgnoreCase(o.name)) return o.option;
  }
  return Option::kNone;
}

// Sets a configuration text from the command line's UTF-8 text.
void setFromUtf8(SfxConfig& config, const char* key, const StringBuffer& utf8) {
  config.setText(key, utf8.getString());
}

// Tokens with their places in the command line: token i is
// line[spans[i].first, spans[i].first + spans[i].second).
std::vector<std::string> splitWithSpans(
    const char* commandLine, std::vector<std::pair<size_t, size_t>>* spans) {
  std::vector<std::string> tokens;
  if (!commandLine || !*commandLine) return tokens;
  std::string token;
  size_t start = 0;
  bool escaping = false, quoted = false;
  const char* p = commandLine;
  for (; *p; ++p) {
    char c = *p;
    if (escaping) {
      token += c;
      escaping = false;
    } else if (c == '\\') {
      token += c;
      escaping = true;
    } else if (c == '"') {
      token += c;
      quoted = !quoted;
    } else if (quoted) {
      token += c;
    } else if (c == ' ' || c == '\t') {
      tokens.push_back(token);
      if (spans) spans->emplace_back(start, token.size());
      token.clear();
      start = static_cast<size_t>(p - commandLine) + 1;
    } else {
      token += c;
    }
  }
  tokens.push_back(token);
  if (spans) spans->emplace_back(start, token.size());
  return tokens;
}

bool isPasswordOption(const std::string& token) {
  StringBuffer t(token.c_str());
  t.trim2();
  return optionOf(t) == Option::kPwd;
}

void applyUnzipDir(const std::string& arg, const CommandLineTarget& t,
                   StringBuffer& summary) {
  summary.append("-unzipDir ");
  summary.append(arg.c_str());
  summary.append("\n");
  DataBuffer bytes;
  bytes.append(arg.data(), static_cast<uint32_t>(arg.size()));
  StringBuffer qp;
  LogNull quiet;
  bytes.encodeDB("qp", qp, quiet);
  summary.append("quoted-printable: ");
  summary.appendSb(qp);
  summary.append("\n");

  StringBuffer dir(arg.c_str());
  dir.trim2();
  removeEnclosingQuotes(dir);
  setFromUtf8(*t.config, "DefaultDir", dir);
  setFromUtf8(*t.config, "UnzipDir", dir);
}

void applyPassword(const std::string& arg, const CommandLineTarget& t,
                   StringBuffer& summary) {
  summary.append("-pwd ");
  summary.append(kPasswordMask);
  summary.append("\n");
  StringBuffer pwd(arg.c_str());
  pwd.trim2();
  removeEnclosingQuotes(pwd);
  if (t.password) t.password->setString(pwd.getString());
  pwd.secureClear();
}

void applySetupArgs(const std::string& arg, const CommandLineTarget& t,
                    StringBuffer& summary) {
  summary.append("-ap ");
  summary.append(arg.c_str());
  summary.append("\n");
  StringBuffer args(arg.c_str());
  args.trim2();
  args.replaceAllOccurrences("\\\"", "_ESCAPED_QUOTE_");
  args.removeCharOccurrences('"');
  args.replaceAllOccurrences("_ESCAPED_QUOTE_", "\"");
  args.expandEnvironmentVariables();
  setFromUtf8(*t.config, "SetupExeArgs", args);
}

void openRunLog(const std::string& arg, const char* commandLine,
                const CommandLineTarget& t) {
  StringBuffer path(arg.c_str());
  path.trim2();
  removeEnclosingQuotes(path);
  if (t.logPath) t.logPath->setString(path.getString());
  if (!t.logFile) return;
  if (*t.logFile) fclose(*t.logFile);
  *t.logFile = openUtf8(path.getString(), "wb");
  if (*t.logFile) {
    fprintf(*t.logFile, "command line: %s\r\n",
            maskPasswords(commandLine).c_str());
  }
}

}  // namespace

std::vector<std::string> splitCommandLine(const char* commandLine) {
  return splitWithSpans(commandLine, nullptr);
}

void removeEnclosingQuotes(StringBuffer& value) {
  uint32_t n = value.getSize();
  const char* v = value.getString();
  if (n >= 2 && (v[0] == '"' || v[0] == '\'') && v[n - 1] == v[0]) {
    std::string inner(v + 1, n - 2);
    value.setString(inner.c_str());
  }
}

std::string maskPasswords(const char* commandLine) {
  std::vector<std::pair<size_t, size_t>> spans;
  std::vector<std::string> tokens = splitWithSpans(commandLine, &spans);
  std::string masked;
  size_t copied = 0;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!isPasswordOption(tokens[i])) continue;
    ++i;
    masked.append(commandLine + copied, spans[i].first - copied);
    masked.append(kPasswordMask);
    copied = spans[i].first + spans[i].second;
  }
  if (commandLine) masked.append(commandLine + copied);
  return masked;
}

FILE* openUtf8(const char* path, const char* mode) {
#if defined(_WIN32)
  XString p, m;
  p.setFromUtf8(path);
  m.setFromUtf8(mode);
  return _wfopen(reinterpret_cast<const wchar_t*>(p.getUtf16()),
                 reinterpret_cast<const wchar_t*>(m.getUtf16()));
#else
  return fopen(path, mode);
#endif
}

std::string skipProgramName(const char* commandLine) {
  if (!commandLine) return std::string();
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return std::string(p);
}

bool hasUnattendedSwitch(const char* commandLine) {
  for (const std::string& token : splitCommandLine(commandLine)) {
    StringBuffer t(token.c_str());
    t.trim2();
    if (optionOf(t) == Option::kUnattended) return true;
  }
  return false;
}

void parseCommandLine(const char* commandLine, const CommandLineTarget& t) {
  std::vector<std::string> tokens = splitCommandLine(commandLine);
  StringBuffer summary;
  for (size_t i = 0; i < tokens.size(); ++i) {
    StringBuffer token(tokens[i].c_str());
    token.trim2();
    if (token.getString()[0] != '-') continue;
    Option option = optionOf(token);
    bool takesArgument = option == Option::kUnzipDir ||
                         option == Option::kPwd || option == Option::kAp ||
                         option == Option::kLog;
    if (takesArgument && i + 1 >= tokens.size()) {
      if (option == Option::kUnzipDir)
        summary.append("Missing argument for -unzipDir\n");
      if (option == Option::kPwd) summary.append("Missing argument for -pwd\n");
      if (option == Option::kAp) summary.append("Missing argument for -ap\n");
      break;
    }
    switch (option) {
      case Option::kUnzipDir:
        applyUnzipDir(tokens[++i], t, summary);
        break;
      case Option::kPwd:
        applyPassword(tokens[++i], t, summary);
        break;
      case Option::kAp:
        applySetupArgs(tokens[++i], t, summary);
        break;
      case Option::kLog:
        openRunLog(tokens[++i], commandLine, t);
        break;
      case Option::kCleanup:
        t.config->setText("Cleanup", "1");
        break;
      case Option::kVerbose:
        t.config->setText("Verbose", "1");
        break;
      case Option::kDebug:
        t.config->setText("Debug", "1");
        break;
      case Option::kUnattended:
        t.config->setText("Unattended", "1");
        break;
      case Option::kNone:
        summary.append("ignored unknown switch: ");
        summary.appendSb(token);
        summary.append("\n");
        break;
    }
  }
  if (t.logFile && *t.logFile && summary.getSize() > 0) {
    fputs(summary.getString(), *t.logFile);
  }
}

}  // namespace sfx

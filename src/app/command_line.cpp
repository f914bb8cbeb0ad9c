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
  kLog
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
                  {"-log", Option::kLog}};
  for (const auto& o : kOptions) {
    if (token.equalsIgnoreCase(o.name)) return o.option;
  }
  return Option::kNone;
}

void removeQuotes(StringBuffer& s) {
  s.removeCharOccurrences('"');
  s.removeCharOccurrences('\'');
}

// Sets a configuration text from ANSI text.
void setFromAnsi(SfxConfig& config, const char* key, const StringBuffer& ansi) {
  XString value;
  value.setFromAnsi(ansi.getString());
  config.setText(key, value.getUtf8());
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
  removeQuotes(dir);
  setFromAnsi(*t.config, "DefaultDir", dir);
  setFromAnsi(*t.config, "UnzipDir", dir);
}

void applyPassword(const std::string& arg, const CommandLineTarget& t,
                   StringBuffer& summary) {
  summary.append("-pwd ");
  summary.append(arg.c_str());
  summary.append("\n");
  StringBuffer pwd(arg.c_str());
  pwd.trim2();
  removeQuotes(pwd);
  if (t.password) t.password->setString(pwd.getString());
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
  setFromAnsi(*t.config, "SetupExeArgs", args);
}

void openRunLog(const std::string& arg, const char* commandLine,
                const CommandLineTarget& t) {
  StringBuffer path(arg.c_str());
  path.trim2();
  if (t.logPath) t.logPath->setString(path.getString());
  if (!t.logFile) return;
  if (*t.logFile) fclose(*t.logFile);
  *t.logFile = fopen(path.getString(), "wb");
  if (*t.logFile) fprintf(*t.logFile, "command line: %s\r\n", commandLine);
}

}  // namespace

std::vector<std::string> splitCommandLine(const char* commandLine) {
  std::vector<std::string> tokens;
  if (!commandLine || !*commandLine) return tokens;
  std::string token;
  bool escaping = false, quoted = false;
  for (const char* p = commandLine; *p; ++p) {
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
      token.clear();
    } else {
      token += c;
    }
  }
  tokens.push_back(token);
  return tokens;
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
      case Option::kNone:
        break;
    }
  }
  if (t.logFile && *t.logFile && summary.getSize() > 0) {
    fputs(summary.getString(), *t.logFile);
  }
}

}  // namespace sfx

// The command language of the Win32 test driver: words, the command table and
// script parsing.
#include "driver/script.h"

#include <cstring>

namespace sfx {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Letters of CommandInfo::args that take a number, and their ranges.
bool numberRange(char kind, int64_t* min, int64_t* max) {
  switch (kind) {
    case 'i':
      *min = 0;
      *max = 0xFFFF;
      return true;
    case 'm':
      *min = 0;
      *max = 0x7FFFFFFF;
      return true;
    case 'n':
    case 'r':
      *min = INT32_MIN;
      *max = 0xFFFFFFFFLL;  // exit codes are DWORDs: 0xC0000005 is allowed
      return true;
    default:
      return false;
  }
}

// Checks one argument against its kind; on failure describes it in *why.
bool checkArgument(char kind, const std::string& arg, std::string* why) {
  if (kind == 'r' && arg == "*") return true;
  if (kind == 'k') {
    if (arg == "enter" || arg == "escape") return true;
    *why = "unknown key " + quoteWord(arg) + " (enter or escape)";
    return false;
  }
  int64_t min = 0, max = 0, value = 0;
  if (!numberRange(kind, &min, &max)) return true;
  if (kind == 'r') max = INT32_MAX;
  if (parseNumber(arg, min, max, &value)) return true;
  *why = quoteWord(arg) + " is not " +
         (kind == 'i'   ? "a control id (0 to 65535)"
          : kind == 'm' ? "a number of milliseconds"
          : kind == 'r' ? "a number or *"
                        : "a 32-bit number");
  return false;
}

}  // namespace

const std::vector<CommandInfo>& commandTable() {
  static const std::vector<CommandInfo> table = {
      {CommandId::kWaitWindow, "wait-window", "t[m", "TITLE [TIMEOUT_MS]"},
      {CommandId::kWaitGone, "wait-gone", "t[m", "TITLE [TIMEOUT_MS]"},
      {CommandId::kList, "list", "", ""},
      {CommandId::kText, "text", "ti", "TITLE CONTROL_ID"},
      {CommandId::kStaticTexts, "static-texts", "t", "TITLE"},
      {CommandId::kExpectText, "expect-text", "tis", "TITLE CONTROL_ID TEXT"},
      {CommandId::kWaitText, "wait-text", "tis[m",
       "TITLE CONTROL_ID TEXT [TIMEOUT_MS]"},
      {CommandId::kType, "type", "tis", "TITLE CONTROL_ID TEXT"},
      {CommandId::kPress, "press", "ti", "TITLE CONTROL_ID"},
      {CommandId::kKey, "key", "tk", "TITLE enter|escape"},
      {CommandId::kClose, "close", "t", "TITLE"},
      {CommandId::kRect, "rect", "t[i", "TITLE [CONTROL_ID]"},
      {CommandId::kExpectRect, "expect-rect", "tirrrr",
       "TITLE CONTROL_ID X Y W H"},
      {CommandId::kExpectEnabled, "expect-enabled", "ti", "TITLE CONTROL_ID"},
      {CommandId::kExpectDisabled, "expect-disabled", "ti", "TITLE CONTROL_ID"},
      {CommandId::kRun, "run", "s[s+", "EXE [ARGS...]"},
      {CommandId::kWaitExit, "wait-exit", "[m", "[TIMEOUT_MS]"},
      {CommandId::kExitCode, "exit-code", "[n", "[EXPECTED]"},
      {CommandId::kSleep, "sleep", "m", "MS"},
      {CommandId::kProgress, "progress", "ti", "TITLE CONTROL_ID"},
      {CommandId::kExpectProgress, "expect-progress", "tinn",
       "TITLE CONTROL_ID MIN MAX"},
      {CommandId::kSetEnv, "setenv", "s[s", "NAME [VALUE]"},
      {CommandId::kAttributes, "attributes", "s", "PATH"},
      {CommandId::kLock, "lock", "s", "PATH"},
      {CommandId::kLayout, "layout", "t", "TITLE"},
      {CommandId::kExpectLayout, "expect-layout", "t", "TITLE"},
      {CommandId::kIcon, "icon", "t", "TITLE"},
      {CommandId::kSnapshot, "snapshot", "ts", "TITLE FILE.bmp"},
  };
  return table;
}

const CommandInfo* findCommand(const std::string& name) {
  for (const CommandInfo& info : commandTable()) {
    if (name == info.name) return &info;
  }
  return nullptr;
}

bool splitWords(const std::string& line, std::vector<std::string>* words,
                std::string* error) {
  words->clear();
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && isBlank(line[i])) ++i;
    if (i >= n) return true;
    std::string word;
    while (i < n && !isBlank(line[i])) {
      const char c = line[i];
      if (c == '\'') {
        const size_t end = line.find('\'', i + 1);
        if (end == std::string::npos) {
          *error = "unterminated ' quote";
          return false;
        }
        word.append(line, i + 1, end - i - 1);
        i = end + 1;
      } else if (c == '"') {
        ++i;
        while (i < n && line[i] != '"') {
          if (line[i] == '\\' && i + 1 < n) {
            const char e = line[i + 1];
            const char* from = "\\\"nrt";
            const char* to = "\\\"\n\r\t";
            const char* hit = strchr(from, e);
            if (hit != nullptr && e != '\0') {
              word += to[hit - from];
              i += 2;
              continue;
            }
          }
          word += line[i++];
        }
        if (i >= n) {
          *error = "unterminated \" quote";
          return false;
        }
        ++i;
      } else {
        word += c;
        ++i;
      }
    }
    words->push_back(word);
  }
}

std::string quoteWord(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == ' ' || c == '"' || c == '\'' ||
        c == '\\') {
      plain = false;
    }
  }
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

bool parseNumber(const std::string& text, int64_t min, int64_t max,
                 int64_t* value) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) i = 1;
  int base = 10;
  if (text.size() > i + 1 && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * base + digit;
    if (v > (int64_t{1} << 40)) return false;  // far beyond every range used
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

bool parseCommand(const std::string& line, const std::string& where,
                  Command* command, bool* isEmpty, std::string* error) {
  *command = Command();
  *isEmpty = false;
  const size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos || line[first] == '#') {
    *isEmpty = true;
    return true;
  }
  std::vector<std::string> words;
  std::string why;
  if (!splitWords(line, &words, &why)) {
    *error = where + ": " + why;
    return false;
  }
  const CommandInfo* info = findCommand(words[0]);
  if (info == nullptr) {
    *error = where + ": unknown command " + quoteWord(words[0]);
    return false;
  }
  const std::string usage = std::string(info->name) + " " + info->usage;
  std::vector<std::string> args(words.begin() + 1, words.end());

  // Walk the kinds; '[' marks the start of the optional ones.
  size_t argIndex = 0;
  bool optional = false;
  char lastKind = 0;
  for (const char* k = info->args; *k != '\0'; ++k) {
    if (*k == '[') {
      optional = true;
      continue;
    }
    if (*k == '+') {
      while (argIndex < args.size()) {
        if (!checkArgument(lastKind, args[argIndex], &why)) {
          *error = where + ": " + info->name + ": " + why;
          return false;
        }
        ++argIndex;
      }
      continue;
    }
    lastKind = *k;
    if (argIndex >= args.size()) {
      if (optional) break;
      *error = where + ": too few arguments; usage: " + usage;
      return false;
    }
    if (!checkArgument(*k, args[argIndex], &why)) {
      *error = where + ": " + info->name + ": " + why;
      return false;
    }
    ++argIndex;
  }
  if (argIndex < args.size()) {
    *error = where + ": too many arguments; usage: " + usage;
    return false;
  }
  command->info = info;
  command->args = std::move(args);
  command->where = where;
  return true;
}

bool parseScript(std::istream& in, const std::string& name,
                 std::vector<Command>* commands, std::string* error) {
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      line.erase(0, 3);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Command command;
    bool isEmpty = false;
    if (!parseCommand(line, name + ":" + std::to_string(lineNumber), &command,
                      &isEmpty, error)) {
      return false;
    }
    if (!isEmpty) commands->push_back(std::move(command));
  }
  return true;
}

bool rectMatches(const std::vector<std::string>& expected, const Rect& actual) {
  const int32_t values[4] = {actual.x, actual.y, actual.w, actual.h};
  if (expected.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (expected[i] == "*") continue;
    int64_t v = 0;
    if (!parseNumber(expected[i], INT32_MIN, INT32_MAX, &v) || v != values[i]) {
      return false;
    }
  }
  return true;
}

std::string buildCommandLine(const std::vector<std::string>& argv) {
  std::string out;
  for (size_t a = 0; a < argv.size(); ++a) {
    const std::string& arg = argv[a];
    if (a > 0) out += ' ';
    const bool needsQuotes =
        arg.empty() || arg.find_first_of(" \t\n\v\"") != std::string::npos;
    if (!needsQuotes) {
      out += arg;
      continue;
    }
    if (a == 0) {
      // The program name is read up to the closing quote, without escapes;
      // a path cannot contain a quote.
      out += '"' + arg + '"';
      continue;
    }
    // Backslashes are literal unless they precede a quote: then each one is
    // doubled, and the quote itself is escaped.
    out += '"';
    size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        out.append(backslashes * 2 + 1, '\\');
      } else {
        out.append(backslashes, '\\');
      }
      backslashes = 0;
      out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
  }
  return out;
}

}  // namespace sfx

#include "cli/docgen.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sfxpack {
namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, sep)) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

bool forCommand(const OptionDoc& o, const std::string& command) {
  for (const std::string& c : split(o.commands, ' ')) {
    if (c == command) return true;
  }
  return false;
}

// What completes an option's value: "words:a b", "dirs", "files" or "".
std::string valueKind(const std::string& value) {
  if (value.empty()) return "";
  if (value.find('|') != std::string::npos &&
      value.find_first_of(" =") == std::string::npos) {
    std::string words = value;
    for (char& c : words) {
      if (c == '|') c = ' ';
    }
    return "words:" + words;
  }
  if (value == "DIR") return "dirs";
  if (value.find("FILE") != std::string::npos ||
      value.find(".exe") != std::string::npos ||
      value.find(".ico") != std::string::npos)
    return "files";
  return "";
}

// Text for roff: backslashes doubled, '-' as \-, and no line starting
// with '.' or '\''.
std::string roff(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

void writeOptionItem(std::ostream& m, const OptionDoc& o) {
  m << ".TP\n";
  std::vector<std::string> names = split(o.names, '|');
  std::string line;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) line += ", ";
    line += "\\fB" + roff(names[i]) + "\\fR";
  }
  if (!o.value.empty()) line += " \\fI" + roff(o.value) + "\\fR";
  m << line << "\n" << roff(o.help) << "\n";
}

}  // namespace

void writeBashCompletion(FILE* out, const CommandDoc* begin,
                         const CommandDoc* end,
                         const std::vector<OptionDoc>& options) {
  std::string commands;
  for (const CommandDoc* c = begin; c != end; ++c)
    commands += std::string(commands.empty() ? "" : " ") + c->name;
  std::string global;
  for (const OptionDoc& o : options) {
    if (o.commands.empty())
      for (const std::string& n : split(o.names, '|')) global += " " + n;
  }
  fprintf(out,
          "# bash completion for sfxpack; generated from its option table "
          "(sfxpack --generate-completion).\n"
          "_sfxpack() {\n"
          "  local cur=${COMP_WORDS[COMP_CWORD]} "
          "prev=${COMP_WORDS[COMP_CWORD-1]}\n"
          "  local IFS=$'\\n'\n"
          "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
          "    COMPREPLY=($(IFS=' ' compgen -W '%s%s' -- \"$cur\"))\n"
          "    return\n"
          "  fi\n"
          "  local opts=\n"
          "  case ${COMP_WORDS[1]} in\n",
          commands.c_str(), global.c_str());
  for (const CommandDoc* c = begin; c != end; ++c) {
    std::string words = "-h --help";
    std::string files, dirs, plain;
    std::vector<std::pair<std::string, std::string>> lists;
    for (const OptionDoc& o : options) {
      if (!forCommand(o, c->name)) continue;
      std::string kind = valueKind(o.value);
      for (const std::string& n : split(o.names, '|')) {
        words += " " + n;
        if (o.value.empty()) continue;
        if (kind == "files") {
          files += (files.empty() ? "" : "|") + n;
        } else if (kind == "dirs") {
          dirs += (dirs.empty() ? "" : "|") + n;
        } else if (kind.compare(0, 6, "words:") == 0) {
          lists.emplace_back(n, kind.substr(6));
        } else {
          plain += (plain.empty() ? "" : "|") + n;
        }
      }
    }
    fprintf(out, "    %s)\n      opts='%s'\n      case $prev in\n", c->name,
            words.c_str());
    for (const auto& l : lists)
      fprintf(out,
              "        %s) COMPREPLY=($(IFS=' ' compgen -W '%s' -- \"$cur\")); "
              "return ;;\n",
              l.first.c_str(), l.second.c_str());
    if (!files.empty())
      fprintf(out,
              "        %s) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n",
              files.c_str());
    if (!dirs.empty())
      fprintf(out,
              "        %s) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n",
              dirs.c_str());
    if (!plain.empty())
      fprintf(out, "        %s) COMPREPLY=(); return ;;\n", plain.c_str());
    fprintf(out, "      esac\n      ;;\n");
  }
  fprintf(out,
          "    *) return ;;\n"
          "  esac\n"
          "  if [[ $cur == -* ]]; then\n"
          "    COMPREPLY=($(IFS=' ' compgen -W \"$opts\" -- \"$cur\"))\n"
          "  else\n"
          "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
          "  fi\n"
          "}\n"
          "complete -o filenames -F _sfxpack sfxpack\n");
}

bool writeManPage(FILE* out, const std::string& templatePath,
                  const CommandDoc* begin, const CommandDoc* end,
                  const std::vector<OptionDoc>& options, std::string* error) {
  std::ifstream in(templatePath);
  if (!in) {
    *error = "cannot read '" + templatePath + "': " + strerror(errno);
    return false;
  }
  std::ostringstream m;
  std::string line;
  bool sawCommands = false, sawOptions = false;
  while (std::getline(in, line)) {
    if (line == ".\\\" @COMMANDS@") {
      sawCommands = true;
      for (const CommandDoc* c = begin; c != end; ++c) {
        m << ".TP\n\\fBsfxpack " << c->name << "\\fR " << roff(c->synopsis)
          << "\n"
          << roff(c->help) << ".\n";
      }
      continue;
    }
    if (line == ".\\\" @OPTIONS@") {
      sawOptions = true;
      std::vector<std::string> groups;
      for (const OptionDoc& o : options) {
        bool known = false;
        for (const std::string& g : groups) known = known || g == o.commands;
        if (!known) groups.push_back(o.commands);
      }
      for (const std::string& g : groups) {
        std::vector<std::string> names = split(g, ' ');
        if (names.empty()) {
          m << ".SS \"Other options\"\n";
        } else {
          std::string title = "Options of ";
          for (size_t i = 0; i < names.size(); ++i) {
            if (i) title += i + 1 == names.size() ? " and " : ", ";
            title += names[i];
          }
          m << ".SS \"" << title << "\"\n";
        }
        for (const OptionDoc& o : options) {
          if (o.commands == g) writeOptionItem(m, o);
        }
      }
      continue;
    }
    m << line << "\n";
  }
  if (!sawCommands || !sawOptions) {
    *error = templatePath + ": no line '.\\\" @COMMANDS@' or '.\\\" @OPTIONS@'";
    return false;
  }
  std::string text = m.str();
  return fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace sfxpack

#include "pack/name_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "charset/convert_util.h"

namespace sfxpack {
namespace {

struct FoldPair {
  uint16_t from, to;
};
const FoldPair kFoldTable[] = {
#include "pack/case_fold_table.inc"
};

uint32_t foldUnit(uint32_t c) {
  auto it = std::lower_bound(
      std::begin(kFoldTable), std::end(kFoldTable), c,
      [](const FoldPair& p, uint32_t v) { return p.from < v; });
  return it != std::end(kFoldTable) && it->from == c ? it->to : c;
}

// The UTF-8 sequence at s[i], decoded by the stub's own converter rule
// (charset/convert_util.h): returns its length and sets *cp, or returns 0
// for a byte that does not start a well-formed sequence (a stray
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF,
// a sequence cut short).
size_t decodeUtf8(const std::string& s, size_t i, uint32_t* cp) {
  size_t left = std::min<size_t>(s.size() - i, 4);
  return sfx::decodeUtf8(reinterpret_cast<const uint8_t*>(s.data()) + i,
                         static_cast<uint32_t>(left), cp);
}

void appendUtf8(uint32_t cp, std::string* out) {
  uint8_t bytes[4];
  out->append(reinterpret_cast<const char*>(bytes), sfx::encodeUtf8(cp, bytes));
}

bool isForbidden(unsigned char c) {
  return c != 0 && std::strchr("<>:\"|?*\\", c) != nullptr;
}

// True when `component` is a device name alone or followed by ".":
// con, prn, aux, nul, conin$, conout$, clock$, and com or lpt with a digit
// 0-9 or a superscript 1, 2 or 3, in any letter case. The stub gives the
// same names (superscripts and the console names aside) "_" in front.
bool isDeviceName(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  std::string lower;
  for (char c : base) lower += static_cast<char>(std::tolower(
                          static_cast<unsigned char>(c)));
  static const char* const kWords[] = {"con",    "prn",     "aux",   "nul",
                                       "conin$", "conout$", "clock$"};
  for (const char* w : kWords) {
    if (lower == w) return true;
  }
  if (lower.size() < 4) return false;
  std::string word = lower.substr(0, 3);
  if (word != "com" && word != "lpt") return false;
  std::string rest = lower.substr(3);
  return (rest.size() == 1 && rest[0] >= '0' && rest[0] <= '9') ||
         rest == "\xC2\xB9" || rest == "\xC2\xB2" || rest == "\xC2\xB3";
}

// The component cut to at most `units` UTF-16 units at a character
// boundary.
std::string cutToUnits(const std::string& s, size_t units) {
  size_t used = 0, i = 0;
  while (i < s.size()) {
    uint32_t cp;
    size_t n = decodeUtf8(s, i, &cp);
    size_t u = n && cp >= 0x10000 ? 2 : 1;
    if (used + u > units) break;
    used += u;
    i += n ? n : 1;
  }
  return s.substr(0, i);
}

// The name with each trailing dot or space made "_": a cut can leave one
// at the end.
std::string endClean(std::string s) {
  for (size_t i = s.size(); i > 0 && (s[i - 1] == '.' || s[i - 1] == ' ');
       --i) {
    s[i - 1] = '_';
  }
  return s;
}

// "name~N.ext" for "name.ext" (a leading dot is not an extension), within
// kMaxComponentUnits: the stem is shortened, and the extension too when it
// would leave no room for a character of the stem.
std::string numbered(const std::string& component, unsigned n) {
  size_t dot = component.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = component.size();
  std::string suffix = "~" + std::to_string(n);
  std::string stem = component.substr(0, dot), ext = component.substr(dot);
  size_t extRoom = kMaxComponentUnits - utf16Units(suffix) - 1;
  if (utf16Units(ext) > extRoom) ext = cutToUnits(ext, extRoom);
  size_t room = kMaxComponentUnits - utf16Units(suffix + ext);
  return endClean(cutToUnits(stem, room) + suffix + ext);
}

}  // namespace

size_t utf16Units(const std::string& utf8) {
  size_t units = 0;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(utf8, i, &cp);
    units += n && cp >= 0x10000 ? 2 : 1;
    i += n ? n : 1;
  }
  return units;
}

std::string foldedName(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(utf8, i, &cp);
    if (n == 0) {
      out += utf8[i++];
      continue;
    }
    appendUtf8(cp < 0x10000 ? foldUnit(cp) : cp, &out);
    i += n;
  }
  return out;
}

unsigned componentProblems(const std::string& component) {
  unsigned p = 0;
  for (size_t i = 0; i < component.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(component, i, &cp);
    if (n == 0) {
      p |= kNotUtf8;
      ++i;
      continue;
    }
    if (cp < 32) p |= kControlChar;
    if (cp < 0x80 && isForbidden(static_cast<unsigned char>(cp)))
      p |= kForbiddenChar;
    i += n;
  }
  if (!component.empty() &&
      (component.back() == '.' || component.back() == ' '))
    p |= kTrailingDotSpace;
  if (isDeviceName(component)) p |= kDeviceName;
  if (utf16Units(component) > kMaxComponentUnits) p |= kTooLong;
  return p;
}

std::string describeProblems(unsigned problems) {
  static const struct {
    unsigned bit;
    const char* text;
  } kTexts[] = {
      {kNotUtf8, "not valid UTF-8"},
      {kForbiddenChar, "a character Windows refuses (< > : \" | ? * \\)"},
      {kControlChar, "a control character"},
      {kTrailingDotSpace, "ends in a dot or a space, which Windows drops"},
      {kDeviceName, "a reserved device name"},
      {kTooLong, "longer than 255 UTF-16 units"},
      {kCaseCollision, "the same name as another in its folder, case ignored"},
  };
  std::string out;
  for (const auto& t : kTexts) {
    if (!(problems & t.bit)) continue;
    if (!out.empty()) out += "; ";
    out += t.text;
  }
  return out;
}

std::string repairComponent(const std::string& component) {
  std::string s;
  for (size_t i = 0; i < component.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(component, i, &cp);
    if (n == 0) {
      s += '_';
      ++i;
      continue;
    }
    if (cp == '\r' || cp == '\n') {
      // Dropped, as the stub drops them.
    } else if (cp < 32 || (cp < 0x80 && isForbidden(static_cast<unsigned char>(cp)))) {
      s += '_';
    } else {
      s.append(component, i, n);
    }
    i += n;
  }
  if (s.empty()) s = "_";
  if (isDeviceName(s)) s.insert(0, "_");
  for (size_t i = s.size(); i > 0 && (s[i - 1] == '.' || s[i - 1] == ' ');
       --i) {
    s[i - 1] = '_';
  }
  if (utf16Units(s) > kMaxComponentUnits) {
    size_t dot = s.rfind('.');
    std::string ext = dot != std::string::npos && dot > 0 &&
                              utf16Units(s.substr(dot)) <= 16
                          ? s.substr(dot)
                          : "";
    s = endClean(cutToUnits(s.substr(0, s.size() - ext.size()),
                            kMaxComponentUnits - utf16Units(ext)) +
                 ext);
  }
  return s;
}

std::string storedPath(const std::vector<NameNode>& nodes, size_t i) {
  std::string path = nodes[i].component;
  for (size_t p = nodes[i].parent; p != kNoParent; p = nodes[p].parent)
    path = nodes[p].component + "/" + path;
  return path;
}

std::vector<NameIssue> checkNames(std::vector<NameNode>* nodes, bool rename) {
  std::vector<NameNode>& all = *nodes;
  std::vector<std::string> before(all.size());
  for (size_t i = 0; i < all.size(); ++i) before[i] = storedPath(all, i);

  std::vector<unsigned> problems(all.size(), 0);
  std::vector<std::string> collidesWith(all.size());
  // Siblings by parent, in node order.
  std::vector<std::vector<size_t>> children;
  std::vector<size_t> rootChildren;
  children.resize(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    (all[i].parent == kNoParent ? rootChildren : children[all[i].parent])
        .push_back(i);
  }
  auto checkSiblings = [&](const std::vector<size_t>& group) {
    // Names that need no change claim their folded form first; the others
    // take what is left, in order.
    std::set<std::string> taken;
    std::vector<std::pair<std::string, size_t>> firstOf;
    std::vector<size_t> toRename;
    for (size_t i : group) {
      problems[i] = componentProblems(all[i].component);
      std::string key = foldedName(all[i].component);
      auto seen = std::find_if(firstOf.begin(), firstOf.end(),
                               [&](const auto& e) { return e.first == key; });
      if (seen != firstOf.end()) {
        problems[i] |= kCaseCollision;
        collidesWith[i] = all[seen->second].source;
      } else {
        firstOf.emplace_back(key, i);
      }
      if (problems[i] == 0) {
        taken.insert(key);
      } else {
        toRename.push_back(i);
      }
    }
    if (!rename) return;
    for (size_t i : toRename) {
      std::string name = repairComponent(all[i].component);
      std::string candidate = name;
      for (unsigned n = 2; taken.count(foldedName(candidate)); ++n)
        candidate = numbered(name, n);
      taken.insert(foldedName(candidate));
      all[i].component = candidate;
    }
  };
  checkSiblings(rootChildren);
  for (const auto& group : children) checkSiblings(group);

  std::vector<NameIssue> issues;
  for (size_t i = 0; i < all.size(); ++i) {
    if (!problems[i]) continue;
    NameIssue issue{i, problems[i], before[i], "", collidesWith[i]};
    if (rename) issue.newName = storedPath(all, i);
    issues.push_back(issue);
  }
  return issues;
}

std::string printableName(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t n = decodeUtf8(text, i, &cp);
    if (n == 0 || cp < 32) {
      unsigned char b = static_cast<unsigned char>(text[i]);
      char esc[8];
      if (b == '\n') {
        out += "\\n";
      } else if (b == '\r') {
        out += "\\r";
      } else if (b == '\t') {
        out += "\\t";
      } else {
        snprintf(esc, sizeof esc, "\\x%02x", b);
        out += esc;
      }
      ++i;
      continue;
    }
    out.append(text, i, n);
    i += n;
  }
  return out;
}

}  // namespace sfxpack

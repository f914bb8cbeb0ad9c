#include "pack/exclude.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace sfxpack {
namespace {

// Matches a set starting at pattern[p] == '[' against c; sets *next to the
// index after the closing ']'. False when unclosed (then *next is npos).
bool matchSet(const std::string& pattern, size_t p, char c, size_t* next) {
  size_t i = p + 1;
  bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negate) ++i;
  bool found = false;
  bool first = true;
  for (; i < pattern.size(); ++i) {
    char lo = pattern[i];
    if (lo == ']' && !first) {
      *next = i + 1;
      return found != negate;
    }
    first = false;
    if (lo == '\\' && i + 1 < pattern.size()) lo = pattern[++i];
    char hi = lo;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      hi = pattern[i + 2];
      if (hi == '\\' && i + 3 < pattern.size()) {
        hi = pattern[i + 3];
        ++i;
      }
      i += 2;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= static_cast<unsigned char>(lo) && u <= static_cast<unsigned char>(hi))
      found = true;
  }
  *next = std::string::npos;
  return false;
}

// Matches one name (no '/') of a pattern against one name of a path.
bool matchName(const std::string& pat, size_t p, size_t pend,
               const std::string& text, size_t t, size_t tend) {
  // Iterative matching with one backtrack point for the last '*'.
  size_t starP = std::string::npos, starT = 0;
  while (t < tend) {
    if (p < pend && pat[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    if (p < pend) {
      char pc = pat[p];
      size_t next = p + 1;
      bool ok;
      if (pc == '?') {
        ok = true;
      } else if (pc == '[') {
        ok = matchSet(pat, p, text[t], &next) && next <= pend;
      } else {
        if (pc == '\\' && p + 1 < pend) next = ++p + 1;
        ok = pat[p] == text[t];
      }
      if (ok) {
        p = next;
        ++t;
        continue;
      }
    }
    if (starP == std::string::npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pend && pat[p] == '*') ++p;
  return p == pend;
}

// The names of a '/'-separated string as [begin, end) pairs.
std::vector<std::pair<size_t, size_t>> splitNames(const std::string& s) {
  std::vector<std::pair<size_t, size_t>> out;
  size_t start = 0;
  while (true) {
    size_t slash = s.find('/', start);
    size_t end = slash == std::string::npos ? s.size() : slash;
    out.emplace_back(start, end);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return out;
}

bool matchNames(const std::string& pat,
                const std::vector<std::pair<size_t, size_t>>& pn, size_t pi,
                const std::string& text,
                const std::vector<std::pair<size_t, size_t>>& tn, size_t ti) {
  if (pi == pn.size()) return ti == tn.size();
  if (pat.compare(pn[pi].first, pn[pi].second - pn[pi].first, "**") == 0) {
    for (size_t k = ti; k <= tn.size(); ++k) {
      if (matchNames(pat, pn, pi + 1, text, tn, k)) return true;
    }
    return false;
  }
  if (ti == tn.size()) return false;
  return matchName(pat, pn[pi].first, pn[pi].second, text, tn[ti].first,
                   tn[ti].second) &&
         matchNames(pat, pn, pi + 1, text, tn, ti + 1);
}

}  // namespace

bool matchPattern(const std::string& pattern, const std::string& text) {
  return matchNames(pattern, splitNames(pattern), 0, text, splitNames(text), 0);
}

bool ExcludeList::add(const std::string& pattern, std::string* error) {
  Pattern p;
  p.text = pattern;
  std::string body = pattern;
  while (body.size() > 1 && body.back() == '/') {
    body.pop_back();
    p.directoryOnly = true;
  }
  while (!body.empty() && body.front() == '/') body.erase(0, 1);
  if (body.empty()) {
    *error = "--exclude: empty pattern '" + pattern + "'";
    return false;
  }
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\\') {
      ++i;
    } else if (body[i] == '[') {
      size_t next;
      matchSet(body, i, 'a', &next);
      if (next == std::string::npos) {
        *error = "--exclude: unclosed '[' in '" + pattern + "'";
        return false;
      }
      i = next - 1;
    }
  }
  p.anyDepth = body.find('/') == std::string::npos;
  p.body = body;
  patterns_.push_back(p);
  return true;
}

bool ExcludeList::addFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!add(line, error)) {
      *error = path + ": " + *error;
      return false;
    }
  }
  if (in.bad()) {
    *error = "error reading '" + path + "'";
    return false;
  }
  return true;
}

const std::string* ExcludeList::match(const std::string& path,
                                      bool isDirectory) const {
  size_t slash = path.rfind('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  for (const Pattern& p : patterns_) {
    if (p.directoryOnly && !isDirectory) continue;
    if (matchPattern(p.body, p.anyDepth ? last : path)) return &p.text;
  }
  return nullptr;
}

}  // namespace sfxpack
